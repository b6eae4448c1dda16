// The web side of a simulated camera: a CGI site with scripted faults and a dynamic-DNS
// redirector, on 127.0.0.1.
//
// Each connection is served by its own thread. Every request is recorded before it is
// answered, refusals and redirector requests included. A request for "/" goes to the
// redirector unless a route is set at "" and the Host header names no redirector entry; the
// redirector asks for no credentials. Everything else is authorised first, then routed by its
// path. After a reply the connection closes, except under a keepOpen behaviour, where further
// requests on it are served until the client closes it. A stream route owns its connection
// until its handler returns; behaviours do not apply to it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/base64.h"
#include "tools/camsim/cgi_site.h"
#include "tools/camsim/connection.h"
#include "tools/camsim/dyndns_redirector.h"
#include "tools/camsim/faults.h"
#include "tools/camsim/http_message.h"
#include "tools/camsim/tcp_server.h"

namespace camsim {

class CgiServer {
  public:
    using RequestObserver = std::function<void(const RecordedRequest &)>;

    CgiServer();
    ~CgiServer();  // stops
    CgiServer(const CgiServer &) = delete;
    CgiServer &operator=(const CgiServer &) = delete;

    bool start(uint16_t port = 0);  // 127.0.0.1; 0: a port of the system's choice
    // Closes the listener and every connection and joins every thread; idempotent.
    void stop();
    uint16_t port() const { return server_.port(); }

    void setCredentials(std::string user, std::string password);  // both empty: no auth
    void setPublic(const std::string &cgi) { site_.setPublic(cgi); }  // asks for none
    // The route checks credentials itself (of another kind than Basic).
    void setSelfAuthorising(const std::string &cgi) { site_.setSelfAuthorising(cgi); }
    // True when the base64 text of "user:password" passes the site's authorisation.
    bool acceptsBasic(std::string_view encoded) const { return site_.acceptsBasic(encoded); }
    void setValues(const std::string &cgi, ReplyStyle style, Values values);
    void setBody(const std::string &cgi, std::string body, int status = 200);
    void setHandler(const std::string &cgi, Handler handler);
    void setStream(const std::string &cgi, StreamHandler handler);
    // Keyed by CGI path, or by host name for the redirector.
    void setBehaviour(const std::string &cgi, ReplyBehaviour behaviour);
    void setRedirect(const std::string &name, std::string location);
    void setRedirectReply(const std::string &name, Reply reply);
    // Called on the serving thread with each request as it is recorded.
    void setRequestObserver(RequestObserver observer);

    std::vector<RecordedRequest> requests() const;  // every request received, in order
    void clearRequests();
    bool waitForRequests(std::size_t n, int timeoutMs) const;  // true once n are recorded

    std::size_t connectionsAccepted() const { return server_.connectionsAccepted(); }
    std::size_t openConnections() const { return server_.openConnections(); }
    // True once every server-side socket is closed; a leak check waits here before counting.
    bool waitUntilIdle(int timeoutMs) const { return server_.waitUntilIdle(timeoutMs); }

  private:
    AfterReply serve(Connection &connection, const RecordedRequest &request);
    void record(const RecordedRequest &request);

    CgiSite site_;
    DynDnsRedirector redirector_;
    Faults faults_;

    mutable std::mutex logLock_;
    mutable std::condition_variable logged_;
    std::vector<RecordedRequest> requests_;  // logLock_
    RequestObserver observer_;               // logLock_

    TcpServer server_;  // last: its threads use everything above
};

}  // namespace camsim
