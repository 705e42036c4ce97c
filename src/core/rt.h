// Field wrappers for state that one thread writes while another reads.
//
// `rt<T>` is a relaxed atomic that reads and writes like a plain field, so a
// record can be shared between the windows, the MIDI thread, the streaming
// reader and the render callback without torn values or data races, at the
// cost of a plain load or store on the machines we run on. It is copyable
// (field by field) so records can be duplicated for copy-on-write edits.
#pragma once

#include <atomic>

template <typename T>
class rt {
  public:
    constexpr rt() noexcept : v_(T{}) {}
    constexpr rt(T v) noexcept : v_(v) {}  // NOLINT: implicit by design
    rt(const rt& o) noexcept : v_(o.load()) {}
    rt& operator=(const rt& o) noexcept {
        store(o.load());
        return *this;
    }
    rt& operator=(T v) noexcept {
        store(v);
        return *this;
    }
    operator T() const noexcept { return load(); }  // NOLINT: implicit by design

    T load() const noexcept { return v_.load(std::memory_order_relaxed); }
    void store(T v) noexcept { v_.store(v, std::memory_order_relaxed); }
    bool cas(T& expected, T desired) noexcept {
        return v_.compare_exchange_strong(expected, desired, std::memory_order_acq_rel,
                                          std::memory_order_relaxed);
    }
    // Read-modify-write helpers; each is one atomic operation.
    T operator+=(T d) noexcept { return v_.fetch_add(d, std::memory_order_relaxed) + d; }
    T operator-=(T d) noexcept { return v_.fetch_sub(d, std::memory_order_relaxed) - d; }
    std::atomic<T>& raw() noexcept { return v_; }
    const std::atomic<T>& raw() const noexcept { return v_; }

  private:
    std::atomic<T> v_;
};
