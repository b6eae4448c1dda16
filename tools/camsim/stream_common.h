// What the cameras' own stream handlers on the web port share: the picture loops of a
// channel setting, pacing on a connection, the count of running streams and short refusals.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/connection.h"
#include "tools/camsim/jpeg_encoder.h"

namespace camsim {

class Mpeg4Encoder;

using StreamClock = std::chrono::steady_clock;

// One picture of a channel, complete: an MPEG-4 VOP (VOS, VOL and GOV first on key frames) or
// a JPEG file from SOI to EOI.
struct StreamPicture {
    std::string data;
    bool key = false;
};

// Two seconds of a channel's pictures, each encoded the first time a stream needs it and then
// kept: every stream of the same setting replays them.
class PictureLoop {
  public:
    explicit PictureLoop(const ChannelConfig &c);
    ~PictureLoop();
    PictureLoop(const PictureLoop &) = delete;
    PictureLoop &operator=(const PictureLoop &) = delete;

    std::size_t size() const { return count_; }

    // Picture n % size(); nothing when the encoder failed. Valid for the loop's life.
    const StreamPicture *at(uint64_t n);

  private:
    Chroma chroma() const { return config_.jpegType == 0 ? Chroma::Yuv422 : Chroma::Yuv420; }
    std::optional<StreamPicture> encode(uint64_t n);

    const ChannelConfig config_;
    const std::size_t count_;
    JpegParams jpeg_;
    std::string jpegHead_;
    std::mutex lock_;
    std::deque<StreamPicture> pictures_;   // lock_; never moved once made
    std::unique_ptr<Mpeg4Encoder> mpeg4_;  // lock_; gone once the loop is complete
};

// The process's loop for c's picture settings (codec, size, rate, JPEG type, Q, restart
// interval, end marker); the first caller creates it.
std::shared_ptr<PictureLoop> pictureLoop(const ChannelConfig &c);

// Waits until t. What the client sends meanwhile is appended to received (when given) or
// dropped. False when the client went away or the server is stopping.
bool waitUntil(Connection &connection, StreamClock::time_point t, std::string *received = nullptr);

// Counts a stream handler while it runs.
class ActiveStream {
  public:
    explicit ActiveStream(std::atomic<std::size_t> &n) : n_(n) { ++n_; }
    ~ActiveStream() { --n_; }
    ActiveStream(const ActiveStream &) = delete;
    ActiveStream &operator=(const ActiveStream &) = delete;

  private:
    std::atomic<std::size_t> &n_;
};

// A complete text/html reply of status, as a refusing stream handler sends before it closes;
// a 401 asks for Basic credentials.
std::string refusalReply(int status);

}  // namespace camsim
