// An exclusive lock on a lock file, between programs and between objects of one program alike:
// each holder locks (flock) an open file of its own, so two holders never share the lock.
#pragma once

#include <string>

namespace kestrel {

class FileLock {
  public:
    // Takes the lock on path, creating the file (mode 0600) when missing. Another holder is
    // waited for at most timeoutMs, in short slices; held() says whether the lock was had.
    FileLock(const std::string &path, int timeoutMs);
    ~FileLock();  // releases the lock
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool held() const { return fd_ >= 0; }
    const std::string &error() const { return error_; }  // why it is not held, in words

  private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace kestrel
