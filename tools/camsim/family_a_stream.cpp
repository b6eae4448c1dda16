#include "tools/camsim/family_a_stream.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <string_view>
#include <utility>

#include "tools/camsim/audio_encoder.h"
#include "tools/camsim/cgi_server.h"
#include "tools/camsim/hunt_stream.h"
#include "tools/camsim/media_source.h"
#include "tools/camsim/stream_common.h"
#include "tools/camsim/stream_faults.h"

namespace camsim {

namespace {

using Clock = StreamClock;
using std::chrono::microseconds;

constexpr std::size_t kLoginBlockSize = 64;
constexpr std::size_t kLoginTextSize = 56;
constexpr int kAudioChannelMode = 1;  // mono
constexpr int kAudioBits = 16;
constexpr int64_t kAudioFrameUs = int64_t{kAudioFrameSamples} * 1000000 / kAudioSampleRate;

const std::vector<std::string> &toneLoop() {
    static const std::vector<std::string> frames = encodeToneFrames(
        (kLoopSeconds * kAudioSampleRate + kAudioFrameSamples - 1) / kAudioFrameSamples);
    return frames;
}

// The camera's local clock, in milliseconds since 1970, at the start of a stream.
int64_t clockBase(const FamilyAStreamConfig &c) {
    if (c.startSeconds != 0) return int64_t{c.startSeconds} * 1000;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count() +
           int64_t{c.timeZoneMinutes} * 60000;
}

struct DeviceTime {
    uint32_t seconds;
    int milliseconds;
};

// When things are due on one connection, and what the camera's clock says then. A stall
// moves everything after it, the clock included.
class Schedule {
  public:
    Schedule(const FamilyAStreamConfig &c, int64_t periodUs)
        : start_(Clock::now()), base_(clockBase(c)), periodUs_(periodUs) {}

    Clock::time_point due(uint64_t n) const { return start_ + microseconds(offsetUs(n)); }
    DeviceTime time(uint64_t n) const {
        const int64_t ms = base_ + offsetUs(n) / 1000;
        return {static_cast<uint32_t>(ms / 1000), static_cast<int>(ms % 1000)};
    }
    void shift(int ms) { shiftUs_ += int64_t{ms} * 1000; }

  private:
    int64_t offsetUs(uint64_t n) const { return static_cast<int64_t>(n) * periodUs_ + shiftUs_; }

    Clock::time_point start_;
    int64_t base_;
    int64_t periodUs_;
    int64_t shiftUs_ = 0;
};

Framing other(Framing f) {
    return f == Framing::Hunt ? Framing::Tagged : Framing::Hunt;
}

HuntCodec huntCodec(const ChannelConfig &c) {
    return c.codec == ChannelConfig::Codec::Jpeg ? HuntCodec::Jpeg : HuntCodec::Mpeg4;
}

TaggedInfo infoFor(const FamilyAStreamConfig &c, const ChannelConfig &video) {
    TaggedInfo info;
    info.timeZoneMinutes = c.timeZoneMinutes;
    info.streamSlots = c.streamSlots;
    info.talkSlots = c.talkSlots;
    info.codec = huntCodec(video);
    info.width = video.width;
    info.height = video.height;
    info.frameRate = video.fps;
    info.widthNegative = c.widthNegative;
    info.heightNegative = c.heightNegative;
    info.audioCodecCode = c.audioCodecCode;
    info.audioChannelMode = kAudioChannelMode;
    info.audioBits = kAudioBits;
    info.sampleRateIndex = sampleRateIndex(kAudioSampleRate);
    return info;
}

// Writes one connection's video: the framing in use, the state the cues set, the checksum.
class VideoWriter {
  public:
    VideoWriter(const FamilyAStreamConfig &config, const ChannelConfig &channel, bool checksums,
                Framing framing)
        : config_(config), channel_(channel), checksums_(checksums), framing_(framing) {}

    // What a stream in this framing starts with.
    std::string start(DeviceTime t) const {
        return framing_ == Framing::Tagged && config_.infoPacket ? info(t) : std::string();
    }

