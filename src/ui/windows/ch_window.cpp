#include "ui/windows/ch_window.h"

#include <QLabel>
#include <QPainter>

#include "core/fourcc.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "midi/midi_port.h"
#include "platform/midi_roster.h"
#include "ui/alert.h"
#include "ui/controls/my_button.h"
#include "ui/controls/my_check.h"
#include "ui/controls/my_string_view.h"
#include "ui/graphics.h"
#include "ui/main/main_window.h"
#include "ui/main/sound_tree.h"
#include "ui/registry.h"

namespace {

constexpr int kPulseMs = 50;

struct BarSpec {
    const char* label;
    rt<std::int32_t>* table;
    BarRange range;
    char code[5];
    QColor colour;
};

// Top to bottom. The pitch bar shows -8192..8191 shifted down to -64..63.
const BarSpec kBarSpecs[ChWindow::kBars] = {
    {"Pitch", ch_pitch, {7, -8192, 8191}, "cpit", QColor(230, 60, 40)},
    {"Main volume", ch_main, {0, 0, 127}, "cmai", QColor(240, 200, 40)},
    {"Pan Channel", ch_pan, {0, -64, 63}, "cpan", QColor(60, 200, 80)},
    {"Coarse tuning", ch_ctune, {0, -64, 63}, "ctun", QColor(60, 140, 240)},
    {"LPF", ch_lpf, {0, 0, 127}, "clpf", QColor(200, 90, 220)},
};

// The parameter slots the five selectors bind, as their captions name them.
const char* const kSlotNames[5] = {"Pitch", "Main Volume", "Panoramic", "Coarse", "Modulation"};

QFont bold_font(const QWidget* w) {
    QFont f = w->font();
    f.setBold(true);
    f.setPixelSize(11);
    return f;
}

}  // namespace

std::optional<QString> ret_linst(int n) {
    if (!awin || n < 0 || n >= awin->tree()->topLevelItemCount()) return std::nullopt;
    return awin->tree()->topLevelItem(n)->text(0);
}

ChWindow::ChWindow(QRect frame, const QString& title)
    : MyBWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                             Qt::CustomizeWindowHint) {
    setWindowTitle(title);
    set_place_kind("channels");
    setFixedSize(frame.width() + 1, frame.height() + 1);
    // The frame's corner, title bar included, so the title stays on screen.
    move(frame.topLeft());
    setAttribute(Qt::WA_DeleteOnClose);

    auto* head = new QLabel("Channel", this);
    head->setFont(bold_font(this));
    head->setGeometry(15, 8, 60, 16);
    auto* mute_head = new QLabel("Mute", this);
    mute_head->setFont(bold_font(this));
    mute_head->setGeometry(75, 8, 40, 16);
    for (int i = 0; i < 16; ++i) {
        const int y = 28 + 19 * i;
        select_[i] = std::make_unique<mycheck>(QRect(15, y, 50, 16),
                                               QString("%1").arg(i + 1, 2, 10, QChar('0')),
                                               fourcc("zu00") + std::uint32_t(i), this, this);
        mute_[i] = std::make_unique<mycheck>(QRect(80, y, 16, 16), "",
                                             fourcc("mu00") + std::uint32_t(i), this, this);
        mute_[i]->SetValue(mute[i]);
    }
    select_[0]->SetValue(1);

    inst_ = new MyBButton(0, QRect(130, 10, 370, 20), "", fourcc("pins"), this, this);
    inst_->set_popup([this](QPoint where) { return build_pop(where); });
    port_ = new MyBButton(46, QRect(130, 38, 370, 20),
                          midi_roster ? QString::fromStdString(midi_roster->connected_name()) : "",
                          fourcc("port"), this, this);
    port_->set_popup([this](QPoint where) { return build_port_pop(where); });
    freeze_ =
        std::make_unique<mycheck>(QRect(515, 12, 120, 16), "Freeze", fourcc("fins"), this, this);
    play_selected_ = std::make_unique<mycheck>(QRect(515, 40, 140, 16), "Play inst selected",
                                               fourcc("Mins"), this, this);
    play_selected_->SetValue(fmodei);

    for (int b = 0; b < kBars; ++b) {
        const BarSpec& s = kBarSpecs[b];
        bars_[b] =
            std::make_unique<mybar>(s.range, QRect(130, 68 + 40 * b, 520, 36), s.colour, s.label,
                                    fourcc(s.code), s.table, &ch_selected_, this, this);
    }

    auto* bind_head = new QLabel("Driven by the Midi message :", this);
    bind_head->setFont(bold_font(this));
    bind_head->setGeometry(130, 270, 300, 16);
    for (int k = 0; k < 5; ++k) {
        auto* caption = new QLabel(kSlotNames[k], this);
        caption->setFont(bold_font(this));
        caption->setGeometry(130 + 104 * k, 290, 100, 16);
        selectors_[k] = boutonombre(k, QRect(130 + 104 * k, 308, 98, 21),
                                    pop_label(k, int(midimess_to_func[k])), this);
    }

    rafraichi();
    connect(&pulse_, &QTimer::timeout, this, [this] { Pulse(); });
    pulse_.start(kPulseMs);
}

