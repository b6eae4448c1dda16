// One accepted client connection, owned by the thread that serves it.
//
// Everything that waits does so in 100 ms slices and looks at the server's stop flag between
// them, so a handler built on these calls ends within a slice of stop(). A handler that takes
// the connection over for a long time (a stream pushing pictures) loops on send() and
// pause() and returns when either reports false.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace camsim {

inline constexpr int kWaitSliceMs = 100;

class Connection {
  public:
    enum class Read { Done, Closed, Stopped, TooLarge };

    Connection(int fd, const std::atomic<bool> &stopping);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Sends all of bytes. False when the peer went away or the server is stopping.
    bool send(std::string_view bytes);

    // Waits ms. False, early, when the server began to stop.
    bool pause(int ms);

    // True once the server began to stop; a handler must return soon after.
    bool stopping() const { return stopping_.load(std::memory_order_relaxed); }

    // True when the peer shut its side down or reset. Does not wait and consumes nothing, so
    // a streaming handler can ask between pushes.
    bool peerClosed() const;

    // Reads through the next blank line ("\r\n\r\n" or "\n\n") into head. TooLarge when
    // limit bytes came without one. Bytes after the blank line stay for the next read.
    Read readHead(std::string &head, std::size_t limit);

    // Reads exactly n bytes into out.
    Read readExactly(std::string &out, std::size_t n);

    // Appends to out whatever is pending or arrives within waitMs (at most one slice). Done
    // also when nothing came in time, so a handler can pace its own sending between reads.
    Read readAvailable(std::string &out, int waitMs);

    // Waits until the peer closes or the server stops, dropping whatever the peer sends.
    void holdUntilClosed();

    // Closes the socket; later calls fail. The destructor closes too.
    void close();

  private:
    // One receive into pending_, waiting in slices.
    Read fill();

    int fd_;
    const std::atomic<bool> &stopping_;
    std::string pending_;  // received, not yet handed out
};

}  // namespace camsim
