#include "ui/windows/sam_window.h"

#include <QPainter>
#include <cstring>

#include "core/convert.h"
#include "core/keymap.h"
#include "core/sound.h"
#include "ui/controls/my_check.h"
#include "ui/graphics.h"
#include "ui/main/keyboard.h"
#include "ui/main/main_window.h"
#include "ui/windows/param_keyboard.h"

const QColor SamWindow::kHighWhite(255, 180, 0);
const QColor SamWindow::kHighBlack(127, 90, 0);

namespace {

struct FieldSpec {
    const char* label;
    QRect frame;
    std::uint32_t code;
};

// The text fields, in window coordinates (they grow to their natural height).
constexpr int kFieldHeight = 22;
const FieldSpec kFields[] = {
    {"Name", QRect(10, 10, 231, kFieldHeight), fourcc("chna")},
    {"Base", QRect(10, 40, 111, kFieldHeight), fourcc("chba")},
    {"Panning", QRect(10, 70, 111, kFieldHeight), fourcc("chpa")},
    {"From", QRect(10, 100, 111, kFieldHeight), fourcc("chfr")},
    {"To", QRect(130, 100, 111, kFieldHeight), fourcc("chto")},
    {"From Vel", QRect(10, 130, 111, kFieldHeight), fourcc("chfv")},
    {"To Vel", QRect(130, 130, 111, kFieldHeight), fourcc("chtv")},
};

QFont bold_font(const QFont& base) {
    QFont f = base;
    f.setBold(true);
    f.setPixelSize(11);
    return f;
}

QString note_name(int key) {
    char text[5];
    const_midit(clamp_key(key), text);
    return QString::fromLatin1(text);
}

// Bytes of `text` that fit in `limit` without cutting a character in two.
std::size_t utf8_prefix(const QByteArray& text, std::size_t limit) {
    std::size_t n = std::min<std::size_t>(std::size_t(text.size()), limit);
    while (n > 0 && n < std::size_t(text.size()) && (text[qsizetype(n)] & 0xC0) == 0x80) --n;
    return n;
}

QString digits(long value, int width, int min_digits) {
    char text[16];
    int_to_str(text, value, width, '0', min_digits);
    return QString::fromLatin1(text);
}

}  // namespace

SamWindow::SamWindow(QRect frame, int sound, const QString& title)
    : ParamWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                               Qt::CustomizeWindowHint),
      sound_(sound),
      ref_(sound_ref(sound)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    set_place_kind("sample");
    setFixedSize(frame.size());
    move(frame.topLeft());
    for (const FieldSpec& field : kFields) {
        auto* label = new QLabel(field.label, this);
        label->setFont(bold_font(font()));
        const int divider = label->fontMetrics().horizontalAdvance(field.label) + 8;
        label->setGeometry(field.frame.left(), field.frame.top(), divider, field.frame.height());
        auto* edit = new QLineEdit(this);
        edit->setObjectName(field.label);
        edit->setGeometry(field.frame.adjusted(divider, 0, 0, 0));
        const std::uint32_t code = field.code;
        connect(edit, &QLineEdit::returnPressed, this, [this, code] { PostMessage(code); });
        fields_.push_back({code, edit});
    }
    // Their state is the user's own: nothing reads it.
    freeze_base_ = std::make_unique<mycheck>(QRect(130, 44, 101, 17), "Freeze", 0, this, this);
    freeze_pan_ = std::make_unique<mycheck>(QRect(130, 74, 101, 17), "Freeze", 0, this, this);

    keyboard_ = new ParamKeyboard(QRect(0, 170, kKeyboardWidth, kKeyboardHeight), this);
    keyboard_->compose = [this](QImage& canvas) { mydraw(canvas); };
    keyboard_->hovered = [this](int key) { key_label_->setText(key < 0 ? "---" : note_name(key)); };
    keyboard_->pressed = [this](int key, Qt::MouseButtons buttons) { clicked(key, buttons); };
    key_label_ = new QLabel("----", this);
    key_label_->setFont(bold_font(font()));
    key_label_->setGeometry(10, 238, 41, 15);
    // Beside the velocity fields; a range that cannot be met is kept (older
    // files hold such ranges) but said where it was typed.
    vel_warning_ = new QLabel("From Vel is above To Vel: this sound never plays", this);
    vel_warning_->setWordWrap(true);
    vel_warning_->setFont(bold_font(font()));
    vel_warning_->setStyleSheet("color: rgb(200, 0, 0);");
    vel_warning_->setGeometry(250, 126, 145, 40);
    vel_warning_->hide();
}

SamWindow::~SamWindow() = default;

QLineEdit* SamWindow::field(std::uint32_t code) const {
    for (const Field& f : fields_)
        if (f.code == code) return f.edit;
    return nullptr;
}

p_s* SamWindow::record() {
    if (ref_.empty()) {
        if (sound_ < 0 || sound_ >= nb_sound) return nullptr;
        ref_ = sound_ref(sound_);
        if (ref_.empty()) return nullptr;
    }
    p_s* rec = resolve(ref_);
    if (rec) sound_ = ref_.slot;
    return rec;
}

void SamWindow::show_slot(int slot) {
    sound_ = slot;
    ref_ = sound_ref(slot);
}

