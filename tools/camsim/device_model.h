// Simulated device models on a CgiServer: a family A camera (plain, device or older), a family
// B camera or recorder, and the streaming server.
//
// A camera routes every CGI of its family on the server and answers from a SettingsStore.
// Get CGIs report their keys; Set (and Change) CGIs store the pairs of their query, values as
// sent, so the next Get reports them. The store's sections are the names of the Get CGIs
// ("GetAdjust.cgi", ...); a "CH=n" pair in any query selects channel n, otherwise channel 0.
// Routes hold the store, so they keep answering after the camera object is gone. Tests read
// value("GetAdjust.cgi", "Brightness", channel): what that Get reports.
//
// The control CGIs act on a pan/tilt head (ptz_head.h) and a recorder panel
// (recorder_panel.h) instead: family A SetPTZ.cgi, SetDVRKey.cgi, SetPlayCmd.cgi and
// SetTimePlay.cgi, family B RS232.cgi and MoveCamera.cgi. They answer "OK" when the device
// took the request and, still with 200, "Unknown Key=value" (or "No preset n") when it did not,
// changing nothing then. GetSimState.cgi reports both as lines of the family's style; tests
// read head(channel) and recorder().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/family_a_stream.h"
#include "tools/camsim/family_b_stream.h"
#include "tools/camsim/ptz_head.h"
#include "tools/camsim/recorder_panel.h"
#include "tools/camsim/rtsp_server.h"
#include "tools/camsim/settings_store.h"
#include "tools/camsim/talk_sink.h"

namespace camsim {

struct FamilyAConfig {
    int model = 20;                 // model code 0-255, bits 0-7 of the model number
    int videoCode = 0;              // channel count codes, bits 16-19 and 20-23:
    int audioCode = 0;              // 0..4 for 1, 2, 4, 8, 16 channels
    std::string firmware = "1.06";  // "Version" of GetVer.cgi
    bool older = false;             // no GetCameraType.cgi (404); GetNetwork.cgi still answers
    int device = -1;                // device kind; 0 or more makes a device camera
    // Device cameras only: what GetCameraType.cgi announces besides "CameraType=".
    bool ptz = true;
    bool twoWay = false;
    int videoNum = 1, audioNum = 1, inputs = 2, outputs = 2;
    std::string resolutions = "640x480,320x240,160x120";  // "Resolution<device+1>="
    std::string codecs = "mpeg4,mjpeg";                   // "CodecType<device+1>="
    int dvrChannels = 4;                                  // "dvr_channel" of GetDVRCHANNEL.cgi
    // Bits 8-15 of the model number: bit 0 the camera serves GetStream.cgi, bit 1 RTSP.
    int capabilities = 0;
    // The stream keys of GetNetwork.cgi. Port keys are left out when a value is below 0, all
    // of them without announcePorts; paths are left out when empty. A separate stream port
    // that listens (stream.videoListenPort, audioListenPort) is reported instead of the value.
    bool announcePorts = true;
    int videoPort = 8000;             // "Video_Port="
    int audioPort = 8001;             // "Audio_Port="
    int audioI2PPort = -1;            // "Audio_I2P_Port="
    int rtspPort = -1;                // "Rtsp_Port="
    std::string pathLive1 = {};       // "Path_Live1="
    std::string pathLive2 = {};       // "Path_Live2="
    std::string path3gpp = {};        // "Path_3GPP="
    FamilyAStreamConfig stream = {};  // what GetStream.cgi and the stream ports send
    TalkSinkConfig talk = {};         // how Chatting.cgi answers

    // "CameraType=": model | capabilities << 8 | videoCode << 16 | audioCode << 20.
    uint32_t modelNumber() const;
    // The channel counts the camera announces: bits 16-19 and 20-23, or for a device camera
    // VideoNum and AudioNum. Codes above 4 count as one channel.
    int videoChannels() const;
    int audioChannels() const;
};

struct FamilyBConfig {
    std::string firmware = "2.10";    // "Version" of GetVer1.cgi and GetMyself.cgi
    int recorderChannels = 0;         // 4, 8 or 16: a recorder with GetDVRtype.cgi; 0: a camera
    bool statusHasTvStandard = true;  // GetStatus.cgi carries "tv_standard = ..."
    FamilyBStreamConfig stream = {};  // what GetData.cgi and GetAudioData.cgi send
    TalkSinkConfig talk = {};         // how Chatting.cgi answers
};

// What every simulated camera shows tests: its settings store and its talk channel
// (Chatting.cgi). The routes share both, so they keep answering after the device object is
// gone.
class StoredDevice {
  public:
    virtual ~StoredDevice() = default;  // tests hold cameras of either family by this base
    SettingsStore &store() { return *store_; }
    std::string value(const std::string &section, const std::string &key, int channel = 0) const {
        return store_->get(section, key, channel);
    }
    void set(const std::string &section, const std::string &key, std::string value,
             int channel = 0) {
        store_->set(section, key, std::move(value), channel);
    }

