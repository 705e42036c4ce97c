// Deferred reclamation of records that readers may still hold.
//
// Epoch-based: a thread that reads the shared tables (render callback, MIDI
// hooks, streaming reader, any test thread) does so inside a ReadSection,
// which announces the global epoch in the thread's own slot. A writer takes a
// record out of its table, then hands it to `retire`; `reclaim` frees every
// retired object that was unpublished before the oldest epoch still announced.
//
// Readers never lock or allocate: entering and leaving a section is two
// atomic stores, and a thread's slot is claimed from a fixed pool with one
// compare-and-swap the first time it reads. When every slot is taken, a
// real-time reader gives up its section (and must not touch shared records),
// any other reader waits for a slot; nothing ever aborts. Writers may block
// (only in `reclaim_all`, used at shutdown and in tests).
//
// A reader that must keep one record alive while it does slow work (the
// streaming reader's disk reads) pins it inside its section and then leaves
// the section: a pinned record is not freed until it is unpinned, and the
// section no longer holds back every other free. A pin names an address, so
// it protects only an object retired under that address: records are retired
// one by one (never inside a batch), and what they share (sample blocks,
// decoders) is owned by them and freed with the last of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace reclaim {

// Reader slots: live threads that can be inside a section at once.
constexpr int kReaderSlots = 512;
// Records that can be pinned at once.
constexpr int kPins = 8;

struct NoWait {};
inline constexpr NoWait no_wait{};

// Marks the calling thread as reading shared records until the section ends.
// Sections nest.
class ReadSection {
  public:
    // Any non-real-time thread. When every reader slot is taken, waits until
    // one is given back.
    ReadSection() noexcept;
    // Audio thread. Never waits: when no reader slot is free the section is
    // not entered, `entered()` is false and the caller must leave shared
    // records alone (the render callback plays silence for that buffer).
    explicit ReadSection(NoWait) noexcept;
    ~ReadSection();
    ReadSection(const ReadSection&) = delete;
    ReadSection& operator=(const ReadSection&) = delete;

    bool entered() const noexcept { return entered_; }

  private:
    bool entered_ = true;
};

// Keeps one retired object from being freed while its holder works outside
// any section. Pin it inside a ReadSection in which the object was found.
class Pin {
  public:
    Pin() noexcept = default;
    ~Pin() { release(); }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    // Any non-real-time thread, inside a ReadSection. False when every pin is
    // taken (the caller then keeps to its section or tries again later).
    bool hold(const void* object) noexcept;
    // Any thread. The object may be freed from now on.
    void release() noexcept;

  private:
    int index_ = -1;
};

// Any thread. Sections that found every reader slot taken: those that waited
// and those that were given up.
std::uint64_t slot_shortages() noexcept;

using Deleter = void (*)(void*);

// GUI (or any non-real-time) thread. Takes ownership of an object that has
// been unpublished from every table; it is deleted once no reader can hold it.
void retire(void* object, Deleter deleter);

template <typename T>
void retire_object(T* object) {
    if (object) retire(object, [](void* p) { delete static_cast<T*>(p); });
}

// GUI (or any non-real-time) thread. Makes room for `count` more retired
// objects: that many `retire` calls that follow do not allocate (unless other
// threads retire meanwhile). May throw std::bad_alloc.
void reserve(std::size_t count);

// GUI thread. Frees what no reader can see any more; never blocks.
// Returns the number of objects freed.
std::size_t reclaim();

// GUI thread, shutdown and tests. Waits until every retired object can be
// freed, then frees it. Must not be called from inside a ReadSection.
void reclaim_all();

// Any thread. Objects retired and not yet freed.
std::size_t pending();

// Any thread about to exit. Gives the calling thread's reader slot back to
// the pool (threads that never call it keep an idle slot, which is harmless).
void release_thread_slot() noexcept;

}  // namespace reclaim
