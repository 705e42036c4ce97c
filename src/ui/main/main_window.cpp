#include "ui/main/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPainter>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/voices.h"
#include "platform/engine_services.h"
#include "platform/output_recorder.h"
#include "platform/rtaudio_output.h"
#include "ui/alert.h"
#include "ui/controls/my_button.h"
#include "ui/controls/my_check.h"
#include "ui/controls/my_string_view.h"
#include "ui/editor/ed_window.h"
#include "ui/graphics.h"
#include "ui/main/computer_keys.h"
#include "ui/main/envelope_editor.h"
#include "ui/main/keyboard.h"
#include "ui/main/overview.h"
#include "ui/main/play_mode.h"
#include "ui/main/sound_tree.h"
#include "ui/registry.h"
#include "ui/window_hints.h"
#include "ui/windows/about_window.h"
#include "ui/windows/audio_window.h"
#include "ui/windows/ch_window.h"
#include "ui/windows/osc_window.h"
#include "ui/windows/param_registry.h"
#include "ui/windows/val_window.h"

namespace {

// How often the window looks for voice notices while notes come and go, how
// often once nothing has happened for kQuietTicks looks (the first note after
// a quiet spell then shows that much later; its sound does not wait), and how
// many looks between two passes of the reclaimer.
constexpr int kNoticeMs = 40;
constexpr int kQuietNoticeMs = 200;
constexpr int kQuietTicks = 50;
constexpr int kReclaimTicks = 8;

}  // namespace

MyWindow::MyWindow(EngineServices& services)
    : MyBWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                             Qt::CustomizeWindowHint),
      services_(services) {
    awin = this;
    setWindowTitle("Plexora, the virtual Midi sampler 1.1");
    setFixedSize(701, 461);
    move(10, 80);
    setAcceptDrops(true);

    samwin.clear();
    no_courbe = 0;
    old_sel = kNone;
    creation = 1;
    t_inst[0] = 0;
    nb_inst = 1;
    nb_sound = 1;
    clear_inst_names();
    set_inst_name(0, "None Inst (000)");

    build_audio_line();
    record_line_ = new QLabel(this);
    // In the audio line's place while it shows: the window has no room below.
    record_line_->setGeometry(audio_line_->geometry());
    record_line_->setFont(audio_line_->font());
    record_line_->setStyleSheet("color: rgb(255, 120, 100);");
    record_line_->hide();
    connect(&record_timer_, &QTimer::timeout, this, [this] { show_record_time(); });
    build_views();
    build_menus();
    myupdate();

    // The tree starts with the empty instrument and its empty sound.
    auto* inst = new QTreeWidgetItem(tree_, QStringList("None Inst (000)"));
    new QTreeWidgetItem(inst, QStringList("None sample"));
    inst->setExpanded(true);
    tree_->setCurrentItem(inst);

    build_progress();
    keys_ = new ComputerKeys(this, keyboard_);
    install_hooks();
    connect(&notices_, &QTimer::timeout, this, [this] { collect_notices(); });
    notices_.start(kNoticeMs);
    prince = true;
    saved_fingerprint_ = autosaved_fingerprint_ = session_fingerprint();
    show_session_title();
    connect(&session_timer_, &QTimer::timeout, this, [this] { watch_session(); });
    session_timer_.start(1000);
    since_autosave_.start();
}

MyWindow::~MyWindow() {
    stop_recording(true);
    notices_.stop();
    job_timer_.stop();
    ui_hooks() = UiHooks{};
    prince = false;
    if (awin == this) awin = nullptr;
}

void MyWindow::build_audio_line() {
    audio_line_ = new QLabel(this);
    audio_line_->setGeometry(466, 423, 230, 18);
    QFont f = audio_line_->font();
    f.setPixelSize(11);
    f.setBold(true);
    audio_line_->setFont(f);
    audio_line_->setStyleSheet("color: rgb(255, 235, 190);");
    audio_line_->hide();
}

bool MyWindow::loading() const {
    return services_.loading();
}

