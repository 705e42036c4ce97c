// The waveform overview: a 512 x 64 one-bit silhouette of the selected
// sound's absolute amplitude, one frame read per column, mirrored about the
// centre row.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>

struct p_s;

constexpr int kOverviewWidth = 512;
constexpr int kOverviewRows = 64;
using OverviewBits = std::array<std::uint8_t, kOverviewRows * kOverviewWidth / 8>;

// GUI thread. Builds the image of `sound` (null for none) over `length`
// frames starting at frame `start`; `loading` draws the flat line too.
void build_overview(const p_s* sound, std::uint32_t length, std::uint32_t start, bool loading,
                    OverviewBits& bits);
// True when pixel (x, row) of the image is set.
inline bool overview_bit(const OverviewBits& bits, int x, int row) {
    return bits[std::size_t(row) * 64 + x / 8] & (0x80 >> (x & 7));
}

class OverviewView : public QWidget {
  public:
    OverviewView(QRect frame, QWidget* parent);
    // GUI thread. Rebuilds from sound `s` (mode 0 of the window's update).
    void rebuild(int s);
    const OverviewBits& bits() const { return bits_; }
    std::uint32_t length() const { return length_; }
    bool streamed() const { return streamed_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    OverviewBits bits_{};
    QImage mono_;
    std::uint32_t length_ = 0;
    bool streamed_ = false;
};
