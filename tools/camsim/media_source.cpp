#include "tools/camsim/media_source.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <tuple>

#include "tools/camsim/audio_encoder.h"
#include "tools/camsim/jpeg_encoder.h"
#include "tools/camsim/mpeg4_encoder.h"
#include "tools/camsim/nal_encoder.h"
#include "tools/camsim/nal_packetizer.h"
#include "tools/camsim/rtp_packetizer.h"

namespace camsim {

namespace {

using Codec = ChannelConfig::Codec;

// Grain for a stream with a bit rate: the bare pattern predicts too well to fill one.
constexpr int kGrain = 6;

bool isJpeg(const ChannelConfig &c) {
    return c.codec == Codec::Jpeg;
}

Chroma jpegChroma(const ChannelConfig &c) {
    return c.jpegType == 0 ? Chroma::Yuv422 : Chroma::Yuv420;
}

// The quality (1..99) whose first picture comes closest to the channel's bit rate from above;
// 1 when even that is larger.
int qualityForBitrate(const ChannelConfig &c, JpegParams params) {
    const std::size_t target = static_cast<std::size_t>(c.bitrateKbps) * 1000 / 8 / c.fps;
    const Picture picture = drawTestPattern(c.width, c.height, jpegChroma(c), 0, true);
    int low = 1, high = 99;
    while (low < high) {
        const int q = (low + high + 1) / 2;
        params.tables = tablesForQ(q);
        if (encodeJpegScan(picture, params).size() <= target)
            low = q;
        else
            high = q - 1;
    }
    return low;
}

class JpegFrameEncoder : public FrameEncoder {
  public:
    explicit JpegFrameEncoder(const ChannelConfig &c) : config_(c), q_(c.jpegQ) {
        params_.restartInterval = c.restartInterval;
        int quality = c.jpegQ < 128 ? c.jpegQ : c.jpegTablesQ;
        if (c.bitrateKbps > 0) {
            quality = qualityForBitrate(c, params_);
            if (q_ < 128) q_ = quality;
        }
        params_.tables = tablesForQ(quality);
    }

    std::optional<MediaUnit> encode(uint64_t n) override {
        Picture picture =
            drawTestPattern(config_.width, config_.height, jpegChroma(config_), n, true);
        addGrain(picture, n, config_.grain ? kGrain : 0);
        std::string scan = encodeJpegScan(picture, params_);
        if (config_.jpegEndMarker) scan += "\xFF\xD9";
        JpegFrame frame{
            config_.jpegType, q_,  config_.width, config_.height, config_.restartInterval,
            params_.tables,   scan};
        return MediaUnit{packetizeJpeg(frame, static_cast<std::size_t>(config_.packetBytes)), true};
    }

  private:
    ChannelConfig config_;
    int q_;  // in the RTP/JPEG header
    JpegParams params_;
};

class Mpeg4FrameEncoder : public FrameEncoder {
  public:
    explicit Mpeg4FrameEncoder(const ChannelConfig &c)
        : width_(c.width),
          height_(c.height),
          configInBand_(c.configInBand),
          grain_(c.bitrateKbps > 0 || c.grain ? kGrain : 0),
          packetBytes_(static_cast<std::size_t>(c.packetBytes)),
          encoder_(c.width, c.height, c.fps, c.bitrateKbps) {}

    std::optional<MediaUnit> encode(uint64_t n) override {
        Picture picture = drawTestPattern(width_, height_, Chroma::Yuv420, n);
        addGrain(picture, n, grain_);
        auto frame = encoder_.encode(picture);
        if (!frame) return std::nullopt;
        if (frame->key && config_.empty()) config_ = camsim::decoderConfig(frame->data);
        // Cameras that give the configuration only in the description start key frames at
        // the group of VOPs.
        if (frame->key && !configInBand_)
            frame->data.erase(0, std::min(frame->data.size(), findStartCode(frame->data, 0xB3)));
        return MediaUnit{packetizeMpeg4(frame->data, packetBytes_), frame->key};
    }

    std::string decoderConfig() const override { return config_; }