void MyWindow::build_views() {
    envelope_ = new EnvelopeView(QRect(15, 30, kEnvelopeWidth, kEnvelopeHeight), this);
    curve_label_ = boutonombre(kCurveMenu, QRect(25, 216, 81, 21), "Velocity", this);
    curve_label_->set_on_choice([this] { aff_ADSR(); });
    check_ = std::make_unique<mycheck>(QRect(120, 220, 61, 17), "On", fourcc("aron"), this, this);
    envelope_->set_on_redraw([this] {
        const p_s* s = t_sound[no_s & (kMaxSounds - 1)];
        if (!s) return;
        const int bit = (s->flags >> no_courbe) & 1;
        if (check_->Value() != bit) check_->SetValue(bit);
    });
    adsr_button_ =
        new MyBButton(2, QRect(190, 215, 81, 17), "Adsr options", fourcc("aopt"), this, this);
    adsr_button_->set_popup([this](QPoint where) { return envelope_->build_pop(where); });
    all_off_ =
        new MyBButton(36, QRect(350, 425, 101, 16), "All Note-Off", fourcc("aoff"), this, this);
    for (int i = 0; i < 16; ++i) {
        leds_[i] = new LampButton(this, kLedonr, kLedoffr, QColor(255, 40, 30));
        leds_[i]->setGeometry(35 + 16 * i, 430, 16, 16);
        leds_[i]->setToolTip(QString("MIDI channel %1").arg(i + 1));
        connect(leds_[i], &QAbstractButton::clicked, this,
                [this, i] { PostMessage(fourcc("ri00") + std::uint32_t(i)); });
    }
    overview_ = new OverviewView(QRect(75, 260, 532, 84), this);
    keyboard_ = new KeyboardView(QRect(30, 350, kKeyboardWidth, kKeyboardHeight), this);

    auto* panel = new TreePanel(QRect(369, 28, 320, 220), this);
    tree_ = new MyBOutlineListView(QRect(18, 19, 267, 141), panel, fourcc("seit"), this);
    auto* label = new QLabel("Name", panel);
    QFont bold = label->font();
    bold.setBold(true);
    bold.setPixelSize(12);
    label->setFont(bold);
    label->setGeometry(16, 190, 40, 22);
    name_ = new QLineEdit(panel);
    name_->setObjectName("t inst");
    name_->setFont(bold);
    name_->setGeometry(56, 188, 234, 24);
    name_->setMaxLength(31);
    connect(name_, &QLineEdit::returnPressed, this, [this] { PostMessage(fourcc("cins")); });
}

void MyWindow::build_menus() {
    menus_ = new QMenuBar(this);
    menus_->setObjectName("MenuBar");
    menus_->setNativeMenuBar(false);
    const auto item = [this](QMenu* menu, const char* text, const char(&code)[5],
                             QKeySequence keys = {}) {
        QAction* a = menu->addAction(shown_as_is(text));
        if (!keys.isEmpty()) a->setShortcut(keys);
        const std::uint32_t c = fourcc(code);
        connect(a, &QAction::triggered, this, [this, c] { PostMessage(c); });
        return a;
    };
    QMenu* file = menus_->addMenu("File");
    item(file, "Open Sample", "opes", QKeySequence("Ctrl+O"));
    file->addSeparator();
    item(file, "Open Instrument", "opei", QKeySequence("Ctrl+Shift+O"));
    recent_ = file->addMenu("Open Recent");
    connect(recent_, &QMenu::aboutToShow, this, [this] { fill_recent_menu(); });
    file->addSeparator();
    item(file, "Open set", "opse", QKeySequence("Ctrl+C"))->setEnabled(false);
    item(file, "Save Instrument", "sait", QKeySequence("Ctrl+S"));
    item(file, "Save Instrument as SF2...", "sisf");
    item(file, "Save All as SF2...", "sasf");
    file->addSeparator();
    item(file, "Open Session...", "opss", QKeySequence("Ctrl+Alt+O"));
    item(file, "Save Session", "sass", QKeySequence("Ctrl+Alt+S"));
    item(file, "Save Session As...", "sasa", QKeySequence("Ctrl+Alt+Shift+S"));
    file->addSeparator();
    record_item_ = item(file, "Record Output...", "rcou", QKeySequence("Ctrl+R"));
    file->addSeparator();
    item(file, "About PLEXORA...", "_ABR");
    file->addSeparator();
    item(file, "Quit", "_QRQ", QKeySequence("Ctrl+Q"));
    QMenu* inst = menus_->addMenu("Instrument");
    item(inst, "Add sub sample", "asam", QKeySequence("Ctrl+V"));
    item(inst, "Add & Load sub Sample", "alsa", QKeySequence("Ctrl+Shift+V"));
    item(inst, "Del sub Sample", "dsam");
    inst->addSeparator();
    item(inst, "Add Instrument", "ains", QKeySequence("Ctrl+A"));
    item(inst, "Add & Load Instrument", "alin", QKeySequence("Ctrl+Shift+A"));
    item(inst, "Del Instrument", "dins");
    inst->addSeparator();
    item(inst, "Parameter", "pain");
    QMenu* sample = menus_->addMenu("Sample");
    item(sample, "Parameter", "pasa");
    item(sample, "Edit", "edsa");
    item(menus_->addMenu("MIDI Channel"), "Parameter", "pach");
    QMenu* options = menus_->addMenu("Options");
    item(options, "Show Oscillo", "sosc");
    item(options, "Audio...", "audi");
    // Read by bank imports as they run and by each note as it starts.
    QAction* as_set = options->addAction("Play banks as their makers set them");
    as_set->setCheckable(true);
    as_set->setChecked(restore_play_mode());
    as_set->setToolTip(
        "Envelopes, tuning, levels, velocity layers and drum kits as the bank sets "
        "them; banks loaded before a change keep the way they were loaded.");
    connect(as_set, &QAction::toggled, this, [](bool on) { choose_play_mode(on); });
    item(menus_->addMenu("Documentation"), "Documentation", "wmed");
    menus_->setGeometry(0, 0, 701, menus_->sizeHint().height());
}

