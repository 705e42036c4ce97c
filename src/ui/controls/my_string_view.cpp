#include "ui/controls/my_string_view.h"

#include <QMouseEvent>
#include <QPainter>

#include "core/sound.h"
#include "midi/midi_port.h"
#include "ui/alert.h"
#include "ui/controls/textured.h"
#include "ui/registry.h"

QString pop_label(int number, int k) {
    static const char* const curves[] = {"Velocity",    "Start Sound",  "Panoramic",
                                         "Coarse tune", "Velocity Off", "Modulation"};
    static const char* const sources[] = {"Pitch",       "Main Volume", "Panoramic",
                                          "Coarse tune", "Velocity",    "Modulation"};
    if (k < 0 || k > 5) return {};
    return number == kCurveMenu ? curves[k] : sources[k];
}

bool build_pop2(QPoint where, int number) {
    if (number == kCurveMenu) {
        const int k = run_popup(
            {"Velocity", "Start Sound", "Panoramic", "Coarse tune", "Velocity off"}, where);
        if (k < 0 || k > 4) return false;
        no_courbe = std::uint16_t(k);
        return true;
    }
    if (number < 0 || number >= 16) return false;
    const int k = run_popup({"Pitch Midi msg", "Main Volume Midi msg", "Panoramic Midi msg",
                             "Coarse tune Midi msg", "Velocity Midi msg", "Modulation Midi msg"},
                            where);
    if (k < 0 || k > 5) return false;
    midimess_to_func[number] = std::uint32_t(k);
    return true;
}

MyBStringView::MyBStringView(int number, QRect frame, const QString& text, QWidget* parent)
    : QWidget(parent), number_(number), text_(text) {
    setGeometry(frame);
    background_ = textured(frame.width(), frame.height(), Shade::kLabel);
}

void MyBStringView::SetText(const QString& text) {
    text_ = text;
    update();
}

void MyBStringView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, background_);
    p.setFont(font());
    p.setPen(Qt::black);
    p.drawText(6, std::min(14, height() - 4), text_);
}

void MyBStringView::mousePressEvent(QMouseEvent* e) {
    const QPoint where = e->globalPosition().toPoint();
    if (number_ == kZoomMenu || number_ == kFunctionsMenu) {
        if (on_menu_) on_menu_(where);
        return;
    }
    if (!build_pop2(where, number_)) return;
    const int k = number_ == kCurveMenu ? no_courbe : int(midimess_to_func[number_]);
    SetText(pop_label(number_, k));
    if (on_choice_) on_choice_();
}

MyBStringView* boutonombre(int number, QRect frame, const QString& label, QWidget* parent) {
    auto* v = new MyBStringView(number, frame, label, parent);
    QFont f = v->font();
    f.setBold(true);
    f.setPixelSize(11);
    v->setFont(f);
    return v;
}
