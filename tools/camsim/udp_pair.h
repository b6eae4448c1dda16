// Two UDP sockets on 127.0.0.1 for one RTP track: RTP on an even port, RTCP on the next.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace camsim {

class UdpPair {
    struct Token {};  // only open() makes pairs

  public:
    // Nothing when no free even/odd pair was found.
    static std::unique_ptr<UdpPair> open();

    UdpPair(Token, int rtp, int rtcp, uint16_t rtpPort)
        : rtp_(rtp), rtcp_(rtcp), rtpPort_(rtpPort) {}
    ~UdpPair();
    UdpPair(const UdpPair &) = delete;
    UdpPair &operator=(const UdpPair &) = delete;

    uint16_t rtpPort() const { return rtpPort_; }
    uint16_t rtcpPort() const { return static_cast<uint16_t>(rtpPort_ + 1); }

    // RTP goes out from a third socket on a port of its own (the rtpFromOtherPort fault);
    // false when none could be had.
    bool sendRtpFromAnotherPort();

    // To 127.0.0.1:port; a datagram the socket has no room for is dropped, as on a network.
    void sendRtp(uint16_t port, std::string_view datagram) const;
    void sendRtcp(uint16_t port, std::string_view datagram) const;

    // Reads and drops whatever arrived on either socket (receiver reports, a client's
    // hole-punching packets); each datagram of the RTCP port goes to rtcp first.
    void drain(const std::function<void(std::string_view)> &rtcp) const;

  private:
    int rtp_ = -1, rtcp_ = -1;
    int rtpSender_ = -1;  // where RTP goes out from, when not rtp_
    uint16_t rtpPort_ = 0;
};

}  // namespace camsim