    // Applies a cue other than a stall; the bytes it puts before the picture.
    std::string cue(const StreamCue &cue, DeviceTime t) {
        using What = StreamCue::What;
        const bool tagged = framing_ == Framing::Tagged;
        switch (cue.what) {
            case What::Event:
                event_ = cue.a;
                return tagged ? packet(TaggedType::Event, t, taggedEventPayload(cue.a)) : "";
            case What::Inputs: {
                std::string out;
                for (int k = 0; tagged && k < 16; ++k)
                    if (((inputs_ ^ cue.a) >> k) & 1)
                        out += packet(TaggedType::InputChange, t,
                                      taggedInputPayload(k, (cue.a >> k) & 1));
                inputs_ = cue.a;
                return out;
            }
            case What::Overlay:
                overlay_ = cue.b != 0;
                overlayMode_ = cue.a;
                return "";
            case What::TalkUse:
                talkInUse_ = cue.b;
                return tagged ? packet(TaggedType::TalkUse, t, taggedTalkUsePayload(cue.a, cue.b))
                              : "";
            case What::ChannelFlag:
                return tagged ? packet(TaggedType::ChannelFlag, t,
                                       taggedChannelFlagPayload(static_cast<uint16_t>(cue.a)))
                              : "";
            case What::Info:
                return tagged ? info(t) : "";
            case What::Ignored:
                return tagged ? packet(TaggedType::Ignored, t,
                                       std::string(static_cast<std::size_t>(std::max(0, cue.a)),
                                                   '\x5A'))
                              : "";
            case What::Trailer:
                trailer_ = true;
                return "";
            case What::EmptyFrame:
                return tagged ? taggedHead(static_cast<uint8_t>(TaggedType::Key), t.seconds,
                                           t.milliseconds, 0, extra())
                              : huntFrameHead(header(PictureType::Key, t, 0));
            case What::BadChecksum:
                badChecksum_ = true;
                return "";
            case What::Garbage:
                return FaultPlan::garbage();
            case What::SwitchFraming:
                framing_ = other(framing_);
                return start(t);
            case What::Stall:
                return "";
        }
        return "";
    }

    // The head of a picture (sent before its bytes) and what follows them.
    std::pair<std::string, std::string> picture(const StreamPicture &p, bool droppable,
                                                DeviceTime t) {
        std::string tail;
        if (trailer_) {
            tail = std::string(kTrailerMark) + trailerBlock();
            trailer_ = false;
        }
        const uint32_t length = static_cast<uint32_t>(p.data.size() + tail.size());
        const bool jpeg = channel_.codec == ChannelConfig::Codec::Jpeg;
        if (framing_ == Framing::Tagged) {
            TaggedType type = jpeg        ? TaggedType::Jpeg
                              : p.key     ? TaggedType::Key
                              : droppable ? TaggedType::Droppable
                                          : TaggedType::Dependent;
            return {
                taggedHead(static_cast<uint8_t>(type), t.seconds, t.milliseconds, length, extra()),
                std::move(tail)};
        }
        PictureType type = jpeg || p.key ? PictureType::Key
                           : droppable   ? PictureType::Droppable
                                         : PictureType::Dependent;
        HuntVideoHeader h = header(type, t, length);
        if (jpeg || p.key) {
            h.checksum = checksums_ ? huntChecksum(p.data) : 0;
            if (badChecksum_) h.checksum = static_cast<uint8_t>(huntChecksum(p.data) ^ 0x5A);
            badChecksum_ = false;
        }
        return {huntFrameHead(h), std::move(tail)};
    }

  private:
    std::size_t extra() const {
        return static_cast<std::size_t>(std::max(0, config_.extraHeaderBytes));
    }

    std::string packet(TaggedType type, DeviceTime t, std::string_view payload) const {
        return taggedPacket(type, t.seconds, t.milliseconds, payload, extra());
    }

