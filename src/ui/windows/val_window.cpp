#include "ui/windows/val_window.h"

#include <QLabel>
#include <QPainter>
#include <cstdio>
#include <cstring>

#include "core/convert.h"
#include "core/sound.h"
#include "ui/controls/my_button.h"
#include "ui/graphics.h"
#include "ui/registry.h"

namespace {

// The selected sound, or null.
p_s* current_sound() {
    const int s = no_s;
    return (s >= 0 && s < nb_sound) ? t_sound[s].load() : nullptr;
}

}  // namespace

ValWindow::ValWindow()
    : MyBWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                             Qt::CustomizeWindowHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Set Note off time");
    set_place_kind("noteoff");
    setFixedSize(301, 81);
    move(10, 10);
    auto* label = new QLabel("Time (ms)", this);
    QFont bold = label->font();
    bold.setBold(true);
    bold.setPixelSize(11);
    label->setFont(bold);
    label->setGeometry(10, 10, 70, 22);
    time_ = new QLineEdit(this);
    time_->setObjectName("Time (ms)");
    time_->setGeometry(80, 10, 211, 22);
    connect(time_, &QLineEdit::returnPressed, this, [this] { PostMessage(fourcc("gtme")); });
    ok_ = new MyBButton(36, QRect(10, 44, 281, 20), "Ok", fourcc("tmeo"), this, this);
    show_time();
    valwin = this;
}

void ValWindow::show_time() {
    const p_s* s = current_sound();
    if (!s || s->rate == 0) return;
    char text[8];
    int_to_str(text, long(frames_to_ms(s->rel_time, s->rate)), 6, '0', 3);
    time_->setText(QString::fromLatin1(text));
}

void ValWindow::commit() {
    if (p_s* s = current_sound()) {
        // Six characters at most are read; what follows the text counts as nothing.
        char text[6] = {};
        const QByteArray typed = time_->text().toUtf8();
        std::memcpy(text, typed.constData(), std::min<std::size_t>(sizeof text, typed.size()));
        s->rel_time = ms_to_frames(str_to_int(text, int(sizeof text)), s->rate);
    }
    if (QWidget* f = focusWidget()) f->clearFocus();
}

void ValWindow::MessageReceived(const Message& m) {
    switch (m.what) {
        case fourcc("Graf"):
            std::printf("recu raf !!! \n");
            std::fflush(stdout);
            show_time();
            break;
        case fourcc("gtme"):
            commit();
            break;
        case fourcc("tmeo"):
            commit();
            close();
            break;
        default:
            break;  // codes this window does not know are dropped
    }
}

void ValWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawTiledPixmap(rect(), QPixmap::fromImage(wood()));
}

void appel_val() {
    if (valwin) {
        valwin->raise();
        valwin->activateWindow();
        return;
    }
    (new ValWindow())->show();
}
