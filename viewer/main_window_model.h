// The main window's arithmetic and records, apart from any widget: the site-information text,
// the layout measured from the menu bar, the requests behind the PTZ and output buttons, the
// memory check and the occlusion watchdog's verdicts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ipcam.h"
#include "viewer/display.h"
#include "viewer/site_record.h"

namespace kestrel {

inline constexpr const char16_t *kEmptySiteText = u"SITE:  --------\n-.-.-.- : - (---)";

// "SITE:  name\nhost:port STREAMn (Small|Middle|Big)" (a URL site: "url (size)", an ONVIF
// site: "url PROFILE n (size)" with the zero-based profile), or the empty-site text when the
// site has neither name nor host.
std::u16string siteInfoText(const SiteRecord &site);

// What Start and Snapshot say when the current site gives nothing to view: no site at all, or
// a site without an address. Empty when the site has an address.
std::u16string missingSiteText(const SiteRecord &site);
// What Snapshot says while nothing is viewed.
inline constexpr const char16_t *kNothingToSnapshot = u"Nothing to save: choose Start first";

// The text windows and buttons, from the menu bar's top T and its left and right edges, the
// site-information font's line height h and the main window's width:
//   status area       L+2, T-h,  R, T
//   site information  L+2, T-3h, R, T-h
//   buttons           u = width / 5 and s = u - 1; each u-2 wide and h-1 high, at offsets
//                     from the site-information area's top-left corner.
struct PanelButton {
    int id;
    const char *caption;
    int column, row;  // in steps s and rows h
};
extern const PanelButton kPanelButtons[8];

struct ButtonPlace {
    int id;
    const char *caption;
    Rect rect;
};
struct MainLayout {
    Rect status, siteInfo;
    ButtonPlace buttons[8];
};
MainLayout layoutMainWindow(int menuTop, int menuLeft, int menuRight, int textHeight,
                            int windowWidth);

// PTZ action codes of the buttons and digit keys.
inline constexpr int32_t kPtzUp = 4, kPtzDown = 5, kPtzLeft = 6, kPtzRight = 7;
inline constexpr int32_t kPtzZoomIn = 18, kPtzZoomOut = 19;

// The action of a digit key ('2' up, '8' down, '4' left, '6' right, '3' zoom in, '9' zoom
// out); 0 for any other key.
int32_t ptzActionForKey(int key);

// The PTZ request of one action: code 12, no channel, speed, preset or text given.
PtzRequest ptzActionRequest(int32_t action);

// The write (code 18) that flips output n (1 to 4) of what a read (code 17) returned.
AlarmIoRequest outputToggleRequest(const AlarmIoRequest &read, int output);

// The memory check of start-up: pictures up to 3840x2160 need three times the picture
// buffer free; otherwise the viewer falls back to 720x576.
bool memoryTooLow(uint64_t availableBytes, std::size_t pictureBufferBytes);

// Available physical memory (MemAvailable of /proc/meminfo); 0 when unknown.
uint64_t availableMemory();

// What a watchdog tick of the main window does with the occlusion counter.
enum class WatchdogVerdict { none, stop, quit };
WatchdogVerdict mainWatchdogVerdict(uint16_t counter, bool smartphone);

}  // namespace kestrel
