#include "tools/camsim/family_b_stream.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/channel_config.h"
#include "tools/camsim/settings_store.h"
#include "tools/camsim/stream_common.h"
#include "tools/camsim/stream_faults.h"

namespace camsim {

namespace {

constexpr std::size_t kKeptAfterHead = 4096;
constexpr std::size_t kDefaultSplit = 41;
constexpr std::size_t kCommentMax = 65535;  // the largest segment length a JPEG marker holds

// The JPEG settings of pictures of width x height: 4:2:2, whose 16x8 MCUs allow 120 lines.
ChannelConfig jpegChannel(int width, int height, int fps, int quality) {
    ChannelConfig c;
    c.codec = ChannelConfig::Codec::Jpeg;
    c.width = std::max(16, width / 16 * 16);
    c.height = std::max(8, height / 8 * 8);
    c.fps = std::clamp(fps, 1, 60);
    c.jpegType = 0;
    c.jpegQ = std::clamp(quality, 1, 99);
    return c;
}

// picture with comment segments after its SOI, at least size bytes in all. The filler holds
// no FF, so no marker can be found inside it.
std::string padded(const std::string &picture, std::size_t size) {
    std::string pad;
    while (picture.size() + pad.size() < size) {
        const std::size_t missing = size - picture.size() - pad.size();
        // A segment is FF FE, a 16-bit length counting itself, then length - 2 bytes.
        const std::size_t length =
            std::clamp<std::size_t>(missing - std::min<std::size_t>(missing, 2), 2, kCommentMax);
        pad += "\xFF\xFE";
        pad += static_cast<char>(length >> 8);
        pad += static_cast<char>(length & 0xFF);
        for (std::size_t i = 0; i + 2 < length; ++i) pad += static_cast<char>('a' + i % 26);
    }
    return picture.substr(0, 2) + pad + picture.substr(2);
}

// The value of key in "A=1&B=2", or nothing.
std::optional<std::string_view> queryValue(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        std::string_view item = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), item.size() + 1));
        const std::size_t eq = item.find('=');
        if (eq != std::string_view::npos && item.substr(0, eq) == key) return item.substr(eq + 1);
    }
    return std::nullopt;
}

// 20 ms of the tone; 160 samples are 20 whole periods, so chunks follow each other seamlessly.
const std::string &pcmChunk() {
    static const std::string chunk = [] {
        constexpr int samples = kPcmSampleRate * kPcmChunkMs / 1000;
        static_assert(samples * kPcmToneHz % kPcmSampleRate == 0);
        std::string bytes;
        for (int n = 0; n < samples; ++n) {
            const double phase = 2 * std::numbers::pi * kPcmToneHz * n / kPcmSampleRate;
            const auto s = static_cast<int16_t>(std::lround(kPcmAmplitude * std::sin(phase)));
            const auto u = static_cast<uint16_t>(s);
            bytes += static_cast<char>(u & 0xFF);
            bytes += static_cast<char>(u >> 8);
        }
        return bytes;
    }();
    return chunk;
}

// When the n-th unit of a connection is due; a stall moves everything after it.
class Pacer {
  public:
    explicit Pacer(int64_t periodUs) : start_(StreamClock::now()), periodUs_(periodUs) {}
    StreamClock::time_point due(uint64_t n) const {
        return start_ + std::chrono::microseconds(static_cast<int64_t>(n) * periodUs_ + shiftUs_);
    }
    void shift(int ms) { shiftUs_ += int64_t{ms} * 1000; }

  private:
    StreamClock::time_point start_;
    int64_t periodUs_;
    int64_t shiftUs_ = 0;
};

}  // namespace

uint8_t familyBSizeCode(int width, int height) {
    for (std::size_t i = 0; i < std::size(kFamilyBPictureSizes); ++i)
        if (kFamilyBPictureSizes[i].width == width && kFamilyBPictureSizes[i].height == height)
            return static_cast<uint8_t>(i);
    return kUnknownSizeCode;
}

FamilyBStreamer::FamilyBStreamer(FamilyBStreamConfig config)
    : config_(std::move(config)), cues_(config_.cues) {}

