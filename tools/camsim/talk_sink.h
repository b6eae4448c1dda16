// The talk channel of a simulated camera, either family: "Chatting.cgi?Chatting=1" on the web
// port is answered with a 200 head, then the connection is kept and every byte the client
// sends after its request head is recorded (the talk-start packet and audio behind "3297" or
// "HTAD" headers) until the client closes. The bytes are kept raw; tests split them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/camsim/connection.h"
#include "tools/camsim/http_message.h"

namespace camsim {

class CgiServer;

struct TalkSinkConfig {
    // The reply: 200 keeps the connection and records; another status is answered with a
    // complete reply and the connection closes; 0 closes it without a byte.
    int status = 200;
};

// One talk connection.
struct TalkRecord {
    std::string head;       // the request head exactly as received, through the blank line
    std::string received;   // what came after the head, the first kTalkKeptBytes of it
    std::size_t bytes = 0;  // how much came after the head in all
    bool ended = false;     // the connection is over (client closed, refused, server stopped)
};

// A talking client sends 16 kB/s; a long demo session keeps the start of each connection only.
inline constexpr std::size_t kTalkKeptBytes = 4 * 1024 * 1024;

class TalkSink : public std::enable_shared_from_this<TalkSink> {
  public:
    explicit TalkSink(TalkSinkConfig config = {}) : config_(config) {}
    TalkSink(const TalkSink &) = delete;
    TalkSink &operator=(const TalkSink &) = delete;

    // Routes Chatting.cgi on server (authorised like every CGI); the route holds the sink.
    void attach(CgiServer &server);

    std::vector<TalkRecord> records() const;  // every talk connection since clear(), in order
    // The received bytes of every connection since clear(), in the order they connected.
    std::string received() const;
    std::size_t bytes() const;  // all bytes received after the heads since clear()
    // True once bytes() >= n, false after timeoutMs.
    bool waitForBytes(std::size_t n, int timeoutMs) const;
    // True once n connections are recorded, false after timeoutMs.
    bool waitForConnections(std::size_t n, int timeoutMs) const;
    // True once every recorded connection has ended, false after timeoutMs.
    bool waitUntilEnded(int timeoutMs) const;
    void clear();
    std::size_t activeTalks() const { return active_.load(); }

    // The stream handler of Chatting.cgi; owns connection until it returns.
    void serve(Connection &connection, const RecordedRequest &request);

  private:
    template <typename Pred>
    bool waitFor(int timeoutMs, Pred pred) const;
    std::size_t open(const std::string &head);  // its id
    void append(std::size_t id, const std::string &bytes);
    void end(std::size_t id);

    const TalkSinkConfig config_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<TalkRecord> records_;  // lock_
    std::size_t cleared_ = 0;          // lock_; records dropped by clear()
    std::atomic<std::size_t> active_{0};
};

}  // namespace camsim
