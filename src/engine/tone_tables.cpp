#include "engine/tone_tables.h"

#include <cmath>

float inote[128];
float tab_pan[128];

void fill_inote() {
    float f = 1.0f;
    for (int k = 0; k < 128; ++k) {
        inote[k] = f;
        f = static_cast<float>(static_cast<double>(f) * 1.059463094);
    }
}

void fill_tab_pan() {
    for (int k = 0; k < 128; ++k) {
        tab_pan[k] = static_cast<float>(std::sin(k * (M_PI / 2.0) / 128.0));
    }
}
