// Library start-up and shutdown.
#include "core/address_cache.h"
#include "core/config.h"
#include "core/reachability.h"
#include "core/session_map.h"
#include "ipcam.h"
#include "platform/message.h"

using namespace ipcam;

extern "C" IPCAM_API int IPCamInit(void) {
    if (loadEchoFunctions() != 0) showMessage("Can't initiate the ping functions.", "error");
    registry();  // the two locks and the session map
    setSettings(readConfigFile(configFilePath()));
    clearAddressCache();
    return 1;
}

extern "C" IPCAM_API int IPCamExit(void) {
    return IPCAM_OK;
}

extern "C" IPCAM_API void IPCamSetMessageHandler(void (*handler)(const char *text,
                                                                 const char *caption)) {
    setMessageHandler(handler);
}
