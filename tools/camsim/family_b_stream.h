// The data channels of a simulated family B camera, both on the web port:
//
//  - "GET /GetData.cgi?Status=true": a 200 head, then per picture a whole JPEG file of the
//    test pattern (FF D8 ... FF D9), the 9-byte marker word "plaintext" and an 82-byte status
//    block, paced at the configured rate;
//  - "GET /GetAudioData.cgi?Format=Pcm" (also at the path "GetAudioData.cgi=", which is where
//    clients that log in ask): a 200 head of an even length, then raw PCM, 16-bit
//    little-endian signed samples at 8000 Hz, mono, of a 1 kHz tone at amplitude 8192, in
//    real time (20 ms per 320 bytes).
//
// The site checks Basic authorisation as for every CGI (a 401 it answers shows in
// CgiServer::requests() only); what reaches the streamer is recorded with the status it got.
//
// The status block is the 82 bytes GetStatus.cgi reports (store key "status_block") with
// byte 21 set to the size code of the picture and bytes 60-65 to the six status bytes.
// Size codes: 0 160x120, 1 320x240, 2 640x480, 3 1280x960, 255 any other size.
//
// Cues script the status bytes, size changes and faults per connection; pictures are counted
// from 0 on each connection.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/connection.h"
#include "tools/camsim/http_message.h"

namespace camsim {

class CgiServer;
class SettingsStore;

using StatusBytes = std::array<uint8_t, 6>;

inline constexpr std::size_t kDataStatusBlockSize = 82;
inline constexpr std::string_view kDataMarkerWord = "plaintext";  // clients look for "plai"
inline constexpr std::size_t kSizeCodeIndex = 21;
inline constexpr std::size_t kStatusBytesIndex = 60;
inline constexpr uint8_t kUnknownSizeCode = 255;

struct PictureSize {
    int width, height;
};
// Index = size code.
inline constexpr PictureSize kFamilyBPictureSizes[] = {
    {160, 120}, {320, 240}, {640, 480}, {1280, 960}};

// The size code of width x height, kUnknownSizeCode when the table lacks it.
uint8_t familyBSizeCode(int width, int height);

inline constexpr int kPcmSampleRate = 8000;
inline constexpr int kPcmToneHz = 1000;
inline constexpr int kPcmAmplitude = 8192;
inline constexpr int kPcmChunkMs = 20;

// Something the GetData.cgi stream does before picture number picture (0 for the first).
// Several cues may share a picture; they apply in the order given.
struct DataCue {
    enum class What {
        Status,    // status bytes 60-65 are bytes from here on (and stop changing)
        Changing,  // status bytes 60-65 differ in every picture from here on: byte 60 + i is
                   // the picture number + i, modulo 256
        Resize,    // pictures of a x b from here on (sides rounded down to 16 and 8)
        SizeCode,  // status byte 21 is a from here on, whatever the size (-1: the size's code)
        Split,     // this picture's status block goes in two pieces, the first b bytes (0: 41)
                   // then, a ms later, the rest
        Garbage,   // bytes that are no picture and hold no FF, once, before the picture
        Oversize,  // this picture is padded with comment segments to at least a bytes
        Stall,     // nothing for a ms, then on; a = 0: nothing ever again
    };
    int picture = 0;
    What what = What::Status;
    int a = 0, b = 0;
    StatusBytes bytes = {};
};

struct FamilyBStreamConfig {
    // GetData.cgi pictures: JPEG 4:2:2 of the test pattern; sides are rounded down to
    // multiples of 16 and 8 (at least 16x8).
    int width = 640, height = 480;
    int fps = 15;                  // 1..60
    int quality = 75;              // JPEG Q, 1..99
    int sizeCode = -1;             // status byte 21; -1: familyBSizeCode of the picture's size
    StatusBytes statusBytes = {};  // status bytes 60-65 until a cue changes them
    bool dataStream = true;        // false: GetData.cgi answers 404
    bool audioStream = true;       // false: GetAudioData.cgi answers 404 (so does a Format
                                   // other than Pcm)
    int refuseStatus = 0;          // not 0: GetData.cgi answers this status and closes
    // GetData.cgi's own refusal (refuseStatus, or 404 without the data channel) ends before
    // the blank line of its head; the connection closes either way.
    bool cutRefusal = false;
    std::vector<DataCue> cues = {};
};

// One data-channel request as the camera saw it.
struct DataRecord {
    enum class Kind { Video, Audio };
    Kind kind = Kind::Video;
    std::string head;       // the request head exactly as received, through the blank line
    std::string afterHead;  // what the client sent after the head (its first 4 KiB)
    int status = 0;         // the status answered
    std::size_t sent = 0;   // pictures (video) or PCM bytes (audio) sent so far
};

class FamilyBStreamer : public std::enable_shared_from_this<FamilyBStreamer> {
  public:
    explicit FamilyBStreamer(FamilyBStreamConfig config);
    FamilyBStreamer(const FamilyBStreamer &) = delete;
    FamilyBStreamer &operator=(const FamilyBStreamer &) = delete;

    // Routes GetData.cgi, GetAudioData.cgi and GetAudioData.cgi= on server; the routes hold
    // this streamer. Status blocks start from store's GetStatus.cgi "status_block", or from
    // '0's without a store.
    void attach(CgiServer &server, std::shared_ptr<const SettingsStore> store);

    // For connections made from now on.
    void setCues(std::vector<DataCue> cues);

    std::vector<DataRecord> records() const;  // every data request, in order
    void clearRecords();
    bool waitForRecords(std::size_t n, int timeoutMs) const;  // true once n are recorded
    // True once the record numbered i (counting from 0 at the last clearRecords) has sent at
    // least n pictures or bytes.
    bool waitForSent(std::size_t i, std::size_t n, int timeoutMs) const;
    std::size_t activeStreams() const { return active_.load(); }

    // The stream handlers, each owning connection until it returns.
    void serveData(Connection &connection, const RecordedRequest &request);
    void serveAudio(Connection &connection, const RecordedRequest &request);

  private:
    class Pictures;

    std::size_t record(DataRecord record);  // its id
    void update(std::size_t id, std::size_t sent, const std::string &afterHead);
    void streamData(Connection &connection, std::size_t id, std::vector<DataCue> cues);
    void streamAudio(Connection &connection, std::size_t id);

    const FamilyBStreamConfig config_;
    std::shared_ptr<const SettingsStore> store_;  // set by attach, before any request

    mutable std::mutex lock_;
    mutable std::condition_variable recorded_;
    std::vector<DataCue> cues_;        // lock_
    std::vector<DataRecord> records_;  // lock_
    std::size_t cleared_ = 0;          // lock_
    std::atomic<std::size_t> active_{0};
};

// The reply head of both channels. Its length is even, so PCM samples after it stay aligned
// for a client that reads the head as a fixed number of bytes.
inline constexpr std::string_view kDataReplyHead =
    "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nCache-Control: no-cache\r\n\r\n";
static_assert(kDataReplyHead.size() % 2 == 0);

}  // namespace camsim
