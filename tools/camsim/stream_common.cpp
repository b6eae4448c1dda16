#include "tools/camsim/stream_common.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

#include "tools/camsim/http_message.h"
#include "tools/camsim/media_source.h"
#include "tools/camsim/mpeg4_encoder.h"

namespace camsim {

PictureLoop::PictureLoop(const ChannelConfig &c)
    : config_(c), count_(static_cast<std::size_t>(kLoopSeconds * std::max(1, c.fps))) {
    if (c.codec == ChannelConfig::Codec::Jpeg) {
        jpeg_.tables = tablesForQ(c.jpegQ < 128 ? c.jpegQ : c.jpegTablesQ);
        jpeg_.restartInterval = c.restartInterval;
        jpegHead_ = jpegHeaders(c.width, c.height, chroma(), jpeg_);
    } else {
        mpeg4_ = std::make_unique<Mpeg4Encoder>(c.width, c.height, c.fps);
    }
}

PictureLoop::~PictureLoop() = default;

const StreamPicture *PictureLoop::at(uint64_t n) {
    const std::size_t index = static_cast<std::size_t>(n % count_);
    std::lock_guard lock(lock_);
    while (pictures_.size() <= index) {
        auto picture = encode(pictures_.size());
        if (!picture) return nullptr;
        pictures_.push_back(std::move(*picture));
    }
    if (pictures_.size() == count_) mpeg4_.reset();
    return &pictures_[index];
}

std::optional<StreamPicture> PictureLoop::encode(uint64_t n) {
    if (config_.codec == ChannelConfig::Codec::Jpeg) {
        std::string scan = encodeJpegScan(
            drawTestPattern(config_.width, config_.height, chroma(), n, true), jpeg_);
        std::string file = jpegHead_ + scan;
        if (config_.jpegEndMarker) file += "\xFF\xD9";
        return StreamPicture{std::move(file), true};
    }
    if (!mpeg4_ || !mpeg4_->ok()) return std::nullopt;
    auto frame = mpeg4_->encode(drawTestPattern(config_.width, config_.height, Chroma::Yuv420, n));
    if (!frame) return std::nullopt;
    return StreamPicture{std::move(frame->data), frame->key};
}

std::shared_ptr<PictureLoop> pictureLoop(const ChannelConfig &c) {
    using Key = std::tuple<ChannelConfig::Codec, int, int, int, int, int, int, bool, int>;
    const bool jpeg = c.codec == ChannelConfig::Codec::Jpeg;
    const Key key{c.codec,
                  c.width,
                  c.height,
                  c.fps,
                  jpeg ? c.jpegType : 0,
                  jpeg ? c.jpegQ : 0,
                  jpeg ? c.restartInterval : 0,
                  jpeg && c.jpegEndMarker,
                  jpeg && c.jpegQ >= 128 ? c.jpegTablesQ : 0};
    static std::mutex lock;
    static std::map<Key, std::shared_ptr<PictureLoop>> loops;  // lock
    std::lock_guard guard(lock);
    auto &loop = loops[key];
    if (!loop) loop = std::make_shared<PictureLoop>(c);
    return loop;
}

bool waitUntil(Connection &connection, StreamClock::time_point t, std::string *received) {
    for (;;) {
        std::string sink;
        if (connection.readAvailable(received ? *received : sink, 0) != Connection::Read::Done)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - StreamClock::now());
        if (left.count() <= 0) return true;
        if (!connection.pause(static_cast<int>(std::min<int64_t>(left.count(), kWaitSliceMs))))
            return false;
    }
}

std::string refusalReply(int status) {
    HeaderList extra;
    if (status == 401) extra.emplace_back("WWW-Authenticate", "Basic realm=\"camsim\"");
    Outgoing reply = htmlReply(status, defaultStatusLine(status).substr(9), std::move(extra));
    return formatHead(reply, defaultStatusLine(status), true, true) + reply.body;
}

}  // namespace camsim
