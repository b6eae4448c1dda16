#include "viewer/status_names.h"

#include <cstdio>

#include "ipcam.h"

namespace kestrel {

namespace {

struct Name {
    int code;
    const char *text;
};

constexpr Name kNames[] = {
    {IPCAM_OK, "IPCAM_OK"},
    {IPCAM_IS_NULL, "IPCAM_IS_NULL"},
    {IPCAM_PORT_IS_ER, "IPCAM_PORT_IS_ER"},
    {IPCAM_TYPE_IS_ER, "IPCAM_TYPE_IS_ER"},
    {IPCAM_USER_OR_PASSWD_IS_ER, "IPCAM_USER_OR_PASSWD_IS_ER"},
    {IPCAM_PING_IS_ER, "IPCAM_PING_IS_ER"},
    {IPCAM_DDNS_IS_ER, "IPCAM_DDNS_IS_ER"},
    {IPCAM_SETSOCKET_IS_ER, "IPCAM_SETSOCKET_IS_ER"},
    {IPCAM_AUDIO_SOCKET_IS_ER, "IPCAM_AUDIO_SOCKET_IS_ER"},
    {IPCAM_VIDEO_GETFRAME_IS_ER, "IPCAM_VIDEO_GETFRAME_IS_ER"},
    {IPCAM_IS_UNCONNECTED, "IPCAM_IS_UNCONNECTED"},
    {IPCAM_IS_FULL, "IPCAM_IS_FULL"},
    {IPCAM_NUM_LIMITED_ER, "IPCAM_NUM_LIMITED_ER"},
    {IPCAM_CANT_DETECT_TYPE_ER, "IPCAM_CANT_DETECT_TYPE_ER"},
    {IPCAM_GET_INFO_IS_ER, "IPCAM_GET_INFO_IS_ER"},
    {IPCAM_CHECK_SUM_IS_ER, "IPCAM_CHECK_SUM_IS_ER"},
    {IPCAM_VIDEO_AUDIO_PORT_ER, "IPCAM_VIDEO_AUDIO_PORT_ER"},
    {IPCAM_IS_OVER, "IPCAM_IS_OVER"},
};

}  // namespace

const char *statusName(int code) {
    for (const Name &n : kNames)
        if (n.code == code) return n.text;
    return nullptr;
}

std::string lastStatusText(int code) {
    if (code == IPCAM_OK) return {};
    if (const char *name = statusName(code)) return name;
    char text[40];
    std::snprintf(text, sizeof text, "Unknow status:%d\n", code);
    return text;
}

}  // namespace kestrel
