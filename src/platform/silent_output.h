// The output used when no sound server or device opens: a clock thread of
// our own that asks for buffers at the pace a device would and drops them,
// so that voices advance, end and are shown as they would with sound.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "platform/audio_gate.h"
#include "platform/audio_output.h"

class SilentOutput : public AudioOutput {
  public:
    SilentOutput(AudioGate& gate, float rate, unsigned frames);
    ~SilentOutput() override;

    bool start() override;
    void stop() override;
    float rate() const override { return rate_; }
    unsigned buffer_frames() const override { return frames_; }
    long latency_frames() const override { return 0; }

  private:
    void run();

    AudioGate& gate_;
    float rate_;
    unsigned frames_;
    std::vector<float> buffer_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};
