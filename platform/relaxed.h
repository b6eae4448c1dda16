// A word shared between a session's threads and its callers without a lock.
//
// Flags and the state field are written by one thread and polled by others; a stale read
// costs one polling decision at most, so relaxed ordering is all they need. The wrapper keeps
// the code reading like plain assignments while staying clean under ThreadSanitizer.
#pragma once

#include <atomic>

namespace ipcam {

template <typename T>
class Relaxed {
  public:
    constexpr Relaxed() noexcept : value_(T{}) {}
    constexpr Relaxed(T v) noexcept : value_(v) {}  // NOLINT: implicit by design
    Relaxed(const Relaxed &) = delete;
    Relaxed &operator=(const Relaxed &) = delete;

    operator T() const noexcept { return value_.load(std::memory_order_relaxed); }
    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    Relaxed &operator=(T v) noexcept {
        value_.store(v, std::memory_order_relaxed);
        return *this;
    }
    T exchange(T v) noexcept { return value_.exchange(v, std::memory_order_relaxed); }

  private:
    std::atomic<T> value_;
};

// A pointer to an object made on one thread and used on others: storing it releases the
// object's construction, loading it acquires it, so a reader never sees a half-made object.
template <typename T>
class Published {
  public:
    constexpr Published() noexcept : value_(nullptr) {}
    constexpr Published(T *v) noexcept : value_(v) {}  // NOLINT: implicit by design
    Published(const Published &) = delete;
    Published &operator=(const Published &) = delete;

    operator T *() const noexcept { return value_.load(std::memory_order_acquire); }
    T *load() const noexcept { return value_.load(std::memory_order_acquire); }
    Published &operator=(T *v) noexcept {
        value_.store(v, std::memory_order_release);
        return *this;
    }
    T *exchange(T *v) noexcept { return value_.exchange(v, std::memory_order_acq_rel); }

  private:
    std::atomic<T *> value_;
};

}  // namespace ipcam
