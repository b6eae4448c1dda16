#include "platform/socket_slot.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace ipcam {

SocketSlot::~SocketSlot() {
    close();
    for (const Retired &r : retired_) ::close(r.fd);  // a lease that outlived its slot
}

void SocketSlot::install(int descriptor) {
    int unused = -1;
    {
        std::lock_guard hold(lock_);
        const int old = fd_.exchange(descriptor, std::memory_order_relaxed);
        if (old != -1) {
            shutdown(old, SHUT_RDWR);
            if (leases_ > 0)
                retired_.push_back({old, leases_});
            else
                unused = old;
        }
        leases_ = 0;
    }
    if (unused != -1) ::close(unused);
}

void SocketSlot::close() {
    install(-1);
}

void SocketSlot::wake() {
    std::lock_guard hold(lock_);
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd != -1) shutdown(fd, SHUT_RDWR);
}

int SocketSlot::acquire() {
    std::lock_guard hold(lock_);
    const int fd = fd_.load(std::memory_order_relaxed);
    if (fd != -1) ++leases_;
    return fd;
}

void SocketSlot::release(int descriptor) {
    {
        std::lock_guard hold(lock_);
        if (descriptor == fd_.load(std::memory_order_relaxed)) {
            --leases_;
            return;
        }
        auto r = std::find_if(retired_.begin(), retired_.end(),
                              [descriptor](const Retired &x) { return x.fd == descriptor; });
        if (r == retired_.end() || --r->leases > 0) return;
        retired_.erase(r);
    }
    ::close(descriptor);
}

}  // namespace ipcam
