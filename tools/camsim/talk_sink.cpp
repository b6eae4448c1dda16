#include "tools/camsim/talk_sink.h"

#include <algorithm>
#include <chrono>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/stream_common.h"

namespace camsim {

void TalkSink::attach(CgiServer &server) {
    server.setStream("Chatting.cgi",
                     [self = shared_from_this()](Connection &c, const RecordedRequest &r) {
                         self->serve(c, r);
                     });
}

std::vector<TalkRecord> TalkSink::records() const {
    std::lock_guard lock(lock_);
    return records_;
}

std::string TalkSink::received() const {
    std::lock_guard lock(lock_);
    std::string all;
    for (const TalkRecord &r : records_) all += r.received;
    return all;
}

std::size_t TalkSink::bytes() const {
    std::lock_guard lock(lock_);
    std::size_t n = 0;
    for (const TalkRecord &r : records_) n += r.bytes;
    return n;
}

template <typename Pred>
bool TalkSink::waitFor(int timeoutMs, Pred pred) const {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(); });
}

bool TalkSink::waitForBytes(std::size_t n, int timeoutMs) const {
    return waitFor(timeoutMs, [&] {
        std::size_t got = 0;
        for (const TalkRecord &r : records_) got += r.bytes;
        return got >= n;
    });
}

bool TalkSink::waitForConnections(std::size_t n, int timeoutMs) const {
    return waitFor(timeoutMs, [&] { return records_.size() >= n; });
}

bool TalkSink::waitUntilEnded(int timeoutMs) const {
    return waitFor(timeoutMs, [&] {
        return std::all_of(records_.begin(), records_.end(),
                           [](const TalkRecord &r) { return r.ended; });
    });
}

void TalkSink::clear() {
    std::lock_guard lock(lock_);
    cleared_ += records_.size();
    records_.clear();
}

std::size_t TalkSink::open(const std::string &head) {
    std::size_t id;
    {
        std::lock_guard lock(lock_);
        records_.push_back({head, {}, 0, false});
        id = cleared_ + records_.size() - 1;
    }
    changed_.notify_all();
    return id;
}

void TalkSink::append(std::size_t id, const std::string &bytes) {
    {
        std::lock_guard lock(lock_);
        if (id < cleared_ || id - cleared_ >= records_.size()) return;
        TalkRecord &r = records_[id - cleared_];
        const std::size_t room = kTalkKeptBytes - std::min(kTalkKeptBytes, r.received.size());
        r.received.append(bytes, 0, std::min(room, bytes.size()));
        r.bytes += bytes.size();
    }
    changed_.notify_all();
}

void TalkSink::end(std::size_t id) {
    {
        std::lock_guard lock(lock_);
        if (id >= cleared_ && id - cleared_ < records_.size()) records_[id - cleared_].ended = true;
    }
    changed_.notify_all();
}

void TalkSink::serve(Connection &connection, const RecordedRequest &request) {
    ActiveStream active(active_);
    const std::size_t id = open(request.raw);
    if (config_.status == 200) {
        Outgoing head;
        head.headers = {{"Content-Type", "text/html"}, {"Cache-Control", "no-cache"}};
        if (connection.send(formatHead(head, defaultStatusLine(200), false, false))) {
            // Bytes that came with the head are handed out by the first read.
            for (;;) {
                std::string chunk;
                const Connection::Read read = connection.readAvailable(chunk, kWaitSliceMs);
                if (!chunk.empty()) append(id, chunk);
                if (read != Connection::Read::Done) break;
            }
        }
    } else if (config_.status != 0) {
        connection.send(refusalReply(config_.status));
    }
    connection.close();
    end(id);
}

}  // namespace camsim
