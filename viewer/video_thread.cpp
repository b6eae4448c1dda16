#include "viewer/video_thread.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "viewer/display.h"
#include "viewer/frame_admission.h"
#include "viewer/pipeline_state.h"
#include "viewer/site_list.h"
#include "viewer/status_names.h"
#include "viewer/text_convert.h"
#include "viewer/viewer_window.h"

namespace kestrel {

namespace {

constexpr std::size_t kStatusCharacters = 2048;  // bytes here: the text is cut, never overrun
constexpr std::size_t kHostBytes = 100;
constexpr int32_t kReadHandheldAccess = 4132;
constexpr int32_t kEncodingUnknown = -1;

// The encodings the viewer decodes, with the dot drawn under their pictures.
constexpr Decodable kDecodable[] = {
    {IPCAM_VIDEO_JPEG, VideoDecoder::Codec::MotionJpeg, kMarkerMotionJpeg},
    {IPCAM_VIDEO_MPEG4, VideoDecoder::Codec::Mpeg4, kMarkerMpeg4},
    {IPCAM_VIDEO_H264, VideoDecoder::Codec::H264, kMarkerH264},
    {IPCAM_VIDEO_H265, VideoDecoder::Codec::H265, kMarkerH265},
};

}  // namespace

const Decodable *decodable(int32_t encoding) {
    for (const Decodable &d : kDecodable)
        if (d.encoding == encoding) return &d;
    return nullptr;
}

std::u16string connectingState(const SiteRecord &site, int lastError, int reach) {
    std::u16string name = siteName(site);
    if (name.empty()) name = siteHost(site);
    std::u16string text = u"Connecting to " + name + u"\u2026";
    if (lastError == IPCAM_OK) return text;
    // A refused port or a silent device leaves only "not connected": the reach says why.
    if (*reachSentence(reach) || lastError != IPCAM_IS_UNCONNECTED)
        text += u"\n" + fromUtf8(lastStatusText(lastError, reach));
    return text;
}

std::u16string creationFailedState(const SiteRecord &site, int createResult) {
    // What the library's refusal of a site's URL means, by the kind of URL.
    static constexpr struct {
        uint8_t protocol;
        int result;
        const char *words;
    } kUrlRefusals[] = {
        {kProtocolRtspUrl, IPCAM_IS_NULL, "This is not an RTSP URL: rtsp://host[:port]/path"},
        {kProtocolRtspUrl, IPCAM_PORT_IS_ER, "The URL's port must be 1 to 65535"},
        {kProtocolOnvif, IPCAM_IS_NULL,
         "This is not an ONVIF device URL: http://host[:port]/onvif/device_service"},
        {kProtocolOnvif, IPCAM_PORT_IS_ER, "The URL's port must be 1 to 65535"},
    };
    for (const auto &r : kUrlRefusals) {
        if (r.protocol != site.protocolType || r.result != createResult) continue;
        return connectingState(site, IPCAM_IS_UNCONNECTED) + u"\n" + fromUtf8(r.words) + u" (" +
               fromUtf8(statusName(createResult)) + u")";
    }
    // The library refuses an account it could not send whole; the site editor takes longer
    // ones, so say which limit the site broke rather than only the code.
    const std::size_t credentials = siteAccount(site).size() + 1 + sitePassword(site).size();
    if (createResult != IPCAM_IS_NULL || credentials <= IPCAM_CREDENTIALS_MAX)
        return connectingState(site, createResult);
    char words[120];
    std::snprintf(words, sizeof words,
                  "Account and password are too long: together at most %d characters (%s)",
                  IPCAM_CREDENTIALS_MAX - 1, statusName(createResult));
    return connectingState(site, IPCAM_IS_UNCONNECTED) + u"\n" + fromUtf8(words);
}

uint32_t resolutionForSize(uint32_t videoSize, uint32_t mask) {
    uint32_t first = 0x1, last = 0x20;
    if (videoSize == 1) first = 0x40, last = 0x400;
    if (videoSize == 2) first = 0x800, last = 0x100000;
    for (uint32_t bit = first; bit <= last; bit <<= 1)
        if (mask & bit) return bit;
    return 0;
}

VideoThread::VideoThread() {
    std::memset(&format, 0xFF, sizeof format);
}

void VideoThread::ShowStatus(const char *fmt, ...) {
    char text[kStatusCharacters + 1];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    if (statusLine) statusLine->setStatusText(fromUtf8(text));
}

void VideoThread::ShowLastStatus() {
    const int code = IPCamGetLastError(session);
    if (code == IPCAM_OK) return;
    const std::string text = lastStatusText(code, IPCamGetItem(session, IPCAM_ITEM_REACH));
    ShowStatus("%s", text.c_str());
    pipeline().sleep(1000, &stopRequested);
}

void VideoThread::showState(const std::u16string &text) {
    if (statusLine) statusLine->display().showState(text);
}

void VideoThread::stopItself(const char *text, const char16_t *words) {
    stopReason_ = text;
    ShowStatus("%s", text);
    showState(std::u16string(words) + u"\n(" + fromUtf8(text) + u")");
    stopRequested = true;
}

int createSiteSession(const SiteRecord &site, int id, IPCamSession **out) {
    const std::string host = toUtf8(site.host, 100, kHostBytes);
    const std::string account = siteAccount(site), password = sitePassword(site);
    // An ONVIF site's stream number is its media profile.
    if (site.protocolType == kProtocolOnvif)
        return IPCamCreateOnvif(out, host.c_str(), account.c_str(), password.c_str(),
                                site.streamNumber, id);
    // A URL site's account and password, when set, stand in for those the URL carries.
    if (site.protocolType == kProtocolRtspUrl)
        return IPCamCreateUrl(out, host.c_str(), account.empty() ? nullptr : account.c_str(),
                              password.empty() ? nullptr : password.c_str(), id);
    return IPCamCreate(out, host.c_str(), site.port, account.c_str(), password.c_str(), id,
                       site.protocolType);
}

bool VideoThread::startSession() {
    const int createResult = createSiteSession(site, 0, &session);
    int r = createResult;
    ShowStatus("IPCamCreate() ... %d\n", r);
    setSessionLive(r == IPCAM_OK && session);
    r = IPCamSetStreamNum(session, site.streamNumber, 0);
    ShowStatus("IPCamSetStreamNum() ... %d\n", r);
    r = IPCamAction(session, &OnFrame, this, IPCAM_ACTION_VIDEO);
    ShowStatus("IPCamAction() ... %d\n", r);

    // The picture area says what went wrong as soon as the library knows; a session that could
    // not even be made keeps its creation's reason.
    const bool created = session != nullptr;
    int shownError = created ? IPCAM_IS_UNCONNECTED : createResult;
    int shownReach = IPCAM_REACH_ANSWERED;
    showState(created ? connectingState(site, shownError) : creationFailedState(site, createResult));
    for (uint32_t attempt = 0; IPCamGetStatus(session) < 0;) {
        if (stopRequested) {
            deleteSessions();
            return false;
        }
        ++attempt;
        static constexpr const char *kStops[] = {".", "..", "...", "....", "....."};
        ShowStatus("Connecting%s\n", kStops[attempt % 5]);
        const int last = IPCamGetLastError(session);
        const int reach = IPCamGetItem(session, IPCAM_ITEM_REACH);
        if (created && (last != shownError || reach != shownReach)) {
            shownError = last;
            shownReach = reach;
            showState(connectingState(site, last, reach));
        }
        if (attempt % 5 == 4) {
            ShowLastStatus();
            pipeline().sleep(1000, &stopRequested);
        } else {
            pipeline().sleep(500, &stopRequested);
        }
    }
    return true;
}

void VideoThread::negotiatePictureSize() {
    IPCamVideoFormatRecord capabilities{};
    capabilities.code = IPCAM_CMD_READ_VIDEO_FORMAT;
    if (IPCamCommand(session, &capabilities, nullptr) < 0) return;
    const auto words = reinterpret_cast<const uint32_t *>(&capabilities);
    const uint32_t standard = words[7];
    const uint32_t mask = standard == 1 ? words[8] : standard == 2 ? words[9] : 0;
    const uint32_t bit = resolutionForSize(site.videoSize, mask);
    if (bit == 0) return;
    IPCamVideoFormatRecord request{};
    std::memset(&request, 0, sizeof request);
    unsigned char *bytes = reinterpret_cast<unsigned char *>(&request);
    bytes[0] = IPCAM_CMD_WRITE_VIDEO_FORMAT;
    std::memset(bytes + 4, 0xFF, 28);
    request.resolutionMask = static_cast<int32_t>(bit);
    IPCamCommand(session, &request, nullptr);
}

void VideoThread::checkHandheldAccess() {
    IPCamSettingsRecord access{};
    access.code = kReadHandheldAccess;
    if (IPCamCommand(session, &access, nullptr) >= 0 && access.field[0][0] != '1')
        stopItself("Unsupported PDA or Smart-Phone!", u"The camera does not let handhelds view it");
}

bool VideoThread::decodePayload(const uint8_t *payload, std::size_t length) {
    bool picture = false;
    for (int attempt = 0; attempt < kDecodeTries; ++attempt) {
        const VideoDecoder::Result r = decoder.decode(payload, length);
        picture = picture || r.picture;
        if (r.consumed) return picture;
        pipeline().sleep(1, &stopRequested);
    }
    ++decodeErrors_;  // never taken: dropped rather than holding the pipeline for ever
    return picture;
}

void VideoThread::processOne() {
    PipelineState &p = pipeline();
    static constexpr const char *kTurning[] = {"\xEF\xBC\x8D", "\xEF\xBC\xBC", "\xEF\xBD\x9C",
                                               "\xEF\xBC\x8F"};
    EncodedFrame *frame = nullptr;
    std::size_t queued = 0;
    {
        LockHolder hold(p.queueLock);
        queued = p.queue.size();
        if (queued > 0) {
            frame = p.queue.front();
            p.queue.pop_front();
        }
    }
    if (!frame) {
        ShowLastStatus();
        p.sleep(1, &stopRequested);
        return;
    }
    const int32_t kind = frame->kind;
    const uint8_t *payload = IPCAM_FRAME_PAYLOAD(frame);
    const std::size_t length = IPCAM_FRAME_PAYLOAD_SIZE(frame);
    if (kind == IPCAM_MSG_FORMAT) {
        if (length >= sizeof format && std::memcmp(payload, &format, sizeof format) != 0) {
            std::memcpy(&format, payload, sizeof format);
            frames_ = 0;
            p.losses = 0;
            skip_ = 1;
            try {
                if (const Decodable *d = decodable(format.videoCodec)) {
                    LockHolder hold(p.decoderLock);
                    decoder.reopen(d->codec);
                    p.codecMarker = d->marker;
                } else {
                    format.videoCodec = kEncodingUnknown;
                }
            } catch (const std::exception &) {
                stopItself("System frame reconnect error",
                           u"The stream changed to a format that cannot be shown");
            }
        }
    } else if (format.width > p.admission.maxWidth || format.height > p.admission.maxHeight) {
        ++frames_;
        ShowStatus("Can't decode!The image is too big%s", kTurning[frames_ % 4]);
        p.sleep(100, &stopRequested);
    } else if (format.videoCodec == kEncodingUnknown) {
        ShowStatus("Invalid encode stand");
    } else {
        if (skip_ > 0) {
            --skip_;
            if (skip_ == 0 && kind != IPCAM_FRAME_KEY) skip_ = 1;
        }
        if (skip_ == 0 && (kind == IPCAM_FRAME_KEY || kind == IPCAM_FRAME_DEPENDENT)) {
            ++rateCount_;
            const std::time_t now = std::time(nullptr);
            if (now != lastSecond_) {
                rate_ = rateCount_;
                rateCount_ = 0;
                lastSecond_ = now;
            }
            bool picture = false;
            try {
                LockHolder hold(p.decoderLock);
                picture = decodePayload(payload, length);
            } catch (const std::exception &) {
                stopItself("Decord frame error", u"A picture could not be decoded");
            }
            // The first picture after a format change (a key frame) is decoded, not shown.
            if (picture && (frames_ >= 1 || kind != IPCAM_FRAME_KEY)) {
                p.pictureArrival = frame->time;
                p.newPicture = 1;
            }
        }
        ++frames_;
        if (const uint32_t losses = p.losses)
            ShowStatus("R:%02d Q:%03zu F:%04u S:%03zu L:%u", rate_, queued, frames_, length,
                       losses);
        else
            ShowStatus("R:%02d Q:%03zu F:%04u S:%03zu", rate_, queued, frames_, length);
    }
    const int pause =
        p.lowLatency ? -1 : pacingDelay(queued, kind, p.admission.lowMark, p.admission.highMark);
    if (pause >= 0) p.sleep(pause, &stopRequested);
    IPCamFreeFrame(frame);
}

void VideoThread::setSessionLive(bool live) {
    std::lock_guard hold(sessionLock_);
    sessionLive_ = live;
}

int VideoThread::deleteSessions() {
    setSessionLive(false);  // waits for a request in progress
    return IPCamAllDelete();
}

int VideoThread::Command(void *request) {
    std::lock_guard hold(sessionLock_);
    if (!sessionLive_) return IPCAM_IS_NULL;
    return IPCamCommand(session, request, nullptr);
}

uint32_t VideoThread::Run() {
    if (!startSession()) return kExitCode;
    negotiatePictureSize();
    checkHandheldAccess();
    while (!stopRequested) processOne();
    ShowStatus("Before IPCamAllDelete()\n");
    const int r = deleteSessions();
    ShowStatus("IPCamAllDelete() ... %d\n", r);
    // A stop from inside has a reason the user must still see once the session is gone.
    if (!stopReason_.empty()) ShowStatus("%s", stopReason_.c_str());
    return kExitCode;
}

}  // namespace kestrel