void FamilyBStreamer::attach(CgiServer &server, std::shared_ptr<const SettingsStore> store) {
    store_ = std::move(store);
    auto self = shared_from_this();
    server.setStream("GetData.cgi",
                     [self](Connection &c, const RecordedRequest &r) { self->serveData(c, r); });
    for (const char *path : {"GetAudioData.cgi", "GetAudioData.cgi="})
        server.setStream(
            path, [self](Connection &c, const RecordedRequest &r) { self->serveAudio(c, r); });
}

void FamilyBStreamer::setCues(std::vector<DataCue> cues) {
    std::lock_guard lock(lock_);
    cues_ = std::move(cues);
}

std::vector<DataRecord> FamilyBStreamer::records() const {
    std::lock_guard lock(lock_);
    return records_;
}

void FamilyBStreamer::clearRecords() {
    std::lock_guard lock(lock_);
    cleared_ += records_.size();
    records_.clear();
}

bool FamilyBStreamer::waitForRecords(std::size_t n, int timeoutMs) const {
    std::unique_lock lock(lock_);
    return recorded_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return records_.size() >= n; });
}

bool FamilyBStreamer::waitForSent(std::size_t i, std::size_t n, int timeoutMs) const {
    std::unique_lock lock(lock_);
    return recorded_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return i < records_.size() && records_[i].sent >= n; });
}

std::size_t FamilyBStreamer::record(DataRecord r) {
    std::size_t id;
    {
        std::lock_guard lock(lock_);
        records_.push_back(std::move(r));
        id = cleared_ + records_.size() - 1;
    }
    recorded_.notify_all();
    return id;
}

void FamilyBStreamer::update(std::size_t id, std::size_t sent, const std::string &afterHead) {
    {
        std::lock_guard lock(lock_);
        if (id < cleared_ || id - cleared_ >= records_.size()) return;
        DataRecord &r = records_[id - cleared_];
        r.sent += sent;
        const std::size_t room = kKeptAfterHead - std::min(kKeptAfterHead, r.afterHead.size());
        r.afterHead.append(afterHead, 0, std::min(room, afterHead.size()));
    }
    recorded_.notify_all();
}

void FamilyBStreamer::serveData(Connection &connection, const RecordedRequest &request) {
    ActiveStream active(active_);
    const int status = !config_.dataStream         ? 404
                       : config_.refuseStatus != 0 ? config_.refuseStatus
                                                   : 200;
    std::vector<DataCue> cues;
    {
        std::lock_guard lock(lock_);
        cues = cues_;
    }
    const std::size_t id = record({DataRecord::Kind::Video, request.raw, {}, status, 0});
    if (status != 200) {
        std::string reply = refusalReply(status);
        if (config_.cutRefusal) reply.resize(reply.find("\r\n\r\n") + 2);
        connection.send(reply);
        return;
    }
    if (!connection.send(kDataReplyHead)) return;
    streamData(connection, id, std::move(cues));
}

// The state one GetData.cgi connection's cues set.
class FamilyBStreamer::Pictures {
  public:
    explicit Pictures(const FamilyBStreamConfig &config)
        : config_(config), status_(config.statusBytes), sizeCode_(config.sizeCode) {
        resize(config.width, config.height);
    }

    int fps() const { return channel_.fps; }

    // Applies cue before picture n; what it sends goes to before.
    void apply(const DataCue &cue, std::string &before) {
        switch (cue.what) {
            case DataCue::What::Status:
                status_ = cue.bytes;
                changing_ = false;
                break;
            case DataCue::What::Changing:
                changing_ = true;
                break;
            case DataCue::What::Resize:
                resize(cue.a, cue.b);
                break;
            case DataCue::What::SizeCode:
                sizeCode_ = cue.a;
                break;
            case DataCue::What::Split:
                split_ = cue.b > 0 && static_cast<std::size_t>(cue.b) < kDataStatusBlockSize
                             ? static_cast<std::size_t>(cue.b)
                             : kDefaultSplit;
                splitMs_ = std::max(0, cue.a);
                break;
            case DataCue::What::Garbage:
                before += FaultPlan::garbage();
                break;
            case DataCue::What::Oversize:
                padTo_ = static_cast<std::size_t>(std::max(0, cue.a));
                break;
            case DataCue::What::Stall:
                break;  // the stream loop pauses
        }
    }

