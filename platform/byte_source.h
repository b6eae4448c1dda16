// Where stream readers get their bytes.
//
// Every reader (stream framings, RTP, RTSP and CGI replies) reads through a ByteSource, so the
// same code runs on a socket and, in tests and fuzzers, on recorded bytes. A source offers the
// two primitives of the socket layer: one wait of at most 100 ms, and one read of what is
// there. The receive operations below are built on them once, for every kind of source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket_slot.h"

namespace ipcam {

enum class WaitResult {
    Ready,      // something to read, or the peer closed or failed (the read tells which)
    Idle,       // the wait passed with nothing
    Exception,  // only an exceptional condition (urgent data) was signalled
    Error,      // the wait itself failed
};

class ByteSource {
  public:
    static constexpr int kNothingYet = -2;

    virtual ~ByteSource() = default;
    // One wait of at most 100 ms for something to read.
    virtual WaitResult waitReadable() = 0;
    // The same wait cut to ms when that is shorter, for readers with a deadline inside the
    // slice; a source that cannot wait less waits its slice.
    virtual WaitResult waitReadableFor(uint32_t ms) {
        (void)ms;
        return waitReadable();
    }
    // One read of at most capacity bytes: the count, 0 when the peer has closed, -1 on error,
    // kNothingYet when there was nothing after all.
    virtual int read(void *buffer, std::size_t capacity) = 0;
    // Sends on the same connection, with the results of sendAll.
    virtual int send(const void *data, std::size_t length, uint32_t timeoutMs) = 0;
    // Asks a datagram socket for a receive buffer of bytes: what the system granted; 0 for a
    // source without one.
    virtual std::size_t askReceiveBuffer(std::size_t bytes) {
        (void)bytes;
        return 0;
    }
};

// One wait of at most ms (and at most 100 ms) for a descriptor to have something to read.
WaitResult waitOnDescriptor(int socket, uint32_t ms);

// A connected socket. Made from a slot, it holds a lease on the slot's descriptor for its
// lifetime: another thread that closes the slot wakes its waits but cannot free the number.
class SocketSource final : public ByteSource {
  public:
    explicit SocketSource(int socket) : socket_(socket) {}
    explicit SocketSource(SocketSlot &slot) : lease_(slot), socket_(lease_.descriptor()) {}
    WaitResult waitReadable() override;
    WaitResult waitReadableFor(uint32_t ms) override;
    int read(void *buffer, std::size_t capacity) override;
    int send(const void *data, std::size_t length, uint32_t timeoutMs) override;

  private:
    SlotLease lease_;
    int socket_;
};

// Recorded bytes, replayed without waiting. Each read returns at most one chunk, so a test
// decides where the pieces break. After the last chunk the source ends as told.
class MemorySource final : public ByteSource {
  public:
    enum class Ending { Close, Silence, Error };

    explicit MemorySource(std::vector<std::string> chunks, Ending ending = Ending::Close);
    // The bytes cut into chunks of chunkSize (at least 1).
    MemorySource(std::string_view bytes, std::size_t chunkSize, Ending ending = Ending::Close);

    WaitResult waitReadable() override;
    int read(void *buffer, std::size_t capacity) override;
    // Keeps what is sent, for the test to look at.
    int send(const void *data, std::size_t length, uint32_t timeoutMs) override;
    const std::string &sent() const { return sent_; }

    // Bytes not read yet.
    std::size_t remaining() const;
    // Waits that found nothing; a silent source reports an error after very many of them so a
    // reader told to wait for ever still ends.
    std::size_t idleWaits() const { return idleWaits_; }

  private:
    static constexpr std::size_t kIdleLimit = 100000;
    // Where the chunk being read ends.
    std::size_t chunkEnd() const;

    // The bytes in one piece, so that a fuzzer's many tiny chunks cost no allocation each.
    std::string bytes_;
    std::size_t chunkSize_ = 0;       // fixed chunks; 0: chunk ends listed in ends_
    std::vector<std::size_t> ends_;   // end of every chunk, for chunks of any size
    std::size_t at_ = 0, chunk_ = 0;  // next byte; index in ends_ of its chunk
    std::string sent_;
    std::size_t idleWaits_ = 0;
    Ending ending_;
};

// What a BufferedSource has read ahead of its reader. It outlives the source objects made for
// each read, so that nothing read from the connection is lost between them.
struct ReadAhead {
    static constexpr std::size_t kBytes = 32 * 1024;
    std::vector<uint8_t> bytes;  // allocated at the first read
    std::size_t at = 0, end = 0;
    // The last read of the source came short, so it had nothing more then: the next read once
    // these bytes are taken waits first instead of asking the source for nothing.
    bool drained = false;
    void clear() { at = end = 0, drained = false; }
};

// Reads a source ahead into a ReadAhead, so that a stream of small units (the RTSP
// connection's 4-byte block heads and their packets) costs one read of the socket for many of
// them instead of two or more each. Once a connection is read this way, everything that reads
// it must go through the same ReadAhead.
class BufferedSource final : public ByteSource {
  public:
    BufferedSource(ByteSource &source, ReadAhead &ahead) : source_(source), ahead_(ahead) {}
    WaitResult waitReadable() override;
    int read(void *buffer, std::size_t capacity) override;
    int send(const void *data, std::size_t length, uint32_t timeoutMs) override {
        return source_.send(data, length, timeoutMs);
    }

  private:
    ByteSource &source_;
    ReadAhead &ahead_;
};

// The receive operations of the socket layer, on any source (results as in sockets.h).
int receiveExactly(ByteSource &source, void *buffer, std::size_t length, uint32_t timeoutMs);
int receiveSome(ByteSource &source, void *buffer, std::size_t capacity, uint32_t timeoutMs);
int receiveHeader(ByteSource &source, char *buffer, std::size_t capacity, uint32_t timeoutMs);

}  // namespace ipcam
