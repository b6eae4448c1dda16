// The video and audio streams of a simulated family A camera, in either of its framings
// (hunt_stream.h):
//
//  - the HTTP stream on the web port: "GET /GetStream.cgi?Video=n..." or "?Audio=n", answered
//    with a 200 head and then frames until the client goes; Basic authorisation as for every
//    CGI (401), 404 for a channel the camera does not have;
//  - the separate ports: on the video port the client first sends a 64-byte login block (the
//    base64 of "account:password", NUL padding to 56 bytes, then 8 NUL bytes) and gets the
//    video of channel 0; the audio port streams channel 0's sound to whoever connects.
//
// Pictures are the test pattern's, MPEG-4 part 2 or JPEG, each encoded once per distinct
// channel setting and replayed by every stream (two seconds of video, then it loops), paced at
// the channel's frame rate and stamped with the camera's clock. Sound is the 1 kHz MPEG audio
// tone of the RTSP server, one frame per 36 ms.
//
// Cues script what else a video stream carries and how it goes wrong (events, overlays, talk
// use, trailer blocks, empty frames, a wrong checksum, garbage, a switch of framing, a stall).
// Every stream connection is recorded with what it received, so tests can look at the request
// line and the login block.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/camsim/channel_config.h"
#include "tools/camsim/connection.h"
#include "tools/camsim/http_message.h"
#include "tools/camsim/tcp_server.h"

namespace camsim {

class CgiServer;

enum class Framing { Hunt, Tagged };  // "HUNT"/"HTAD" or "3297"

// Something a video stream does before the picture numbered frame (0 for the first; pictures
// are counted per connection, empty frames and other packets not). Several cues may share a
// frame; they apply in the order given.
struct StreamCue {
    enum class What {
        Event,          // event code a (0-7) from here on: "HUNT" byte 18, a "3297" type-6 packet
        Inputs,         // input bits a from here on: "HUNT" bits 0-1 of a; "3297": a type-7
                        // packet per input whose bit changed
        Overlay,        // "HUNT": overlay flag b (0 or 1) and overlay mode a from here on
        TalkUse,        // a streams and b talk channels in use: "3297" type 9; "HUNT": b
        ChannelFlag,    // "3297": a type-8 packet flagging the channels of mask a
        Info,           // "3297": an info packet
        Ignored,        // "3297": a type-16 packet of a bytes
        Trailer,        // this picture carries the trailer block (00 00 01 F8 and 208 bytes)
        EmptyFrame,     // a frame of length 0 first ("HUNT" header, "3297" type 1)
        BadChecksum,    // the first key or JPEG picture from here on has a wrong checksum
        Garbage,        // bytes that are no frame, once
        SwitchFraming,  // this picture and the rest of the connection in the other framing
        Stall,          // nothing for a ms, then on; a = 0: nothing ever again
    };
    int frame = 0;
    What what = What::Event;
    int a = 0, b = 0;
};

struct FamilyAStreamConfig {
    Framing framing = Framing::Hunt;
    // Video channels 0, 1, ...; empty: the camera's announced channel count, each MPEG-4
    // 640x480 at 30 (as GetMultimedia.cgi reports). Faults and live do not apply here.
    std::vector<ChannelConfig> channels = {};
    bool httpStream = true;  // false: GetStream.cgi answers 404
    // Separate ports: -1 none; 0 a port of the system's choice; else that port. A listening
    // port is what GetNetwork.cgi reports as Video_Port or Audio_Port.
    int videoListenPort = -1;
    int audioListenPort = -1;
    int timeZoneMinutes = 0;
    uint32_t startSeconds = 0;  // the camera's local clock at a stream's first frame; 0: now
    int streamSlots = 4;        // "3297" info packet
    int talkSlots = 1;          // "HUNT" byte 20, "3297" info packet
    bool widthNegative = false, heightNegative = false;  // the sign bits of the format
    bool infoPacket = true;            // a "3297" stream starts with an info packet
    int extraHeaderBytes = 0;          // "3297" header length is 20 + this
    int audioCodecCode = 0;            // "HTAD" bits 12-15 of bytes 4-5, "3297" info byte 18
    bool fullHouse = false;            // accept (200, login read) and send nothing: no free slot
    int refuseStatus = 0;              // not 0: GetStream.cgi answers this status and closes
    std::vector<StreamCue> cues = {};  // video streams only
};

// One stream connection as the camera saw it.
struct StreamRecord {
    enum class Kind { HttpVideo, HttpAudio, PortVideo, PortAudio };
    Kind kind = Kind::HttpVideo;
    int channel = 0;
    std::string received = {};  // the request head, or the login block as read (may be short)
    bool accepted = false;      // frames were due (full house included)
    std::size_t frames = 0;     // pictures or sound frames sent so far
};

class FamilyAStreamer : public std::enable_shared_from_this<FamilyAStreamer> {
  public:
    struct Device {
        double firmware = 1.06;  // checksums from 1.06 on
        int videoChannels = 1;
        int audioChannels = 1;
    };

    FamilyAStreamer(FamilyAStreamConfig config, Device device);
    ~FamilyAStreamer();  // stops the listeners
    FamilyAStreamer(const FamilyAStreamer &) = delete;
    FamilyAStreamer &operator=(const FamilyAStreamer &) = delete;

    // Routes GetStream.cgi on server and opens the separate ports. The route holds this
    // streamer; the login of the video port is checked against server's credentials for as
    // long as the route is there (refused afterwards). False when a port cannot be had.
    bool attach(CgiServer &server);
    // Closes the separate ports and ends their streams; idempotent.
    void stop();

    uint16_t videoPort() const { return videoServer_.port(); }  // 0 unless listening
    uint16_t audioPort() const { return audioServer_.port(); }
    std::size_t videoChannels() const;
    int audioChannels() const { return device_.audioChannels; }

    // For connections made from now on.
    void setFraming(Framing framing);
    void setCues(std::vector<StreamCue> cues);

    std::vector<StreamRecord> records() const;  // every stream connection, in order
    void clearRecords();
    bool waitForRecords(std::size_t n, int timeoutMs) const;  // true once n are recorded
    std::size_t activeStreams() const { return active_.load(); }

    // The stream handlers, each owning connection until it returns.
    void serveHttp(Connection &connection, const RecordedRequest &request);
    void serveVideoPort(Connection &connection);
    void serveAudioPort(Connection &connection);

  private:
    struct Settings {
        Framing framing;
        std::vector<StreamCue> cues;
    };
    class Link;

    Settings settings() const;
    std::size_t record(StreamRecord record);  // its id
    void update(std::size_t id, bool accepted, std::size_t frames);
    bool loginAccepted(const std::string &block) const;
    void detachServer();
    void streamVideo(Connection &connection, std::size_t channel, std::size_t id);
    void streamAudio(Connection &connection, std::size_t id);

    const FamilyAStreamConfig config_;
    const Device device_;
    const std::vector<ChannelConfig> channels_;

    mutable std::mutex lock_;
    mutable std::condition_variable recorded_;
    Framing framing_;                    // lock_
    std::vector<StreamCue> cues_;        // lock_
    std::vector<StreamRecord> records_;  // lock_
    std::size_t cleared_ = 0;            // lock_; records dropped by clearRecords()
    CgiServer *server_ = nullptr;        // lock_; while the route is there
    std::atomic<std::size_t> active_{0};

    // Last: their threads use everything above.
    TcpServer videoServer_;
    TcpServer audioServer_;
};

}  // namespace camsim
