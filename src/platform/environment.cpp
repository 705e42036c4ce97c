#include "platform/environment.h"

#include <csignal>
#include <cstdlib>

namespace environment {

void prepare() {
    setenv("JACK_NO_START_SERVER", "1", 1);
    // A sound server that drops the program's connection must not end it:
    // a write to the closed socket then fails instead of raising SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace environment
