// Ctrl+C, a hang-up or a termination request while the renderer works: the
// render stops at the next buffer, and the tool cleans up after itself and
// exits instead of dying with a half-written file.
#pragma once

namespace interrupt {

// Tool thread, at start. Catches SIGINT, SIGTERM and SIGHUP.
void catch_signals();
// Any thread. The signal that arrived, or 0.
int received();

}  // namespace interrupt
