// A thread created suspended, with an exit code that can be polled.
//
// The body runs only after the first resume(). While it runs, exitCode() answers
// kStillActive; afterwards it answers the body's result. A thread that will not end when asked
// cannot be killed safely here, so its owner may abandon() it instead: the thread is detached,
// keeps its own state alive and runs on until its body returns, and then runs what its owner
// left it to do at the end.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace ipcam {

class Thread {
  public:
    static constexpr uint32_t kStillActive = 259;
    using Body = std::function<uint32_t()>;

    Thread() = default;
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;
    ~Thread();

    // Creates the thread, suspended, with at least stackReservation bytes of stack (0: the
    // system default). Returns false when no thread could be made.
    bool create(Body body, std::size_t stackReservation = 0);
    void resume();

    bool valid() const { return state_ != nullptr; }
    uint32_t exitCode() const;

    // Waits for the thread to end and releases it.
    void join();
    // Lets the thread run on by itself; this object no longer refers to it. whenEnded runs once
    // the body has returned: on the thread itself, or here when it already has.
    void abandon(std::function<void()> whenEnded = nullptr);

    struct State;  // shared by the object and its thread

  private:
    std::shared_ptr<State> state_;
    pthread_t handle_{};
};

}  // namespace ipcam
