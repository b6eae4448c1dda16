// The dynamic-DNS redirector: a web server that answers a request for "/" with a 302 to the
// address the name in its Host header is registered at.
//
// Names compare without regard to case and without a ":port" suffix, as host names do.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "tools/camsim/cgi_site.h"
#include "tools/camsim/http_message.h"

namespace camsim {

class DynDnsRedirector {
  public:
    // location is "ADDR" or "ADDR:PORT"; the reply sends "Location: http://<location>/".
    void setRedirect(const std::string &name, std::string location);
    // Answer this instead of the redirect for name.
    void setReply(const std::string &name, Reply reply);

    bool knows(const std::string &name) const;
    // The redirect, the override, or 404 for a name that is not registered.
    Outgoing answer(const std::string &name) const;

    // The name a request asks for: its Host header without a port.
    static std::string requestedName(const RecordedRequest &request);

  private:
    struct Entry {
        std::string location;
        std::optional<Reply> reply;
    };
    mutable std::mutex lock_;
    std::map<std::string, Entry> entries_;  // lock_; keyed by the lower-case name
};

}  // namespace camsim
