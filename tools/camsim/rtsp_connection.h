// One RTSP client connection: reads requests and interleaved packets, answers them, and
// between reads sends the media of the sessions set up on it.
//
// Requests may come split anywhere, several at once, with stray blank lines between them,
// and interleaved packets ('$', channel, 16-bit length) from the client may come between
// requests, their '$' alone in one segment. Every session set up here ends with the
// connection: on TEARDOWN, when the client closes (UDP sessions too) or when the server stops.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/connection.h"
#include "tools/camsim/http_message.h"
#include "tools/camsim/rtsp_session.h"

namespace camsim {

// What a connection needs from its server; called on the connection's thread.
class RtspHooks {
  public:
    // The channel named "CH01" and so on, with its number.
    virtual std::optional<std::pair<int, ChannelConfig>> channel(std::string_view name) const = 0;
    virtual void requestReceived(const RecordedRequest &request) = 0;
    virtual void sessionsChanged(int delta) = 0;
    virtual void rtcpReceived(std::size_t packets) = 0;

  protected:
    ~RtspHooks() = default;
};

class RtspConnection {
  public:
    RtspConnection(Connection &connection, RtspHooks &hooks);
    ~RtspConnection();  // ends the sessions still open
    RtspConnection(const RtspConnection &) = delete;
    RtspConnection &operator=(const RtspConnection &) = delete;

    // Until the client closes, a request cannot be read or the server stops.
    void serve();

  private:
    struct Reply {
        int status = 200;
        HeaderList headers;
        std::string body;
    };
    using SessionMap = std::map<std::string, std::unique_ptr<RtspSession>>;

    bool takeInput();  // false: close the connection
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
    void endSession(SessionMap::iterator it);
    bool sendMedia();
    int waitMs() const;

    Connection &connection_;
    RtspHooks &hooks_;
    std::string input_;  // received, not yet taken
    SessionMap sessions_;
};

}  // namespace camsim
