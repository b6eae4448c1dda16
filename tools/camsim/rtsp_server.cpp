#include "tools/camsim/rtsp_server.h"

#include <algorithm>
#include <chrono>

#include "tools/camsim/rtcp_check.h"

namespace camsim {

namespace {

using Clock = std::chrono::steady_clock;

// Waits on cv in slices until done() holds or the deadline passes.
template <typename Done>
bool waitUntil(std::unique_lock<std::mutex> &lock, std::condition_variable &cv,
               Clock::time_point until, Done done) {
    while (!done()) {
        auto now = Clock::now();
        if (now >= until) return false;
        cv.wait_for(
            lock, std::min<Clock::duration>(until - now, std::chrono::milliseconds(kWaitSliceMs)));
    }
    return true;
}

}  // namespace

StreamingServer::StreamingServer()
    : server_([this](Connection &connection) {
          RtspConnection(connection, static_cast<RtspHooks &>(*this)).serve();
      }) {}

StreamingServer::~StreamingServer() {
    stop();
}

std::string StreamingServer::addChannel(const ChannelConfig &config) {
    if (configProblem(config)) return {};
    std::lock_guard lock(channelLock_);
    channels_.push_back(config);
    announced_->channels = channels_.size();
    return channelName(static_cast<int>(channels_.size()));
}

std::size_t StreamingServer::channelCount() const {
    std::lock_guard lock(channelLock_);
    return channels_.size();
}

std::vector<ChannelConfig> StreamingServer::channels() const {
    std::lock_guard lock(channelLock_);
    return channels_;
}

bool StreamingServer::setFaults(int number, const StreamFaults &faults) {
    std::lock_guard lock(channelLock_);
    if (number < 1 || static_cast<std::size_t>(number) > channels_.size()) return false;
    channels_[static_cast<std::size_t>(number) - 1].faults = faults;
    return true;
}

bool StreamingServer::start(uint16_t port) {
    if (!server_.start(port)) return false;
    announced_->port = server_.port();
    return true;
}

void StreamingServer::stop() {
    server_.stop();
}

void StreamingServer::attachTo(CgiServer &web, bool announcePort) {
    web.setHandler("GetServerInfo.cgi",
                   [announced = announced_, announcePort](const RecordedRequest &) {
                       Values values = {{"Channel", std::to_string(announced->channels.load())}};
                       if (announcePort)
                           values.emplace_back("Rtsp_Port", std::to_string(announced->port.load()));
                       return Reply{200, formatValues(ReplyStyle::FamilyA, values)};
                   });
    web.setPublic("GetServerInfo.cgi");  // clients ask it before they know the device
}

void StreamingServer::setRequestObserver(RequestObserver observer) {
    std::lock_guard lock(logLock_);
    observer_ = std::move(observer);
}

std::vector<RecordedRequest> StreamingServer::rtspRequests() const {
    std::lock_guard lock(logLock_);
    return requests_;
}

void StreamingServer::clearRtspRequests() {
    std::lock_guard lock(logLock_);
    requests_.clear();
}

bool StreamingServer::waitForRtspRequests(std::size_t n, int timeoutMs) const {
    std::unique_lock lock(logLock_);
    return waitUntil(lock, changed_, Clock::now() + std::chrono::milliseconds(timeoutMs),
                     [&] { return requests_.size() >= n; });
}

bool StreamingServer::waitUntilIdle(int timeoutMs) const {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        std::unique_lock lock(logLock_);
        if (!waitUntil(lock, changed_, until, [&] { return sessions_.load() == 0; })) return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    return server_.waitUntilIdle(static_cast<int>(std::max<long long>(0, left.count())));
}

void StreamingServer::setAuth(const RtspAuthConfig &auth) {
    auth_.configure(auth);
}

RtspStatistics StreamingServer::statistics() const {
    RtspStatistics s;
    s.auth = auth_.statistics();
    s.serverRequestsSent = serverRequestsSent_.load();
    s.serverRequestAnswers = serverRequestAnswers_.load();
    s.serverRequestWrongAnswers = serverRequestWrongAnswers_.load();
    s.sessionsTimedOut = sessionsTimedOut_.load();
    s.rtcpValid = rtcpValid_.load();
    s.rtcpInvalid = rtcpInvalid_.load();
    std::lock_guard lock(logLock_);
    s.lastRtcpProblem = lastRtcpProblem_;
    return s;
}

void StreamingServer::closeUdpSessionConnections(bool keepMedia) {
    keepMediaAfterClose_ = keepMedia;
    ++closeOrders_;
}

std::vector<RtspHooks::Mounted> StreamingServer::mounts() const {
    std::lock_guard lock(channelLock_);
    std::vector<Mounted> all;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const ChannelConfig &c = channels_[i];
        const int number = static_cast<int>(i + 1);
        // Without a Content-Base the request URL, query and all, is what controls join.
        const bool queryInBase = c.faults.queryInBase || c.faults.noContentBase;
        if (c.namedMount)
            all.push_back({{number, "/" + channelName(number), "", true, queryInBase}, c});
        for (const std::string &path : c.paths) {
            const std::size_t q = path.find('?');
            Mount m{number, path.substr(0, q), q == std::string::npos ? "" : path.substr(q + 1),
                    false, queryInBase};
            all.push_back({std::move(m), c});
        }
    }
    return all;
}

std::optional<std::vector<std::string>> StreamingServer::authenticate(const RecordedRequest &r) {
    return auth_.check(r);
}

void StreamingServer::serverRequestAnswered(bool rightCSeq) {
    ++(rightCSeq ? serverRequestAnswers_ : serverRequestWrongAnswers_);
}

void StreamingServer::requestReceived(const RecordedRequest &request) {
    RequestObserver observer;
    {
        std::lock_guard lock(logLock_);
        requests_.push_back(request);
        observer = observer_;
    }
    changed_.notify_all();
    if (observer) observer(request);
}

void StreamingServer::sessionsChanged(int delta) {
    {
        std::lock_guard lock(logLock_);
        sessions_ += static_cast<std::size_t>(delta);
    }
    changed_.notify_all();
}

void StreamingServer::rtcpReceived(std::string_view compound) {
    ++rtcpPackets_;
    const RtcpCheck check = checkRtcpCompound(compound);
    if (check.valid) {
        ++rtcpValid_;
        return;
    }
    ++rtcpInvalid_;
    std::lock_guard lock(logLock_);
    lastRtcpProblem_ = check.problem;
}

}  // namespace camsim
