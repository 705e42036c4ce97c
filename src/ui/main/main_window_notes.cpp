// Voices as the main window shows them: the channel lamps, "All Note-Off",
// and the bubble a lamp shows when clicked.
#include <QCursor>

#include "engine/voice_table.h"
#include "engine/voices.h"
#include "ui/controls/my_check.h"
#include "ui/main/keyboard.h"
#include "ui/main/main_window.h"
#include "ui/windows/help_bubble.h"

int MyWindow::reactu_noteon() {
    std::array<bool, 16> on{};
    int count = 0;
    for (const NOTE_LIST& v : nlist) {
        if (!v.playing()) continue;
        ++count;  // released voices still sounding count too
        on[v.channel & 15] = true;
    }
    for (int ch = 0; ch < 16; ++ch) {
        if (on[ch] == oldnn_[ch]) continue;
        oldnn_[ch] = on[ch];
        leds_[ch]->setChecked(on[ch]);
    }
    return count;
}

void MyWindow::all_notes_off() {
    for (const NOTE_LIST& v : nlist)
        if (v.playing()) keyboard_->affnote(int(v.channel), std::uint16_t(v.key), false, 0);
    // Every voice fades out within a few milliseconds, without a click (a
    // streamed sound rewinds). Pressed again soon after, what still sounds
    // ends on the spot: nothing may be rendering the fades.
    const bool again = all_off_clock_.isValid() && !all_off_clock_.hasExpired(kAllOffAgainMs);
    silence_all(again);
    all_off_clock_.start();
    reactu_noteon();
}

void MyWindow::led_clicked(int channel) {
    // The lamps only show activity: a click is undone and explained.
    leds_[channel]->setChecked(false);
    oldnn_[channel] = false;
    const QPoint at = QCursor::pos();
    new HELPWindow(QRect(at.x(), at.y() - 15, 151, 16), "This is only some led !!");
}
