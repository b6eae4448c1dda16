// A TCP listener on 127.0.0.1 that gives each accepted connection its own thread.
//
// The handler owns the connection for as long as it runs; when it returns the connection is
// closed. stop() raises the flag every Connection wait looks at, so handlers return within a
// slice, and joins every thread before it returns: afterwards no handler runs and no socket of
// the server is open. The HTTP side and, later, the media and data channels all sit on this.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "tools/camsim/connection.h"

namespace camsim {

class TcpServer {
  public:
    using ConnectionHandler = std::function<void(Connection &)>;

    explicit TcpServer(ConnectionHandler handler);
    ~TcpServer();
    TcpServer(const TcpServer &) = delete;
    TcpServer &operator=(const TcpServer &) = delete;

    // Listens on 127.0.0.1:port (0: a port of the system's choice). False when the port
    // cannot be had or the server already runs.
    bool start(uint16_t port);
    // Idempotent; the server may be started again afterwards.
    void stop();

    uint16_t port() const { return port_.load(); }  // of the last successful start
    std::size_t connectionsAccepted() const { return accepted_.load(); }
    std::size_t openConnections() const { return open_.load(); }
    // True once no connection is open (its socket closed), false after timeoutMs. A client
    // that closes its end does not wait for ours; a leak check waits here first.
    bool waitUntilIdle(int timeoutMs) const;

  private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void acceptLoop();
    void serve(int fd);
    void joinFinishedWorkers();
    void connectionClosed();

    const ConnectionHandler handler_;
    std::mutex lifecycle_;  // serialises start() and stop()
    int listener_ = -1;     // written under lifecycle_ while the acceptor is not running
    std::thread acceptor_;  // lifecycle_
    // The acceptor's alone while it runs; stop() takes them over once it has joined it.
    std::list<std::unique_ptr<Worker>> workers_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint16_t> port_{0};
    std::atomic<std::size_t> accepted_{0};
    std::atomic<std::size_t> open_{0};
    mutable std::mutex idleLock_;  // pairs with idle_ for waitUntilIdle
    mutable std::condition_variable idle_;
};

}  // namespace camsim
