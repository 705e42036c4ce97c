#include "ui/editor/ed_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QShortcut>
#include <QSignalBlocker>
#include <cstdio>

#include "core/convert.h"
#include "core/hooks.h"
#include "core/notify.h"
#include "core/sound.h"
#include "edit/sample_save.h"
#include "edit/strip.h"
#include "edit/view_ops.h"
#include "ui/alert.h"
#include "ui/controls/my_button.h"
#include "ui/controls/my_string_view.h"
#include "ui/editor/picture_button.h"
#include "ui/editor/strip_view.h"
#include "ui/graphics.h"
#include "ui/registry.h"

namespace {

QString number(long v, int width = 8) {
    char buf[16];
    int_to_str(buf, v, width, '0', 3);
    return QString::fromLatin1(buf);
}

QString millis(const p_s* s, std::int64_t frames) {
    const std::uint32_t rate = s ? std::uint32_t(s->rate) : 0;
    return number(rate ? long(frames * 1000 / rate) : 0);
}

QLabel* label(QRect frame, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setGeometry(frame);
    QFont f = l->font();
    f.setPixelSize(11);
    f.setBold(true);
    l->setFont(f);
    l->setStyleSheet("color: rgb(255, 235, 190);");
    return l;
}

QLineEdit* loop_field(QRect frame, const QString& text, std::uint32_t code, MyBWindow* w) {
    QLabel* l = label(QRect(frame.x(), frame.y(), 68, frame.height()), w);
    l->setText(text);
    auto* e = new QLineEdit(w);
    e->setGeometry(frame.x() + 70, frame.y(), frame.width() - 70, frame.height());
    e->installEventFilter(w);
    QObject::connect(e, &QLineEdit::returnPressed, w, [w, code] { w->PostMessage(code); });
    return e;
}

const QStringList kZoomItems = {"View All",        "Zoom Locator",     "Normal View (1:1)",
                                "Set Locator All", "Set Locator View", "Zoom -",
                                "Zoom +"};
const QStringList kFunctionItems = {"Clear",    "Delete",           "Insert",  "Fade In",
                                    "Fade Out", "Normalize",        "Reverse", "Undo",
                                    "Redo",     "Save Sample As..."};
constexpr std::uint32_t kFunctionCodes[] = {
    fourcc("T001"), fourcc("T002"), fourcc("T003"), fourcc("T004"), fourcc("T005"),
    fourcc("T006"), fourcc("T007"), fourcc("undo"), fourcc("redo"), fourcc("svas")};

}  // namespace

EdWindow::EdWindow(QRect frame, int sound, const QString& title)
    : MyBWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                             Qt::CustomizeWindowHint) {
    setWindowTitle(title);
    set_place_kind("editor");
    setFixedSize(frame.size());
    move(frame.topLeft());
    setAttribute(Qt::WA_DeleteOnClose);
    prin = false;
    edit_ = std::make_unique<SampleEdit>(sound, hooks());
    if (!edit_->reinit()) return;
    build();
    aff_block();
    actu_bloop();
    aff_info();
    myupdated(0);
    myupdated(2);
    ready_ = true;
    prin = true;
}

EdWindow::~EdWindow() {
    if (ready_) prin = false;
    if (edwin == this) edwin = nullptr;
}

EditHooks EdWindow::hooks() {
    EditHooks h;
    h.refresh_images = [this] {
        if (!overview_) return;
        aff_info();
        aff_block();
        myupdated(0);
        myupdated(2);
    };
    h.data_changed = [] { post_to_main(fourcc("uppo")); };
    h.set_button = [this](EditButton b, int v) {
        if (b == EditButton::kLoop && loop_) loop_->SetValue(v);
        if (b == EditButton::kPlayWhole && play_) play_->SetValue(v);
        if (b == EditButton::kPlayBlock && play_block_) play_block_->SetValue(v);
    };
    h.set_field = [this](LoopField f, std::uint32_t v) {
        if (QLineEdit* e = f == LoopField::kStart ? loop_start_ : loop_end_) e->setText(number(v));
    };
    return h;
}