ChWindow::~ChWindow() = default;

void ChWindow::rafraichi() {
    aff_inst();
    freeze_->SetValue(ch_instf[ch_selected_]);
    // Every bar, the LPF too: a bar only notices a value that differs from
    // what it last showed for that channel, which says nothing about what it
    // shows now.
    for (auto& b : bars_) b->raf();
}

void ChWindow::aff_inst() {
    const int inst = ch_inst[ch_selected_];
    ch_instold_ = inst;
    inst_->setText(QString("Inst (%1) :%2")
                       .arg(inst, 3, 10, QChar('0'))
                       .arg(ret_linst(inst).value_or(QString())));
    inst_->update();
}

bool ChWindow::build_pop(QPoint where) {
    QStringList names;
    while (auto name = ret_linst(int(names.size()))) names << *name;
    const int k = run_popup(names, where);
    if (k >= 0) {
        // A choice made here is not a program change: "Freeze" does not apply.
        ch_inst[ch_selected_] = k;
        aff_inst();
    }
    return true;
}

bool ChWindow::build_port_pop(QPoint where) {
    if (!midi_roster) return false;
    // The sources present now, whether or not one was there at start, with
    // the connected one ticked.
    const std::vector<MidiSourceInfo> list = midi_roster->sources();
    QStringList names;
    int current = -1;
    for (const auto& s : list) {
        if (s.id == midi_roster->connected_id()) current = int(names.size());
        names << QString::fromStdString(s.name);
    }
    if (list.empty()) {
        run_popup({"No MIDI source"}, where, -1, true);
        return true;
    }
    const int k = run_popup(names, where, current);
    if (k >= 0 && k < int(list.size())) {
        PostMessage(Message(fourcc("po00") + std::uint32_t(k))
                        .add("be:id", qint64(list[std::size_t(k)].id)));
    }
    return true;
}

void ChWindow::connect_source(const Message& m) {
    if (!m.fields.contains("be:id")) return;
    const auto id = std::uint32_t(m.int_field("be:id"));
    if (midi_roster) {
        midi_roster->disconnect();
        if (midi_roster->connect(id)) {
            port_->setText(QString::fromStdString(midi_roster->connected_name()));
            port_->update();
            return;
        }
    }
    port_->setText("");
    show_alert("Midi in not find !", {"Arg !"}, 0);
}

void ChWindow::typed(int b) {
    bars_[b]->typed();
    rafraichi();
    if (QWidget* f = focusWidget()) f->clearFocus();
}

void ChWindow::Pulse() {
    for (auto& b : bars_) b->poll();
    if (ch_inst[ch_selected_] != ch_instold_) aff_inst();
}

void ChWindow::MessageReceived(const Message& m) {
    const std::uint32_t code = m.what;
    if (code >= fourcc("zu00") && code < fourcc("zu00") + 16) {
        select_[ch_selected_]->SetValue(0);
        ch_selected_ = int(code - fourcc("zu00"));
        select_[ch_selected_]->SetValue(1);
        rafraichi();
        return;
    }
    if (code >= fourcc("mu00") && code < fourcc("mu00") + 16) {
        const int ch = int(code - fourcc("mu00"));
        mute[ch] = !mute[ch];
        mute_[ch]->SetValue(mute[ch]);
        return;
    }
    if (code >= fourcc("po00") && code < fourcc("po00") + 256) {
        connect_source(m);
        return;
    }
    switch (code) {
        case fourcc("Mins"):
            fmodei = !fmodei;
            play_selected_->SetValue(fmodei);
            break;
        case fourcc("fins"):
            ch_instf[ch_selected_] = !ch_instf[ch_selected_];
            freeze_->SetValue(ch_instf[ch_selected_]);
            break;
        case fourcc("cpit"):
            typed(kPitchBar);
            break;
        case fourcc("cmai"):
            typed(kMainBar);
            break;
        case fourcc("cpan"):
            typed(kPanBar);
            break;
        case fourcc("ctun"):
            typed(kTuneBar);
            break;
        case fourcc("clpf"):
            typed(kLpfBar);
            break;
        default:
            break;  // 'pins', 'port' and codes this window does not know
    }
}

void ChWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawTiledPixmap(rect(), QPixmap::fromImage(wood()));
}

ChWindow* appel_ch() {
    if (auto* w = dynamic_cast<ChWindow*>(chwin.data())) {
        w->show();
        w->raise();
        w->activateWindow();
        return w;
    }
    auto* w = new ChWindow(QRect(10, 10, 660, 350), "Channels parameter");
    chwin = w;
    w->show();
    return w;
}
