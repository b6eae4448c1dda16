#include "viewer/onvif_lookup.h"

#include <cstring>

#include "ipcam.h"
#include "viewer/text_convert.h"

namespace kestrel {

namespace {

// The profile's fixed fields need not end in a zero: read no further than the field.
template <std::size_t N>
std::string field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

}  // namespace

int discoverOnvifDevices(int seconds, std::vector<OnvifDevice> &found) {
    const IPCamDiscoverCallback collect = [](void *context, const char *url, const char *name,
                                             const char *hardware) {
        static_cast<std::vector<OnvifDevice> *>(context)->push_back(
            {url ? url : "", name ? name : "", hardware ? hardware : ""});
    };
    return IPCamDiscover(seconds, collect, &found);
}

int readOnvifProfiles(const std::string &url, const std::string &account,
                      const std::string &password, std::vector<OnvifProfileEntry> &found) {
    const auto collect = [](void *context, const IPCamOnvifProfile *p) {
        static_cast<std::vector<OnvifProfileEntry> *>(context)->push_back(
            {p->index, field(p->name), field(p->codec), p->width, p->height});
    };
    return IPCamOnvifProfiles(url.c_str(), account.c_str(), password.c_str(), collect, &found);
}

std::u16string profileText(const OnvifProfileEntry &profile) {
    std::string text = std::to_string(profile.index) + ":";
    for (const std::string &part : {profile.name, profile.codec})
        if (!part.empty()) text += " " + part;
    if (profile.width > 0 && profile.height > 0)
        text += " " + std::to_string(profile.width) + "x" + std::to_string(profile.height);
    return fromUtf8(text);
}

std::u16string deviceText(const OnvifDevice &device) {
    std::string text = device.name;
    if (!device.hardware.empty())
        text += text.empty() ? device.hardware : " (" + device.hardware + ")";
    return fromUtf8(text.empty() ? device.url : text + "\n" + device.url);
}

}  // namespace kestrel