void EdWindow::build() {
    overview_ = new StripView(2, QRect(10, 10, 532, 84), QColor(0, 170, 0), this);
    zoom_ = new StripView(3, QRect(10, 120, 532, 84), QColor(220, 0, 0), this);
    scroll_ = new QScrollBar(Qt::Horizontal, this);
    scroll_->setGeometry(10, 205, 532, 15);
    connect(scroll_, &QScrollBar::valueChanged, this, [this](int v) { scrolled(v); });
    zoom_field_ = boutonombre(kZoomMenu, QRect(10, 230, 91, 21), "Zoom", this);
    zoom_field_->set_on_menu([this](QPoint where) { zoom_menu(where); });
    total_ = label(QRect(110, 226, 168, 25), this);
    bs_ = label(QRect(280, 226, 148, 25), this);
    be_ = label(QRect(430, 226, 131, 25), this);
    channels_ = new MyBButton(36, QRect(10, 260, 91, 16), "Mono", 0, nullptr, this);
    width_ = new MyBButton(36, QRect(120, 260, 91, 16), "8 Bits", 0, nullptr, this);
    rate_ = new MyBButton(36, QRect(230, 260, 91, 16), "49170 Hz", 0, nullptr, this);
    loop_ = new MyBButton(36, QRect(10, 290, 91, 16), "Loop", fourcc("loon"), this, this);
    loop_start_ = loop_field(QRect(120, 288, 180, 22), "Start Loop", fourcc("glos"), this);
    loop_end_ = loop_field(QRect(320, 288, 180, 22), "End Loop", fourcc("gloe"), this);
    functions_ = boutonombre(kFunctionsMenu, QRect(10, 328, 91, 21), "Functions", this);
    functions_->set_on_menu([this](QPoint where) { functions_menu(where); });
    play_ =
        new PictureButton(QRect(120, 328, 24, 24), kPlayon, kPlayoff, fourcc("bply"), this, this);
    play_block_ =
        new PictureButton(QRect(150, 328, 24, 24), kPlaybon, kPlayboff, fourcc("bplb"), this, this);
    stop_ =
        new PictureButton(QRect(180, 328, 24, 24), kStopon, kStopoff, fourcc("bstp"), this, this);

    overview_->on_press = [this](int x, bool primary) {
        if (!follow()) return;
        press_state_ = edit_->state();
        click_overview(edit_->state(), x, primary);
        myupdated(2);
        myupdated(1);
    };
    overview_->on_drag = [this](int x0, int x1) {
        if (!follow()) return;
        edit_->state() = press_state_;
        drag_overview(edit_->state(), x0, x1);
        myupdated(2);
        myupdated(1);
    };
    zoom_->on_press = [this](int x, bool primary) {
        if (!follow()) return;
        press_state_ = edit_->state();
        click_zoom(edit_->state(), x, primary);
        aff_block();
        myupdated(3);
    };
    zoom_->on_drag = [this](int x0, int x1) {
        if (!follow()) return;
        edit_->state() = press_state_;
        drag_zoom(edit_->state(), x0, x1);
        aff_block();
        myupdated(3);
    };

    const auto shortcut = [this](const char* keys, const char(&code)[5]) {
        auto* s = new QShortcut(QKeySequence(keys), this);
        const std::uint32_t c = fourcc(code);
        connect(s, &QShortcut::activated, this, [this, c] { PostMessage(c); });
    };
    shortcut("Ctrl++", "zpls");
    shortcut("Ctrl+=", "zpls");
    shortcut("Ctrl+-", "zmns");
    shortcut("Ctrl+Z", "undo");
    shortcut("Ctrl+Shift+Z", "redo");
    shortcut("Ctrl+Shift+S", "svas");
}

void EdWindow::MessageReceived(const Message& m) {
    if (!ready_ || !follow()) return;
    const std::uint32_t code = m.what;
    switch (code) {
        case fourcc("glos"):
        case fourcc("gloe"): {
            QLineEdit* e = code == fourcc("glos") ? loop_start_ : loop_end_;
            const QByteArray text = e->text().toLatin1();
            if (code == fourcc("glos"))
                edit_->set_loop_start(text.constData());
            else
                edit_->set_loop_end(text.constData());
            if (QWidget* f = focusWidget()) f->clearFocus();
            break;
        }
        case fourcc("undo"):
            edit_->undo();
            break;
        case fourcc("redo"):
            edit_->redo();
            break;
        case fourcc("svas"):
            if (m.fields.contains("path")) {
                const std::string error = save_as(m.string_field("path"));
                if (!error.empty()) show_alert(QString::fromStdString(error), {"..."}, 0);
            } else {
                ask_save_path();
            }
            break;
        case fourcc("_VCH"):
            std::printf("recu \n");
            break;
        default:
            if (edit_->command(code)) {
                // The play buttons show what plays (a block preview without
                // a block starts nothing).
                play_->SetValue(edit_->state().play_state & 1);
                play_block_->SetValue((edit_->state().play_state & 2) ? 1 : 0);
                stop_->SetValue(0);
            }
            break;
    }
}

bool EdWindow::follow() {
    if (!edit_->gone()) return true;
    close();
    return false;
}

void EdWindow::minit(int slot) {
    const bool ok = slot >= 0 ? edit_->retarget(slot) : edit_->reinit();
    if (!ready_ || !ok || edit_->state().sound >= nb_sound) {
        close();
        return;
    }
    aff_block();
    actu_bloop();
    aff_info();
    myupdated(0);
    myupdated(2);
}

void EdWindow::myupdated(int mode) {
    if (!overview_) return;
    const bool zoomed = mode & 2;
    const p_s* rec = edit_->record();
    const EditState& st = edit_->state();
    ColumnImage& img = zoomed ? last_zoom_ : last_overview_;
    if (!(mode & 1)) {
        if (zoomed)
            compute_zoom(rec, st, img);
        else
            compute_overview(rec, st, img);
    }
    if (!zoomed && !(mode & 4)) {
        const ScrollSetting s = scroll_setting(st);
        const QSignalBlocker quiet(scroll_);
        scroll_->setRange(0, s.maximum);
        scroll_->setPageStep(std::max(st.view_end - st.view_start, 1));
        scroll_->setValue(s.value);
    }
    const bool streamed = rec && rec->data && rec->type == kTypeStreamed;
    const bool highlight = rec && rec->type != kTypeStreamed;
    (zoomed ? zoom_ : overview_)
        ->set_image(img, zoomed ? zoom_span(st) : overview_span(st), highlight, streamed);
}

