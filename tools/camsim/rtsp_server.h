// The simulated camera's streaming server: RTSP/1.0 on its own port of 127.0.0.1, channels
// CH01, CH02, ... with MPEG-4 or JPEG video and optional MPEG audio, over RTP interleaved in
// the RTSP connection or over UDP, with scripted faults per channel.
//
// Each RTSP connection has its own thread (the TcpServer's), which answers requests and paces
// the RTP of the sessions set up on it. Every request head is recorded as received, and the
// active sessions are counted, so tests can check both.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/channel_config.h"
#include "tools/camsim/http_message.h"
#include "tools/camsim/rtsp_connection.h"
#include "tools/camsim/tcp_server.h"

namespace camsim {

class StreamingServer : private RtspHooks {
  public:
    using RequestObserver = std::function<void(const RecordedRequest &)>;

    StreamingServer();
    ~StreamingServer();  // stops
    StreamingServer(const StreamingServer &) = delete;
    StreamingServer &operator=(const StreamingServer &) = delete;

    // Adds the next channel, CH01 first, also while running; its name, or "" (and nothing
    // added) when configProblem() finds fault with config.
    std::string addChannel(const ChannelConfig &config);
    std::size_t channelCount() const;
    // Faults for sessions that channel number (from 1) sets up from now on; false when there
    // is no such channel.
    bool setFaults(int number, const StreamFaults &faults);

    bool start(uint16_t port = 0);  // 127.0.0.1; 0: a port of the system's choice
    // Closes the listener and every connection, ends every session and joins every thread.
    void stop();
    uint16_t port() const { return server_.port(); }

    // Routes "GetServerInfo.cgi" of web to a family A reply "Channel=N<br>" and, when
    // announcePort, "Rtsp_Port=P<br>". The route keeps working after this server is gone; it
    // then reports the last channel count and port.
    void attachTo(CgiServer &web, bool announcePort = true);

    // Called on a connection's thread with each request as it is recorded.
    void setRequestObserver(RequestObserver observer);
    std::vector<RecordedRequest> rtspRequests() const;  // every request head, in order
    void clearRtspRequests();
    bool waitForRtspRequests(std::size_t n, int timeoutMs) const;  // true once n are recorded

    std::size_t activeSessions() const { return sessions_.load(); }
    // Interleaved packets from clients and RTCP datagrams on our UDP ports.
    std::size_t rtcpPacketsReceived() const { return rtcpPackets_.load(); }
    std::size_t connectionsAccepted() const { return server_.connectionsAccepted(); }
    // True once no session is active and no connection open; a leak check waits here.
    bool waitUntilIdle(int timeoutMs) const;

  private:
    struct Announced {
        std::atomic<std::size_t> channels{0};
        std::atomic<uint16_t> port{0};
    };

    // RtspHooks
    std::optional<std::pair<int, ChannelConfig>> channel(std::string_view name) const override;
    void requestReceived(const RecordedRequest &request) override;
    void sessionsChanged(int delta) override;
    void rtcpReceived(std::size_t packets) override;

    const std::shared_ptr<Announced> announced_ = std::make_shared<Announced>();

    mutable std::mutex channelLock_;
    std::vector<ChannelConfig> channels_;  // channelLock_

    mutable std::mutex logLock_;
    mutable std::condition_variable changed_;  // requests_ grew or sessions_ changed
    std::vector<RecordedRequest> requests_;    // logLock_
    RequestObserver observer_;                 // logLock_
    std::atomic<std::size_t> sessions_{0};     // changed under logLock_ for waiters
    std::atomic<std::size_t> rtcpPackets_{0};

    TcpServer server_;  // last: its threads use everything above
};

}  // namespace camsim
