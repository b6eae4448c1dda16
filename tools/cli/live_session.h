// The tool's side of one live session: the library and the session for the life of a command,
// the blocks its callback hands over, and the watch over its connection state.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "ipcam.h"
#include "tools/cli/args.h"

namespace ipcam_cli {

// One block as the callback was handed it, copied so the library's thread goes on at once.
struct Block {
    int kind;
    std::string payload;
    uint64_t time = 0;     // the frame's time, 100 ns units
    uint64_t arrival = 0;  // when the callback was handed it: steadyTime()
};

// The tool's own clock in 100 ns units: steady, whatever the device's clock does.
uint64_t steadyTime();

class BlockQueue {
  public:
    static int callback(void *context, int, void *frame, int);
    explicit BlockQueue(bool keep) : keep_(keep) {}  // keep false: blocks are only freed
    std::deque<Block> take();

  private:
    const bool keep_;
    std::mutex lock_;
    std::deque<Block> blocks_;
};

// The library and one session for the life of a command; IPCamAllDelete and IPCamExit at the
// end, so no callback runs after it.
class Session {
  public:
    Session() { IPCamInit(); }
    ~Session() {
        IPCamAllDelete();
        IPCamExit();
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // An error line, or empty when the session runs.
    std::string start(const Options &o, BlockQueue &queue);
    IPCamSession *get() const { return session_; }

  private:
    IPCamSession *session_ = nullptr;
};

// Why IPCamCreate refused these options, in words: "cannot create a session: ...".
std::string creationFailure(const Options &o, int created);

// Follows the connection state and prints each change: "connecting: ..." until the first
// connection, "connection: ..." afterwards.
class ConnectionWatch {
  public:
    ConnectionWatch(IPCamSession *session, const Options &o) : session_(session), options_(o) {}

    // Looks at the state once. False when connecting has failed for good (message printed).
    bool poll();
    bool connected() const { return connected_; }
    bool everConnected() const { return everConnected_; }
    // After seconds of trying, ended by the time limit or by Ctrl-C (interrupted).
    void reportNeverConnected(double seconds, bool interrupted) const;

  private:
    IPCamSession *session_;
    const Options &options_;
    int shownStatus_ = 1;  // no status the library answers: the first poll prints
    int shownLast_ = 1;
    int shownReach_ = IPCAM_REACH_ANSWERED;
    bool connected_ = false;
    bool everConnected_ = false;
};

}  // namespace ipcam_cli
