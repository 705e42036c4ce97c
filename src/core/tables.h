// The process-wide tables every part of the program shares: sounds,
// instruments, voices, the sixteen MIDI channels, the precomputed pitch and
// pan tables, and a few shared scalars.
//
// Sharing rules (see also reclaim.h):
// - A sound record is found through `t_sound`; a record that is replaced or
//   deleted is unpublished from the table and retired, never freed on the spot.
// - `data`, `capacity` and `block` of a record never change once it is in the
//   table: new sample data means a new record (copy-on-write).
// - Every other field that one thread may write while another reads is an
//   `rt<>` (relaxed atomic), so windows may edit key zones, curves and the
//   like while voices play.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/rt.h"

constexpr int kMaxSounds = 4096;
constexpr int kMaxInsts = 4096;
constexpr int kVoices = 128;
constexpr int kChannels = 16;
constexpr int kCurves = 5;
constexpr int kPoints = 5;
// Zero bytes kept after every sample data block, so that interpolation may
// read one frame past the last played frame without leaving the block.
constexpr std::uint32_t kSpareBytes = 256;

enum CurveIndex : int {
    kCurveVelocity = 0,    // "Velocity": amplitude over the sound's length
    kCurveStartSound = 1,  // "Start Sound": edited and stored only
    kCurvePanoramic = 2,   // "Panoramic": pan position over the sound's length
    kCurveCoarseTune = 3,  // "Coarse tune": pitch offset over the sound's length
    kCurveVelocityOff = 4  // "Velocity off": release fade after note-off
};

enum SoundType : std::uint16_t { kTypeMemory = 0, kTypeInstrumentHead = 1, kTypeStreamed = 2 };

// One sound: sample data with its playing parameters.
struct p_s {
    rt<std::uint32_t> rate;  // source frames per second
    // Sample data: signed 8-bit or signed 16-bit host order, stereo
    // interleaved left first. Null marks an empty sound.
    std::int8_t* data = nullptr;
    // Bytes that may be read from `data` (at least `size`, plus the spare tail).
    std::uint32_t capacity = 0;
    // Owner of the memory `data` points into; shared between sounds that use
    // the same sample (bank import). Released on the reclaiming thread.
    std::shared_ptr<std::int8_t[]> block;

    rt<std::uint32_t> size;        // bytes of data (ring size for a streamed sound)
    rt<std::uint32_t> loop_start;  // bytes
    rt<std::uint32_t> loop_end;    // bytes, exclusive
    rt<std::uint16_t> loop;        // non-zero: loops between loop_start and loop_end
    rt<std::int16_t> base;         // key at which the sound plays at its own rate
    rt<std::uint32_t> file_offset;
    char name[32] = {};
    rt<std::int16_t> nb_next;
    rt<std::uint16_t> bits;    // 8 or 16
    rt<std::uint16_t> stereo;  // 0 mono, 1 stereo
    rt<std::int16_t> shift;    // log2 of bytes per frame
    rt<std::int16_t> key_lo;
    rt<std::int16_t> key_hi;
    rt<std::int16_t> vel_lo;
    rt<std::int16_t> vel_hi;
    // Envelope points, point-major: env[point][curve]; time in the high byte,
    // level in the low byte.
    rt<std::uint16_t> env[kPoints][kCurves];
    rt<std::uint16_t> flags;  // bit m enables curve m
    rt<std::uint16_t> res_a;
    rt<std::uint16_t> res_b;
    rt<std::uint16_t> pan;
    rt<std::uint16_t> res_c;
    rt<std::uint32_t> rel_time;  // release length in source frames
    // Streaming (type 2) only.
    rt<std::uint32_t> chunk;
    rt<std::int64_t> nframes;
    rt<std::int64_t> rd_frames;
    rt<std::int64_t> rd_frames2;
    std::shared_ptr<void> mfile;  // the open media file; closed when the record is freed
    void* mtrack = nullptr;       // the audio track inside `mfile`
    rt<std::uint16_t> d2d_state;
    rt<std::uint16_t> type;  // SoundType
    char path[128] = {};
    char ipath[128] = {};

    p_s() = default;
    p_s(const p_s&) = default;  // copy-on-write duplicates share the data block
    p_s& operator=(const p_s&) = delete;
};

