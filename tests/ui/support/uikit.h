// Helpers for the window tests: a main window without audio, alerts and
// pop-up menus answered by the test, and the event loop run on demand. It also
// brings in the controls and Qt headers most window tests use.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>

#include "platform/engine_services.h"
#include "platform/midi_roster.h"
#include "support/testkit.h"
#include "ui/controls/my_button.h"
#include "ui/controls/my_check.h"
#include "ui/controls/my_string_view.h"
#include "ui/main/main_window.h"
#include "ui/main/sound_tree.h"
#include "ui/registry.h"

class QWidget;

namespace uikit {

// Runs the event loop for `ms` milliseconds (at least one pass).
void pump(int ms = 0);
// Sends a mouse press, move or release of `button` to `w` at `at` (widget
// coordinates), with the buttons `held` (a press holds its own button).
void mouse(QWidget* w, int type, QPoint at, bool button_held = false,
           Qt::MouseButton button = Qt::LeftButton, Qt::MouseButtons held = {});
// The colour of pixel (x, y) of a widget as it draws itself now.
unsigned pixel(QWidget* w, int x, int y);
// Posts `m` to `to` and lets it handle it.
void send(QObject* to, const Message& m);
inline void send(QObject* to, std::uint32_t code) {
    send(to, Message(code));
}
// Clicks a button, or chooses row `row` of a list, and lets the windows
// handle what that posts.
template <typename Button>
void click(Button* b) {
    b->click();
    pump();
}
template <typename List>
void choose(List* l, int row) {
    l->setCurrentRow(row);
    pump();
}

// Sources that come and go as the test says.
struct TestRoster : MidiRoster {
    std::vector<MidiSourceInfo> list;
    std::uint32_t id = 0;
    std::string name;
    std::vector<MidiSourceInfo> sources() override { return list; }
    bool connect(std::uint32_t want) override {
        const auto s =
            std::find_if(list.begin(), list.end(), [&](auto& s) { return s.id == want; });
        if (s != list.end()) id = want, name = s->name;
        return s != list.end();
    }
    void disconnect() override { id = 0, name.clear(); }
    std::uint32_t connected_id() const override { return id; }
    const std::string& connected_name() const override { return name; }
};

class MainWindowTest : public testkit::EngineTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Posts `code` to the window and lets it handle it.
    void post(const char (&code)[5]);
    void post(const Message& m);
    // Hands `paths` over as the open panel or a drop does, and lets the
    // window handle them: a load may still run afterwards.
    void start_open(const QStringList& paths);
    // The same, then lets the load finish.
    void open_paths(const QStringList& paths);
    // Runs the event loop until no load runs.
    void finish_loads();
    // Writes a 16-bit mono WAV of `frames` frames of a tone as `leaf` in the test's folder.
    QString write_wav(const QString& leaf, int frames = 3000);
    // The rows of the tree in full-list order; sample rows start with "  ".
    QStringList rows() const;
    // Selects the full-list row `row` as a click would.
    void select_row(int row);
    // Selects sound `s` as the window's commands see it.
    void select_sound(int s);
    // Presses `w`, and answers the pop-up menu it shows with item `answer`.
    void pick(QWidget* w, int answer);
    // The full-list row selected now, or -1.
    int selected_row() const;

    // The engine's services without sound, streaming or MIDI; they outlive the window.
    std::unique_ptr<EngineServices> services;
    std::unique_ptr<MyWindow> win;
    int alert_answer = 0;             // index of the button the "user" presses in an alert
    std::vector<QStringList> popups;  // items of the pop-up menus shown
    int popup_answer = -1;
    QTemporaryDir dir;
};

}  // namespace uikit
