#include "control/command_object.h"

#include <chrono>
#include <thread>

#include "core/session.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(10);
constexpr auto kStopPoll = std::chrono::milliseconds(10);
constexpr int kFailuresAfterStop = 3;

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

    // Runs the handler until it succeeds; once asked to stop, gives up after a few more
    // failures (the stop also cuts every network wait of the handler short).
    void run(CommandObject &self, CommandHandler handler, void *request, CommandCall call) {
        StopScope scope(&running);
        for (int failuresAfterStop = 0;;) {
            if (handler(self, call, request) >= 0) break;
            if (!running && ++failuresAfterStop >= kFailuresAfterStop) break;
            std::this_thread::sleep_for(kRetryPause);
        }
        finished = 1;
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
