#include "viewer/main_window_model.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "viewer/command_ids.h"
#include "viewer/site_list.h"

namespace kestrel {

std::u16string siteInfoText(const SiteRecord &site) {
    const std::u16string name = siteName(site), host = siteHost(site);
    if (name.empty() && host.empty()) return kEmptySiteText;
    static constexpr const char16_t *kSizes[] = {u"Small", u"Middle", u"Big"};
    auto decimal = [](uint32_t value) {
        const std::string digits = std::to_string(value);
        return std::u16string(digits.begin(), digits.end());
    };
    // A URL says everything about where the site is; its port and stream number are unused.
    if (site.protocolType == kProtocolRtspUrl)
        return u"SITE:  " + name + u"\n" + host + u" (" + kSizes[site.videoSize % 3] + u")";
    // An ONVIF device's URL likewise, and its stream number is the media profile it plays.
    if (site.protocolType == kProtocolOnvif)
        return u"SITE:  " + name + u"\n" + host + u" PROFILE " + decimal(site.streamNumber) +
               u" (" + kSizes[site.videoSize % 3] + u")";
    return u"SITE:  " + name + u"\n" + host + u":" + decimal(site.port) + u" STREAM" +
           decimal(site.streamNumber + 1u) + u" (" + kSizes[site.videoSize % 3] + u")";
}

std::u16string missingSiteText(const SiteRecord &site) {
    const std::u16string name = siteName(site), host = siteHost(site);
    if (!host.empty()) return {};
    if (name.empty()) return u"No site chosen: pick or add one with Site";
    return name + u" has no address: set one with Site, Manage, Edit";
}

const PanelButton kPanelButtons[8] = {
    {kBtnLeft, "<", 0, 1},       {kBtnUp, "/\\", 1, 0},       {kBtnDown, "V", 1, 2},
    {kBtnRight, ">", 2, 1},      {kBtnZoomIn, "ZI", 3, 0},    {kBtnZoomOut, "ZO", 3, 1},
    {kBtnOutput1, "IO 1", 4, 0}, {kBtnOutput2, "IO 2", 4, 1},
};

MainLayout layoutMainWindow(int menuTop, int menuLeft, int menuRight, int h, int windowWidth) {
    MainLayout l{};
    l.status = Rect{menuLeft + 2, menuTop - h, menuRight, menuTop};
    l.siteInfo = Rect{menuLeft + 2, menuTop - 3 * h, menuRight, menuTop - h};
    const int u = windowWidth / 5, s = u - 1;
    for (int i = 0; i < 8; ++i) {
        const PanelButton &b = kPanelButtons[i];
        const int left = l.siteInfo.left + b.column * s, top = l.siteInfo.top + b.row * h;
        l.buttons[i] = ButtonPlace{b.id, b.caption, Rect{left, top, left + u - 2, top + h - 1}};
    }
    return l;
}

PtzRequest ptzActionRequest(int32_t action) {
    PtzRequest r;
    std::memset(&r, 0, sizeof r);
    r.code = IPCAM_CMD_PAN_TILT;
    std::memset(&r.model, 0xFF, 16);  // model, address, baud rate, speed: none given
    r.command = action;
    r.text[0] = 0;
    std::memset(&r.number, 0xFF, sizeof r.number);
    return r;
}

AlarmIoRequest outputToggleRequest(const AlarmIoRequest &read, int output) {
    AlarmIoRequest w{};
    w.code = IPCAM_CMD_WRITE_ALARM_IO;
    w.mode = 0;
    w.interval = read.interval;
    std::memcpy(w.outputs, read.outputs, sizeof w.outputs);
    if (output >= 1 && output <= 4) w.outputs[output - 1] = read.outputs[output - 1] == 0 ? 1 : 0;
    return w;
}

int32_t ptzActionForKey(int key) {
    switch (key) {
        case '2': return kPtzUp;
        case '8': return kPtzDown;
        case '4': return kPtzLeft;
        case '6': return kPtzRight;
        case '3': return kPtzZoomIn;
        case '9': return kPtzZoomOut;
        default: return 0;
    }
}

bool memoryTooLow(uint64_t availableBytes, std::size_t pictureBufferBytes) {
    return availableBytes <= 3 * static_cast<uint64_t>(pictureBufferBytes);
}

uint64_t availableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string line;
    while (std::getline(meminfo, line)) {
        if (line.rfind("MemAvailable:", 0) != 0) continue;
        std::istringstream fields(line.substr(13));
        uint64_t kib = 0;
        fields >> kib;
        return kib * 1024;
    }
    return 0;
}

WatchdogVerdict mainWatchdogVerdict(uint16_t counter, bool smartphone) {
    if (counter == 10) return WatchdogVerdict::stop;
    if (counter > 30 && smartphone) return WatchdogVerdict::quit;
    return WatchdogVerdict::none;
}

}  // namespace kestrel