  private:
    int width_, height_;
    bool configInBand_;
    int grain_;
    std::size_t packetBytes_;
    Mpeg4Encoder encoder_;
    std::string config_;
};

class NalFrameEncoder : public FrameEncoder {
  public:
    explicit NalFrameEncoder(const ChannelConfig &c)
        : codec_(c.codec == Codec::H264 ? NalCodec::H264 : NalCodec::H265),
          width_(c.width),
          height_(c.height),
          configInBand_(c.configInBand),
          singleUnits_(c.faults.singleNalUnits),
          grain_(c.bitrateKbps > 0 || c.grain ? kGrain : 0),
          packetBytes_(static_cast<std::size_t>(c.packetBytes)),
          // In single NAL unit mode x264 keeps its slices to what one packet holds.
          encoder_({codec_, c.width, c.height, c.fps, c.bitrateKbps,
                    singleUnits_ ? kMaxSingleNalPayload : 0, c.intraRefresh}) {}

    std::optional<MediaUnit> encode(uint64_t n) override {
        Picture picture = drawTestPattern(width_, height_, Chroma::Yuv420, n);
        addGrain(picture, n, grain_);
        auto frame = encoder_.encode(picture);
        if (!frame) return std::nullopt;
        auto parameterSet = [this](const std::string &u) { return isParameterSet(codec_, u); };
        if (frame->key && parameterSets_.empty())
            std::copy_if(frame->units.begin(), frame->units.end(),
                         std::back_inserter(parameterSets_), parameterSet);
        if (!configInBand_) std::erase_if(frame->units, parameterSet);
        NalPayloads packed =
            packetizeNal(codec_, frame->units, singleUnits_ ? kMaxSingleNalPayload : packetBytes_,
                         singleUnits_);
        return MediaUnit{std::move(packed.payloads), frame->key, packed.middleFragment};
    }

    std::vector<std::string> parameterSets() const override { return parameterSets_; }

  private:
    NalCodec codec_;
    int width_, height_;
    bool configInBand_, singleUnits_;
    int grain_;
    std::size_t packetBytes_;
    NalEncoder encoder_;
    std::vector<std::string> parameterSets_;
};

std::vector<MediaUnit> audioLoop() {
    const int n = (kLoopSeconds * kAudioSampleRate + kAudioFrameSamples - 1) / kAudioFrameSamples;
    std::vector<MediaUnit> units;
    for (const std::string &frame : encodeToneFrames(n))
        units.push_back({packetizeMpegAudio(frame), true});
    return units;
}

}  // namespace

std::unique_ptr<FrameEncoder> makeFrameEncoder(const ChannelConfig &config) {
    if (isJpeg(config)) return std::make_unique<JpegFrameEncoder>(config);
    if (isNalCodec(config.codec)) return std::make_unique<NalFrameEncoder>(config);
    return std::make_unique<Mpeg4FrameEncoder>(config);
}

MediaLoop::MediaLoop(const ChannelConfig &config)
    : frameCount_(static_cast<std::size_t>(kLoopSeconds * config.fps)),
      encoder_(makeFrameEncoder(config)) {
    if (config.audio && (audio_ = audioLoop()).empty()) return;
    if (isJpeg(config)) {
        ok_ = true;
        return;
    }
    // The description carries the decoder configuration, so the first frame is made now.
    if (!video(0)) return;
    if (isNalCodec(config.codec)) {
        parameterSets_ = encoder_->parameterSets();
        ok_ = parameterSets_.size() >= (config.codec == Codec::H264 ? 2u : 3u);
        return;
    }
    decoderConfig_ = encoder_->decoderConfig();
    if (decoderConfig_.size() < 5) return;
    profileLevel_ = static_cast<uint8_t>(decoderConfig_[4]);
    ok_ = true;
}

const MediaUnit *MediaLoop::video(uint64_t n) {
    const std::size_t index = static_cast<std::size_t>(n % frameCount_);
    std::lock_guard lock(lock_);
    while (video_.size() <= index && encoder_) {
        auto unit = encoder_->encode(video_.size());
        if (!unit) return nullptr;
        video_.push_back(std::move(*unit));
    }
    if (video_.size() == frameCount_) encoder_.reset();
    return index < video_.size() ? &video_[index] : nullptr;
}

std::shared_ptr<MediaLoop> mediaLoop(const ChannelConfig &c) {
    using Key = std::tuple<Codec, int, int, int, bool, int, int, int, bool, int, int, bool, bool,
                           bool, bool, int>;
    const bool jpeg = isJpeg(c);
    const Key key{c.codec,
                  c.width,
                  c.height,
                  c.fps,
                  c.audio,
                  jpeg ? c.jpegType : 0,
                  jpeg ? c.jpegQ : 0,
                  jpeg ? c.restartInterval : 0,
                  jpeg && c.jpegEndMarker,
                  jpeg && c.jpegQ >= 128 ? c.jpegTablesQ : 0,
                  c.bitrateKbps,
                  jpeg || c.configInBand,
                  isNalCodec(c.codec) && c.faults.singleNalUnits,
                  c.intraRefresh,
                  c.grain,
                  c.packetBytes};
    static std::mutex lock;
    static std::map<Key, std::shared_ptr<MediaLoop>> loops;  // lock
    std::lock_guard guard(lock);
    auto &loop = loops[key];
    if (!loop) {
        auto made = std::make_shared<MediaLoop>(c);
        if (!made->ok()) return nullptr;
        loop = std::move(made);
    }
    return loop;
}

namespace {

class LoopSource : public VideoSource {
  public:
    LoopSource(std::shared_ptr<MediaLoop> loop, int start)
        : loop_(std::move(loop)), start_(start) {}
    const MediaUnit *frame(uint64_t n) override { return loop_->video(start_ + n); }

