// Reply behaviours: the ways a real device answers late, oddly, partly or not at all.
//
// A behaviour is kept per key (a CGI path, or a host name of the redirector) and shapes
// whatever reply goes out for that key, the 401 and 404 included, so a client's handling of
// a slow refusal can be tested as well as that of a slow answer.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "tools/camsim/connection.h"
#include "tools/camsim/http_message.h"

namespace camsim {

// Every field has an initialiser, so a designated initialiser names only what differs.
struct ReplyBehaviour {
    std::string statusLine = {};  // when not empty, sent verbatim instead of the default status
                                  // line (e.g. "HTTP/1.0 204 No Content", "HTTP/1.1 200 Ok")
    bool contentLength = true;    // send "Content-Length: N"
    bool keepOpen = false;        // after the reply, serve further requests on the connection
                                  // until the client closes it
    int delayMs = 0;              // wait before answering
    bool never = false;           // read the request, never answer, keep the connection open
    bool headerOnlyThenSilence = false;  // send the head (with the Content-Length of the real
                                         // body) but never the body, keep the connection open
    std::size_t splitAt = 0;  // when > 0, send the first splitAt bytes of the reply, pause
                              // pauseMs, then the rest
    int pauseMs = 0;
    int dripMs = 0;  // when > 0, send the reply a byte at a time, this far apart
};

// Sends reply on the connection the way behaviour says; what the connection does next.
AfterReply deliver(Connection &connection, const Outgoing &reply, const ReplyBehaviour &behaviour);

class Faults {
  public:
    void set(const std::string &key, ReplyBehaviour behaviour);
    // The behaviour for key; the plain one when none was set.
    ReplyBehaviour behaviourFor(const std::string &key) const;

  private:
    mutable std::mutex lock_;
    std::map<std::string, ReplyBehaviour> behaviours_;  // lock_
};

}  // namespace camsim
