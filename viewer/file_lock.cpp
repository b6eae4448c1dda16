#include "viewer/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kRetrySlice{10};

}  // namespace

FileLock::FileLock(const std::string &path, int timeoutMs) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return;
        }
        const int why = errno;
        if (why == EINTR) continue;
        if (why != EWOULDBLOCK || std::chrono::steady_clock::now() >= until) {
            error_ = why == EWOULDBLOCK ? "another window keeps " + path + " locked"
                                        : "cannot lock " + path + ": " + std::strerror(why);
            ::close(fd);
            return;
        }
        std::this_thread::sleep_for(kRetrySlice);
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor releases the lock
}

}  // namespace kestrel
