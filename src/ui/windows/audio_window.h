// The audio settings ("Audio..." in the Options menu): which output plays
// (JACK, PulseAudio, ALSA's default device or one named device), the period
// and rate where the output lets them be chosen, and the latency they give.
// Applied at once without a restart, and remembered for the next start.
#pragma once

#include <QDialog>
#include <functional>

#include "platform/sound_player.h"

class EngineServices;
class QComboBox;
class QLabel;

// GUI thread. The choice remembered from the last run (automatic at first).
AudioChoice restore_audio_choice();
// GUI thread. Remembers `choice` for the next start.
void remember_audio_choice(const AudioChoice& choice);

class AudioWindow : public QDialog {
  public:
    // GUI thread. `alsa_devices` lists the ALSA devices to offer.
    AudioWindow(EngineServices& services, std::vector<std::string> alsa_devices,
                QWidget* parent = nullptr);

    // GUI thread. The choice the window's fields say.
    AudioChoice chosen() const;
    // GUI thread. Opens the chosen output; on failure the fields go back to
    // the output that plays and the user is told why.
    bool apply();
    // Called after each apply, whether the chosen output opened or the old one came back.
    std::function<void()> on_applied;

  private:
    void show_choice(const AudioChoice& choice);
    void update_fields();

    EngineServices& services_;
    std::vector<std::string> devices_;
    QComboBox* output_ = nullptr;
    QComboBox* period_ = nullptr;
    QComboBox* rate_ = nullptr;
    QLabel* latency_ = nullptr;
    QLabel* playing_ = nullptr;
};
