// The start-up state of every table the engine shares.
#pragma once

// GUI thread, with no other thread running. Channel defaults and bindings,
// the precomputed pitch and pan tables, free voices, no last buffer, and one
// instrument owning the empty sound 0 "None Sample".
void reset_tables();
