// The channel window "Channels parameter": the sixteen MIDI channels, one
// selected at a time, with its instrument, program lock, levels, mute flag,
// the MIDI input source and the message that drives each channel parameter.
// It follows changes arriving by MIDI by looking at the tables every 50 ms.
#pragma once

#include <QTimer>
#include <array>
#include <memory>
#include <optional>

#include "ui/message.h"
#include "ui/windows/level_bar.h"

class MyBButton;
class MyBStringView;
class mycheck;

// GUI thread. The name of instrument `n`: the text of the n-th instrument
// row of the main window's sound tree; none when there are fewer rows.
std::optional<QString> ret_linst(int n);

class ChWindow : public MyBWindow {
  public:
    enum Bar { kPitchBar, kMainBar, kPanBar, kTuneBar, kLpfBar, kBars };

    ChWindow(QRect frame, const QString& title);
    ~ChWindow() override;

    void MessageReceived(const Message& m) override;
    // GUI thread. Shows the selected channel's instrument, lock and levels.
    void rafraichi();
    // GUI thread. Relabels the instrument button from the selected channel.
    void aff_inst();
    // GUI thread. Runs the instrument pop-up at the screen point `where`.
    bool build_pop(QPoint where);
    // GUI thread. One 50 ms pulse: follow changes made elsewhere.
    void Pulse();

    int selected() const { return ch_selected_; }
    mycheck* select_box(int ch) const { return select_[ch].get(); }
    mycheck* mute_box(int ch) const { return mute_[ch].get(); }
    mycheck* freeze_box() const { return freeze_.get(); }
    mycheck* play_selected_box() const { return play_selected_.get(); }
    MyBButton* inst_button() const { return inst_; }
    MyBButton* port_button() const { return port_; }
    mybar* bar(int b) const { return bars_[b].get(); }
    MyBStringView* selector(int slot) const { return selectors_[slot]; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool build_port_pop(QPoint where);
    void connect_source(const Message& m);
    void typed(int b);

    int ch_selected_ = 0;
    int ch_instold_ = 0;
    std::array<std::unique_ptr<mycheck>, 16> select_;
    std::array<std::unique_ptr<mycheck>, 16> mute_;
    std::unique_ptr<mycheck> freeze_;
    std::unique_ptr<mycheck> play_selected_;
    MyBButton* inst_ = nullptr;
    MyBButton* port_ = nullptr;
    std::array<std::unique_ptr<mybar>, kBars> bars_;
    std::array<MyBStringView*, 5> selectors_{};
    QTimer pulse_;
};

// GUI thread. Opens the channel window, or brings the open one to the front.
ChWindow* appel_ch();