    // Chatting.cgi: what the talking client sent.
    TalkSink &talk() { return *talk_; }

    // The head of a channel (family B: 0) and the recorder panel, as they are now. A family B
    // camera that is no recorder has a panel that takes no key.
    HeadState head(int channel = 0) const { return head_->state(channel); }
    // The head itself, for another protocol that steers it (ONVIF PTZ).
    std::shared_ptr<PtzHead> sharedHead() const { return head_; }
    RecorderState recorder() const { return recorder_->state(); }

  protected:
    void attachTalk(CgiServer &server, TalkSinkConfig config) {
        talk_ = std::make_shared<TalkSink>(config);
        talk_->attach(server);
    }

    std::shared_ptr<SettingsStore> store_ = std::make_shared<SettingsStore>();
    std::shared_ptr<TalkSink> talk_ = std::make_shared<TalkSink>();
    std::shared_ptr<PtzHead> head_;            // set by each family
    std::shared_ptr<RecorderPanel> recorder_;  // set by each family
};

// Besides its CGIs, a family A camera streams (family_a_stream.h): GetStream.cgi on the web
// port and, when configured, the separate video and audio ports, which open at construction.
// The streamer lives on in the GetStream.cgi route, like the store.
class FamilyACamera : public StoredDevice {
  public:
    FamilyACamera(CgiServer &server, FamilyAConfig config);
    const FamilyAConfig &config() const { return config_; }

    FamilyAStreamer &streams() { return *streams_; }
    const std::shared_ptr<FamilyAStreamer> &sharedStreams() const { return streams_; }
    // False when a separate stream port could not be opened.
    bool streamsReady() const { return streamsReady_; }

  private:
    FamilyAConfig config_;
    std::shared_ptr<FamilyAStreamer> streams_;
    bool streamsReady_ = false;
};

// GetStatus.cgi ends its head with "Expires: 01 Jan 1970 00:00:00 GMT\r\n\r\n", so the body
// starts 37 characters after the "E": an 82-character status block (store key
// "status_block", padded with '0' or cut to 82), a line feed, then the line
// "flags = 000...0F\n" whose '0' padding puts F, the first character of "status_flag"
// (default: "1" when the site asks for an account, else "0"), at index kStatusFlagIndex of the
// whole reply; then "key = value" lines. The
// padding assumes the plain head (status line, Content-Type, Content-Length, Connection:
// close); a behaviour that rewrites the head moves the flag.
inline constexpr std::size_t kStatusBlockSize = 82;
inline constexpr std::size_t kStatusFlagIndex = 294;
// Digits and letters, so no key of the lines that follow can be found inside it. Its first
// character says whether the camera has sound: "1" here, "0" for a camera whose
// GetAudioData.cgi is off.
inline constexpr const char *kDefaultStatusBlock =
    "1123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ";
static_assert(std::char_traits<char>::length(kDefaultStatusBlock) == kStatusBlockSize);

// A family B camera streams pictures with status blocks and PCM sound on the web port
// (family_b_stream.h); the streamer lives on in the routes, like the store.
class FamilyBCamera : public StoredDevice {
  public:
    FamilyBCamera(CgiServer &server, FamilyBConfig config);
    const FamilyBConfig &config() const { return config_; }

    FamilyBStreamer &streams() { return *streams_; }

  private:
    FamilyBConfig config_;
    std::shared_ptr<FamilyBStreamer> streams_;
};

// The streaming server as a device: GetServerInfo.cgi on web announces its channels and port.
inline void addServerDevice(StreamingServer &streaming, CgiServer &web, bool announcePort = true) {
    streaming.attachTo(web, announcePort);
}

}  // namespace camsim
