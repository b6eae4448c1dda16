// One RTSP client connection: reads requests, interleaved packets and the client's answers to
// requests of ours, answers the requests, and between reads sends the media of the sessions
// set up on it.
//
// Requests may come split anywhere, several at once, with stray blank lines between them,
// and interleaved packets ('$', channel, 16-bit length) from the client may come between
// requests, their '$' alone in one segment. Every session set up here ends with the
// connection: on TEARDOWN, when the client closes (UDP sessions too), when a session times
// out (the whole connection closes, as live555 does) or when the server stops. A connection
// told to close while a UDP session plays may keep that session's media flowing without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/connection.h"
#include "tools/camsim/http_message.h"
#include "tools/camsim/rtsp_mounts.h"
#include "tools/camsim/rtsp_session.h"

namespace camsim {

// What a connection needs from its server; called on the connection's thread.
class RtspHooks {
  public:
    struct Mounted {
        Mount mount;
        ChannelConfig config;
    };
    // Every mount of every channel, in channel order, with the channel's settings.
    virtual std::vector<Mounted> mounts() const = 0;
    virtual uint16_t port() const = 0;
    // Nothing when the request may pass; else the WWW-Authenticate values of a 401.
    virtual std::optional<std::vector<std::string>> authenticate(const RecordedRequest &r) = 0;
    virtual void requestReceived(const RecordedRequest &request) = 0;
    virtual void sessionsChanged(int delta) = 0;
    // An RTCP compound from the client: an interleaved packet or a datagram on an RTCP port.
    virtual void rtcpReceived(std::string_view compound) = 0;
    virtual void serverRequestSent() = 0;
    virtual void serverRequestAnswered(bool rightCSeq) = 0;
    virtual void sessionTimedOut() = 0;
    // How many times connections were told to close; and whether media is to go on after.
    virtual uint64_t closeOrders() const = 0;
    virtual bool keepMediaAfterClose() const = 0;

  protected:
    ~RtspHooks() = default;
};

class RtspConnection {
  public:
    RtspConnection(Connection &connection, RtspHooks &hooks);
    ~RtspConnection();  // ends the sessions still open
    RtspConnection(const RtspConnection &) = delete;
    RtspConnection &operator=(const RtspConnection &) = delete;

    // Until the client closes, a request cannot be read, a session times out or the server
    // stops.
    void serve();

  private:
    struct Reply {
        int status = 200;
        HeaderList headers;
        std::string body;
    };
    using SessionMap = std::map<std::string, std::unique_ptr<RtspSession>>;

    bool takeInput();  // false: close the connection
    void takeAnswer(const RecordedRequest &answer);
    bool answer(const RecordedRequest &request);
    Reply dispatch(const RecordedRequest &request);
    Reply describe(const RecordedRequest &request);
    Reply setup(const RecordedRequest &request);
    Reply play(const RecordedRequest &request);
    Reply teardown(const RecordedRequest &request);
    Reply keepAlive(const RecordedRequest &request);
    std::optional<TrackTransport> makeTransport(const std::string &header, TrackKind kind,
                                                int &status);
    RtspSession *session(const RecordedRequest &request);
    // The session a PLAY, TEARDOWN or keep-alive names, and whether its URL fits the session.
    std::pair<RtspSession *, int> sessionFor(const RecordedRequest &request);
    // The settings of the channel a request concerns, by its session or its URL.
    std::optional<StreamFaults> faultsFor(const RecordedRequest &request);
    std::string authority(const RecordedRequest &request) const;
    void endSession(SessionMap::iterator it);
    bool sendMedia();
    // Every block in a send of its own, micros apart.
    bool sendPaced(std::string_view bytes, int micros);
    bool sendServerRequests();
    bool sessionsAlive();  // false: a session timed out
    void obeyCloseOrder();
    int waitMs() const;

    Connection &connection_;
    RtspHooks &hooks_;
    std::string input_;  // received, not yet taken
    SessionMap sessions_;
    uint64_t closeOrdersSeen_;
    bool orphaned_ = false;             // the client's connection is closed, UDP media still flows
    int serverCSeq_ = 1000;             // the last CSeq of a request of ours
    std::set<std::string> unanswered_;  // CSeqs of our requests
};

}  // namespace camsim
