#include "tools/camsim/dyndns_redirector.h"

#include <cctype>

namespace camsim {

namespace {

std::string lowerCase(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

void DynDnsRedirector::setRedirect(const std::string &name, std::string location) {
    std::lock_guard lock(lock_);
    entries_[lowerCase(name)].location = std::move(location);
}

void DynDnsRedirector::setReply(const std::string &name, Reply reply) {
    std::lock_guard lock(lock_);
    entries_[lowerCase(name)].reply = std::move(reply);
}

bool DynDnsRedirector::knows(const std::string &name) const {
    std::lock_guard lock(lock_);
    return entries_.count(lowerCase(name)) != 0;
}

Outgoing DynDnsRedirector::answer(const std::string &name) const {
    std::lock_guard lock(lock_);
    auto it = entries_.find(lowerCase(name));
    if (it == entries_.end()) return htmlReply(404, "404 Not Found");
    const Entry &entry = it->second;
    if (entry.reply) return htmlReply(entry.reply->status, entry.reply->body);
    Outgoing redirect;
    redirect.status = 302;
    redirect.headers.emplace_back("Location", "http://" + entry.location + "/");
    redirect.announceClose = false;
    return redirect;
}

std::string DynDnsRedirector::requestedName(const RecordedRequest &request) {
    std::string host = request.header("Host");
    return host.substr(0, host.find(':'));
}

}  // namespace camsim
