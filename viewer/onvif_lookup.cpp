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

// What the library's callbacks get as their context.
template <class Found>
struct Lookup {
    const OnvifStopped &stopped;
    std::vector<Found> &found;
};

template <class Found>
int askStopped(void *context) {
    const OnvifStopped &stopped = static_cast<Lookup<Found> *>(context)->stopped;
    return stopped && stopped() ? 1 : 0;
}

}  // namespace

int discoverOnvifDevices(int seconds, const OnvifStopped &stopped, std::vector<OnvifDevice> &found) {
    const IPCamDiscoverFoundCallback collect = [](void *context, const IPCamOnvifFound *d) {
        static_cast<Lookup<OnvifDevice> *>(context)->found.push_back(
            {d->deviceUrl, d->name, d->hardware, d->answeredFrom,
             (d->flags & IPCAM_FOUND_ELSEWHERE) != 0, (d->flags & IPCAM_FOUND_CONTESTED) != 0});
    };
    Lookup<OnvifDevice> lookup{stopped, found};
    IPCamOnvifOptions options{};
    options.stop = askStopped<OnvifDevice>;
    return IPCamDiscoverWith(seconds, &options, collect, &lookup);
}

int readOnvifProfiles(const std::string &url, const std::string &account,
                      const std::string &password, const OnvifStopped &stopped,
                      std::vector<OnvifProfileEntry> &found) {
    const auto collect = [](void *context, const IPCamOnvifProfile *p) {
        static_cast<Lookup<OnvifProfileEntry> *>(context)->found.push_back(
            {p->index, field(p->name), field(p->codec), p->width, p->height});
    };
    Lookup<OnvifProfileEntry> lookup{stopped, found};
    IPCamOnvifOptions options{};
    options.stop = askStopped<OnvifProfileEntry>;
    return IPCamOnvifProfilesWith(url.c_str(), account.c_str(), password.c_str(), &options, collect,
                                  &lookup);
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
    text = text.empty() ? device.url : text + "\n" + device.url;
    if (device.elsewhere) {
        const std::size_t host = device.url.find("://") + 3;
        text += "\nanswered from " + device.answeredFrom + ", points to " +
                device.url.substr(host, device.url.find_first_of(":/", host) - host);
    } else if (device.contested) {
        text += "\nanother answer claims the same camera";
    }
    return fromUtf8(text);
}

}  // namespace kestrel
