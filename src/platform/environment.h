// The process environment that the audio and MIDI libraries read. Changing
// the environment while another thread reads it is undefined, so it is set
// once, before any thread exists.
#pragma once

namespace environment {

// Main thread, first thing in main(), before any other thread starts. A JACK
// server is used only when one is already running: neither the audio nor the
// MIDI library may start one for us, and a server going away never ends the program.
void prepare();

}  // namespace environment
