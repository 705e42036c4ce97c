#include "ui/windows/level_bar.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "core/convert.h"
#include "ui/graphics.h"
#include "ui/message.h"

int bar_shown(const BarRange& r, std::int32_t entry) {
    const int v = entry >> r.shift;
    return r.minimum < 0 ? v + (r.minimum >> r.shift) : v;
}

QString bar_text(int shown) {
    const int a = shown < 0 ? -shown : shown;
    return QString("%1%2").arg(shown < 0 ? "-" : "").arg(a, 3, 10, QChar('0'));
}

bool bar_typed(const BarRange& r, int typed, std::int32_t& entry) {
    const long long w =
        static_cast<long long>(typed) - (r.minimum < 0 ? (r.minimum >> r.shift) : 0);
    const long long top = (static_cast<long long>(r.maximum) - std::min(r.minimum, 0)) >> r.shift;
    if (w < 0 || w > top) return false;
    entry = static_cast<std::int32_t>(w << r.shift);
    return true;
}

MyBStatusBar::MyBStatusBar(mybar* owner, QRect frame, QColor colour, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), owner_(owner), colour_(colour) {
    setGeometry(frame);
    setFocusPolicy(Qt::NoFocus);
    const BarRange& r = owner->range();
    setRange(0, r.maximum - std::min(r.minimum, 0));
}

void MyBStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect all = rect();
    p.drawImage(all, picture_or(kFondbar, 701, 20, QColor(70, 50, 30)));
    const int span = std::max(1, maximum() - minimum());
    const int x = int((long long)(value() - minimum()) * (all.width() - 2) / span);
    const QImage bar = picture_or(kBbar, 701, 16, colour_);
    const QRect fill(1, 2, x + 1, all.height() - 4);
    p.drawImage(fill, bar, QRect(0, 0, fill.width(), bar.height()));
    p.fillRect(QRect(x, 1, 2, all.height() - 2), colour_);
}

void MyBStatusBar::follow(int px) {
    const int w = std::max(1, width() - 2);
    const int v =
        minimum() + int((long long)std::clamp(px - 1, 0, w) * (maximum() - minimum()) / w);
    setValue(v);
    owner_->moved(v);
}

// The thumb follows the mouse while the button is held; the table follows the thumb.
void MyBStatusBar::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    setSliderDown(true);
    follow(int(e->position().x()));
}

void MyBStatusBar::mouseMoveEvent(QMouseEvent* e) {
    if (isSliderDown()) follow(int(e->position().x()));
}

void MyBStatusBar::mouseReleaseEvent(QMouseEvent*) {
    setSliderDown(false);
}

mybar::mybar(const BarRange& range, QRect frame, QColor colour, const QString& label,
             std::uint32_t code, rt<std::int32_t>* table, const int* selected, QWidget* parent,
             QObject* target)
    : range_(range), table_(table), selected_(selected) {
    std::fill(std::begin(last_), std::end(last_), -1);
    auto* name = new QLabel(label, parent);
    QFont bold = name->font();
    bold.setBold(true);
    bold.setPixelSize(11);
    name->setFont(bold);
    name->setGeometry(frame.left(), frame.top(), 110, 16);
    bar_ = new MyBStatusBar(this, QRect(frame.left(), frame.top() + 16, frame.width() - 70, 18),
                            colour, parent);
    field_ = new QLineEdit(parent);
    field_->setFont(bold);
    field_->setGeometry(frame.right() - 60, frame.top() + 13, 60, 22);
    field_->setObjectName(label);
    QObject::connect(field_, &QLineEdit::returnPressed, field_,
                     [code, target] { post_message(target, code); });
}

void mybar::raf() {
    const int ch = *selected_ & 15;
    const std::int32_t e = table_[ch];
    last_[ch] = e;
    bar_->setValue(e);
    field_->setText(bar_text(bar_shown(range_, e)));
}

bool mybar::poll() {
    const int ch = *selected_ & 15;
    if (table_[ch] == last_[ch]) return false;
    raf();
    return true;
}

bool mybar::typed() {
    const QByteArray text = field_->text().toLatin1();
    std::int32_t entry = 0;
    const bool ok = bar_typed(range_, str_to_int(text.constData(), int(text.size())), entry);
    if (ok) table_[*selected_ & 15] = entry;
    raf();
    return ok;
}

void mybar::moved(int value) {
    table_[*selected_ & 15] = value;
    raf();
}