    std::string info(DeviceTime t) const {
        return packet(TaggedType::Info, t, taggedInfoPayload(infoFor(config_, channel_)));
    }

    HuntVideoHeader header(PictureType type, DeviceTime t, uint32_t length) const {
        HuntVideoHeader h;
        h.width = channel_.width;
        h.height = channel_.height;
        h.widthNegative = config_.widthNegative;
        h.heightNegative = config_.heightNegative;
        h.overlay = overlay_;
        h.overlayMode = overlayMode_;
        h.pictureType = type;
        h.seconds = t.seconds;
        h.milliseconds = t.milliseconds;
        h.timeZoneMinutes = config_.timeZoneMinutes;
        h.codec = huntCodec(channel_);
        h.frameRate = channel_.fps;
        h.length = length;
        h.eventCode = event_;
        h.inputBits = inputs_;
        h.talkSlots = config_.talkSlots;
        h.talkInUse = talkInUse_;
        return h;
    }

    // What the camera's tools keep there is of no interest to a viewer; bytes that cannot
    // form a start code do.
    static std::string trailerBlock() {
        std::string block(kTrailerBlockSize, '\0');
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(0x80 | (i & 0x7F));
        return block;
    }

    const FamilyAStreamConfig &config_;
    const ChannelConfig &channel_;
    const bool checksums_;
    Framing framing_;
    int event_ = 0, inputs_ = 0, talkInUse_ = 0, overlayMode_ = 0;
    bool overlay_ = false, trailer_ = false, badChecksum_ = false;
};

// "Video=2&EnableBackupDevice=1&ALiveInterval=5": the first of Video or Audio with its number.
struct StreamQuery {
    bool audio = false;
    std::optional<int> channel;
};

StreamQuery parseStreamQuery(std::string_view query) {
    StreamQuery q;
    while (!query.empty()) {
        std::string_view item = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), item.size() + 1));
        std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = item.substr(0, eq), value = item.substr(eq + 1);
        if (key != "Video" && key != "Audio") continue;
        int n = -1;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
        q.audio = key == "Audio";
        if (error == std::errc() && end == value.data() + value.size() && n >= 0) q.channel = n;
        return q;
    }
    return q;
}

std::vector<ChannelConfig> channelsFor(const FamilyAStreamConfig &c, int videoChannels) {
    if (!c.channels.empty()) return c.channels;
    return std::vector<ChannelConfig>(static_cast<std::size_t>(std::max(1, videoChannels)));
}

}  // namespace

// Kept in the GetStream.cgi route: when the server drops its routes (it is going away), the
// streamer stops asking it about credentials.
class FamilyAStreamer::Link {
  public:
    explicit Link(std::weak_ptr<FamilyAStreamer> streamer) : streamer_(std::move(streamer)) {}
    ~Link() {
        if (auto s = streamer_.lock()) s->detachServer();
    }
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

  private:
    std::weak_ptr<FamilyAStreamer> streamer_;
};

FamilyAStreamer::FamilyAStreamer(FamilyAStreamConfig config, Device device)
    : config_(std::move(config)),
      device_(device),
      channels_(channelsFor(config_, device.videoChannels)),
      framing_(config_.framing),
      cues_(config_.cues),
      videoServer_([this](Connection &c) { serveVideoPort(c); }),
      audioServer_([this](Connection &c) { serveAudioPort(c); }) {}

FamilyAStreamer::~FamilyAStreamer() {
    stop();
}

bool FamilyAStreamer::attach(CgiServer &server) {
    {
        std::lock_guard lock(lock_);
        server_ = &server;
    }
    auto link = std::make_shared<Link>(weak_from_this());
    server.setStream("GetStream.cgi",
                     [self = shared_from_this(), link](Connection &c, const RecordedRequest &r) {
                         (void)link;  // its end tells the streamer the server is gone
                         self->serveHttp(c, r);
                     });
    bool ok = true;
    if (config_.videoListenPort >= 0)
        ok = videoServer_.start(static_cast<uint16_t>(config_.videoListenPort)) && ok;
    if (config_.audioListenPort >= 0)
        ok = audioServer_.start(static_cast<uint16_t>(config_.audioListenPort)) && ok;
    return ok;
}

