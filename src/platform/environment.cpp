#include "platform/environment.h"

#include <cstdlib>

namespace environment {

void prepare() {
    setenv("JACK_NO_START_SERVER", "1", 1);
}

}  // namespace environment