bool SamWindow::still_there() {
    if (ref_.empty() || record()) return true;
    close();  // deleted once the event loop runs; the registry forgets it then
    return false;
}

int SamWindow::key() const {
    if (ref_.empty()) return sound_;
    return find_sound(structure(), ref_.slot, ref_.ident);
}

bool SamWindow::follow(int at, int by, int, int) {
    if (!ref_.empty()) return record() != nullptr;
    // An empty slot moves with the slots around it.
    if (by < 0 && sound_ >= at && sound_ < at - by) return false;
    if (sound_ >= at) sound_ += by;
    return true;
}

void SamWindow::broadcast() {
    const bool listed = std::any_of(samwin.begin(), samwin.end(),
                                    [this](const QPointer<ParamWindow>& w) { return w == this; });
    if (!listed) PostMessage(fourcc("rafr"));
    for (const auto& w : samwin)
        if (w) post_message(w, fourcc("rafr"));
}

void SamWindow::MessageReceived(const Message& m) {
    if (!still_there()) return;
    switch (m.what) {
        case fourcc("chna"):
        case fourcc("chba"):
        case fourcc("chfr"):
        case fourcc("chto"):
        case fourcc("chpa"):
        case fourcc("chfv"):
        case fourcc("chtv"):
            edited(m.what);
            break;
        case fourcc("rafr"):
            rafraichi();
            break;
        default:
            break;  // codes this window does not know are dropped
    }
}

void SamWindow::edited(std::uint32_t code) {
    p_s* s = record();
    const QByteArray text = field(code)->text().toUtf8();
    if (s) {
        const int len = int(text.size());
        switch (code) {
            case fourcc("chna"):
                // Only windows read names, and only on this thread.
                std::memset(s->name, 0, sizeof s->name);
                std::memcpy(s->name, text.constData(), utf8_prefix(text, sizeof s->name - 1));
                break;
            case fourcc("chba"):
                s->base = std::int16_t(clamp_key(traduit(text.constData())));
                break;
            case fourcc("chfr"):
                s->key_lo = std::int16_t(clamp_key(traduit(text.constData())));
                break;
            case fourcc("chto"):
                s->key_hi = std::int16_t(clamp_key(traduit(text.constData())));
                break;
            case fourcc("chpa"):
                s->pan = std::uint16_t(str_to_int(text.constData(), len));
                break;
            case fourcc("chfv"):
                s->vel_lo = std::int16_t(std::clamp(str_to_int(text.constData(), len), 0, 127));
                break;
            case fourcc("chtv"):
                s->vel_hi = std::int16_t(std::clamp(str_to_int(text.constData(), len), 0, 127));
                break;
        }
    }
    if (QWidget* f = focusWidget()) f->clearFocus();
    if (code != fourcc("chna")) {
        rafraichi();
        return;
    }
    if (!s) return;
    // The tree shows the new name, and so does the main window's name field
    // while this sound's row is the selected one.
    if (awin) {
        awin->actu_list();
        if (sound_ == no_s && !Finst) awin->name_field()->setText(QString::fromUtf8(s->name));
    }
    broadcast();
}

void SamWindow::clicked(int key, Qt::MouseButtons buttons) {
    if (!still_there()) return;
    p_s* s = record();
    if (!s) return;
    if ((buttons & Qt::LeftButton) && key <= s->key_hi) {
        s->key_lo = std::int16_t(key);
        broadcast();
    }
    if ((buttons & Qt::RightButton) && key >= s->key_lo) {
        s->key_hi = std::int16_t(key);
        broadcast();
    }
}

void SamWindow::rafraichi() {
    if (!still_there()) return;
    const p_s* s = record();
    if (s) {
        field(fourcc("chfr"))->setText(note_name(s->key_lo));
        field(fourcc("chto"))->setText(note_name(s->key_hi));
        field(fourcc("chba"))->setText(note_name(s->base));
        field(fourcc("chpa"))->setText(digits(s->pan, 3, 0));
        field(fourcc("chna"))
            ->setText(QString::fromUtf8(s->name, int(strnlen(s->name, sizeof s->name))));
        field(fourcc("chfv"))->setText(digits(s->vel_lo, 3, 0));
        field(fourcc("chtv"))->setText(digits(s->vel_hi, 3, 0));
        const bool never = s->vel_lo > s->vel_hi;
        vel_warning_->setVisible(never);
        QPalette red;
        red.setColor(QPalette::Text, QColor(200, 0, 0));
        for (std::uint32_t code : {fourcc("chfv"), fourcc("chtv")})
            field(code)->setPalette(never ? red : QPalette());
    }
    keyboard_->update();
}

void SamWindow::mydraw(QImage& canvas) {
    const p_s* s = record();
    if (!s) return;
    const int lo = s->key_lo, hi = s->key_hi;
    for (int k = 0; k < 120; ++k) {
        if (k >= lo && k <= hi)
            affonenote(std::uint16_t(k), kHighWhite, kHighBlack, canvas, 0);
        else
            affonenote(std::uint16_t(k), Qt::white, Qt::black, canvas, 0);
    }
}

void SamWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawTiledPixmap(rect(), QPixmap::fromImage(wood()));
}
