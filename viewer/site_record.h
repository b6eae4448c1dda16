// One site: a camera or recorder the user can view, as the site list, its files, the editor
// and the live pipeline all hold it. A plain 612-byte record, copied as a block; its layout is
// the record format of the site list files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

struct SiteRecord {
    char16_t name[100];   // UTF-16, at most 99 code units and a zero
    char16_t host[100];   // dotted address or host name, UTF-16
    uint32_t port;
    char account[100];    // 8-bit, zero-terminated
    char password[100];
    uint32_t videoSize;   // 0 Small, 1 Middle, 2 Big
    uint8_t viewFlags;    // bit 0 rotation, bit 1 fit to width; other bits carried unchanged
    uint8_t streamNumber; // zero-based; an ONVIF site's media profile
    uint8_t protocolType; // 0 Auto, 1-5, 6 RTSP URL, 7 ONVIF
    uint8_t unused;       // carried unchanged
};

static_assert(sizeof(SiteRecord) == 612);
static_assert(offsetof(SiteRecord, host) == 200);
static_assert(offsetof(SiteRecord, port) == 400);
static_assert(offsetof(SiteRecord, account) == 404);
static_assert(offsetof(SiteRecord, password) == 504);
static_assert(offsetof(SiteRecord, videoSize) == 604);
static_assert(offsetof(SiteRecord, viewFlags) == 608);
static_assert(offsetof(SiteRecord, streamNumber) == 609);
static_assert(offsetof(SiteRecord, protocolType) == 610);

// The protocol of a site that plays an RTSP server by its URL, which the host field holds
// (rtsp://[user[:password]@]host[:port]/path, at most 99 characters); the port field is not
// used. The editor's protocol list has a row for each type, in this order.
inline constexpr uint8_t kProtocolRtspUrl = 6;
// An ONVIF device by its device service URL in the host field
// (http://host[:port]/onvif/device_service, at most 99 characters); the port field is not used,
// the account is the device's ONVIF account and streamNumber the zero-based media profile.
inline constexpr uint8_t kProtocolOnvif = 7;
inline constexpr int kProtocolTypes = 8;

// Sites whose host field holds a whole URL, which must never be cut to fit.
inline constexpr bool siteHasUrl(uint8_t protocolType) {
    return protocolType == kProtocolRtspUrl || protocolType == kProtocolOnvif;
}

inline constexpr uint8_t kViewRotation = 0x01;
inline constexpr uint8_t kViewFitToWidth = 0x02;

// A new site: every byte 0, account "admin", password "tqlmr", port 80.
SiteRecord defaultSiteRecord();

}  // namespace kestrel
