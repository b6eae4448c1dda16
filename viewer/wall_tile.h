// One tile of the wall: a session of its own for one site, a decoding thread, and the newest
// picture. Nothing is queued for drawing: a newer picture replaces one not yet drawn. When the
// decoding falls behind, frames nobody would see are skipped: droppable frames, and everything
// before the newest key frame that has come; a dependent frame is never decoded without what
// it depends on.
//
// Tiles are independent: starting, stopping or deleting one touches no other tile's session.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipcam.h"
#include "viewer/display.h"
#include "viewer/site_record.h"

namespace kestrel {

class WallTile {
  public:
    // stream: the stream to view (an ONVIF site's profile), -1 for the site's own.
    WallTile(const SiteRecord &site, int stream);
    ~WallTile() { stop(); }
    WallTile(const WallTile &) = delete;
    WallTile &operator=(const WallTile &) = delete;

    // Makes the session and starts it and the decoding thread; false (see problem()) when the
    // library would not make the session.
    bool start();
    // Deletes the session (IPCamDelete: this one only) and ends the decoding thread.
    void stop();

    struct Picture {
        std::vector<uint8_t> bgr;  // 24-bit B,G,R, rows top first, tightly packed
        int width = 0, height = 0;
        uint64_t serial = 0;   // 1 for the first picture, one more for each newer one
        uint64_t arrival = 0;  // when its frame came, by arrivalClock()
    };
    // Copies the newest picture into out when it is newer than the serial given; false when
    // there is none newer.
    bool newerPicture(uint64_t serial, Picture &out) const;

    // What the tile says when it shows no live picture (the site's name and what is wrong, as
    // the single view says it while connecting); empty while pictures come.
    std::u16string problem() const;

    // The clock of the pictures' arrival: a monotonic count of 100 ns units.
    static uint64_t arrivalClock();

    const SiteRecord &site() const { return site_; }
    IPCamSession *session() const { return session_; }  // null before start
    uint64_t decoded() const { return decoded_; }        // pictures decoded
    uint64_t published() const { return published_; }   // of those, made the newest picture
    uint64_t skipped() const { return skipped_; }        // frames left out while behind

    // How many frames waiting make the decoding count as behind.
    static constexpr std::size_t kBehind = 3;
    // Waiting frames past which the callback drops them all and waits for a key frame.
    static constexpr std::size_t kInboxLimit = 90;
    // A tile without a new picture for this long says what is wrong.
    static constexpr int kStaleMs = 3000;

    // The session's frame callback (context: the tile). Keeps the stream's format messages
    // and its video from a key frame on; audio and events have nothing to draw.
    static int onFrame(void *context, int channel, void *frame, int id);

  private:
    void decodeLoop();

    SiteRecord site_;
    int stream_;
    IPCamSession *session_ = nullptr;
    int createResult_ = IPCAM_OK;
    std::thread thread_;

    mutable std::mutex inboxLock_;
    std::condition_variable inboxChanged_;
    std::deque<EncodedFrame *> inbox_;  // inboxLock_
    bool stopping_ = false;             // inboxLock_
    bool waitingForKey_ = true;         // inboxLock_: nothing is taken before a key frame

    mutable std::mutex pictureLock_;
    Picture newest_;  // pictureLock_
    std::atomic<uint64_t> lastPictureMs_{0};
    std::atomic<uint64_t> startedMs_{0};
    std::atomic<uint64_t> decoded_{0}, published_{0}, skipped_{0};
};

// What the decoding leaves out of the frames waiting for it when they are more than
// WallTile::kBehind pictures: the video before the newest key frame, and droppable frames.
// Those left out are freed; returns how many.
std::size_t leaveOutUnseen(std::deque<EncodedFrame *> &frames);

// Where a picture of width x height goes in a tile: as large as the tile allows with its
// aspect kept, centred.
Rect fitPicture(const Rect &tile, int width, int height);

// Draws the picture into the tile's part of the display, aspect kept.
void drawTilePicture(Display &display, const Rect &tile, const WallTile::Picture &picture);

}  // namespace kestrel
