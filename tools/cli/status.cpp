#include "tools/cli/status.h"

#include <cstdio>

#include "ipcam.h"
#include "viewer/status_names.h"

namespace ipcam_cli {

std::string statusName(int status) {
    // The names are the viewer's; only the fallback drops its line end.
    if (const char *name = kestrel::statusName(status)) return name;
    char text[32];
    std::snprintf(text, sizeof text, "Unknow status:%d", status);
    return text;
}

const char *statusHint(int status) {
    // The sentences are the viewer's, so the tool and the status line say the same.
    return status == IPCAM_OK ? "" : kestrel::statusSentence(status);
}

const char *reachHint(int reach) {
    return kestrel::reachSentence(reach);
}

bool statusIsFinal(int status) {
    switch (status) {
        case IPCAM_IS_NULL:
        case IPCAM_PORT_IS_ER:
        case IPCAM_TYPE_IS_ER:
        case IPCAM_USER_OR_PASSWD_IS_ER:
        case IPCAM_DDNS_IS_ER:
        case IPCAM_CHECK_SUM_IS_ER:
        case IPCAM_IS_OVER:
        case IPCAM_ONVIF_NOT_DEVICE:
        case IPCAM_ONVIF_NO_PROFILE:
        case IPCAM_ONVIF_WANTS_HTTPS:
        case IPCAM_CLEAR_PASSWORD_REFUSED:
            return true;
        default:
            return false;
    }
}

}  // namespace ipcam_cli
