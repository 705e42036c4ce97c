// The volume envelope of a voice played as its bank's maker set it: delay,
// attack, hold, decay, sustain and release in time, as the bank format
// defines them. The attack rises in amplitude; the other stages move in
// level, 96 dB from the peak (value 1) to silence (value 0).
#pragma once

#include <cstdint>

struct Articulation;

enum EnvelopeStage : std::uint8_t {
    kEnvDelay,
    kEnvAttack,
    kEnvHold,
    kEnvDecay,
    kEnvSustain,
    kEnvRelease,
    kEnvDone
};

struct VoiceEnvelope {
    // Seconds of each timed stage; decay and release are the times a fall
    // over the whole range would take. `sustain` is the level's value.
    float delay = 0, attack = 0, hold = 0, decay = 0, sustain = 1, release = 0;
    EnvelopeStage stage = kEnvDelay;
    float value = 0;  // 0..1
    float clock = 0;  // seconds spent in a timed stage
    // The volume envelope falls in level; the modulation envelope moves in
    // a straight line through every stage.
    bool level_scaled = true;

    // MIDI or GUI thread, while filling a voice. The envelope of `a` for a
    // note on `key`, at its start.
    static VoiceEnvelope start(const Articulation& a, int key);
    // MIDI or GUI thread, while filling a voice. The modulation envelope.
    static VoiceEnvelope start_modulation(const Articulation& a, int key);
    // Audio thread. Moves on by `seconds`.
    void advance(float seconds);
    // Audio thread. The key is up: the release starts from the level heard
    // now, over `release_seconds` for the whole range.
    void release_now(float release_seconds);
    // Audio thread. The amplitude factor heard now (0..1).
    float amplitude() const;
    // Audio thread. Nothing more will be heard.
    bool done() const { return stage == kEnvDone; }
};

// Seconds the release takes when a voice is cut by another of its exclusive
// class, and when all sound on a channel is stopped.
constexpr float kChokeRelease = 0.891f;
constexpr float kSilenceRelease = 0.01f;

// The low-pass filter of a voice played as set: two poles, its cutoff and
// resonance fixed when the note starts. Audio thread once started.
struct VoiceFilter {
    bool on = false;
    float cutoff = 13500.0f;    // cents above 8.176 Hz
    float env_depth = 0.0f;     // cents the modulation envelope adds at its peak
    float last_cutoff = -1.0f;  // the cutoff the coefficients are for
    float q = 0.7071f;
    float rate = 0.0f;  // the output rate the coefficients are for
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float z1[2] = {}, z2[2] = {};
    // The same filter four frames at a time: each output of a group from
    // the state before it and the group's inputs, so that only the state
    // carries from one group to the next.
    float from_s1[4] = {}, from_s2[4] = {}, impulse[4] = {};
    // The state after a group from the state before it (first two) and the
    // group's inputs (last four): a short chain from one group to the next.
    float next_s1[6] = {}, next_s2[6] = {};

    // MIDI or GUI thread, while filling a voice. For a cutoff in cents above
    // 8.176 Hz, a resonance in centibels and the modulation envelope's depth
    // in cents; none when it stays above 13000 cents (about 14.8 kHz), where
    // it takes off too little to be worth its cost.
    static VoiceFilter start(int cutoff_cents, int q_centibels, int env_cents);
    // Audio thread. Filters the first `channels` (1 or 2) of `frames`
    // frames of `stride` interleaved floats in place at output rate `rate`,
    // with the modulation envelope at `env`.
    void run(float* data, std::int64_t frames, int stride, int channels, float rate, float env);

  private:
    void group_coefficients();
};
