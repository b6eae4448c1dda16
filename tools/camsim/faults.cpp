#include "tools/camsim/faults.h"

#include <string_view>

namespace camsim {

AfterReply deliver(Connection &connection, const Outgoing &reply, const ReplyBehaviour &behaviour) {
    if (behaviour.delayMs > 0 && !connection.pause(behaviour.delayMs)) return AfterReply::Close;
    if (behaviour.never) return AfterReply::HoldUntilClosed;

    const std::string statusLine =
        behaviour.statusLine.empty() ? defaultStatusLine(reply.status) : behaviour.statusLine;
    if (behaviour.headerOnlyThenSilence) {
        std::string head = formatHead(reply, statusLine, true, !behaviour.keepOpen);
        return connection.send(head) ? AfterReply::HoldUntilClosed : AfterReply::Close;
    }

    std::string bytes =
        formatHead(reply, statusLine, behaviour.contentLength, !behaviour.keepOpen) + reply.body;
    std::string_view rest = bytes;
    if (behaviour.splitAt > 0 && behaviour.splitAt < bytes.size()) {
        if (!connection.send(rest.substr(0, behaviour.splitAt))) return AfterReply::Close;
        rest.remove_prefix(behaviour.splitAt);
        if (!connection.pause(behaviour.pauseMs)) return AfterReply::Close;
    }
    for (; behaviour.dripMs > 0 && !rest.empty(); rest.remove_prefix(1))
        if (!connection.send(rest.substr(0, 1)) || !connection.pause(behaviour.dripMs))
            return AfterReply::Close;
    if (!connection.send(rest)) return AfterReply::Close;
    return behaviour.keepOpen ? AfterReply::NextRequest : AfterReply::Close;
}

void Faults::set(const std::string &key, ReplyBehaviour behaviour) {
    std::lock_guard lock(lock_);
    behaviours_[key] = std::move(behaviour);
}

ReplyBehaviour Faults::behaviourFor(const std::string &key) const {
    std::lock_guard lock(lock_);
    auto it = behaviours_.find(key);
    return it == behaviours_.end() ? ReplyBehaviour{} : it->second;
}

}  // namespace camsim
