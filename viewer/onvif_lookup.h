// What the viewer asks of ONVIF devices outside a session: which devices answer a discovery,
// and which media profiles a device offers. The dialogs take these as functions so that they
// can be given others; the defaults call the library.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kestrel {

struct OnvifDevice {
    std::string url;  // the device service URL, as a site's host takes it
    std::string name, hardware;
    std::string answeredFrom = {};  // the address the answer came from
    bool elsewhere = false;    // url names another host than answeredFrom
    bool contested = false;    // another answer claims the same device with another url
};

struct OnvifProfileEntry {
    int index = 0;  // the site's streamNumber that plays it
    std::string name, codec;
    int width = 0, height = 0;  // 0 when the profile has no video
};

// Asked by a lookup while it waits: true ends it (IPCAM_IS_OVER) within a tenth of a second.
using OnvifStopped = std::function<bool()>;
// Looks for seconds; the number of devices found (and each in found), or a negative status.
using OnvifDiscover =
    std::function<int(int seconds, const OnvifStopped &stopped, std::vector<OnvifDevice> &found)>;
// Reads a device's profiles with an account; their number (and each in found), or a negative
// status.
using OnvifReadProfiles = std::function<int(const std::string &url, const std::string &account,
                                            const std::string &password,
                                            const OnvifStopped &stopped,
                                            std::vector<OnvifProfileEntry> &found)>;

// IPCamDiscoverWith and IPCamOnvifProfilesWith. They block: the dialogs run them on a thread of
// their own, and stop them when they no longer want the answer.
int discoverOnvifDevices(int seconds, const OnvifStopped &stopped, std::vector<OnvifDevice> &found);
int readOnvifProfiles(const std::string &url, const std::string &account,
                      const std::string &password, const OnvifStopped &stopped,
                      std::vector<OnvifProfileEntry> &found);

// A profile as the editor lists it: "0: mainStream H264 1920x1080"; a part the device left
// empty is left out.
std::u16string profileText(const OnvifProfileEntry &profile);

// A device as the search lists it: "Name (hardware)" and the URL on a line below (a narrow
// window would cut it), the URL alone for a device that gave neither; then, for an answer not
// to trust blindly, a line that says why ("answered from A, points to B").
std::u16string deviceText(const OnvifDevice &device);

}  // namespace kestrel
