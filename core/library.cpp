// Library start-up and shutdown.
#include "core/address_cache.h"
#include "core/config.h"
#include "core/session_map.h"
#include "ipcam.h"

using namespace ipcam;

extern "C" IPCAM_API int IPCamInit(void) {
    registry();  // the two locks and the session map
    setSettings(readConfigFile(configFilePath()));
    clearAddressCache();
    return 1;
}

extern "C" IPCAM_API int IPCamExit(void) {
    return IPCAM_OK;
}
