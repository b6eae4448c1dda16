#include "platform/byte_source.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/sockets.h"
#include "platform/stop_scope.h"

namespace ipcam {

WaitResult waitOnDescriptor(int socket, uint32_t ms) {
    pollfd p{socket, POLLIN | POLLPRI, 0};
    int r = poll(&p, 1, static_cast<int>(std::min<uint32_t>(ms, kWaitSliceMs)));
    if (r == 0) return WaitResult::Idle;
    if (r < 0) return errno == EINTR ? WaitResult::Idle : WaitResult::Error;
    if (p.revents & POLLNVAL) return WaitResult::Error;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) return WaitResult::Ready;
    return WaitResult::Exception;
}

WaitResult SocketSource::waitReadable() {
    return waitOnDescriptor(socket_, kWaitSliceMs);
}

WaitResult SocketSource::waitReadableFor(uint32_t ms) {
    return waitOnDescriptor(socket_, ms);
}

int SocketSource::read(void *buffer, std::size_t capacity) {
    ssize_t n = recv(socket_, buffer, capacity, MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? kNothingYet : -1;
}

int SocketSource::send(const void *data, std::size_t length, uint32_t timeoutMs) {
    return sendAll(socket_, data, length, timeoutMs);
}

int MemorySource::send(const void *data, std::size_t length, uint32_t) {
    if (!data) return -1;
    sent_.append(static_cast<const char *>(data), length);
    return static_cast<int>(length);
}

MemorySource::MemorySource(std::vector<std::string> chunks, Ending ending) : ending_(ending) {
    for (const std::string &c : chunks) {
        if (c.empty()) continue;
        bytes_ += c;
        ends_.push_back(bytes_.size());
    }
}

MemorySource::MemorySource(std::string_view bytes, std::size_t chunkSize, Ending ending)
    : bytes_(bytes), chunkSize_(std::max<std::size_t>(chunkSize, 1)), ending_(ending) {}

std::size_t MemorySource::chunkEnd() const {
    if (chunkSize_ == 0) return ends_[chunk_];
    return std::min(bytes_.size(), at_ - at_ % chunkSize_ + chunkSize_);
}

WaitResult MemorySource::waitReadable() {
    if (at_ < bytes_.size()) return WaitResult::Ready;
    switch (ending_) {
        case Ending::Close:
            return WaitResult::Ready;  // the read reports the close
        case Ending::Error:
            return WaitResult::Error;
        case Ending::Silence:
            break;
    }
    return ++idleWaits_ > kIdleLimit ? WaitResult::Error : WaitResult::Idle;
}

int MemorySource::read(void *buffer, std::size_t capacity) {
    if (at_ >= bytes_.size()) {
        if (ending_ == Ending::Close) return 0;
        return ending_ == Ending::Error ? -1 : kNothingYet;
    }
    const std::size_t end = chunkEnd();
    const std::size_t n = std::min(capacity, end - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    if (at_ == end && chunkSize_ == 0) ++chunk_;
    return static_cast<int>(n);
}

std::size_t MemorySource::remaining() const {
    return bytes_.size() - at_;
}

WaitResult BufferedSource::waitReadable() {
    return ahead_.at < ahead_.end ? WaitResult::Ready : source_.waitReadable();
}

int BufferedSource::read(void *buffer, std::size_t capacity) {
    if (ahead_.at == ahead_.end) {
        if (ahead_.drained) {
            ahead_.drained = false;
            return kNothingYet;
        }
        // A read as large as the buffer gains nothing from it.
        if (capacity >= ReadAhead::kBytes) return source_.read(buffer, capacity);
        if (ahead_.bytes.size() < ReadAhead::kBytes) ahead_.bytes.resize(ReadAhead::kBytes);
        const int n = source_.read(ahead_.bytes.data(), ahead_.bytes.size());
        if (n <= 0) return n;  // closed, failed or nothing yet
        ahead_.at = 0;
        ahead_.end = static_cast<std::size_t>(n);
        ahead_.drained = ahead_.end < ahead_.bytes.size();
    }
    const std::size_t n = std::min(capacity, ahead_.end - ahead_.at);
    std::memcpy(buffer, ahead_.bytes.data() + ahead_.at, n);
    ahead_.at += n;
    return static_cast<int>(n);
}

namespace {

enum class Waited { Ready, TimedOut, Failed };

// Waits in 100 ms slices until the source has something, counting the idle slices in waits;
// limit 0 waits for ever. A stop request counts as a time-out.
Waited waitForData(ByteSource &source, uint32_t &waits, uint32_t limit) {
    for (;;) {
        if (stopRequested()) return Waited::TimedOut;
        switch (source.waitReadable()) {
            case WaitResult::Idle:
                if (limit != 0 && ++waits >= limit) return Waited::TimedOut;
                continue;
            case WaitResult::Error:
            case WaitResult::Exception:
                return Waited::Failed;
            case WaitResult::Ready:
                return Waited::Ready;
        }
    }
}

}  // namespace

// Both readers try the read first and wait only when nothing is there: a stream that keeps
// coming costs one call per read instead of a wait and a read.
int receiveExactly(ByteSource &source, void *buffer, std::size_t length, uint32_t timeoutMs) {
    if (!buffer) return -1;
    if (length == 0) return 0;
    auto *out = static_cast<unsigned char *>(buffer);
    const uint32_t limit = waitsFor(timeoutMs);
    std::size_t got = 0;
    uint32_t waits = 0;
    while (got < length) {
        int n = source.read(out + got, length - got);
        if (n == ByteSource::kNothingYet) {
            Waited w = waitForData(source, waits, timeoutMs == 0 ? 0 : limit);
            if (w == Waited::TimedOut) return 0;
            if (w == Waited::Failed) return -1;
            continue;
        }
        if (n == 0) return got > 0 ? static_cast<int>(got) : -1;
        if (n < 0) return -1;
        got += static_cast<std::size_t>(n);
        waits = 0;
    }
    return static_cast<int>(got);
}

int receiveSome(ByteSource &source, void *buffer, std::size_t capacity, uint32_t timeoutMs) {
    if (!buffer) return -1;
    const uint32_t limit = waitsFor(timeoutMs);
    for (uint32_t waits = 0;;) {
        int n = source.read(buffer, capacity);
        if (n != ByteSource::kNothingYet) return n < 0 ? -1 : n;
        Waited w = waitForData(source, waits, limit);
        if (w == Waited::TimedOut) return 0;
        if (w == Waited::Failed) return -1;
    }
}

int receiveHeader(ByteSource &source, char *buffer, std::size_t capacity, uint32_t timeoutMs) {
    if (!buffer) return -1;
    const uint32_t limit = waitsFor(timeoutMs);
    std::size_t got = 0;
    while (got < capacity) {
        // The count of waits starts afresh for every byte; only readability counts.
        for (uint32_t waits = 0;;) {
            if (stopRequested()) return -1;
            WaitResult w = source.waitReadable();
            if (w == WaitResult::Ready) break;
            if (w == WaitResult::Error) return -1;
            if (++waits >= limit) return -1;
        }
        int n = source.read(buffer + got, 1);
        if (n == ByteSource::kNothingYet) continue;
        if (n <= 0) return n;
        ++got;
        if (got >= 2 && buffer[got - 1] == '\n' && buffer[got - 2] == '\n') break;
        if (got >= 4 && std::memcmp(buffer + got - 4, "\r\n\r\n", 4) == 0) break;
    }
    return static_cast<int>(got);
}

}  // namespace ipcam
