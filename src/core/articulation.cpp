#include "core/articulation.h"

#include <cmath>

rt<bool> play_as_set{false};

double timecents_seconds(double timecents) {
    return std::exp2(timecents / 1200.0);
}

double centibels_gain(double centibels) {
    return std::pow(10.0, -centibels / 200.0);
}
