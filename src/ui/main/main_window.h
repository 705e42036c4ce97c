// The main window: menus, the sound tree with its name field, the envelope
// editor, the waveform overview, the keyboard, sixteen channel lamps and
// "All Note-Off". It shows what the engine's services do (the audio line, a
// load's progress and result) and owns none of their threads; every command
// reaches it as a four-character code in MessageReceived.
#pragma once

#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>

#include "platform/session_file.h"
#include "ui/message.h"

class EnvelopeView;
class KeyboardView;
class LampButton;
class MyBButton;
class MyBOutlineListView;
class MyBStringView;
class OverviewView;
class QTreeWidgetItem;
class EngineServices;
class mycheck;
class ComputerKeys;
class QProgressBar;
class OutputRecorder;

class MyWindow : public MyBWindow {
  public:
    // GUI thread. `services` outlive the window.
    explicit MyWindow(EngineServices& services);
    ~MyWindow() override;

    void MessageReceived(const Message& m) override;

    // GUI thread. Brings the lamps in line with the voices; returns the
    // number of active voices.
    int reactu_noteon();
    // GUI thread. Rebuilds the overview from the selected sound and redraws it.
    void myupdate();
    // GUI thread. Redraws the envelope editor.
    void aff_ADSR();
    // GUI thread. Relabels every sample row from its sound's name.
    void actu_list();
    // GUI thread. Rebuilds the whole tree from the tables (after a loader
    // changed the instruments) and selects the current sound.
    void rebuild_tree();
    // GUI thread. Selects the row of sound `s`, expanding its instrument.
    void select_sound(int s);
    // GUI thread. Opens the files one after the other, each as if chosen in
    // the open panel (the files named on the command line).
    void open_files(const QStringList& paths);
    // GUI thread. True while a file is being loaded in the background.
    bool loading() const;
    // Tests: the size from which a file shows its progress at once; a
    // smaller one is first waited for a moment.
    static void set_background_from(qint64 bytes);

    // What the window shows, for tests and the manual's pictures.
    MyBOutlineListView* tree() const { return tree_; }
    QLineEdit* name_field() const { return name_; }
    KeyboardView* keyboard() const { return keyboard_; }
    OverviewView* overview() const { return overview_; }
    EnvelopeView* envelope() const { return envelope_; }
    MyBStringView* curve_selector() const { return curve_label_; }
    mycheck* curve_check() const { return check_.get(); }
    MyBButton* options_button() const { return adsr_button_; }
    MyBButton* all_off_button() const { return all_off_; }
    LampButton* led(int channel) const { return leds_[channel]; }
    QLabel* audio_line() const { return audio_line_; }
    QMenuBar* menu_bar() const { return menus_; }
    QFileDialog* open_panel() const { return open_panel_; }
    QMenu* recent_menu() const { return recent_; }
    QWidget* progress() const { return progress_; }
    QLabel* progress_label() const { return progress_label_; }
    ComputerKeys* computer_keys() const { return keys_; }
    QFileDialog* save_panel() const { return save_panel_; }
    EngineServices& services() const { return services_; }
    QAction* record_item() const { return record_item_; }
    QLabel* record_line() const { return record_line_; }
    QFileDialog* record_panel() const { return record_panel_; }
    // The recording running, else null.
    const OutputRecorder* recorder() const { return recorder_.get(); }

    // Sessions (main_window_session.cpp).
    // GUI thread. Saves the whole set-up to `path` (".pxsession" added when
    // missing); false, after saying why, when it could not be written.
    bool save_session_to(QString path);
    // GUI thread. Replaces the set-up with the session at `path`, or says
    // why it could not and changes nothing; for a file it uses that is not
    // where it was, offers to locate it (the files `moved` say are found
    // there). The session is read and checked on a thread of its own, with
    // progress and Cancel ("session_progress"); cancelled, nothing changes.
    bool open_session_file(const QString& path, const SessionMoves& moved = {});
    // The session file last saved or opened; empty for none.
    const QString& session_path() const { return session_path_; }
    // GUI thread. True when the set-up differs from the one last saved or
    // opened (the title is marked meanwhile).
    bool unsaved_changes() const;
    // GUI thread. Looks at the set-up: marks the title, starts an autosave
    // when one is due (true then) and removes the recovery file once the
    // set-up is saved (also on a timer of its own).
    bool watch_session();
    // GUI thread. After an abnormal end of an earlier run, offers to restore
    // the set-up it last autosaved; true when it was restored.
    bool offer_recovery();
    // The recovery file this run autosaves to.
    QString recovery_file() const;
    QFileDialog* session_panel() const { return session_panel_; }
    QFileDialog* locate_panel() const { return locate_panel_; }

