#include "tools/cli/status.h"

#include <cstdio>

#include "ipcam.h"
#include "viewer/status_names.h"

namespace ipcam_cli {

namespace {

struct StatusHint {
    int code;
    const char *hint;
};

constexpr StatusHint kHints[] = {
    {IPCAM_IS_NULL, "no session or an argument missing"},
    {IPCAM_PORT_IS_ER, "port out of range"},
    {IPCAM_TYPE_IS_ER, "protocol type not usable"},
    {IPCAM_USER_OR_PASSWD_IS_ER, "wrong user name or password"},
    {IPCAM_PING_IS_ER, "host does not answer"},
    {IPCAM_DDNS_IS_ER, "host name not found"},
    {IPCAM_SETSOCKET_IS_ER, "socket could not be set up"},
    {IPCAM_AUDIO_SOCKET_IS_ER, "audio connection failed"},
    {IPCAM_VIDEO_GETFRAME_IS_ER, "video stream broke off"},
    {IPCAM_IS_UNCONNECTED, "not connected"},
    {IPCAM_IS_FULL, "device has no free stream"},
    {IPCAM_NUM_LIMITED_ER, "too many sessions"},
    {IPCAM_CANT_DETECT_TYPE_ER, "device kind not recognised"},
    {IPCAM_GET_INFO_IS_ER, "device information could not be read"},
    {IPCAM_CHECK_SUM_IS_ER, "stream checksum wrong"},
    {IPCAM_VIDEO_AUDIO_PORT_ER, "stream ports not usable"},
    {IPCAM_IS_OVER, "session stopped"},
};

}  // namespace

std::string statusName(int status) {
    // The names are the viewer's; only the fallback drops its line end.
    if (const char *name = kestrel::statusName(status)) return name;
    char text[32];
    std::snprintf(text, sizeof text, "Unknow status:%d", status);
    return text;
}

const char *statusHint(int status) {
    for (const StatusHint &h : kHints)
        if (h.code == status) return h.hint;
    return "";
}

bool statusIsFinal(int status) {
    switch (status) {
    case IPCAM_IS_NULL:
    case IPCAM_PORT_IS_ER:
    case IPCAM_TYPE_IS_ER:
    case IPCAM_USER_OR_PASSWD_IS_ER:
    case IPCAM_DDNS_IS_ER:
    case IPCAM_CANT_DETECT_TYPE_ER:
    case IPCAM_CHECK_SUM_IS_ER:
    case IPCAM_IS_OVER:
        return true;
    default:
        return false;
    }
}

}  // namespace ipcam_cli
