// The sample editor window: two waveform strips (the whole sound and a
// zoomed range), a scroll bar, information about the sound, the loop
// controls, the "Zoom" and "Functions" pop-ups and three preview buttons.
// At most one exists, reached through `edwin`.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <memory>

#include "edit/sample_edit.h"
#include "edit/strip.h"
#include "ui/message.h"

class MyBButton;
class PictureButton;
class MyBStringView;
class StripView;

class EdWindow : public MyBWindow {
  public:
    // GUI thread. An editor of sound `sound` at `frame` (position and size); when the slot has
    // nothing to edit only the bare window is made and `ready()` is false.
    EdWindow(QRect frame, int sound, const QString& title);
    ~EdWindow() override;

    void MessageReceived(const Message& m) override;

    bool ready() const { return ready_; }
    // GUI thread. Re-reads the sound edited, following it to the slot it has
    // moved to (whole sound in view, no block; the history stays); with
    // `slot` set, takes on whatever that slot holds now instead (a load put
    // another sound there; the history goes). The window closes when there is
    // no sound with data to show.
    void minit(int slot = -1);
    // GUI thread. Follows the sound edited to its slot; when it has left the
    // table (a load replaced it, or it was deleted) the window closes and the
    // answer is false.
    bool follow();
    // GUI thread. mode bit 1: zoom strip (else overview); bit 0: reuse the
    // last column image; bit 2: leave the scroll bar alone.
    void myupdated(int mode);
    void aff_block();
    void aff_info();
    void actu_bloop();
    // GUI thread. Writes the sound to `path`; empty on success, else why not.
    std::string save_as(const QString& path);

    SampleEdit& model() { return *edit_; }
    StripView* overview() const { return overview_; }
    StripView* zoom() const { return zoom_; }
    QScrollBar* scroll_bar() const { return scroll_; }
    QLabel* total_label() const { return total_; }
    QLabel* block_start_label() const { return bs_; }
    QLabel* block_end_label() const { return be_; }
    MyBButton* channels_button() const { return channels_; }
    MyBButton* width_button() const { return width_; }
    MyBButton* rate_button() const { return rate_; }
    MyBButton* loop_button() const { return loop_; }
    QLineEdit* loop_start_field() const { return loop_start_; }
    QLineEdit* loop_end_field() const { return loop_end_; }
    MyBStringView* zoom_field() const { return zoom_field_; }
    MyBStringView* functions_field() const { return functions_; }
    PictureButton* play_button() const { return play_; }
    PictureButton* play_block_button() const { return play_block_; }
    PictureButton* stop_button() const { return stop_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    void build();
    void zoom_menu(QPoint where);
    void functions_menu(QPoint where);
    void scrolled(int value);
    void ask_save_path();
    EditHooks hooks();

    std::unique_ptr<SampleEdit> edit_;
    bool ready_ = false;
    StripView* overview_ = nullptr;
    StripView* zoom_ = nullptr;
    QScrollBar* scroll_ = nullptr;
    QLabel* total_ = nullptr;
    QLabel* bs_ = nullptr;
    QLabel* be_ = nullptr;
    MyBButton* channels_ = nullptr;
    MyBButton* width_ = nullptr;
    MyBButton* rate_ = nullptr;
    MyBButton* loop_ = nullptr;
    QLineEdit* loop_start_ = nullptr;
    QLineEdit* loop_end_ = nullptr;
    MyBStringView* zoom_field_ = nullptr;
    MyBStringView* functions_ = nullptr;
    PictureButton* play_ = nullptr;
    PictureButton* play_block_ = nullptr;
    PictureButton* stop_ = nullptr;
    ColumnImage last_overview_{};
    ColumnImage last_zoom_{};
    EditState press_state_;  // the state at the press that began a drag
};

// GUI thread. The main window's side: opens the editor for `sound` or brings
// the open one to the front; with nothing to edit, the editor is closed
// again and the "Load a sample to edit it..." alert is shown.
void appel_edsam(int sound);
// GUI thread. Re-initialises the open editor on its sound (after adds and
// deletes); with `sound` set, only when the editor's sound is or was in that
// slot (after a load into it): a sound the load replaced gives way to the
// new one.
void editor_minit(int sound = -1);
// GUI thread. After any change of the tables (a bank or instrument file
// load): the open editor follows its sound, or closes when it has gone.
void editor_follow();
