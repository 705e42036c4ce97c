// graf_gen OUT [--png DIR]: draws the interface pictures and writes them in
// file order into OUT; with --png, also one PNG per picture into DIR.
#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "drawings.h"
#include "platform/pictures.h"

namespace {

QImage draw(int index) {
    const QColor red(255, 36, 24), green(40, 235, 60);
    switch (index) {
        case pictures::kBbar:
            return draw_bbar();
        case pictures::kPlexora:
            return draw_plexora();
        case pictures::kBois:
            return draw_bois();
        case pictures::kBout:
            return draw_bout();
        case pictures::kFondbar:
            return draw_fondbar();
        case pictures::kFondosc:
            return draw_fondosc();
        case pictures::kFondsam:
            return draw_fondsam();
        case pictures::kGrille:
            return draw_grille();
        case pictures::kLedoffr:
            return draw_led(red, false);
        case pictures::kLedoffv:
            return draw_led(green, false);
        case pictures::kLedonr:
            return draw_led(red, true);
        case pictures::kLedonv:
            return draw_led(green, true);
        case pictures::kPiano2:
            return draw_piano2();
        case pictures::kPlayboff:
            return draw_face(Face::kPlayBlock, false);
        case pictures::kPlaybon:
            return draw_face(Face::kPlayBlock, true);
        case pictures::kPlayoff:
            return draw_face(Face::kPlay, false);
        case pictures::kPlayon:
            return draw_face(Face::kPlay, true);
        case pictures::kStopoff:
            return draw_face(Face::kStop, false);
        case pictures::kStopon:
            return draw_face(Face::kStop, true);
        default:
            return {};
    }
}

pictures::Image to_rgb(const QImage& src) {
    const QImage img = src.convertToFormat(QImage::Format_RGB888);
    pictures::Image out;
    out.width = img.width();
    out.height = img.height();
    out.rgb.resize(std::size_t(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y) {
        const uchar* row = img.constScanLine(y);
        std::copy(row, row + out.width * 3, out.rgb.begin() + std::ptrdiff_t(y) * out.width * 3);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: graf_gen OUT [--png DIR]\n");
        return 2;
    }
    const std::string out_path = argv[1];
    QString png_dir;
    if (argc >= 4 && std::string(argv[2]) == "--png") png_dir = QString::fromLocal8Bit(argv[3]);
    if (!png_dir.isEmpty()) QDir().mkpath(png_dir);

    std::vector<std::uint8_t> file;
    for (int i = 0; i < pictures::kCount; ++i) {
        const pictures::Slot& slot = pictures::kSlots[i];
        const QImage img = draw(i);
        if (img.width() != slot.width || img.height() != slot.height) {
            std::fprintf(stderr, "graf_gen: %s is %d x %d, expected %d x %d\n", slot.name,
                         img.width(), img.height(), slot.width, slot.height);
            return 1;
        }
        if (i == pictures::kPiano2) {
            const QString why = check_piano2(img);
            if (!why.isEmpty()) {
                std::fprintf(stderr, "graf_gen: piano2: %s\n", why.toLocal8Bit().constData());
                return 1;
            }
        }
        pictures::append_rgb(file, to_rgb(img));
        if (!png_dir.isEmpty()) img.save(png_dir + "/" + slot.name + ".png");
    }
    // Read back what is about to be shipped: all 19, nothing left over.
    const pictures::Decoded check = pictures::decode(file.data(), file.size());
    if (check.images.size() != std::size_t(pictures::kCount)) {
        std::fprintf(stderr, "graf_gen: %s\n", check.message.c_str());
        return 1;
    }
    const std::string tmp = out_path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        std::perror(tmp.c_str());
        return 1;
    }
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), out_path.c_str()) != 0) {
        std::perror(out_path.c_str());
        return 1;
    }
    return 0;
}