void FamilyAStreamer::detachServer() {
    std::lock_guard lock(lock_);
    server_ = nullptr;
}

void FamilyAStreamer::stop() {
    videoServer_.stop();
    audioServer_.stop();
}

std::size_t FamilyAStreamer::videoChannels() const {
    return channels_.size();
}

void FamilyAStreamer::setFraming(Framing framing) {
    std::lock_guard lock(lock_);
    framing_ = framing;
}

void FamilyAStreamer::setCues(std::vector<StreamCue> cues) {
    std::lock_guard lock(lock_);
    cues_ = std::move(cues);
}

FamilyAStreamer::Settings FamilyAStreamer::settings() const {
    std::lock_guard lock(lock_);
    return {framing_, cues_};
}

std::vector<StreamRecord> FamilyAStreamer::records() const {
    std::lock_guard lock(lock_);
    return records_;
}

void FamilyAStreamer::clearRecords() {
    std::lock_guard lock(lock_);
    cleared_ += records_.size();
    records_.clear();
}

bool FamilyAStreamer::waitForRecords(std::size_t n, int timeoutMs) const {
    std::unique_lock lock(lock_);
    return recorded_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return records_.size() >= n; });
}

std::size_t FamilyAStreamer::record(StreamRecord r) {
    std::size_t id;
    {
        std::lock_guard lock(lock_);
        records_.push_back(std::move(r));
        id = cleared_ + records_.size() - 1;
    }
    recorded_.notify_all();
    return id;
}

void FamilyAStreamer::update(std::size_t id, bool accepted, std::size_t frames) {
    std::lock_guard lock(lock_);
    if (id < cleared_ || id - cleared_ >= records_.size()) return;
    StreamRecord &r = records_[id - cleared_];
    r.accepted = r.accepted || accepted;
    r.frames += frames;
}

bool FamilyAStreamer::loginAccepted(const std::string &block) const {
    if (block.size() != kLoginBlockSize) return false;
    std::string_view text(block.data(), kLoginTextSize);
    text = text.substr(0, text.find('\0'));
    std::lock_guard lock(lock_);
    return server_ != nullptr && server_->acceptsBasic(text);
}

void FamilyAStreamer::serveHttp(Connection &connection, const RecordedRequest &request) {
    ActiveStream active(active_);
    const StreamQuery query = parseStreamQuery(request.query);
    const auto kind = query.audio ? StreamRecord::Kind::HttpAudio : StreamRecord::Kind::HttpVideo;
    const std::size_t id = record({kind, query.channel.value_or(-1), request.raw});
    if (!config_.httpStream) {
        connection.send(refusalReply(404));
        return;
    }
    if (config_.refuseStatus != 0) {
        connection.send(refusalReply(config_.refuseStatus));
        return;
    }
    const std::size_t limit = query.audio
                                  ? static_cast<std::size_t>(std::max(0, device_.audioChannels))
                                  : channels_.size();
    if (!query.channel || static_cast<std::size_t>(*query.channel) >= limit) {
        connection.send(refusalReply(404));
        return;
    }
    Outgoing head;
    head.headers = {{"Content-Type", "application/octet-stream"}, {"Cache-Control", "no-cache"}};
    if (!connection.send(formatHead(head, defaultStatusLine(200), false, true))) return;
    update(id, true, 0);
    if (config_.fullHouse) return connection.holdUntilClosed();
    if (query.audio)
        streamAudio(connection, id);
    else
        streamVideo(connection, static_cast<std::size_t>(*query.channel), id);
}