void EdWindow::aff_block() {
    const EditState& st = edit_->state();
    const p_s* rec = edit_->record();
    if (!st.has_block()) {
        bs_->setText("BS ---/--- ms");
        be_->setText("BE ---/--- ms");
        return;
    }
    bs_->setText("BS " + number(st.block_start) + "/" + millis(rec, st.block_start) + " ms");
    be_->setText("BE " + number(st.block_end) + "/" + millis(rec, st.block_end) + " ms");
}

void EdWindow::aff_info() {
    const p_s* rec = edit_->record();
    if (!rec) return;
    const EditState& st = edit_->state();
    // A streamed sound shows its file (frames, time, no loop), not its ring.
    total_->setText("Total " + number(st.total_frames) + "/" + millis(rec, st.total_frames) +
                    " ms");
    channels_->setText(rec->stereo ? "Stereo" : "Mono");
    width_->setText(rec->bits == 16 ? "16 Bits" : "8 Bits");
    rate_->setText(number(long(std::uint32_t(rec->rate)), 5));
    const SampleEdit::ShownLoop l = SampleEdit::shown_loop(*rec);
    loop_start_->setText(number(l.start));
    loop_end_->setText(number(l.end));
}

void EdWindow::actu_bloop() {
    const p_s* rec = edit_->record();
    loop_->SetValue(rec && SampleEdit::shown_loop(*rec).on ? 1 : 0);
}

void EdWindow::zoom_menu(QPoint where) {
    if (!follow()) return;
    const int k = run_popup(kZoomItems, where);
    if (k < 0) return;
    ::zoom_menu(edit_->state(), k);
    aff_block();
    myupdated(0);
    myupdated(2);
}

void EdWindow::functions_menu(QPoint where) {
    if (!follow()) return;
    const int k = run_popup(kFunctionItems, where);
    if (k < 0 || k >= kFunctionItems.size()) return;
    PostMessage(kFunctionCodes[k]);
}

void EdWindow::scrolled(int value) {
    if (!follow()) return;
    scroll_to(edit_->state(), float(value));
    myupdated(2);
    myupdated(4);
}

std::string EdWindow::save_as(const QString& path) {
    const p_s* rec = edit_->record();
    if (!rec) return "There is no sample data to save.";
    return save_sample(*rec, path.toStdString());
}

void EdWindow::ask_save_path() {
    auto* panel = new QFileDialog(this, "Save Sample As");
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setNameFilters({"WAV files (*.wav)", "FLAC files (*.flac)"});
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& path) {
        PostMessage(Message(fourcc("svas")).add("path", path));
    });
    panel->show();
}

bool EdWindow::eventFilter(QObject* watched, QEvent* e) {
    // Undo and redo belong to the sound, not to the text of a loop field.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Z && (k->modifiers() & Qt::ControlModifier)) return true;
    }
    return MyBWindow::eventFilter(watched, e);
}

void EdWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawTiledPixmap(rect(), QPixmap::fromImage(wood()));
}

void EdWindow::closeEvent(QCloseEvent* e) {
    if (edwin == this) edwin = nullptr;
    if (ready_) prin = false;
    // Closed for good: no more commands, and the messenger of an editor
    // opened before this one is deleted is left alone.
    ready_ = false;
    e->accept();
}

void appel_edsam(int sound) {
    // An editor whose sound has gone closes; one for `sound` opens instead.
    if (auto* e = dynamic_cast<EdWindow*>(edwin.data()); e && e->ready()) e->follow();
    if (edwin) {
        edwin->show();
        edwin->raise();
        edwin->activateWindow();
        return;
    }
    auto* w = new EdWindow(QRect(10, 10, 561, 361), sound, "Sample Edit");
    if (!w->ready()) {
        delete w;
        show_alert("Load a sample to edit it...", {"..."}, 0);
        return;
    }
    edwin = w;
    w->show();
}

void editor_minit(int sound) {
    auto* e = dynamic_cast<EdWindow*>(edwin.data());
    if (!e) return;
    if (sound < 0) return e->minit();
    SampleEdit& m = e->model();
    if (m.record()) {
        // Its sound is still there (moved perhaps): only a reload of its own
        // slot concerns it.
        if (m.state().sound == sound) e->minit();
        return;
    }
    // Its sound has gone: replaced in that slot by the load, or gone otherwise.
    if (m.sound().slot == sound)
        e->minit(sound);
    else
        e->close();
}

void editor_follow() {
    if (auto* e = dynamic_cast<EdWindow*>(edwin.data()); e && e->ready()) e->follow();
}
