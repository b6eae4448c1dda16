#include "tools/cli/container_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "tools/cli/decode.h"

namespace ipcam_cli {

namespace {

constexpr AVRational kStampUnit = {1, 90000};
constexpr uint64_t kTimeUnitsPerSecond = 10'000'000;  // frame times count 100 ns
constexpr int64_t kDefaultDuration = 3000;            // 1/30 s, before any rate is known
// A fragment per key frame, and at most this long where key frames are rare, so that a kill
// loses little and a fragment is not held in memory for long.
constexpr const char *kFragmentFlags = "frag_keyframe+empty_moov+default_base_moof";
constexpr const char *kLongestFragment = "10000000";  // microseconds

// MP4 sample entries that take the parameter sets from each key frame rather than from the
// first one alone.
unsigned inBandTag(AVCodecID id) {
    if (id == AV_CODEC_ID_H264) return MKTAG('a', 'v', 'c', '3');
    if (id == AV_CODEC_ID_HEVC) return MKTAG('h', 'e', 'v', '1');
    return 0;
}

// Now as ISO 8601 UTC, the form both containers take as their creation time.
std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The codec configuration a key frame carries: its parameter sets (H.264, H.265) or the headers
// before its first picture (MPEG-4), as libavcodec's extract_extradata filter finds them.
std::string configurationOf(AVCodecID id, const Picture &key) {
    const AVBitStreamFilter *filter = av_bsf_get_by_name("extract_extradata");
    AVBSFContext *bsf = nullptr;
    if (!filter || av_bsf_alloc(filter, &bsf) < 0) return {};
    bsf->par_in->codec_type = AVMEDIA_TYPE_VIDEO;
    bsf->par_in->codec_id = id;
    std::string configuration;
    AVPacket *packet = av_packet_alloc();
    if (packet && av_bsf_init(bsf) >= 0 && av_new_packet(packet, static_cast<int>(key.size)) >= 0) {
        std::copy(key.data, key.data + key.size, packet->data);
        if (av_bsf_send_packet(bsf, packet) >= 0 && av_bsf_receive_packet(bsf, packet) >= 0) {
            std::size_t size = 0;
            const uint8_t *data =
                av_packet_get_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, &size);
            if (data) configuration.assign(reinterpret_cast<const char *>(data), size);
        }
    }
    av_packet_free(&packet);
    av_bsf_free(&bsf);
    return configuration;
}

}  // namespace

ContainerWriter::ContainerWriter(std::string path) : path_(std::move(path)) {}

ContainerWriter::~ContainerWriter() {
    if (context_) avio_closep(&context_->pb);
    avformat_free_context(context_);
    av_packet_free(&pending_);
}

bool ContainerWriter::fail(const std::string &what, int code) {
    error_ = code < 0 ? what + ": " + avError(code) : what;
    return false;
}

bool ContainerWriter::open() {
    const char *format = containerFormat(path_);
    if (!format) return fail(path_ + " is neither a .mkv nor a .mp4 file", 0);
    if (int r = avformat_alloc_output_context2(&context_, nullptr, format, path_.c_str()); r < 0)
        return fail("cannot set up " + path_, r);
    // Whether the file can be written is found out now, so that the user hears of it before the
    // stream runs; a file already there is kept as it is until the first key frame replaces it.
    std::error_code e;
    const bool existed = std::filesystem::exists(path_, e);
    {
        std::ofstream probe(path_, std::ios::binary | std::ios::app);
        if (!probe) return fail("cannot create " + path_ + ": " + std::strerror(errno), 0);
    }
    if (!existed) std::filesystem::remove(path_, e);
    pending_ = av_packet_alloc();
    if (!pending_) return fail("out of memory", 0);
    return true;
}

void ContainerWriter::noteFormat(const StreamFormatBlock &format) {
    if (started_) return;  // the file's header is written: later changes travel in-band
    width_ = format.width;
    height_ = format.height;
    frameRate_ = format.frameRate;
}