  private:
    std::shared_ptr<MediaLoop> loop_;
    uint64_t start_;
};

class LiveSource : public VideoSource {
  public:
    explicit LiveSource(const ChannelConfig &c)
        : encoder_(makeFrameEncoder(c)), start_(static_cast<uint64_t>(c.startFrame)) {}
    const MediaUnit *frame(uint64_t n) override {
        // The encoder must see every picture, those before the session's too.
        for (; skipped_ < start_; ++skipped_)
            if (!encoder_->encode(skipped_)) return nullptr;
        auto unit = encoder_->encode(start_ + n);
        if (!unit) return nullptr;
        current_ = std::move(*unit);
        return &current_;
    }

  private:
    std::unique_ptr<FrameEncoder> encoder_;
    uint64_t start_, skipped_ = 0;
    MediaUnit current_;
};

// The resizeAfterFrames fault: the first frames from one source, the rest from the start (a
// key frame) of another of the smaller size.
class ResizingSource : public VideoSource {
  public:
    ResizingSource(std::unique_ptr<VideoSource> first, std::unique_ptr<VideoSource> then,
                   uint64_t after)
        : first_(std::move(first)), then_(std::move(then)), after_(after) {}
    const MediaUnit *frame(uint64_t n) override {
        return n < after_ ? first_->frame(n) : then_->frame(n - after_);
    }

  private:
    std::unique_ptr<VideoSource> first_, then_;
    uint64_t after_;
};

std::unique_ptr<VideoSource> plainSource(const ChannelConfig &config,
                                         std::shared_ptr<MediaLoop> loop) {
    if (config.live) return std::make_unique<LiveSource>(config);
    return std::make_unique<LoopSource>(std::move(loop), config.startFrame);
}

}  // namespace

std::unique_ptr<VideoSource> makeVideoSource(const ChannelConfig &config,
                                             std::shared_ptr<MediaLoop> loop) {
    auto source = plainSource(config, std::move(loop));
    if (config.faults.resizeAfterFrames <= 0) return source;
    const ChannelConfig resized = resizedConfig(config);
    auto resizedLoop = mediaLoop(resized);
    if (!resizedLoop) return source;  // no encoder for the second size: the first size goes on
    return std::make_unique<ResizingSource>(
        std::move(source), plainSource(resized, std::move(resizedLoop)),
        static_cast<uint64_t>(config.faults.resizeAfterFrames));
}

}  // namespace camsim