    // Picture n and what follows it: the marker word and the status block, the latter in two
    // pieces when a split is due (second empty otherwise). Nothing when encoding failed.
    std::optional<std::array<std::string, 3>> picture(uint64_t n, const std::string &block) {
        const StreamPicture *p = loop_->at(n);
        if (!p) return std::nullopt;
        std::string status = block;
        status.resize(kDataStatusBlockSize, '0');
        status[kSizeCodeIndex] = static_cast<char>(
            sizeCode_ >= 0 ? sizeCode_ : familyBSizeCode(channel_.width, channel_.height));
        for (std::size_t i = 0; i < status_.size(); ++i)
            status[kStatusBytesIndex + i] =
                static_cast<char>(changing_ ? static_cast<uint8_t>(n + i) : status_[i]);
        std::array<std::string, 3> out{
            padTo_ ? padded(p->data, padTo_) : p->data, std::string(kDataMarkerWord), {}};
        if (split_) {
            out[1] += status.substr(0, split_);
            out[2] = status.substr(split_);
        } else {
            out[1] += status;
        }
        padTo_ = 0;
        return out;
    }

    // The pause between the pieces of a split block; then no more splits until a cue.
    int takeSplitPause() {
        split_ = 0;
        return splitMs_;
    }

  private:
    void resize(int width, int height) {
        channel_ = jpegChannel(width, height, config_.fps, config_.quality);
        loop_ = pictureLoop(channel_);
    }

    const FamilyBStreamConfig &config_;
    ChannelConfig channel_;
    std::shared_ptr<PictureLoop> loop_;
    StatusBytes status_;
    int sizeCode_;
    bool changing_ = false;
    std::size_t split_ = 0, padTo_ = 0;
    int splitMs_ = 0;
};

void FamilyBStreamer::streamData(Connection &connection, std::size_t id,
                                 std::vector<DataCue> cues) {
    Pictures pictures(config_);
    Pacer pacer(1000000 / pictures.fps());
    for (uint64_t n = 0;; ++n) {
        std::string received;
        const bool on = waitUntil(connection, pacer.due(n), &received);
        if (!received.empty()) update(id, 0, received);
        if (!on) return;
        std::string before;
        for (const DataCue &cue : cues) {
            if (cue.picture < 0 || static_cast<uint64_t>(cue.picture) != n) continue;
            if (cue.what != DataCue::What::Stall) {
                pictures.apply(cue, before);
                continue;
            }
            if (!connection.send(before)) return;
            before.clear();
            if (cue.a <= 0) return connection.holdUntilClosed();
            if (!connection.pause(cue.a)) return;
            pacer.shift(cue.a);
        }
        const std::string block =
            store_ ? store_->get("GetStatus.cgi", "status_block") : std::string();
        auto parts = pictures.picture(n, block);
        if (!parts) return;
        auto &[picture, marked, rest] = *parts;
        if (!connection.send(before) || !connection.send(picture) || !connection.send(marked))
            return;
        if (!rest.empty() &&
            (!connection.pause(pictures.takeSplitPause()) || !connection.send(rest)))
            return;
        update(id, 1, {});
    }
}

void FamilyBStreamer::serveAudio(Connection &connection, const RecordedRequest &request) {
    ActiveStream active(active_);
    const auto format = queryValue(request.query, "Format");
    const bool pcm = format && format->size() == 3 && strncasecmp(format->data(), "pcm", 3) == 0;
    const int status = config_.audioStream && pcm ? 200 : 404;
    const std::size_t id = record({DataRecord::Kind::Audio, request.raw, {}, status, 0});
    if (status != 200) {
        connection.send(refusalReply(status));
        return;
    }
    if (!connection.send(kDataReplyHead)) return;
    streamAudio(connection, id);
}

void FamilyBStreamer::streamAudio(Connection &connection, std::size_t id) {
    const std::string &chunk = pcmChunk();
    Pacer pacer(int64_t{kPcmChunkMs} * 1000);
    for (uint64_t n = 0;; ++n) {
        std::string received;
        const bool on = waitUntil(connection, pacer.due(n), &received);
        if (!received.empty()) update(id, 0, received);
        if (!on || !connection.send(chunk)) return;
        update(id, chunk.size(), {});
    }
}

}  // namespace camsim
