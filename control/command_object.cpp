#include "control/command_object.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "control/cgi_reply.h"
#include "control/ptz_control.h"
#include "core/session.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

using Clock = std::chrono::steady_clock;

// A failing command is sent again no sooner than this after its last attempt began, so that
// a camera is not flooded (nor an account locked) by a command that keeps failing.
constexpr auto kRetrySpacing = std::chrono::milliseconds(500);
constexpr auto kPauseSlice = std::chrono::milliseconds(100);
constexpr auto kStopPoll = std::chrono::milliseconds(10);

// Results that the same request would meet again: a command the camera's wording lacks, a
// request that cannot be formed, refused credentials, a CGI the camera does not have.
bool retryCannotChange(int result) {
    switch (result) {
        case kPtzRefused:
        case kCgiNoName:
        case kCgiUnauthorised:
        case kCgiNotFound:
            return true;
        default:
            return false;
    }
}

}  // namespace

void prepareClient(CgiClient &client, const IPCamSession &session) {
    client.SetAddress(session.host, static_cast<int32_t>(session.port));
    client.SetCredentials(session.user, session.password);
    client.SetFirmwareVersion(session.deviceNumber);
}

// One background command: its own client, and the flags it shares with the object.
struct CommandObject::Worker {
    CgiClient client;
    Thread thread;
    Relaxed<uint8_t> running{1};
    Relaxed<uint8_t> finished{0};

    // Runs the handler until it succeeds or meets a result no retry can change, or until the
    // object asks it to stop (which also cuts every network wait of the handler short).
    void run(CommandObject &self, CommandHandler handler, void *request, CommandCall call) {
        StopScope scope(&running);
        while (running) {
            const Clock::time_point began = Clock::now();
            const int result = handler(self, call, request);
            if (result >= 0 || retryCannotChange(result)) break;
            if (!pauseUntil(began + kRetrySpacing)) break;
        }
        finished = 1;
    }

    // Waits in slices that end on a stop request; false once asked to stop.
    bool pauseUntil(Clock::time_point until) const {
        for (Clock::time_point now = Clock::now(); now < until; now = Clock::now()) {
            if (!running) return false;
            std::this_thread::sleep_for(std::min<Clock::duration>(until - now, kPauseSlice));
        }
        return running != 0;
    }
};

CommandObject::CommandObject(const CommandMap &map) : map_(map) {}

CommandObject::~CommandObject() {
    std::lock_guard lock(workersLock_);
    for (auto &worker : workers_) worker->running = 0;
    for (auto &worker : workers_) {
        while (worker->thread.exitCode() == Thread::kStillActive)
            std::this_thread::sleep_for(kStopPoll);
        worker->thread.join();
    }
}

int CommandObject::Command(IPCamSession *session, void *request, void *flag) {
    if (!session || !request) return IPCAM_IS_NULL;
    const int32_t code = *static_cast<const int32_t *>(request);
    auto entry = map_.find(code);
    if (entry == map_.end()) return kUnknownCommand;

    CgiClient client;
    CommandCall call{client};
    call.channel = session->videoStream;
    call.modelNumber = session->modelCode;
    if (int refused = admit(*session, code, request, call); refused < 0) return refused;

    if (flag) return runInBackground(*session, entry->second, request, call);
    prepareClient(client, *session);
    return entry->second(*this, call, request);
}

int CommandObject::runInBackground(const IPCamSession &session, CommandHandler handler,
                                   void *request, const CommandCall &call) {
    dropFinishedWorkers();
    auto worker = std::make_unique<Worker>();
    prepareClient(worker->client, session);
    CommandCall own{worker->client, call.channel, call.modelNumber, call.recorderChannels};
    Worker *w = worker.get();
    if (!w->thread.create([this, w, handler, request, own]() -> uint32_t {
            w->run(*this, handler, request, own);
            return 0;
        }))
        return IPCAM_IS_NULL;
    {
        std::lock_guard lock(workersLock_);
        workers_.push_back(std::move(worker));
    }
    w->thread.resume();
    return 0;
}

void CommandObject::dropFinishedWorkers() {
    std::lock_guard lock(workersLock_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->finished && (*it)->thread.exitCode() != Thread::kStillActive) {
            (*it)->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t CommandObject::workerCount() {
    dropFinishedWorkers();
    std::lock_guard lock(workersLock_);
    return workers_.size();
}

}  // namespace ipcam
