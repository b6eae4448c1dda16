// The video thread: owns the camera session of the site being viewed. It creates the session,
// waits for the connection, negotiates the picture size, then takes frames from the queue,
// decodes them and tells the renderer a new picture exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

#include "ipcam.h"
#include "viewer/site_record.h"
#include "viewer/video_decoder.h"
#include "viewer/worker_thread.h"

namespace kestrel {

class ViewerWindow;

class VideoThread final : public WorkerThread {
  public:
    static constexpr uint32_t kExitCode = 631;
    // Tries of a payload the decoder keeps refusing before it is dropped, 1 ms apart.
    static constexpr int kDecodeTries = 50;

    // Fill in site and statusLine, then Resume.
    VideoThread();
    ~VideoThread() override { stopAndWait(); }

    StreamFormatBlock format{};  // as last received; encoding standard -1 at first
    ViewerWindow *statusLine = nullptr;
    SiteRecord site{};
    VideoDecoder decoder;
    IPCamSession *session = nullptr;

    // Sends a control request on the session while it lives; from any thread. The session is
    // deleted only after a request in progress has returned. IPCAM_IS_NULL without a session.
    int Command(void *request);

    // Payloads dropped because the decoder never took them.
    uint32_t decodeErrors() const { return decodeErrors_; }

    // One pass of the main loop: takes the frame at the front of the queue and handles it
    // (format change, decoding, status text, pacing). Run calls it until a stop is requested.
    void processOne();

    // Formats like printf and shows the text on the status line.
    void ShowStatus(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Shows the library's last status; waits a second (less when a stop comes) when there is
    // one.
    void ShowLastStatus();

  protected:
    uint32_t Run() override;

  private:
    bool startSession();
    void negotiatePictureSize();
    void checkHandheldAccess();
    bool decodePayload(const uint8_t *payload, std::size_t length);
    void setSessionLive(bool live);
    int deleteSessions();
    void showState(const std::u16string &text);
    // Ends viewing from inside: text stays on the status line once the session is gone, and
    // words with it in place of the picture.
    void stopItself(const char *text, const char16_t *words);

    std::string stopReason_;  // this thread's; set by stopItself

    std::mutex sessionLock_;
    bool sessionLive_ = false;  // sessionLock_

    std::atomic<uint32_t> decodeErrors_{0};
    uint32_t frames_ = 0;  // since the last format change
    uint16_t skip_ = 0;    // frames still to skip up to a key frame
    int rateCount_ = 0, rate_ = 0;
    std::time_t lastSecond_ = 0;
};

// The decoder and the codec marker of a stream format's encoding; null for one the viewer
// cannot decode.
struct Decodable {
    int32_t encoding;  // IPCamVideoCodec
    VideoDecoder::Codec codec;
    uint16_t marker;
};
const Decodable *decodable(int32_t encoding);

// Makes the library's session for site (IPCamCreate, IPCamCreateUrl for a URL site,
// IPCamCreateOnvif for an ONVIF site with its profile) with the session id given; the
// library's result.
int createSiteSession(const SiteRecord &site, int id, IPCamSession **out);

// What the picture area shows while a site connects: "Connecting to NAME…" (the host when the
// site has no name), and below it what went wrong when lastError says something did, or what
// the device did with the connection (reach, IPCAM_ITEM_REACH) when it refused or stayed silent.
std::u16string connectingState(const SiteRecord &site, int lastError,
                               int reach = IPCAM_REACH_ANSWERED);
// The same when the session could not be made at all (IPCamCreate's result).
std::u16string creationFailedState(const SiteRecord &site, int createResult);

// The lowest single bit of the picture-size class's window that mask has: Small (0, and any
// value but 1 and 2) 0x1-0x20, Middle (1) 0x40-0x400, Big (2) 0x800-0x100000; 0 for none.
uint32_t resolutionForSize(uint32_t videoSize, uint32_t mask);

}  // namespace kestrel
