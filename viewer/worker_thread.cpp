#include "viewer/worker_thread.h"

#include <chrono>

namespace kestrel {

WorkerThread::WorkerThread() {
    // The thread starts and parks at the gate until Resume (or the destructor) opens it.
    try {
        thread_ = std::thread([this] { body(); });
    } catch (const std::system_error &) {
        // No thread: the object lives on without one and the destructor skips the thread steps.
    }
}

WorkerThread::~WorkerThread() { stopAndWait(); }

void WorkerThread::body() {
    {
        std::unique_lock guard(gateLock_);
        gate_.wait(guard, [this] { return released_; });
        if (!runAllowed_) return;  // stopped before it was ever resumed
    }
    exitCode_ = Run();
}

void WorkerThread::Resume() {
    LockHolder hold(lock_);
    std::lock_guard guard(gateLock_);
    if (!released_) {
        released_ = true;
        runAllowed_ = true;
        gate_.notify_all();
    }
    suspended_ = false;
}

void WorkerThread::Wait() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void WorkerThread::Sleep(int milliseconds) {
    if (milliseconds <= 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void WorkerThread::stopAndWait() {
    if (!thread_.joinable()) return;
    stopRequested = true;
    {
        LockHolder hold(lock_);
        std::lock_guard guard(gateLock_);
        if (!released_) {
            released_ = true;  // let it end without entering Run
            gate_.notify_all();
        }
    }
    Wait();
}

}  // namespace kestrel
