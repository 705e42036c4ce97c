#include "ui/windows/audio_window.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "platform/engine_services.h"
#include "ui/alert.h"

namespace {

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora");
}

constexpr unsigned kPeriods[] = {64, 128, 256, 512, 1024, 2048, 4096};
constexpr unsigned kRates[] = {0, 44100, 48000, 88200, 96000};

// The output's entry in the settings, and back.
const char* output_key(AudioBackend b) {
    switch (b) {
        case AudioBackend::kJack:
            return "jack";
        case AudioBackend::kPulse:
            return "pulse";
        case AudioBackend::kAlsa:
            return "alsa";
        default:
            return "automatic";
    }
}

AudioBackend output_of(const QString& key) {
    for (AudioBackend b : {AudioBackend::kJack, AudioBackend::kPulse, AudioBackend::kAlsa})
        if (key == output_key(b)) return b;
    return AudioBackend::kNone;
}

}  // namespace

AudioChoice restore_audio_choice() {
    QSettings s = settings();
    AudioChoice c;
    c.output = output_of(s.value("audio/output").toString());
    c.device = s.value("audio/device").toString().toStdString();
    const unsigned period = s.value("audio/period", 256).toUInt();
    c.period = period >= 16 && period <= 8192 ? period : 256;
    const unsigned rate = s.value("audio/rate", 0).toUInt();
    c.rate = rate <= 384000 ? rate : 0;
    return c;
}

void remember_audio_choice(const AudioChoice& c) {
    QSettings s = settings();
    s.setValue("audio/output", output_key(c.output));
    s.setValue("audio/device", QString::fromStdString(c.device));
    s.setValue("audio/period", c.period);
    s.setValue("audio/rate", c.rate);
}

AudioWindow::AudioWindow(EngineServices& services, std::vector<std::string> alsa_devices,
                         QWidget* parent)
    : QDialog(parent), services_(services), devices_(std::move(alsa_devices)) {
    setObjectName("AudioWindow");
    setWindowTitle("Audio");
    output_ = new QComboBox(this);
    output_->setObjectName("output");
    output_->addItem("Automatic: JACK, else PulseAudio, else ALSA");
    output_->addItem("JACK");
    output_->addItem("PulseAudio");
    output_->addItem("ALSA: default device");
    for (const std::string& d : devices_) output_->addItem("ALSA: " + QString::fromStdString(d));
    period_ = new QComboBox(this);
    period_->setObjectName("period");
    for (unsigned p : kPeriods) period_->addItem(QString("%1 frames").arg(p));
    rate_ = new QComboBox(this);
    rate_->setObjectName("rate");
    for (unsigned r : kRates) rate_->addItem(r ? QString("%1 Hz").arg(r) : "The output's own");
    latency_ = new QLabel(this);
    latency_->setObjectName("latency");
    playing_ = new QLabel(this);
    playing_->setObjectName("playing");
    playing_->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow("Output", output_);
    form->addRow("Period", period_);
    form->addRow("Sample rate", rate_);
    form->addRow("Latency", latency_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Close, this);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            [this] { apply(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(playing_);
    layout->addWidget(buttons);
    for (QComboBox* box : {output_, period_, rate_})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { update_fields(); });
    show_choice(services_.audio_choice());
}

AudioChoice AudioWindow::chosen() const {
    AudioChoice c;
    const int i = output_->currentIndex();
    c.output = i == 1   ? AudioBackend::kJack
               : i == 2 ? AudioBackend::kPulse
               : i >= 3 ? AudioBackend::kAlsa
                        : AudioBackend::kNone;
    if (i >= 4) c.device = devices_[std::size_t(i - 4)];
    c.period = kPeriods[std::max(0, period_->currentIndex())];
    c.rate = kRates[std::max(0, rate_->currentIndex())];
    return c;
}

void AudioWindow::show_choice(const AudioChoice& c) {
    int output = 0;
    if (c.output == AudioBackend::kJack) output = 1;
    if (c.output == AudioBackend::kPulse) output = 2;
    if (c.output == AudioBackend::kAlsa) {
        output = 3;
        for (std::size_t d = 0; d < devices_.size(); ++d)
            if (devices_[d] == c.device) output = int(4 + d);
    }
    output_->setCurrentIndex(output);
    // Under JACK the period is the server's, whatever was chosen before.
    const SoundPlayer* playing = services_.player();
    const unsigned frames =
        playing && playing->Backend() == AudioBackend::kJack ? playing->BufferFrames() : c.period;
    int period = 2;
    for (int p = 0; p < int(std::size(kPeriods)); ++p)
        if (kPeriods[p] == frames) period = p;
    period_->setCurrentIndex(period);
    int rate = 0;
    for (int r = 0; r < int(std::size(kRates)); ++r)
        if (kRates[r] == c.rate) rate = r;
    rate_->setCurrentIndex(rate);
    update_fields();
}

void AudioWindow::update_fields() {
    const AudioChoice c = chosen();
    // The JACK server sets its rate for every client, and changes its period
    // for all of them when asked.
    const SoundPlayer* p = services_.player();
    const bool jack = c.output == AudioBackend::kJack ||
                      (c.output == AudioBackend::kNone && p && p->Backend() == AudioBackend::kJack);
    rate_->setEnabled(!jack);
    rate_->setToolTip(jack ? "Set by the JACK server" : "");
    period_->setToolTip(jack ? "The JACK server's period, for every client of the server" : "");
    if (jack && p) {
        const double rate = p->FrameRate();
        const double other = double(p->Latency()) - 1e6 * p->BufferFrames() / rate;
        latency_->setText(QString("about %1 ms (%2 frames at %3 Hz and the server's own)")
                              .arg((other + 1e6 * c.period / rate) / 1000.0, 0, 'f', 1)
                              .arg(c.period)
                              .arg(rate, 0, 'f', 0));
    } else {
        const double rate = c.rate ? c.rate : (p ? p->FrameRate() : 48000.0);
        // Three periods queued in the device or server, as the output asks for.
        latency_->setText(QString("about %1 ms (%2 frames at %3 Hz)")
                              .arg(3.0 * c.period * 1000.0 / rate, 0, 'f', 1)
                              .arg(3 * c.period)
                              .arg(rate, 0, 'f', 0));
    }
    playing_->setText(p ? "Playing now: " + QString::fromStdString(p->Summary())
                        : "Opening the output...");
}

bool AudioWindow::apply() {
    std::string message;
    const bool ok = services_.apply_audio(chosen(), message);
    if (ok) remember_audio_choice(services_.audio_choice());
    show_choice(services_.audio_choice());
    if (on_applied) on_applied();
    if (!ok) show_alert(QString::fromStdString(message), {"OK"}, 0);
    return ok;
}
