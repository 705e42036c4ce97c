// The clickable label: a textured label whose press opens the pop-up menu
// its number selects (the source of a channel parameter, the envelope curve,
// or the sample editor's menus).
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

constexpr int kCurveMenu = 4096;
constexpr int kZoomMenu = 512;
constexpr int kFunctionsMenu = 513;

// The text a label of `number` shows for choice `k`.
QString pop_label(int number, int k);

// GUI thread. Runs the parameter-source menu (numbers 0..15) or the curve
// menu (4096) at `where` and stores the choice; false when dismissed.
bool build_pop2(QPoint where, int number);

class MyBStringView : public QWidget {
  public:
    MyBStringView(int number, QRect frame, const QString& text, QWidget* parent);

    int number() const { return number_; }
    QString Text() const { return text_; }
    void SetText(const QString& text);
    // Called after a choice from the menu (the curve label redraws the envelope).
    void set_on_choice(std::function<void()> f) { on_choice_ = std::move(f); }
    // Called on a press for the sample editor's own menus (512, 513).
    void set_on_menu(std::function<void(QPoint)> f) { on_menu_ = std::move(f); }

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

  private:
    int number_;
    QString text_;
    QImage background_;
    std::function<void()> on_choice_;
    std::function<void(QPoint)> on_menu_;
};

// How windows place a clickable label: bold black text on the textured background.
MyBStringView* boutonombre(int number, QRect frame, const QString& label, QWidget* parent);
