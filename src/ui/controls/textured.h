// The shaded wood images behind the shared controls: lit from the top left
// when up, pressed in when down.
#pragma once

#include <QImage>

enum class Shade { kUp, kDown, kLabel };

// GUI thread. An image of `width` x `height` cut from the wood texture and
// shaded at its borders.
QImage textured(int width, int height, Shade shade);
