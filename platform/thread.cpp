#include "platform/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <limits.h>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace ipcam {

namespace {

// Instrumented builds use several times the stack of plain ones.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kStackScale = 8;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kStackScale = 8;
#else
constexpr std::size_t kStackScale = 1;
#endif
#else
constexpr std::size_t kStackScale = 1;
#endif

}  // namespace

struct Thread::State {
    std::mutex mutex;
    std::condition_variable gate;
    bool resumed = false;
    bool cancelled = false;  // destroyed before it was ever resumed
    bool ended = false;      // the body has returned
    std::function<void()> whenEnded;  // left by abandon(); run once the body has returned
    std::atomic<uint32_t> exitCode{kStillActive};
    Body body;
};

namespace {

void *threadMain(void *arg) {
    // The thread holds its own reference, so an abandoned thread never outlives its state.
    auto *holder = static_cast<std::shared_ptr<Thread::State> *>(arg);
    std::shared_ptr<Thread::State> state = std::move(*holder);
    delete holder;

    bool run;
    {
        std::unique_lock lock(state->mutex);
        state->gate.wait(lock, [&] { return state->resumed || state->cancelled; });
        run = !state->cancelled;
    }
    uint32_t code = run ? state->body() : 0;
    state->body = nullptr;
    std::function<void()> whenEnded;
    {
        std::lock_guard lock(state->mutex);
        state->ended = true;
        whenEnded = std::move(state->whenEnded);
    }
    state->exitCode.store(code, std::memory_order_release);
    if (whenEnded) whenEnded();
    return nullptr;
}

}  // namespace

Thread::~Thread() {
    if (!state_) return;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->resumed) state_->cancelled = true;
    }
    state_->gate.notify_all();
    join();
}

bool Thread::create(Body body, std::size_t stackReservation) {
    if (state_) return false;
    auto state = std::make_shared<State>();
    state->body = std::move(body);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackReservation > 0) {
        std::size_t size = stackReservation * kStackScale;
        if (size < static_cast<std::size_t>(PTHREAD_STACK_MIN)) size = PTHREAD_STACK_MIN;
        std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        size = (size + page - 1) / page * page;
        pthread_attr_setstacksize(&attr, size);
    }
    auto *holder = new std::shared_ptr<State>(state);
    pthread_t tid;
    int rc = pthread_create(&tid, &attr, threadMain, holder);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete holder;
        return false;
    }
    handle_ = tid;
    state_ = std::move(state);
    return true;
}

void Thread::resume() {
    if (!state_) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->resumed = true;
    }
    state_->gate.notify_all();
}

uint32_t Thread::exitCode() const {
    return state_ ? state_->exitCode.load(std::memory_order_acquire) : 0;
}

void Thread::join() {
    if (!state_) return;
    pthread_join(handle_, nullptr);
    state_.reset();
    handle_ = {};
}

void Thread::abandon(std::function<void()> whenEnded) {
    if (!state_) {
        if (whenEnded) whenEnded();
        return;
    }
    // Nothing of this object is touched once whenEnded may run: it may free the object.
    std::shared_ptr<State> state = std::move(state_);
    pthread_detach(handle_);
    handle_ = {};
    {
        std::lock_guard lock(state->mutex);
        if (!state->ended) {
            state->whenEnded = std::move(whenEnded);
            return;
        }
    }
    if (whenEnded) whenEnded();
}

}  // namespace ipcam
