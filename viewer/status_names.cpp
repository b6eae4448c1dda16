#include "viewer/status_names.h"

#include <cstdio>

#include "ipcam.h"

namespace kestrel {

namespace {

struct Status {
    int code;
    const char *name;
    const char *sentence;
};

constexpr Status kStatuses[] = {
    {IPCAM_OK, "IPCAM_OK", "Playing"},
    {IPCAM_IS_NULL, "IPCAM_IS_NULL", "The connection failed"},
    {IPCAM_PORT_IS_ER, "IPCAM_PORT_IS_ER", "The port must be a number from 0 to 65535"},
    {IPCAM_TYPE_IS_ER, "IPCAM_TYPE_IS_ER", "The viewer asked for something the library cannot do"},
    {IPCAM_USER_OR_PASSWD_IS_ER, "IPCAM_USER_OR_PASSWD_IS_ER", "Wrong account or password"},
    {IPCAM_PING_IS_ER, "IPCAM_PING_IS_ER", "The camera does not answer on the network"},
    {IPCAM_DDNS_IS_ER, "IPCAM_DDNS_IS_ER", "Address not found"},
    {IPCAM_SETSOCKET_IS_ER, "IPCAM_SETSOCKET_IS_ER", "Cannot reach the camera"},
    {IPCAM_AUDIO_SOCKET_IS_ER, "IPCAM_AUDIO_SOCKET_IS_ER", "The camera stopped taking data"},
    {IPCAM_VIDEO_GETFRAME_IS_ER, "IPCAM_VIDEO_GETFRAME_IS_ER", "The video stream broke off"},
    {IPCAM_IS_UNCONNECTED, "IPCAM_IS_UNCONNECTED", "Not connected yet"},
    {IPCAM_IS_FULL, "IPCAM_IS_FULL", "The camera serves no more viewers"},
    {IPCAM_NUM_LIMITED_ER, "IPCAM_NUM_LIMITED_ER", "The camera refused the request"},
    {IPCAM_CANT_DETECT_TYPE_ER, "IPCAM_CANT_DETECT_TYPE_ER",
     "The device is not a camera or recorder this viewer knows"},
    {IPCAM_GET_INFO_IS_ER, "IPCAM_GET_INFO_IS_ER", "The camera did not tell what it is"},
    {IPCAM_ONVIF_NOT_DEVICE, "IPCAM_ONVIF_NOT_DEVICE",
     "The address does not answer as an ONVIF device"},
    {IPCAM_ONVIF_FAULT, "IPCAM_ONVIF_FAULT", "The camera's ONVIF service refused the request"},
    {IPCAM_ONVIF_NO_PROFILE, "IPCAM_ONVIF_NO_PROFILE",
     "The camera has no media profile with this number"},
    {IPCAM_ONVIF_NO_STREAM, "IPCAM_ONVIF_NO_STREAM",
     "The camera gave no stream address for this profile"},
    {IPCAM_ONVIF_REPLY_TOO_LARGE, "IPCAM_ONVIF_REPLY_TOO_LARGE",
     "The camera's reply is too large (over 1 MiB)"},
    {IPCAM_ONVIF_WANTS_HTTPS, "IPCAM_ONVIF_WANTS_HTTPS",
     "The camera wants HTTPS, which this viewer does not speak to it"},
    {IPCAM_CLEAR_PASSWORD_REFUSED, "IPCAM_CLEAR_PASSWORD_REFUSED",
     "The device asks for the password in clear text over an unencrypted connection; refused"},
    {IPCAM_CHECK_SUM_IS_ER, "IPCAM_CHECK_SUM_IS_ER", "The stream arrived damaged; viewing stopped"},
    {IPCAM_VIDEO_AUDIO_PORT_ER, "IPCAM_VIDEO_AUDIO_PORT_ER",
     "The recorder has not said how many channels it has"},
    {IPCAM_IS_OVER, "IPCAM_IS_OVER", "Stopped"},
};

const Status *findStatus(int code) {
    for (const Status &s : kStatuses)
        if (s.code == code) return &s;
    return nullptr;
}

}  // namespace

const char *statusName(int code) {
    const Status *s = findStatus(code);
    return s ? s->name : nullptr;
}

const char *reachSentence(int reach) {
    switch (reach) {
        case IPCAM_REACH_REFUSED:
            return "Connection refused: nothing listens on that port";
        case IPCAM_REACH_SILENT:
            return "No answer: the device takes the connection but never answers";
        case IPCAM_REACH_UNREACHABLE:
            return "No answer to the connection: the device is off, or a firewall drops it";
        case IPCAM_REACH_SLOW:
            return "The camera is slow to answer; still waiting";
        default:
            return "";
    }
}

const char *statusSentence(int code) {
    const Status *s = findStatus(code);
    return s ? s->sentence : "Unexpected answer from the camera";
}

std::string lastStatusText(int code, int reach) {
    if (code == IPCAM_OK) return {};
    char unnamed[40];
    const char *name = statusName(code);
    if (!name) {
        std::snprintf(unnamed, sizeof unnamed, "Unknow status:%d", code);
        name = unnamed;
    }
    // The words first: a narrow status line cuts the end, and the name is for the manual.
    const char *why = reachSentence(reach);
    return std::string(*why ? why : statusSentence(code)) + " (" + name + ")";
}

}  // namespace kestrel
