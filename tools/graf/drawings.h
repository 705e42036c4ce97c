// The interface pictures, each drawn at the size its window shows it.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>

// Tileable 256 x 256 wood, the texture of every window background.
QImage draw_bois();
// Ten octaves of keys on a 652 x 68 strip.
QImage draw_piano2();
// Empty when every key's lit area covers exactly its own flat face.
QString check_piano2(const QImage& img);
// 16 x 16 lamps, red or green, lit or not.
QImage draw_led(QColor hue, bool lit);
// 24 x 24 transport faces; `pressed` is the "on" face.
enum class Face { kPlay, kPlayBlock, kStop };
QImage draw_face(Face face, bool pressed);
// Backgrounds.
QImage draw_grille();
QImage draw_fondsam();
QImage draw_fondosc();
QImage draw_bout();
QImage draw_bbar();
QImage draw_fondbar();
// The about picture with the program's title.
QImage draw_plexora();

// Helpers shared by the drawings.
// Smooth noise in 0..1 that repeats every `px` cells along x and `py` along y.
double tiled_noise(double x, double y, int px, int py, unsigned seed);
// The wood texture cut to any size (tiled), darkened by `shade` (1 = as is).
QImage wood(int width, int height, double shade = 1.0);
// A bevelled frame: light on the top and left edges, dark on the others.
void bevel(QImage& img, const QRect& r, int depth, bool raised, int strength = 60);
