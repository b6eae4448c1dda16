#include "viewer/wall_tile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <utility>

#include "viewer/pipeline_state.h"
#include "viewer/video_decoder.h"
#include "viewer/video_thread.h"

namespace kestrel {

namespace {

// Session ids of their own, apart from the single view's 0: the library leaves a session
// alone when asked to make one with an id it already has.
std::atomic<int> nextSessionId{1 << 20};

uint64_t nowMs() { return WallTile::arrivalClock() / 10'000; }

bool isVideo(int32_t kind) {
    return kind == IPCAM_FRAME_KEY || kind == IPCAM_FRAME_DEPENDENT ||
           kind == IPCAM_FRAME_DROPPABLE;
}

}  // namespace

uint64_t WallTile::arrivalClock() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count() /
                                 100);
}

WallTile::WallTile(const SiteRecord &site, int stream) : site_(site), stream_(stream) {}

bool WallTile::start() {
    if (session_) return true;
    startedMs_ = nowMs();
    // The tile's own stream is the site's with that stream number: an ONVIF site takes its
    // profile when the session is made, other sites their stream when it connects.
    SiteRecord viewed = site_;
    if (stream_ >= 0) viewed.streamNumber = static_cast<uint8_t>(stream_);
    createResult_ = createSiteSession(viewed, nextSessionId++, &session_);
    if (createResult_ != IPCAM_OK || !session_) {
        session_ = nullptr;
        return false;
    }
    {
        std::lock_guard hold(inboxLock_);
        stopping_ = false;
        waitingForKey_ = true;
    }
    thread_ = std::thread([this] { decodeLoop(); });
    IPCamSetStreamNum(session_, viewed.streamNumber, 0);
    IPCamAction(session_, &WallTile::onFrame, this, IPCAM_ACTION_VIDEO);
    return true;
}

void WallTile::stop() {
    // The session goes first: once IPCamDelete has returned, the callback is never entered
    // again, so nothing arrives after the thread has gone.
    if (session_) IPCamDelete(session_);
    session_ = nullptr;
    {
        std::lock_guard hold(inboxLock_);
        stopping_ = true;
    }
    inboxChanged_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard hold(inboxLock_);
    for (EncodedFrame *f : inbox_) IPCamFreeFrame(f);
    inbox_.clear();
}

int WallTile::onFrame(void *context, int, void *frame, int) {
    auto *self = static_cast<WallTile *>(context);
    auto *f = static_cast<EncodedFrame *>(frame);
    if (!f) return 0;
    const bool format = f->kind == IPCAM_MSG_FORMAT, video = isVideo(f->kind);
    {
        std::lock_guard hold(self->inboxLock_);
        bool keep = !self->stopping_ && (format || video);
        if (keep && format) self->waitingForKey_ = true;  // a new stream starts at a key frame
        if (keep && video && self->inbox_.size() >= kInboxLimit) {
            // Seconds behind: what waits is dropped, and the stream starts again at a key frame.
            std::erase_if(self->inbox_, [self](EncodedFrame *queued) {
                if (!isVideo(queued->kind)) return false;
                IPCamFreeFrame(queued);
                ++self->skipped_;
                return true;
            });
            self->waitingForKey_ = true;
        }
        if (keep && video && self->waitingForKey_) {
            keep = f->kind == IPCAM_FRAME_KEY;
            if (keep) self->waitingForKey_ = false;
            else ++self->skipped_;
        }
        if (keep) {
            // The wall goes by arrival, not by the stream's own times: a picture's delay on the
            // wall counts from the moment its frame came.
            f->time = arrivalClock();
            self->inbox_.push_back(f);
        } else {
            IPCamFreeFrame(f);
        }
    }
    self->inboxChanged_.notify_one();
    return 0;
}

std::size_t leaveOutUnseen(std::deque<EncodedFrame *> &frames) {
    const auto waiting = static_cast<std::size_t>(
        std::count_if(frames.begin(), frames.end(), [](EncodedFrame *f) { return isVideo(f->kind); }));
    if (waiting <= WallTile::kBehind) return 0;
    // Behind: start at the newest key frame, and leave out what nothing refers to.
    const auto newestKey = std::find_if(frames.rbegin(), frames.rend(), [](EncodedFrame *f) {
                               return f->kind == IPCAM_FRAME_KEY;
                           });
    const std::size_t keyAt =
        newestKey == frames.rend() ? 0 : static_cast<std::size_t>(frames.rend() - newestKey) - 1;
    std::size_t left = 0;
    std::deque<EncodedFrame *> kept;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EncodedFrame *f = frames[i];
        if ((i < keyAt && isVideo(f->kind)) || f->kind == IPCAM_FRAME_DROPPABLE) {
            IPCamFreeFrame(f);
            ++left;
            continue;
        }
        kept.push_back(f);
    }
    frames.swap(kept);
    return left;
}

