// The help bubble: a borderless yellow note of one line near the mouse that
// closes itself about two seconds after it was shown.
#pragma once

#include <QElapsedTimer>

#include "ui/message.h"

class HELPWindow : public MyBWindow {
  public:
    // GUI thread. Shows the bubble at `frame` (screen coordinates) and
    // starts its two seconds; it deletes itself when they have passed.
    HELPWindow(QRect frame, const QString& text);
    void MessageReceived(const Message& m) override;

    static constexpr qint64 kLifeMs = 2000;

  private:
    QElapsedTimer shown_;
};
