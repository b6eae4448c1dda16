#include "onvif/onvif_session.h"

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
    const SoapPolicy policy{s->options.clearPassword != 0};
    OnvifDevice device(state->deviceUrl, std::string(fieldText(s->host)),
                       std::string(fieldText(s->user)), std::string(fieldText(s->password)), 0,
                       policy, s->options.onvifRtspPort);
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
