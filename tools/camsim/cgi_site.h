// The camera's CGI site: Basic authorisation, routing by path, and the reply styles of the
// two device families.
//
// A route answers with canned values, a canned body, a computed reply, or hands the whole
// connection to a stream handler. Routes and credentials may change while the server runs;
// handlers are called without any lock held, so they may call back into the server.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "tools/camsim/connection.h"
#include "tools/camsim/http_message.h"

namespace camsim {

enum class ReplyStyle { FamilyA, FamilyB };
using Values = std::vector<std::pair<std::string, std::string>>;

struct Reply {
    int status = 200;
    std::string body;
    HeaderList lastHeaders = {};  // end the head, after Content-Length (see Outgoing)
    std::string contentType = {};  // "": text/html
};

using Handler = std::function<Reply(const RecordedRequest &)>;
// Takes the connection over after authorisation: writes its own head and pushes bytes until it
// is done, the peer closes or the server stops; the connection closes when it returns.
using StreamHandler = std::function<void(Connection &, const RecordedRequest &)>;

// Family A: "key=value<br>\r\n" per pair. Family B: "key = value\n" per pair.
std::string formatValues(ReplyStyle style, const Values &values);

class CgiSite {
  public:
    struct Answer {
        Outgoing reply;        // when stream is empty
        StreamHandler stream;  // set when the route streams
    };

    // Both empty: no authorisation asked.
    void setCredentials(std::string user, std::string password);
    void setValues(const std::string &cgi, ReplyStyle style, Values values);
    void setBody(const std::string &cgi, std::string body, int status);
    void setHandler(const std::string &cgi, Handler handler);
    void setStream(const std::string &cgi, StreamHandler handler);

    bool hasRoute(const std::string &cgi) const;
    // Answers cgi to requests without credentials, as cameras answer the queries that clients
    // make before they log in; a request that names an account is still checked.
    void setPublic(const std::string &cgi);

    // Leaves cgi's requests to its route, which checks credentials of its own kind.
    void setSelfAuthorising(const std::string &cgi);

    // Whether the base64 text of "user:password" matches the credentials (anything does when
    // none are asked), as a stream that logs in outside HTTP presents it.
    bool acceptsBasic(std::string_view encoded) const;

    // 401 when the credentials do not match, 404 when nothing is routed at the path.
    Answer answer(const RecordedRequest &request) const;

  private:
    struct Canned {
        int status = 200;
        std::string body;
    };
    using Route = std::variant<Canned, Handler, StreamHandler>;

    bool authorised(const RecordedRequest &request) const;  // under lock_
    void put(const std::string &cgi, Route route);

    mutable std::mutex lock_;
    std::string user_, password_;          // lock_
    std::map<std::string, Route> routes_;  // lock_
    std::set<std::string> public_;         // lock_
    std::set<std::string> selfAuthorising_;  // lock_
};

}  // namespace camsim
