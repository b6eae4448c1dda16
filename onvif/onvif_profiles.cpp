// IPCamOnvifProfiles: a device's media profiles read outside any session, for the tool and the
// site editor.
#include <optional>
#include <string>
#include <vector>

#include "core/address_resolution.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "ipcam.h"
#include "onvif/device_text.h"
#include "onvif/onvif_device.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

constexpr int32_t kShortestRequestMs = 100, kLongestRequestMs = 600'000;

// The options with their defaults filled in; nullopt when one is out of range.
std::optional<IPCamOnvifOptions> checkedOptions(const IPCamOnvifOptions *given) {
    IPCamOnvifOptions o = given ? *given : IPCamOnvifOptions{};
    if (o.requestTimeoutMs == 0) o.requestTimeoutMs = static_cast<int32_t>(kSoapRequestMs);
    if ((o.clearPassword != 0 && o.clearPassword != 1) || o.requestTimeoutMs < kShortestRequestMs ||
        o.requestTimeoutMs > kLongestRequestMs || o.rtspPort < 0 || o.rtspPort > 65535)
        return std::nullopt;
    return o;
}

IPCamOnvifProfile publicProfile(int index, const MediaProfile &p, const OnvifDevice &device) {
    IPCamOnvifProfile out{};
    out.index = index;
    copyTextCut(out.token, deviceText(p.token, sizeof out.token - 1));
    copyTextCut(out.name, deviceText(p.name, sizeof out.name - 1));
    copyTextCut(out.codec, deviceText(p.codec, sizeof out.codec - 1));
    out.width = p.width;
    out.height = p.height;
    out.ptz = p.ptz && !device.ptzTarget().service.address.empty() ? 1 : 0;
    copyTextCut(out.servicesNamed, deviceText(device.servicesNamed(), sizeof out.servicesNamed - 1));
    return out;
}

}  // namespace

}  // namespace ipcam

using namespace ipcam;

extern "C" IPCAM_API int IPCamOnvifProfilesWith(const char *deviceUrl, const char *user,
                                                const char *password,
                                                const IPCamOnvifOptions *options,
                                                void (*profile)(void *, const IPCamOnvifProfile *),
                                                void *context) {
    if (!deviceUrl || !profile) return IPCAM_IS_NULL;
    const auto o = checkedOptions(options);
    if (!o) return IPCAM_TYPE_IS_ER;
    RtspUrl url;
    if (int r = parseUrl(deviceUrl, "http://", 80, url); r != 0) return r;
    if (user) url.user = user;
    if (password) url.password = password;
    const auto stopped = [&] { return o->stop && o->stop(context) != 0; };
    char address[kTextFieldSize];
    if (int r = resolveHost(url.host.c_str(), address, sizeof address); r != IPCAM_OK) return r;
    if (stopped()) return IPCAM_IS_OVER;
    // Every wait from here on ends within a slice of the caller's stop.
    StopScope scope(stopped);
    const SoapPolicy policy{o->clearPassword == 1, static_cast<uint32_t>(o->requestTimeoutMs)};
    OnvifDevice device(url, address, url.user, url.password, 0, policy,
                       static_cast<uint16_t>(o->rtspPort));
    SocketSlot slot{-1};
    std::vector<MediaProfile> profiles;
    int r = device.readClock(slot);
    if (r == 0) r = device.findServices(slot);
    if (r == 0) r = device.readProfiles(slot, profiles);
    if (stopped()) return IPCAM_IS_OVER;
    if (r != 0) return r;
    int index = 0;
    for (const MediaProfile &p : profiles) {
        IPCamOnvifProfile out = publicProfile(index++, p, device);
        // A profile whose address cannot be had is still listed: the person sees it is there.
        std::string uri;
        if (device.streamUri(slot, p, uri) == 0) copyText(out.streamUri, uri);
        if (stopped()) return IPCAM_IS_OVER;
        profile(context, &out);
    }
    return index;
}

extern "C" IPCAM_API int IPCamOnvifProfiles(const char *deviceUrl, const char *user,
                                            const char *password,
                                            void (*profile)(void *, const IPCamOnvifProfile *),
                                            void *context) {
    return IPCamOnvifProfilesWith(deviceUrl, user, password, nullptr, profile, context);
}
