// A lock the pipeline's threads share: the frame queue's and the decoder's.
#pragma once

#include <mutex>

namespace kestrel {

class Lockable {
  public:
    virtual ~Lockable() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

// A lock that its holder may take again, as the pipeline's critical sections allow.
class CriticalSectionLock final : public Lockable {
  public:
    void Lock() override { mutex_.lock(); }
    void Unlock() override { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;
};

// Holds a Lockable for a scope.
class LockHolder {
  public:
    explicit LockHolder(Lockable &lock) : lock_(lock) { lock_.Lock(); }
    ~LockHolder() { lock_.Unlock(); }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

  private:
    Lockable &lock_;
};

}  // namespace kestrel
