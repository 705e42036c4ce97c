// The level bar of the channel window: a slider over one channel table with
// a text field beside it, both showing the selected channel's entry, and
// following the table when MIDI changes it.
#pragma once

#include <QLineEdit>
#include <QSlider>
#include <cstdint>

#include "core/rt.h"

// The display and typing rules of one bar. `minimum` and `maximum` are the
// shown range before the shift (the pitch bar shows -8192..8191 as -64..63).
struct BarRange {
    int shift;
    int minimum;
    int maximum;
};

// The value a bar shows for a table entry.
int bar_shown(const BarRange& r, std::int32_t entry);
// The text of a shown value: three digits, "-" before negative ones (-064, 127).
QString bar_text(int shown);
// The entry a typed value stands for; false when it is out of the range
// (typing -64 in the pitch bar gives 0, 0 gives 8192, 64 is refused).
bool bar_typed(const BarRange& r, int typed, std::int32_t& entry);

class mybar;

class MyBStatusBar : public QSlider {
  public:
    MyBStatusBar(mybar* owner, QRect frame, QColor colour, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    void follow(int px);
    mybar* owner_;
    QColor colour_;
};

class mybar {
  public:
    // GUI thread. `code` is posted to `target` when Enter is pressed in the
    // text field; `selected` is the window's selected channel.
    mybar(const BarRange& range, QRect frame, QColor colour, const QString& label,
          std::uint32_t code, rt<std::int32_t>* table, const int* selected, QWidget* parent,
          QObject* target);

    // GUI thread. Shows the selected channel's entry on the bar and in the field.
    void raf();
    // GUI thread. Once per pulse: refreshes when the entry differs from what
    // was last shown for that channel. True when it refreshed.
    bool poll();
    // GUI thread. Applies the text typed in the field; false when refused.
    bool typed();
    // GUI thread. The bar moved to `value`: store it for the selected channel.
    void moved(int value);

    const BarRange& range() const { return range_; }
    QLineEdit* field() const { return field_; }
    MyBStatusBar* bar() const { return bar_; }

  private:
    BarRange range_;
    rt<std::int32_t>* table_;
    const int* selected_;
    std::int32_t last_[16];
    MyBStatusBar* bar_;
    QLineEdit* field_;
};
