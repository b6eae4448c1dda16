#include "tools/camsim/discovery_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <random>
#include <vector>

#include "tools/camsim/connection.h"

namespace camsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kDiscoveryGroup = "239.255.255.250";
constexpr std::size_t kLargestDatagram = 65536;
constexpr std::size_t kMostPending = 256;  // a flood of Probes is not answered beyond this
constexpr std::size_t kMatchesPerDatagram = 40;  // a flood's made-up devices, per answer

// A socket bound to port on every address and joined to the discovery group on loopback;
// -1 when any step fails.
int openDiscoverySocket(uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1, zero = 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);  // the group's datagrams are addressed to it
    local.sin_port = htons(port);
    ip_mreq group{};
    inet_pton(AF_INET, kDiscoveryGroup, &group.imr_multiaddr);
    group.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok =
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
        bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) == 0 &&
        // Only the groups this socket joined, not those other programs joined elsewhere.
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &zero, sizeof zero) == 0;
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t boundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

bool fromLoopback(const sockaddr_in &from) {
    return (ntohl(from.sin_addr.s_addr) >> 24) == 127;
}

struct Pending {
    Clock::time_point due;
    sockaddr_in to;
    std::string relatesTo;
};

}  // namespace

DiscoveryResponder::DiscoveryResponder(uint16_t port, PrefixStyle prefixes, Describe describe,
                                       Log log, int maxDelayMs)
    : port_(port),
      prefixes_(prefixes),
      describe_(std::move(describe)),
      log_(std::move(log)),
      maxDelayMs_(maxDelayMs) {}

DiscoveryResponder::~DiscoveryResponder() {
    stop();
}

bool DiscoveryResponder::start() {
    if (thread_.joinable()) return false;
    fd_ = openDiscoverySocket(port_);
    if (fd_ < 0) return false;
    boundPort_ = boundPort(fd_);
    stopping_ = false;
    thread_ = std::thread([this, fd = fd_] { run(fd); });
    return true;
}

void DiscoveryResponder::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

DiscoveryStatistics DiscoveryResponder::statistics() const {
    return {received_.load(), answered_.load(), ignored_.load()};
}

void DiscoveryResponder::run(int fd) {
    std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> delay(0, std::max(0, maxDelayMs_));
    const Prefixes &p = prefixesOf(prefixes_);
    MessageNumbering numbering{
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count())};
    std::deque<Pending> pending;  // in the order they fall due
    std::vector<char> buffer(kLargestDatagram);
    while (!stopping_.load()) {
        const Clock::time_point now = Clock::now();
        int waitMs = kWaitSliceMs;
        if (!pending.empty())
            waitMs = static_cast<int>(std::clamp<long long>(
                std::chrono::ceil<std::chrono::milliseconds>(pending.front().due - now).count(), 0,
                kWaitSliceMs));
        pollfd slot{fd, POLLIN, 0};
        if (poll(&slot, 1, waitMs) > 0 && (slot.revents & POLLIN)) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (n >= 0) {
                ++received_;
                const DiscoveryTarget target = describe_();
                std::optional<std::string> probe;
                if (fromLoopback(from))
                    probe = probeToAnswer(std::string_view(buffer.data(), std::size_t(n)),
                                          target.scopes);
                if (probe && pending.size() < kMostPending) {
                    Pending reply{Clock::now() + std::chrono::milliseconds(delay(random)), from,
                                  *probe};
                    pending.insert(std::upper_bound(pending.begin(), pending.end(), reply,
                                                    [](const Pending &a, const Pending &b) {
                                                        return a.due < b.due;
                                                    }),
                                   std::move(reply));
                } else {
                    ++ignored_;
                    probe.reset();
                }
                if (log_)
                    log_(std::string("discovery: ") + (probe ? "probe " + *probe : "ignored") +
                         " from port " + std::to_string(ntohs(from.sin_port)) + "\n");
            }
        }
        while (!pending.empty() && pending.front().due <= Clock::now()) {
            const Pending &reply = pending.front();
            const DiscoveryTarget target = describe_();
            // The device alone, then any made-up devices in answers of their own.
            std::vector<std::vector<DiscoveryTarget>> answers{{target}};
            for (DiscoveryTarget &t : floodTargets(target)) {
                if (answers.back().size() == kMatchesPerDatagram || answers.size() == 1)
                    answers.emplace_back();
                answers.back().push_back(std::move(t));
            }
            for (const auto &targets : answers) {
                const std::string text =
                    probeMatches(p, targets, reply.relatesTo, randomUuidUrn(), numbering);
                ++numbering.messageNumber;
                sendto(fd, text.data(), text.size(), 0,
                       reinterpret_cast<const sockaddr *>(&reply.to), sizeof reply.to);
            }
            ++answered_;
            pending.pop_front();
        }
    }
}

}  // namespace camsim
