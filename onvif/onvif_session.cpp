#include "onvif/onvif_session.h"

#include <vector>

#include "core/address_resolution.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_api.h"
#include "transport/rtsp_client.h"

namespace ipcam {

int onvifConnect(IPCamSession *s, int which) {
    if (which != 0) return 0;
    OnvifState *state = s->onvif.get();
    if (!state) return IPCAM_CANT_DETECT_TYPE_ER;
    // The device's own requests use the RTSP slot: deletion closes it to cut a wait short, and
    // the RTSP connection takes it over afterwards.
    OnvifDevice device(state->deviceUrl, std::string(fieldText(s->host)),
                       std::string(fieldText(s->user)), std::string(fieldText(s->password)));
    std::string uri;
    const int r = device.resolveStream(s->sockets[kRtspSocket], state->profile, uri);
    if (IPCamVideoStopped(s)) return IPCAM_IS_OVER;
    if (r != 0) return r;
    RtspUrl stream;
    if (parseRtspUrl(uri, stream) != 0 || !copyText(s->rtspUrl, stream.requestUri))
        return IPCAM_ONVIF_NO_STREAM;
    s->rtspPort = stream.port;
    {
        std::lock_guard guard(state->lock);
        state->ptz = device.ptzTarget();
    }
    return rtspConnect(s, 0);
}

}  // namespace ipcam

using namespace ipcam;

extern "C" IPCAM_API int IPCamOnvifProfiles(const char *deviceUrl, const char *user,
                                            const char *password,
                                            void (*profile)(void *, const IPCamOnvifProfile *),
                                            void *context) {
    if (!deviceUrl || !profile) return IPCAM_IS_NULL;
    RtspUrl url;
    if (int r = parseUrl(deviceUrl, "http://", 80, url); r != 0) return r;
    if (user) url.user = user;
    if (password) url.password = password;
    char address[kTextFieldSize];
    if (int r = resolveHost(url.host.c_str(), address, sizeof address); r != IPCAM_OK) return r;

    OnvifDevice device(url, address, url.user, url.password);
    SocketSlot slot{-1};
    std::vector<MediaProfile> profiles;
    if (int r = device.readClock(slot); r != 0) return r;
    if (int r = device.findServices(slot); r != 0) return r;
    if (int r = device.readProfiles(slot, profiles); r != 0) return r;
    int index = 0;
    for (const MediaProfile &p : profiles) {
        IPCamOnvifProfile out{};
        out.index = index++;
        copyTextCut(out.token, p.token);
        copyTextCut(out.name, p.name);
        copyTextCut(out.codec, p.codec);
        out.width = p.width;
        out.height = p.height;
        // A profile whose address cannot be had is still listed: the person sees it is there.
        std::string uri;
        if (device.streamUri(slot, p, uri) == 0) copyText(out.streamUri, uri);
        profile(context, &out);
    }
    return index;
}