void FamilyAStreamer::serveVideoPort(Connection &connection) {
    ActiveStream active(active_);
    std::string block;
    Connection::Read read = connection.readExactly(block, kLoginBlockSize);
    if (read != Connection::Read::Done) {
        // What came before the client gave up is all there is to record.
        connection.readAvailable(block, 0);
    }
    const std::size_t id = record({StreamRecord::Kind::PortVideo, 0, block});
    if (read != Connection::Read::Done || !loginAccepted(block)) return;
    update(id, true, 0);
    if (config_.fullHouse) return connection.holdUntilClosed();
    streamVideo(connection, 0, id);
}

void FamilyAStreamer::serveAudioPort(Connection &connection) {
    ActiveStream active(active_);
    const std::size_t id = record({StreamRecord::Kind::PortAudio, 0, {}});
    if (device_.audioChannels <= 0) return;
    update(id, true, 0);
    if (config_.fullHouse) return connection.holdUntilClosed();
    streamAudio(connection, id);
}

void FamilyAStreamer::streamVideo(Connection &connection, std::size_t channel, std::size_t id) {
    const ChannelConfig &c = channels_[channel];
    const std::shared_ptr<PictureLoop> loop = pictureLoop(c);
    const Settings settings = this->settings();
    Schedule schedule(config_, 1000000 / std::max(1, c.fps));
    VideoWriter writer(config_, c, device_.firmware >= 1.06 - 1e-9, settings.framing);
    if (!connection.send(writer.start(schedule.time(0)))) return;
    for (uint64_t n = 0;; ++n) {
        if (!waitUntil(connection, schedule.due(n))) return;
        std::string before;
        for (const StreamCue &cue : settings.cues) {
            if (cue.frame < 0 || static_cast<uint64_t>(cue.frame) != n) continue;
            if (cue.what != StreamCue::What::Stall) {
                before += writer.cue(cue, schedule.time(n));
                continue;
            }
            if (!connection.send(before)) return;
            before.clear();
            if (cue.a <= 0) return connection.holdUntilClosed();
            if (!connection.pause(cue.a)) return;
            schedule.shift(cue.a);
        }
        const StreamPicture *picture = loop->at(n);
        const StreamPicture *next = loop->at(n + 1);
        if (!picture || !next) return;
        auto [head, tail] = writer.picture(*picture, next->key, schedule.time(n));
        if (!connection.send(before + head) || !connection.send(picture->data) ||
            !connection.send(tail))
            return;
        update(id, false, 1);
    }
}

void FamilyAStreamer::streamAudio(Connection &connection, std::size_t id) {
    const std::vector<std::string> &tone = toneLoop();
    if (tone.empty()) return;
    const Framing framing = settings().framing;
    Schedule schedule(config_, kAudioFrameUs);
    if (framing == Framing::Tagged && config_.infoPacket) {
        DeviceTime t = schedule.time(0);
        const std::size_t extra = static_cast<std::size_t>(std::max(0, config_.extraHeaderBytes));
        if (!connection.send(taggedPacket(TaggedType::Info, t.seconds, t.milliseconds,
                                          taggedInfoPayload(infoFor(config_, channels_[0])),
                                          extra)))
            return;
    }
    for (uint64_t n = 0;; ++n) {
        if (!waitUntil(connection, schedule.due(n))) return;
        const std::string &frame = tone[n % tone.size()];
        const DeviceTime t = schedule.time(n);
        std::string head;
        if (framing == Framing::Tagged) {
            head = taggedHead(static_cast<uint8_t>(TaggedType::Audio), t.seconds, t.milliseconds,
                              static_cast<uint32_t>(frame.size()),
                              static_cast<std::size_t>(std::max(0, config_.extraHeaderBytes)));
        } else {
            HtadHeader h;
            h.seconds = t.seconds;
            h.milliseconds = t.milliseconds;
            h.codecCode = config_.audioCodecCode;
            h.channelMode = kAudioChannelMode;
            h.bitsPerSample = kAudioBits;
            h.sampleRate = kAudioSampleRate;
            h.length = static_cast<uint32_t>(frame.size());
            head = htadFrameHead(h);
        }
        if (!connection.send(head) || !connection.send(frame)) return;
        update(id, false, 1);
    }
}

}  // namespace camsim