void MyWindow::install_hooks() {
    UiHooks& h = ui_hooks();
    h.alert = [](const char* text, const char* button) { show_alert(text, {button}, 0); };
    h.alert_details = [](const char* text, const char* button, const char* details) {
        show_alert(text, {button}, 0, QString::fromLocal8Bit(details));
    };
    h.notice = [](const char* text, const char* details) {
        show_alert(QString::fromLocal8Bit(text), {"Ok"}, 0, QString::fromLocal8Bit(details));
    };
    h.sound_changed = [](int s) {
        if (awin) awin->sound_changed(s);
    };
    h.instruments_changed = [] {
        if (awin) awin->rebuild_tree();
        editor_follow();
    };
    h.post = [](std::uint32_t code) { post_message(awin, code); };
}

void MyWindow::collect_notices() {
    if (services_.take_player()) show_audio_state();
    if (services_.watch_audio() != EngineServices::AudioChange::kNone) show_audio_state();
    KeyNotice n;
    bool any = false;
    while (take_key_notice(n)) any = true;
    if (any) MessageReceived(Message(fourcc("ppia")));
    const bool ended = take_preview_ended();
    if (ended && edwin) post_message(edwin, fourcc("uped"));
    // Looking less often while nothing happens keeps an idle program idle.
    if (any || ended || active_voices() > 0 || services_.opening_player())
        quiet_ticks_ = 0;
    else if (quiet_ticks_ < kQuietTicks)
        ++quiet_ticks_;
    const int interval = quiet_ticks_ >= kQuietTicks ? kQuietNoticeMs : kNoticeMs;
    if (notices_.interval() != interval) notices_.setInterval(interval);
    if (++ticks_ >= kReclaimTicks) {
        ticks_ = 0;
        reclaim::reclaim();
        // The JACK server may change its period for every client meanwhile.
        show_audio_state();
    }
    // Streams that had to wait for the disk, unless the line says the output is silent.
    const std::uint64_t underruns = stream_underruns.load(std::memory_order_relaxed);
    if (underruns != underruns_shown_ && audio_line_ && !services_.silent()) {
        underruns_shown_ = underruns;
        show_audio_state();
    }
}

void MyWindow::show_audio_state() {
    const SoundPlayer* p = services_.player();
    if (!audio_line_ || !p || (record_line_ && record_line_->isVisible())) return;
    QString text, tip = QString::fromStdString(p->Summary());
    if (services_.waiting_for_jack()) {
        text = "JACK server gone: playing silently";
        tip =
            "The JACK server has stopped. Notes play on the silent output until a server "
            "runs again; then the program reconnects its audio and MIDI by itself.";
    } else if (services_.silent()) {
        text = "No audio output: playing silently";
        tip = QString::fromStdString(p->Report());
    } else {
        text = QString("%1, %2 Hz, %3 ms")
                   .arg(p->BackendName())
                   .arg(double(p->FrameRate()), 0, 'f', 0)
                   .arg(double(p->Latency()) / 1000.0, 0, 'f', 1);
    }
    if (underruns_shown_) text += QString(", underruns: %1").arg(underruns_shown_);
    if (audio_line_->text() == text && audio_line_->isVisible()) return;
    audio_line_->setText(text);
    audio_line_->setToolTip(tip);
    audio_line_->show();
}

void MyWindow::show_audio_window() {
    if (!audio_window_) {
        audio_window_ = new AudioWindow(services_, RtAudioOutput::alsa_devices(), this);
        audio_window_->setWindowFlag(Qt::Window);
        audio_window_->adjustSize();
        place_window(audio_window_, "audio");
        connect(audio_window_, &QDialog::finished, this, [this] {
            remember_place(audio_window_, "audio");
            show_audio_state();
        });
        audio_window_->on_applied = [this] { show_audio_state(); };
    }
    audio_window_->show();
    audio_window_->raise();
    audio_window_->activateWindow();
}

