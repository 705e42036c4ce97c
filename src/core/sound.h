// The sound record and the process-wide sound and instrument tables, with
// the selection state the windows share.
//
// Sharing rules (see also structure.h and reclaim.h):
// - A sound record is found through `t_sound`, a face of the published
//   structure; a record that is replaced or deleted leaves with a new
//   snapshot and is retired on its own, never freed on the spot.
// - A record is known by its identity (`ident`) as well as its slot: voices
//   and windows hold both (SoundRef) and check them on every use.
// - `data`, `capacity` and `block` of a record never change once it is in the
//   table: new sample data means a new record (copy-on-write), which keeps
//   the sound's identity. A streamed record's ring is shaped by `chunk`
//   alone (ring_geometry); its loop fields play no part.
// - Memory shared between records (`block`, `mfile`) belongs to the records
//   and goes with the last of them, so it lives as long as any record a
//   reader holds or has pinned.
// - Every other field that one thread may write while another reads is an
//   `rt<>` (relaxed atomic), so windows may edit key zones, curves and the
//   like while voices play.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/articulation.h"
#include "core/rt.h"
#include "core/structure.h"

class StreamSource;

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

// Any thread. A number no sound has had before in this run.
std::uint64_t next_sound_ident() noexcept;

// One sound: sample data with its playing parameters.
struct p_s {
    // Who the sound is: new for every sound made, kept by the copies that
    // copy-on-write edits publish, so that a voice or a window holding a slot
    // can tell its own sound from another one put there since.
    std::uint64_t ident = next_sound_ident();
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
    // The open decoder the streaming reader refills the ring from, with the
    // reader's own bookkeeping; closed when the last record sharing it is freed.
    std::shared_ptr<StreamSource> mfile;
    rt<std::uint16_t> d2d_state;  // StreamState
    // The claim of the one voice that may play the stream: (serial << 8) |
    // (voice + 1), or 0. A claim that has ended no longer counts.
    rt<std::uint64_t> stream_owner;
    rt<std::uint16_t> type;  // SoundType
    Articulation art;        // as a bank's maker set it to play (bank imports)
    char path[128] = {};
    char ipath[128] = {};

    p_s() = default;
    p_s(const p_s&) = default;  // copy-on-write duplicates share the data block
    p_s& operator=(const p_s&) = delete;
};

// Sounds and instruments: the faces of the published structure (structure.h)
// under their usual names. Each read looks at the snapshot published last;
// each write (GUI thread) publishes a copy with that one entry changed and
// keeps the records it displaces, as a plain table store would. Changes of
// more than one entry go through StructureEdit instead.
class SoundSlot {
  public:
    constexpr explicit SoundSlot(int i) noexcept : i_(i) {}
    p_s* load() const noexcept { return structure().at(i_); }
    operator p_s*() const noexcept { return load(); }  // NOLINT: implicit by design
    p_s* operator->() const noexcept { return load(); }
    void store(p_s* p) const;
    const SoundSlot& operator=(p_s* p) const {
        store(p);
        return *this;
    }
    // GUI thread. Puts `p` in and returns the record it replaced.
    p_s* exchange(p_s* p) const;

  private:
    int i_;
};
struct SoundTableFace {
    SoundSlot operator[](int i) const noexcept { return SoundSlot(i); }
};

// A 16-bit entry of the structure: an instrument's first sound, a sound's
// instrument, or a count.
class StructureEntry {
  public:
    enum Kind : std::uint8_t { kInst, kInvert, kSounds, kInsts };
    constexpr StructureEntry(Kind kind, int i) noexcept : kind_(kind), i_(i) {}
    std::uint16_t load() const noexcept;
    operator std::uint16_t() const noexcept { return load(); }  // NOLINT: implicit by design
    void store(std::uint16_t v) const;
    const StructureEntry& operator=(std::uint16_t v) const {
        store(v);
        return *this;
    }
    const StructureEntry& operator=(const StructureEntry& o) const {
        store(o.load());
        return *this;
    }

  private:
    Kind kind_;
    int i_;
};
template <StructureEntry::Kind K>
struct StructureColumnFace {
    StructureEntry operator[](int i) const noexcept { return StructureEntry(K, i); }
};

inline constexpr SoundTableFace t_sound{};
inline constexpr StructureColumnFace<StructureEntry::kInst> t_inst{};
inline constexpr StructureColumnFace<StructureEntry::kInvert> t_invert{};
inline constexpr StructureEntry nb_sound{StructureEntry::kSounds, 0};
inline constexpr StructureEntry nb_inst{StructureEntry::kInsts, 0};

// The selection and modes the windows share.
extern rt<std::int16_t> no_s;  // the selected sound
extern rt<bool> fmodei;
extern rt<bool> Finst;
extern rt<bool> loadin;
// Decoded sizes in bytes from which a file is streamed rather than loaded.
extern rt<std::int32_t> limitd2d;

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

// GUI thread. Empties every slot and retires every record: no sound and no
// instrument is left (the program's end).
void clear_all_sounds();

// GUI thread, with no other thread running. Empties every slot but sound 0,
// "None Sample", owned by the one instrument, and resets the selection.
void reset_sound_tables();
