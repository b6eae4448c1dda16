// The command objects of the CGI dialects: a map from command code to handler, one dispatcher
// with the per-family rules, and background execution on worker threads.
//
// A handler sees the request record and a CommandCall: the client prepared for this call and
// what the dispatcher handed over from the session (channel in use, model number, recorder
// channel count). Handlers never touch the session itself, so a background command may run
// on after the caller has moved on.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>

#include "control/camera_control.h"
#include "control/cgi_client.h"
#include "platform/relaxed.h"
#include "platform/thread.h"

namespace ipcam {

struct CommandCall {
    CgiClient &client;
    int32_t channel = 0;           // the session's video channel in use
    uint32_t modelNumber = 0;      // the session's model number
    int32_t recorderChannels = 0;  // for recorder keys: the count the session knows
    uint32_t modelCode() const { return modelNumber & 0xFF; }
};

class CommandObject;
using CommandHandler = int (*)(CommandObject &self, CommandCall &call, void *request);
using CommandMap = std::map<int32_t, CommandHandler>;

// Results of the dispatcher itself.
inline constexpr int kUnknownCommand = -99;
inline constexpr int kNoRecorderChannels = -98;

// Prepares a client the way every command needs it: the session's address, credentials and
// firmware version.
void prepareClient(CgiClient &client, const IPCamSession &session);

class CommandObject : public CameraControl {
  public:
    ~CommandObject() override;
    // Looks the code up, applies the family's rules, then runs the handler: here when flag is
    // null, else on a worker thread (the request must then stay valid until it has finished;
    // the result is 0 once the worker runs).
    int Command(IPCamSession *session, void *request, void *flag) final;

    // The recorder's channel count as the last channel-count command read it (0 unknown).
    int32_t recorderChannels() const { return recorderChannels_; }
    void setRecorderChannels(int32_t count) { recorderChannels_ = count; }

    // Background commands still held (finished ones are dropped at the next command).
    std::size_t workerCount();

  protected:
    explicit CommandObject(const CommandMap &map);
    // The family's rules before a handler runs: fills what the call hands over and may answer
    // in the handler's place with a negative result.
    virtual int admit(IPCamSession &session, int32_t code, void *request, CommandCall &call) = 0;

  private:
    struct Worker;
    int runInBackground(const IPCamSession &session, CommandHandler handler, void *request,
                        const CommandCall &call);
    void dropFinishedWorkers();

    const CommandMap &map_;
    Relaxed<int32_t> recorderChannels_{0};
    std::mutex workersLock_;
    std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace ipcam