void MyWindow::MessageReceived(const Message& m) {
    const std::uint32_t code = m.what;
    if (code >= fourcc("ri00") && code < fourcc("ri00") + 16) {
        led_clicked(int(code - fourcc("ri00")));
        return;
    }
    const p_s* current = t_sound[no_s & (kMaxSounds - 1)];
    switch (code) {
        case fourcc("opes"):
        case fourcc("opei"):
            show_open_panel();
            break;
        case fourcc("sait"):
            show_save_panel();
            break;
        case fourcc("SAVE"):
            save_instrument(m);
            break;
        case fourcc("opss"):
            show_session_panel(false);
            break;
        case fourcc("sass"):
            if (session_path_.isEmpty())
                show_session_panel(true);
            else
                save_session_to(session_path_);
            break;
        case fourcc("sasa"):
            show_session_panel(true);
            break;
        case fourcc("rcou"):
            if (recorder_)
                stop_recording(false);
            else
                show_record_panel();
            break;
        case fourcc("rcpa"):
            start_recording(m.string_field("path"));
            break;
        case fourcc("sisf"):
        case fourcc("sasf"):
            show_bank_panel(code == fourcc("sasf"));
            break;
        case fourcc("SASF"):
            save_bank(m);
            break;
        case fourcc("_RRC"):
            RefsReceived(m);
            break;
        case fourcc("_ABR"):
            appel_about();
            break;
        case fourcc("_QRQ"):
            close();
            break;
        case fourcc("asam"):
        case fourcc("alsa"):
            if (refused_while_loading()) break;
            add_multi();
            PostMessage(fourcc("RauQ"));
            editor_minit();
            if (code == fourcc("alsa")) show_open_panel();
            break;
        case fourcc("ains"):
        case fourcc("alin"):
            if (refused_while_loading()) break;
            add_inst();
            editor_minit();
            // Its twin for samples: add the instrument, then choose what fills it.
            if (code == fourcc("alin")) show_open_panel();
            break;
        case fourcc("dsam"):
        case fourcc("dins"):
            if (refused_while_loading()) break;
            del_sound();
            editor_minit();
            break;
        case fourcc("edsa"):
            appel_edsam(no_s);
            break;
        case fourcc("pain"):
        case fourcc("pasa"):
            appel_sam(code == fourcc("pain"));
            break;
        case fourcc("wmed"):
            show_documentation();
            break;
        case fourcc("pach"):
            appel_ch();
            break;
        case fourcc("sosc"):
            appel_osc();
            break;
        case fourcc("audi"):
            show_audio_window();
            break;
        case fourcc("aron"):
            if (p_s* s = t_sound[no_s & (kMaxSounds - 1)]) {
                const std::uint16_t bit = std::uint16_t(1u << no_courbe);
                s->flags = std::uint16_t(check_->Value() ? (s->flags | bit) : (s->flags & ~bit));
            }
            break;
        case fourcc("aopt"):
            // The release curve's options belong to the note-off time window.
            if (no_courbe == kCurveVelocityOff) appel_val();
            break;
        case fourcc("aoff"):
            all_notes_off();
            break;
        case fourcc("seit"):
            selection_changed();
            break;
        case fourcc("cins"):
            name_committed();
            break;
        case fourcc("ppia"):
            reactu_noteon();
            keyboard_->redraw_held();
            break;
        case fourcc("uppo"):
            if (current) myupdate();
            break;
        case fourcc("RauQ"):
            // The windows that show a sound follow it, or close once it has gone.
            editor_follow();
            rafr_all();
            break;
        default:
            break;  // codes this window does not know are dropped
    }
}

void MyWindow::myupdate() {
    overview_->rebuild(no_s);
}

void MyWindow::aff_ADSR() {
    envelope_->aff_ADSR();
}

void MyWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawTiledPixmap(rect(), QPixmap::fromImage(wood()));
}

void MyWindow::closeEvent(QCloseEvent* e) {
    if (!may_quit()) {
        e->ignore();
        return;
    }
    // Audio stops before the application is asked to quit; a load in
    // progress is dropped.
    session_timer_.stop();
    keys_->release_all();
    notices_.stop();
    job_timer_.stop();
    prince = false;
    services_.stop();
    stop_recording(true);  // after the audio, so the file ends where the sound did
    e->accept();
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Quit));
}
