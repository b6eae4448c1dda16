#include "tools/camsim/cgi_server.h"

#include <algorithm>
#include <chrono>

namespace camsim {

CgiServer::CgiServer()
    : server_([this](Connection &connection) {
          serveHttp(connection,
                    [this](Connection &c, const RecordedRequest &r) { return serve(c, r); });
      }) {}

CgiServer::~CgiServer() {
    stop();
}

bool CgiServer::start(uint16_t port) {
    return server_.start(port);
}

void CgiServer::stop() {
    server_.stop();
}

void CgiServer::setCredentials(std::string user, std::string password) {
    site_.setCredentials(std::move(user), std::move(password));
}

void CgiServer::setValues(const std::string &cgi, ReplyStyle style, Values values) {
    site_.setValues(cgi, style, std::move(values));
}

void CgiServer::setBody(const std::string &cgi, std::string body, int status) {
    site_.setBody(cgi, std::move(body), status);
}

void CgiServer::setHandler(const std::string &cgi, Handler handler) {
    site_.setHandler(cgi, std::move(handler));
}

void CgiServer::setStream(const std::string &cgi, StreamHandler handler) {
    site_.setStream(cgi, std::move(handler));
}

void CgiServer::setBehaviour(const std::string &cgi, ReplyBehaviour behaviour) {
    faults_.set(cgi, std::move(behaviour));
}

void CgiServer::setRedirect(const std::string &name, std::string location) {
    redirector_.setRedirect(name, std::move(location));
}

void CgiServer::setRedirectReply(const std::string &name, Reply reply) {
    redirector_.setReply(name, std::move(reply));
}

void CgiServer::setRequestObserver(RequestObserver observer) {
    std::lock_guard lock(logLock_);
    observer_ = std::move(observer);
}

std::vector<RecordedRequest> CgiServer::requests() const {
    std::lock_guard lock(logLock_);
    return requests_;
}

void CgiServer::clearRequests() {
    std::lock_guard lock(logLock_);
    requests_.clear();
}

bool CgiServer::waitForRequests(std::size_t n, int timeoutMs) const {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(logLock_);
    while (requests_.size() < n) {
        auto now = Clock::now();
        if (now >= until) return false;
        logged_.wait_for(
            lock, std::min<Clock::duration>(until - now, std::chrono::milliseconds(kWaitSliceMs)));
    }
    return true;
}

void CgiServer::record(const RecordedRequest &request) {
    RequestObserver observer;
    {
        std::lock_guard lock(logLock_);
        requests_.push_back(request);
        observer = observer_;
    }
    logged_.notify_all();
    if (observer) observer(request);
}

AfterReply CgiServer::serve(Connection &connection, const RecordedRequest &request) {
    record(request);
    if (!wellFormed(request))
        return deliver(connection, htmlReply(400, "400 Bad Request"), ReplyBehaviour{});

    if (request.path.empty()) {
        std::string name = DynDnsRedirector::requestedName(request);
        if (redirector_.knows(name) || !site_.hasRoute(""))
            return deliver(connection, redirector_.answer(name), faults_.behaviourFor(name));
    }

    CgiSite::Answer answer = site_.answer(request);
    if (answer.stream) {
        answer.stream(connection, request);
        return AfterReply::Close;
    }
    return deliver(connection, answer.reply, faults_.behaviourFor(request.path));
}

}  // namespace camsim
