// Deferred reclamation of records that readers may still hold.
//
// Epoch-based: a thread that reads the shared tables (render callback, MIDI
// hooks, streaming reader, any test thread) does so inside a ReadSection,
// which announces the global epoch in the thread's own slot. A writer takes a
// record out of its table, then hands it to `retire`; `reclaim` frees every
// retired object that was unpublished before the oldest epoch still announced.
//
// Readers never wait, lock or allocate: entering and leaving a section is two
// atomic stores, and a thread's slot is claimed from a fixed pool with one
// compare-and-swap the first time it reads. Writers may block (only in
// `reclaim_all`, used at shutdown and in tests).
#pragma once

#include <cstddef>

namespace reclaim {

// Any thread. Marks the calling thread as reading shared records until the
// section ends. Sections nest.
class ReadSection {
  public:
    ReadSection() noexcept;
    ~ReadSection();
    ReadSection(const ReadSection&) = delete;
    ReadSection& operator=(const ReadSection&) = delete;
};

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
