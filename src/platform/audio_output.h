// One opened audio output: a device, a sound server or the silent clock.
#pragma once

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // GUI thread. Starts asking the gate for buffers.
    virtual bool start() = 0;
    // GUI thread. Stops the output's thread or stream; the gate is already closed.
    virtual void stop() = 0;
    // Any thread.
    virtual float rate() const = 0;
    virtual unsigned buffer_frames() const = 0;
    // Frames between a buffer being rendered and it being heard, as the
    // output reports it (buffers queued in the server or device).
    virtual long latency_frames() const = 0;
    // Any thread. False once the server or device has gone for good.
    virtual bool alive() const { return true; }
    // GUI thread. Asks for another period while playing; false where the
    // period can only be chosen at opening.
    virtual bool set_period(unsigned) { return false; }
};