bool ContainerWriter::start(const Picture &key) {
    const AVCodecID id = avCodecId(key.codec);
    if (width_ <= 0 || height_ <= 0) {
        // No format came before the picture: the picture itself says its size.
        VideoDecoder decoder(key.codec);
        if (decoder.decode(key.data, key.size) > 0) {
            width_ = decoder.width();
            height_ = decoder.height();
        }
        if (width_ <= 0 || height_ <= 0)
            return fail("the size of the first key frame's picture is not known", 0);
    }
    const std::string configuration =
        id == AV_CODEC_ID_MJPEG ? std::string() : configurationOf(id, key);
    if (configuration.empty() && (id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC))
        return fail("the first key frame carries no parameter sets", 0);

    if (int r = avio_open(&context_->pb, path_.c_str(), AVIO_FLAG_WRITE); r < 0)
        return fail("cannot create " + path_, r);
    stream_ = avformat_new_stream(context_, nullptr);
    if (!stream_) return fail("out of memory", 0);
    AVCodecParameters *p = stream_->codecpar;
    p->codec_type = AVMEDIA_TYPE_VIDEO;
    p->codec_id = id;
    p->width = width_;
    p->height = height_;
    if (!configuration.empty()) {
        p->extradata = static_cast<uint8_t *>(
            av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!p->extradata) return fail("out of memory", 0);
        std::copy(configuration.begin(), configuration.end(), p->extradata);
        p->extradata_size = static_cast<int>(configuration.size());
    }
    stream_->time_base = kStampUnit;
    if (frameRate_ > 0) stream_->avg_frame_rate = av_d2q(frameRate_, 100000);
    av_dict_set(&context_->metadata, "creation_time", utcNow().c_str(), 0);
    AVDictionary *options = nullptr;
    if (std::strcmp(context_->oformat->name, "mp4") == 0) {
        p->codec_tag = inBandTag(id);
        av_dict_set(&options, "movflags", kFragmentFlags, 0);
        av_dict_set(&options, "frag_duration", kLongestFragment, 0);
    }
    const int r = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (r < 0) return fail("cannot write " + path_, r);
    codec_ = key.codec;
    started_ = true;
    return true;
}

int64_t ContainerWriter::stamp(const Picture &picture) {
    const uint64_t time = picture.time;
    if (lastStamp_ < 0) {
        baseTime_ = time;
        baseStamp_ = 0;
    } else if (stepped_ || time < baseTime_) {
        // A restarted stream, or time that went back: the frame clock cannot say how long the
        // stream was away, the tool's clock can. At least one picture after the last.
        const uint64_t away = picture.arrival > lastArrival_ && lastArrival_ > 0
                                  ? picture.arrival - lastArrival_
                                  : 0;
        baseTime_ = time;
        baseStamp_ =
            lastStamp_ + std::max(static_cast<int64_t>(away * kStampUnit.den / kTimeUnitsPerSecond),
                                  lastDuration_ > 0 ? lastDuration_ : kDefaultDuration);
    }
    stepped_ = false;
    lastArrival_ = picture.arrival;
    const auto since = static_cast<int64_t>((time - baseTime_) * kStampUnit.den / kTimeUnitsPerSecond);
    // Pictures that arrived together still follow each other.
    return std::max(baseStamp_ + since, lastStamp_ + 1);
}

bool ContainerWriter::writePending(int64_t duration) {
    pending_->duration = duration;
    lastDuration_ = duration;
    av_packet_rescale_ts(pending_, kStampUnit, stream_->time_base);
    // A coarser unit of the file's (Matroska counts milliseconds) must not make two pictures
    // share a time.
    if (pending_->dts <= lastWritten_) pending_->pts = pending_->dts = lastWritten_ + 1;
    lastWritten_ = pending_->dts;
    const bool key = pending_->flags & AV_PKT_FLAG_KEY;
    const int r = av_interleaved_write_frame(context_, pending_);  // takes the packet's data
    av_packet_unref(pending_);
    if (r < 0) return fail("cannot write " + path_, r);
    // A key frame ended the fragment before it: on disk now, whatever becomes of the tool.
    if (key) avio_flush(context_->pb);
    return true;
}

bool ContainerWriter::add(const Picture &picture) {
    if (!context_) return fail("the file is not open", 0);
    if (picture.size == 0 || picture.kind < IPCAM_FRAME_KEY ||
        picture.kind > IPCAM_FRAME_DROPPABLE || avCodecId(picture.codec) == AV_CODEC_ID_NONE ||
        (!started_ && picture.kind != IPCAM_FRAME_KEY) ||
        (started_ && picture.codec != codec_)) {
        ++skipped_;
        return true;
    }
    if (!started_ && !start(picture)) return false;
    const int64_t at = stamp(picture);
    if (pending_->size > 0 && !writePending(at - lastStamp_)) return false;
    if (int r = av_new_packet(pending_, static_cast<int>(picture.size)); r < 0)
        return fail("out of memory", r);
    std::copy(picture.data, picture.data + picture.size, pending_->data);
    pending_->pts = pending_->dts = at;
    pending_->stream_index = stream_->index;
    if (picture.kind == IPCAM_FRAME_KEY) pending_->flags |= AV_PKT_FLAG_KEY;
    lastStamp_ = at;
    ++written_;
    return true;
}

bool ContainerWriter::close() {
    if (!context_) return error_.empty();
    bool ok = true;
    if (started_) {
        if (pending_->size > 0) {
            const int64_t nominal = lastDuration_ > 0 ? lastDuration_
                                    : frameRate_ > 0
                                        ? static_cast<int64_t>(kStampUnit.den / frameRate_)
                                        : kDefaultDuration;
            ok = writePending(nominal);
        }
        if (int r = av_write_trailer(context_); r < 0 && ok) ok = fail("cannot write " + path_, r);
    }
    if (int r = avio_closep(&context_->pb); r < 0 && ok) ok = fail("cannot write " + path_, r);
    avformat_free_context(context_);
    context_ = nullptr;
    return ok;
}

}  // namespace ipcam_cli
