// The note-off time window: how long the selected sound's release lasts
// after a note-off, shown and typed in milliseconds and stored in source
// frames. It follows the selection of the main window ('Graf').
#pragma once

#include <QLineEdit>

#include "ui/message.h"

class MyBButton;

class ValWindow : public MyBWindow {
  public:
    // GUI thread. Shows the selected sound's time.
    ValWindow();
    void MessageReceived(const Message& m) override;

    QLineEdit* time_field() const { return time_; }
    MyBButton* ok_button() const { return ok_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    void show_time();
    void commit();

    QLineEdit* time_ = nullptr;
    MyBButton* ok_ = nullptr;
};

// GUI thread. Opens the note-off time window, or brings the open one to the front.
void appel_val();
