#include "tools/cli/live_session.h"

#include <chrono>
#include <cstdio>
#include <utility>

#include "tools/cli/status.h"

namespace ipcam_cli {

namespace {
constexpr int kSessionId = 1;
constexpr std::size_t kLongestText = 127;  // host, account, password

// The library's words for a person go in the output with the statistics, not to a log.
void printLibraryMessage(const char *text, const char *caption) {
    std::printf("%s: %s\n", caption ? caption : "ipcam", text ? text : "");
    std::fflush(stdout);
}
}  // namespace

uint64_t steadyTime() {
    using Units = std::chrono::duration<uint64_t, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Units>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int BlockQueue::callback(void *context, int, void *frame, int) {
    auto *self = static_cast<BlockQueue *>(context);
    const auto *f = static_cast<const EncodedFrame *>(frame);
    if (self->keep_ && f->totalSize >= IPCAM_FRAME_HEAD_SIZE) {
        Block block{f->kind,
                    std::string(reinterpret_cast<const char *>(IPCAM_FRAME_PAYLOAD(frame)),
                                IPCAM_FRAME_PAYLOAD_SIZE(frame)),
                    f->time, steadyTime()};
        std::lock_guard guard(self->lock_);
        self->blocks_.push_back(std::move(block));
    }
    IPCamFreeFrame(frame);
    return 0;
}

std::deque<Block> BlockQueue::take() {
    std::lock_guard guard(lock_);
    return std::exchange(blocks_, {});
}

std::string creationFailure(const Options &o, int created) {
    std::string line = "cannot create a session: " + statusName(created);
    if (!o.onvif.empty())
        return created == IPCAM_PORT_IS_ER
                   ? line + " - the device address's port is not 1-65535"
                   : line + " - not an http://host[:port]/path device address, or too long";
    if (!o.url.empty()) {
        if (created == IPCAM_PORT_IS_ER) return line + " - the URL's port is not 1-65535";
        if (created == IPCAM_IS_NULL)
            return line +
                   " - not an rtsp://[user[:password]@]host[:port]/path URL, or too long "
                   "(URL 1023, user and password 127 characters each; no blanks)";
        return line;
    }
    if (created != IPCAM_IS_NULL) return line;
    // The library takes no text it would have to cut: say which one.
    if (o.host.size() > kLongestText || o.user.size() > kLongestText ||
        o.password.size() > kLongestText)
        return line + " - host, user and password may have at most 127 characters each";
    if (o.user.size() + 1 + o.password.size() > IPCAM_CREDENTIALS_MAX)
        return line + " - user and password together may have at most " +
               std::to_string(IPCAM_CREDENTIALS_MAX - 1) + " characters";
    return line;
}

std::string Session::start(const Options &o, BlockQueue &queue) {
    const char *user = o.userGiven ? o.user.c_str() : nullptr;
    const char *password = o.passwordGiven ? o.password.c_str() : nullptr;
    int created = 0;
    if (!o.onvif.empty())
        created = IPCamCreateOnvif(&session_, o.onvif.c_str(), user, password, o.profile, kSessionId);
    else if (!o.url.empty())
        created = IPCamCreateUrl(&session_, o.url.c_str(), user, password, kSessionId);
    else
        created = IPCamCreate(&session_, o.host.c_str(), o.port, o.user.c_str(),
                              o.password.c_str(), kSessionId, o.type);
    if (created != IPCAM_OK || !session_) return creationFailure(o, created);
    IPCamSetMessageHandler(&printLibraryMessage);
    IPCamSetStreamNum(session_, o.stream, o.stream);
    if (o.udp) IPCamSetTransport(session_, 1, 0);
    if (o.clearPassword) IPCamSetOption(session_, IPCAM_OPTION_CLEAR_PASSWORD, 1);
    if (int r = IPCamAction(session_, &BlockQueue::callback, &queue, IPCAM_ACTION_VIDEO); r < 0)
        return "cannot start the video thread: " + statusName(r);
    if (o.audio) {
        if (int r = IPCamAction(session_, &BlockQueue::callback, &queue, IPCAM_ACTION_AUDIO); r < 0)
            return "cannot start the audio thread: " + statusName(r);
    }
    return {};
}

bool ConnectionWatch::poll() {
    const int status = IPCamGetStatus(session_);
    const int last = IPCamGetLastError(session_);
    const int reach = IPCamGetItem(session_, IPCAM_ITEM_REACH);
    const bool up = status >= 0;
    if (status != shownStatus_ || (!up && (last != shownLast_ || reach != shownReach_))) {
        std::string line = (everConnected_ || up) ? "connection: " : "connecting: ";
        if (!up)
            line += statusName(status);
        else if (status == IPCAM_OK)
            line += "IPCAM_OK (connected)";
        else
            line += "connected, channel flagged (status " + std::to_string(status) + ")";
        if (!up && last != status && last < 0) {
            line += " (last error " + statusName(last);
            if (*statusHint(last)) line += std::string(": ") + statusHint(last);
            line += ")";
        }
        if (!up && *reachHint(reach)) line += std::string(": ") + reachHint(reach);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        shownStatus_ = status;
        shownLast_ = last;
        shownReach_ = reach;
    }
    everConnected_ = everConnected_ || up;
    connected_ = up;
    if (!everConnected_ && (statusIsFinal(status) || statusIsFinal(last))) {
        const int why = statusIsFinal(last) ? last : status;
        std::fprintf(stderr, "ipcam: cannot connect to %s: %s%s%s\n", addressText(options_).c_str(),
                     statusName(why).c_str(), *statusHint(why) ? " - " : "", statusHint(why));
        return false;
    }
    return true;
}

void ConnectionWatch::reportNeverConnected(double seconds, bool interrupted) const {
    const int last = IPCamGetLastError(session_);
    const char *reach = reachHint(IPCamGetItem(session_, IPCAM_ITEM_REACH));
    std::string why = std::string(": ") + reach;
    if (!*reach) {
        why = " (last status " + statusName(last);
        if (*statusHint(last)) why += std::string(": ") + statusHint(last);
        why += ")";
    }
    std::fprintf(stderr, "ipcam: no connection to %s after %.1f s%s%s\n",
                 addressText(options_).c_str(), seconds, interrupted ? ", interrupted" : "",
                 why.c_str());
}

}  // namespace ipcam_cli
