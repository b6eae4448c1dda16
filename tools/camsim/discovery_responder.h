// The ONVIF device's WS-Discovery responder: a UDP socket on the discovery port, joined to
// 239.255.255.250 on 127.0.0.1, answering the Probes ws_discovery.h accepts with a unicast
// ProbeMatches to their sender after a random delay of up to maxDelayMs, as devices spread
// their answers.
//
// SO_REUSEADDR lets several simulators share the port: each hears every multicast Probe, a
// unicast Probe reaches one of them. The simulator lives on loopback, so a datagram from any
// other address is ignored. One thread receives, waits and answers, in slices of at most
// kWaitSliceMs so stop() returns promptly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "tools/camsim/onvif_names.h"
#include "tools/camsim/ws_discovery.h"

namespace camsim {

struct DiscoveryStatistics {
    std::size_t received = 0;  // datagrams
    std::size_t answered = 0;  // ProbeMatches sent
    std::size_t ignored = 0;   // datagrams that were no Probe to answer, or not from loopback
};

class DiscoveryResponder {
  public:
    using Describe = std::function<DiscoveryTarget()>;  // asked once per answer
    using Log = std::function<void(const std::string &)>;

    DiscoveryResponder(uint16_t port, PrefixStyle prefixes, Describe describe, Log log = {},
                       int maxDelayMs = 300);
    ~DiscoveryResponder();  // stops
    DiscoveryResponder(const DiscoveryResponder &) = delete;
    DiscoveryResponder &operator=(const DiscoveryResponder &) = delete;

    // False when the socket cannot be bound or joined, or it already runs.
    bool start();
    void stop();  // idempotent; closes the socket
    uint16_t port() const { return boundPort_.load(); }
    DiscoveryStatistics statistics() const;

  private:
    void run(int fd);

    const uint16_t port_;
    const PrefixStyle prefixes_;
    const Describe describe_;
    const Log log_;
    const int maxDelayMs_;
    std::thread thread_;
    int fd_ = -1;  // owned by the thread while it runs; closed by stop()
    std::atomic<bool> stopping_{false};
    std::atomic<uint16_t> boundPort_{0};
    std::atomic<std::size_t> received_{0}, answered_{0}, ignored_{0};
};

}  // namespace camsim