void WallTile::decodeLoop() {
    VideoDecoder decoder;
    bool open = false;
    StreamFormatBlock format{};
    Picture spare;
    for (;;) {
        std::deque<EncodedFrame *> batch;
        {
            std::unique_lock hold(inboxLock_);
            inboxChanged_.wait(hold, [this] { return stopping_ || !inbox_.empty(); });
            if (stopping_) return;
            batch.swap(inbox_);
        }
        skipped_ += leaveOutUnseen(batch);
        bool picture = false;
        uint64_t arrival = 0;
        for (EncodedFrame *f : batch) {
            const uint8_t *payload = IPCAM_FRAME_PAYLOAD(f);
            const std::size_t length = IPCAM_FRAME_PAYLOAD_SIZE(f);
            if (f->kind == IPCAM_MSG_FORMAT) {
                if (length >= sizeof format) std::memcpy(&format, payload, sizeof format);
                // A format the viewer cannot decode, or a decoder that will not open, leaves
                // the tile without pictures until the next format.
                open = false;
                if (const Decodable *d = decodable(format.videoCodec)) {
                    try {
                        decoder.reopen(d->codec);
                        open = true;
                    } catch (const std::exception &) {
                    }
                }
            } else if (open && format.width <= kLargestPictureWidth &&
                       format.height <= kLargestPictureHeight) {
                // A payload the decoder cannot take yet is offered again: it first hands
                // out what it holds.
                for (int tries = 0; tries < VideoThread::kDecodeTries; ++tries) {
                    const VideoDecoder::Result r = decoder.decode(payload, length);
                    if (r.picture) {
                        ++decoded_;
                        picture = true;
                        arrival = f->time;
                    }
                    if (r.consumed) break;
                }
            }
            IPCamFreeFrame(f);
        }
        if (!picture) continue;
        // Only the newest picture of the pass is converted: nobody would see the others.
        int width = std::max<int>(format.width, 1), height = std::max<int>(format.height, 1);
        spare.bgr.resize(static_cast<std::size_t>(width) * height * 3);
        if (!decoder.convert(spare.bgr.data(), width, height, PixelFormat::Bgr24)) {
            // The stream said a smaller size than its pictures have.
            width = kLargestPictureWidth, height = kLargestPictureHeight;
            spare.bgr.resize(static_cast<std::size_t>(width) * height * 3);
            if (!decoder.convert(spare.bgr.data(), width, height, PixelFormat::Bgr24)) continue;
        }
        {
            std::lock_guard hold(pictureLock_);
            std::swap(newest_.bgr, spare.bgr);
            newest_.width = width;
            newest_.height = height;
            newest_.arrival = arrival;
            ++newest_.serial;
        }
        ++published_;
        lastPictureMs_ = nowMs();
    }
}

bool WallTile::newerPicture(uint64_t serial, Picture &out) const {
    std::lock_guard hold(pictureLock_);
    if (newest_.serial <= serial) return false;
    out.bgr.assign(newest_.bgr.begin(),
                   newest_.bgr.begin() + static_cast<std::ptrdiff_t>(newest_.width) *
                                             newest_.height * 3);
    out.width = newest_.width;
    out.height = newest_.height;
    out.serial = newest_.serial;
    out.arrival = newest_.arrival;
    return true;
}

std::u16string WallTile::problem() const {
    if (createResult_ != IPCAM_OK) return creationFailedState(site_, createResult_);
    if (!session_) return {};
    const uint64_t last = lastPictureMs_;
    if (last != 0 && nowMs() - last < static_cast<uint64_t>(kStaleMs)) return {};
    return connectingState(site_, IPCamGetLastError(session_),
                           IPCamGetItem(session_, IPCAM_ITEM_REACH));
}

Rect fitPicture(const Rect &tile, int width, int height) {
    const long long tw = tile.width(), th = tile.height();
    if (width <= 0 || height <= 0 || tw <= 0 || th <= 0) return tile;
    long long w = tw, h = th;
    if (tw * height <= th * width) h = tw * height / width;  // as wide as the tile
    else w = th * width / height;                             // as tall as the tile
    const int left = tile.left + static_cast<int>((tw - w) / 2);
    const int top = tile.top + static_cast<int>((th - h) / 2);
    return {left, top, left + static_cast<int>(w), top + static_cast<int>(h)};
}

void drawTilePicture(Display &display, const Rect &tile, const WallTile::Picture &picture) {
    if (picture.width <= 0 || picture.height <= 0 || picture.bgr.empty()) return;
    display.stretchBlit({picture.bgr.data(), picture.width, picture.height}, 0, 0, picture.width,
                        picture.height, fitPicture(tile, picture.width, picture.height));
}

}  // namespace kestrel
