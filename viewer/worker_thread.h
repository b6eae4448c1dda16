// The base of the pipeline's threads: created suspended, it enters Run only after the owner's
// first Resume, so the owner fills in the object's fields in between.
//
// The destructor asks the thread to stop and waits for it. A derived class must stop and wait
// in its own destructor (stopAndWait) while its members still exist; a thread that was never
// resumed ends without entering Run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "viewer/lockable.h"

namespace kestrel {

class WorkerThread {
  public:
    WorkerThread();
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    void Resume();
    void RequestStop() { stopRequested = true; }
    // Set once a stop was asked for (or the thread stopped itself); pauses end on it.
    const std::atomic<bool> &stopFlag() const { return stopRequested; }
    void Wait();  // until the thread has ended
    static void Sleep(int milliseconds);

    bool hasThread() const { return thread_.joinable(); }
    bool suspended() const { return suspended_; }
    uint32_t exitCode() const { return exitCode_; }

  protected:
    virtual uint32_t Run() = 0;
    // Requests a stop, lets a thread that was never resumed end, and waits for it.
    void stopAndWait();

    std::atomic<bool> stopRequested{false};

  private:
    void body();

    std::thread thread_;
    std::atomic<bool> suspended_{true};
    std::atomic<uint32_t> exitCode_{0};
    CriticalSectionLock lock_;
    std::mutex gateLock_;
    std::condition_variable gate_;
    bool released_ = false;    // gateLock_: Resume or the destructor opened the gate
    bool runAllowed_ = false;  // gateLock_: the gate was opened by Resume
};

}  // namespace kestrel