  protected:
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

  private:
    void build_views();
    void build_menus();
    void show_open_panel();
    void show_save_panel();
    // Shows the panel that writes a SoundFont 2 bank of the selected
    // instrument, or of all of them.
    void show_bank_panel(bool all);
    void fill_recent_menu();
    void build_audio_line();
    // The audio line: the output that plays and its latency, or what went wrong.
    void show_audio_state();
    void show_audio_window();
    void collect_notices();
    void install_hooks();

    // Sound tree (main_window_tree.cpp).
    void selection_changed();
    void name_committed();
    void add_multi();
    void add_inst();
    void del_sound();
    void sound_changed(int s);
    QTreeWidgetItem* row_of_sound(int s) const;

    // Loading in the background (main_window_load.cpp).
    void build_progress();
    void start_load(const QString& path);
    void poll_load();
    void cancel_load();
    bool refused_while_loading();

    // Files (main_window_files.cpp).
    void RefsReceived(const Message& m);
    void save_instrument(const Message& m);
    // 'SASF': writes the bank the message's "path" names, of every
    // instrument when "all" is set, else of the selected one.
    void save_bank(const Message& m);
    void show_documentation();

    // Recording the output (main_window_record.cpp).
    void show_record_panel();
    void start_recording(const QString& path);
    // Finishes the file; `quitting` says nothing but on standard output.
    void stop_recording(bool quitting);
    void show_record_time();

    // Sessions (main_window_session.cpp).
    void show_session_panel(bool save);
    void show_locate_panel(const QString& session, SessionMoves moved, const QString& missing);
    SessionSettings session_settings() const;
    void apply_session_settings(const SessionSettings& settings);
    void show_session_title();
    // Asks what to do with unsaved changes before quitting; false to stay.
    bool may_quit();

    // Notes and lamps (main_window_notes.cpp).
    void all_notes_off();
    void led_clicked(int channel);

    EngineServices& services_;
    QMenuBar* menus_ = nullptr;
    EnvelopeView* envelope_ = nullptr;
    MyBStringView* curve_label_ = nullptr;
    std::unique_ptr<mycheck> check_;
    MyBButton* adsr_button_ = nullptr;
    MyBButton* all_off_ = nullptr;
    std::array<LampButton*, 16> leds_{};
    std::array<bool, 16> oldnn_{};
    OverviewView* overview_ = nullptr;
    KeyboardView* keyboard_ = nullptr;
    MyBOutlineListView* tree_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLabel* audio_line_ = nullptr;
    std::uint64_t underruns_shown_ = 0;  // stream underruns the audio line shows
    class AudioWindow* audio_window_ = nullptr;
    QPointer<QFileDialog> open_panel_;
    QPointer<QFileDialog> save_panel_;
    QPointer<QFileDialog> record_panel_;
    QAction* record_item_ = nullptr;
    QLabel* record_line_ = nullptr;
    QTimer record_timer_;
    std::unique_ptr<OutputRecorder> recorder_;
    QMenu* recent_ = nullptr;
    ComputerKeys* keys_ = nullptr;
    QStringList pending_;
    QTimer job_timer_;
    QWidget* progress_ = nullptr;
    QLabel* progress_label_ = nullptr;
    QProgressBar* progress_bar_ = nullptr;
    QTimer notices_;
    int ticks_ = 0;
    int quiet_ticks_ = 0;
    int current_row_ = -1;
    // "All Note-Off" pressed twice within this time ends every voice at once.
    static constexpr int kAllOffAgainMs = 1500;
    QElapsedTimer all_off_clock_;

    QString session_path_;
    QPointer<QFileDialog> session_panel_;
    QPointer<QFileDialog> locate_panel_;
    bool opening_session_ = false;         // while a session is being read
    std::uint64_t saved_fingerprint_ = 0;  // the set-up last saved or opened
    std::uint64_t autosaved_fingerprint_ = 0;
    std::uint64_t pending_fingerprint_ = 0;  // of the autosave being written
    QElapsedTimer since_autosave_;
    QTimer session_timer_;
    SessionWriter autosaver_;
    std::string wanted_source_;  // a MIDI source the session names, not yet present
    bool quitting_ = false;
};
