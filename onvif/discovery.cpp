// IPCamDiscover: the Probe sent on every IPv4 interface that can carry multicast, and the
// answers gathered until the time is up (or the caller stops it), then reported.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ipcam.h"
#include "onvif/discovery_list.h"
#include "onvif/discovery_messages.h"

namespace ipcam {

namespace {

constexpr const char *kGroup = "239.255.255.250";
constexpr uint16_t kDiscoveryPort = 3702;
constexpr int kLongestSearch = 60;
constexpr int kProbes = 3;
constexpr auto kProbeInterval = std::chrono::milliseconds(500);
constexpr auto kStopSlice = std::chrono::milliseconds(100);
constexpr std::size_t kMaxDatagram = 65536;

// The port set in the environment, for tests and simulated cameras; 0 when none is set.
uint16_t portOverride() {
    const char *text = std::getenv("IPCAM_DISCOVERY_PORT");
    if (!text || !*text) return 0;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    Descriptor &operator=(Descriptor &&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// The addresses of the interfaces that are up and can send multicast; the loopback interface
// always counts, since devices on this machine (and simulators) answer there. With
// loopbackOnly nothing leaves the machine.
std::vector<in_addr> multicastInterfaces(bool loopbackOnly) {
    std::vector<in_addr> out;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs *i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
        if (!(i->ifa_flags & (IFF_MULTICAST | IFF_LOOPBACK))) continue;
        if (loopbackOnly && !(i->ifa_flags & IFF_LOOPBACK)) continue;
        const in_addr a = reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr;
        bool seen = false;
        for (const in_addr &o : out) seen = seen || o.s_addr == a.s_addr;
        if (!seen) out.push_back(a);
    }
    freeifaddrs(list);
    return out;
}

std::optional<Descriptor> probeSocket(const in_addr &interface) {
    Descriptor s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (s.get() < 0) return std::nullopt;
    const unsigned char ttl = 4, loop = 1;
    if (setsockopt(s.get(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0)
        return std::nullopt;
    setsockopt(s.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    setsockopt(s.get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s.get(), reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) return std::nullopt;
    return s;
}

// Takes the answers waiting on one socket into the list.
void readAnswers(int fd, std::vector<char> &datagram, const std::string &messageId,
                 DiscoveryList &list) {
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t n = recvfrom(fd, datagram.data(), datagram.size(), 0,
                               reinterpret_cast<sockaddr *>(&from), &fromSize);
    if (n <= 0) return;
    char source[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
    for (const ProbeMatch &m : readProbeMatches(
             std::string_view(datagram.data(), static_cast<std::size_t>(n)), messageId)) {
        const auto url = chooseDeviceUrl(m.xaddrs, source);
        if (!url) continue;
        list.add({url->url, m.name, m.hardware, m.endpoint, source, url->elsewhere, false});
    }
}

// Probes and listens for seconds; false when stopped() said so first.
bool search(int seconds, const std::function<bool()> &stopped, DiscoveryList &list) {
    // A port of its own means simulated cameras on this machine: the probe stays on it.
    const uint16_t override = portOverride();
    std::vector<Descriptor> sockets;
    for (const in_addr &interface : multicastInterfaces(override != 0))
        if (auto s = probeSocket(interface)) sockets.push_back(std::move(*s));

    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(override ? override : kDiscoveryPort);
    inet_pton(AF_INET, kGroup, &group.sin_addr);
    const std::string messageId = newMessageId();
    const std::string probe = probeMessage(messageId);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    int sent = 0;
    std::vector<char> datagram(kMaxDatagram);
    std::vector<pollfd> polls;
    for (const Descriptor &s : sockets) polls.push_back({s.get(), POLLIN, 0});

    for (auto now = start; now < deadline; now = Clock::now()) {
        if (stopped()) return false;
        // The same message each time: devices that heard an earlier copy drop the repeat.
        if (sent < kProbes && now >= start + sent * kProbeInterval) {
            for (const Descriptor &s : sockets)
                sendto(s.get(), probe.data(), probe.size(), 0,
                       reinterpret_cast<const sockaddr *>(&group), sizeof group);
            ++sent;
        }
        auto until = std::min(deadline, now + kStopSlice);
        if (sent < kProbes) until = std::min(until, start + sent * kProbeInterval);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        if (poll(polls.data(), polls.size(), static_cast<int>(wait.count()) + 1) <= 0) continue;
        for (pollfd &p : polls)
            if (p.revents & POLLIN) readAnswers(p.fd, datagram, messageId, list);
    }
    return !stopped();
}

}  // namespace

}  // namespace ipcam

using namespace ipcam;

extern "C" IPCAM_API int IPCamDiscoverWith(int seconds, const IPCamOnvifOptions *options,
                                           IPCamDiscoverFoundCallback found, void *context) {
    if (!found || seconds < 1 || seconds > kLongestSearch) return IPCAM_IS_NULL;
    const auto stop = options ? options->stop : nullptr;
    DiscoveryList list;
    if (!search(seconds, [&] { return stop && stop(context) != 0; }, list)) return IPCAM_IS_OVER;
    for (const FoundDevice &d : list.devices()) {
        const int32_t flags = (d.elsewhere ? IPCAM_FOUND_ELSEWHERE : 0) |
                              (d.contested ? IPCAM_FOUND_CONTESTED : 0);
        const IPCamOnvifFound out{d.url.c_str(),      d.name.c_str(),         d.hardware.c_str(),
                                  d.endpoint.c_str(), d.answeredFrom.c_str(), flags};
        found(context, &out);
    }
    return static_cast<int>(list.devices().size());
}

extern "C" IPCAM_API int IPCamDiscover(int seconds, IPCamDiscoverCallback found, void *context) {
    if (!found || seconds < 1 || seconds > kLongestSearch) return IPCAM_IS_NULL;
    DiscoveryList list;
    search(seconds, [] { return false; }, list);
    // Its callback cannot say where an answer came from: one pointing elsewhere is left out.
    int listed = 0;
    for (const FoundDevice &d : list.devices()) {
        if (d.elsewhere) continue;
        found(context, d.url.c_str(), d.name.c_str(), d.hardware.c_str());
        ++listed;
    }
    return listed;
}