// One playing note.
struct NOTE_LIST {
    // 0 free, 1 playing, 2 being filled by the thread that claimed it.
    std::atomic<std::uint8_t> active{0};
    rt<std::uint32_t> channel;
    rt<std::uint32_t> key;
    rt<std::uint32_t> index;
    rt<bool> is_inst;
    rt<std::uint32_t> velocity;
    // Low 32 bits: `release` (0 while held, 256 + note-off velocity once
    // released). High 32 bits: a claim serial that changes each time the voice
    // is claimed, so a release can never land on a voice reused meanwhile.
    std::atomic<std::uint64_t> release_word{0};
    rt<std::uint32_t> pos;
    rt<std::uint32_t> rel_pos;
    rt<float> frac;
    rt<std::uint32_t> end;
    rt<bool> stop;

    // Any thread.
    std::uint32_t release() const noexcept {
        return static_cast<std::uint32_t>(release_word.load(std::memory_order_acquire));
    }
};

// Sounds, instruments and voices.
extern published<p_s*> t_sound[kMaxSounds];
extern rt<std::uint16_t> nb_sound;
extern rt<std::uint16_t> t_inst[kMaxInsts];
extern rt<std::uint16_t> nb_inst;
extern rt<std::uint16_t> t_invert[kMaxSounds];
extern NOTE_LIST nlist[kVoices];

// MIDI channel state.
extern rt<std::int32_t> ch_inst[kChannels];
extern rt<bool> ch_instf[kChannels];
extern rt<std::int32_t> ch_pitch[kChannels];
extern rt<std::int32_t> ch_main[kChannels];
extern rt<std::int32_t> ch_pan[kChannels];
extern rt<std::int32_t> ch_ctune[kChannels];
extern rt<std::int32_t> ch_pitchsens[kChannels];
extern rt<std::int32_t> ch_register[kChannels];
extern rt<std::int32_t> ch_lpf[kChannels];
extern rt<bool> mute[kChannels];

// Precomputed at start-up, read-only afterwards.
extern float inote[128];
extern float tab_pan[128];

// Shared scalars.
extern rt<std::int16_t> no_s;
extern rt<bool> fmodei;
extern rt<bool> Finst;
extern rt<bool> loadin;
extern rt<std::uint32_t> midimess_to_func[16];
extern rt<float*> audbuf;
extern rt<std::uint32_t> sizbuf;
extern rt<std::int32_t> limitd2d;
// Set while the main window takes key-display notices.
extern rt<bool> prince;
// Set while the sample editor takes the end-of-preview notice.
extern rt<bool> prin;
// Scratch buffer into which the file readers load headers and records.
extern unsigned char buffer[1024];

// GUI thread, before other threads run. Fills `inote` (each key 1.059463094
// times the previous, rounded to float at every step).
void fill_inote();
// GUI thread, before other threads run. Fills `tab_pan` with sin(k * pi/2 / 128).
void fill_tab_pan();

// GUI thread. Resets the record in `t_sound[index]` (which must exist and must
// not yet be visible to other threads) to the defaults.
void Raz_data(int index);
// GUI thread. The same on a record that is not in the table yet.
void Raz_data(p_s* rec);

// GUI thread. A new record reset to the defaults, not yet published.
p_s* new_sound();
// GUI thread. A new record with a zeroed data block of `bytes` bytes (plus the
// spare tail); `size` is set, everything else is reset.
p_s* new_sound_with_data(std::uint32_t bytes);
// GUI thread. Sets the loader defaults that every freshly loaded sound gets
// after its rate, data, loops, bits, stereo, base, name and path are set.
void finish_loaded_sound(p_s* rec);
// Any thread. Bytes per frame from `bits` and `stereo`, as a shift
// (0 for 8-bit mono .. 2 for 16-bit stereo).
int frame_shift(unsigned bits, unsigned stereo);

// GUI thread. Puts `rec` into slot `index` (which may be empty) and retires
// the record it replaces.
void replace_sound(int index, p_s* rec);
// GUI thread. Empties slot `index` and retires its record.
void clear_sound(int index);

// Any thread. Unsigned big-endian integer of width 1, 2 or 4 from `buffer`
// at `offset`; 0 for any other width or an offset outside the buffer.
std::uint32_t returnbuffer(int width, int offset);

// GUI thread, with no other thread running. The start-up state of every
// table: channel defaults, bindings, precomputed tables, free voices, one
// instrument owning the empty sound 0 "None Sample".
void reset_tables();
