// The simulated camera's streaming server: RTSP/1.0 on its own port of 127.0.0.1, channels
// CH01, CH02, ... (and at paths of their own) with MPEG-4 or JPEG video and optional MPEG
// audio, over RTP interleaved in the RTSP connection or over UDP, with Basic or Digest
// authentication and scripted faults per channel.
//
// Each RTSP connection has its own thread (the TcpServer's), which answers requests and paces
// the RTP of the sessions set up on it. Every request head is recorded as received, and the
// active sessions, authentication answers and the answers to the server's own requests are
// counted, so tests can check them.
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
#include "tools/camsim/rtsp_auth.h"
#include "tools/camsim/rtsp_connection.h"
#include "tools/camsim/tcp_server.h"

namespace camsim {

// What the server counted since it was made.
struct RtspStatistics {
    AuthStatistics auth;
    std::size_t serverRequestsSent = 0;    // requests of our own (the serverRequestSeconds fault)
    std::size_t serverRequestAnswers = 0;  // answers that carried the CSeq of one of them
    std::size_t serverRequestWrongAnswers = 0;  // answers with any other CSeq, or none
    std::size_t sessionsTimedOut = 0;           // connections closed by a session's time-out
    // RTCP compounds from clients read strictly (see rtcp_check.h): valid and not.
    std::size_t rtcpValid = 0, rtcpInvalid = 0;
    std::string lastRtcpProblem;  // why the latest invalid one was
};

class StreamingServer : private RtspHooks {
  public:
    using RequestObserver = std::function<void(const RecordedRequest &)>;

    StreamingServer();
    ~StreamingServer();  // stops
    StreamingServer(const StreamingServer &) = delete;
    StreamingServer &operator=(const StreamingServer &) = delete;

    // Adds the next channel, CH01 first, also while running; its name, or "" (and nothing
    // added) when configProblem() finds fault with config. The channel is served at "/CH01"
    // (unless config.namedMount is false) and at each of config.paths.
    std::string addChannel(const ChannelConfig &config);
    std::size_t channelCount() const;
    std::vector<ChannelConfig> channels() const;  // in order, CH01 first
    // Faults for sessions that channel number (from 1) sets up from now on; false when there
    // is no such channel.
    bool setFaults(int number, const StreamFaults &faults);

    // Authentication for every request from now on (OPTIONS too); scheme None turns it off.
    // Nonces given before are forgotten.
    void setAuth(const RtspAuthConfig &auth);
    RtspStatistics statistics() const;

    // Closes the RTSP connection of every session that plays over UDP, as a server that dies
    // or a network that drops the connection would. With keepMedia the sessions' RTP and RTCP
    // go on without their connection until the session's time-out (60 s when none is set);
    // otherwise they stop too. Connections made later are not affected.
    void closeUdpSessionConnections(bool keepMedia);

    bool start(uint16_t port = 0);  // 127.0.0.1; 0: a port of the system's choice
    // Closes the listener and every connection, ends every session and joins every thread.
    void stop();
    uint16_t port() const override { return server_.port(); }
    // The port of the last start, read when called; it keeps working after the server is gone.
    std::function<uint16_t()> portReader() const {
        return [announced = announced_] { return announced->port.load(); };
    }

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
    // Interleaved packets from clients and datagrams on our RTCP ports.
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
    std::vector<Mounted> mounts() const override;
    std::optional<std::vector<std::string>> authenticate(const RecordedRequest &r) override;
    void requestReceived(const RecordedRequest &request) override;
    void sessionsChanged(int delta) override;
    void rtcpReceived(std::string_view compound) override;
    void serverRequestSent() override { ++serverRequestsSent_; }
    void serverRequestAnswered(bool rightCSeq) override;
    void sessionTimedOut() override { ++sessionsTimedOut_; }
    uint64_t closeOrders() const override { return closeOrders_.load(); }
    bool keepMediaAfterClose() const override { return keepMediaAfterClose_.load(); }

    const std::shared_ptr<Announced> announced_ = std::make_shared<Announced>();

    mutable std::mutex channelLock_;
    std::vector<ChannelConfig> channels_;  // channelLock_

    mutable std::mutex logLock_;
    mutable std::condition_variable changed_;  // requests_ grew or sessions_ changed
    std::vector<RecordedRequest> requests_;    // logLock_
    RequestObserver observer_;                 // logLock_
    std::atomic<std::size_t> sessions_{0};     // changed under logLock_ for waiters
    std::atomic<std::size_t> rtcpPackets_{0}, rtcpValid_{0}, rtcpInvalid_{0};
    std::string lastRtcpProblem_;  // logLock_
    std::atomic<std::size_t> serverRequestsSent_{0}, serverRequestAnswers_{0},
        serverRequestWrongAnswers_{0}, sessionsTimedOut_{0};
    std::atomic<uint64_t> closeOrders_{0};
    std::atomic<bool> keepMediaAfterClose_{false};

    RtspAuthenticator auth_;  // locks itself

    TcpServer server_;  // last: its threads use everything above
};

}  // namespace camsim
