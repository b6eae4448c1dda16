#include "control/control_factory.h"

#include "control/detection.h"
#include "control/family_a_control.h"
#include "control/family_b_control.h"
#include "control/server_control.h"

namespace ipcam {

CameraControl *makeCameraControl(int32_t protocolType, uint32_t modelNumber) {
    switch (protocolType) {
        case IPCAM_PROTOCOL_TYPE1:
        case IPCAM_PROTOCOL_TYPE4:
        case IPCAM_PROTOCOL_TYPE5:
            if (isDeviceCamera(modelNumber)) return new DeviceControl(modelNumber);
            return new FamilyAControl(modelNumber);
        case IPCAM_PROTOCOL_TYPE2:
            return new FamilyBControl();
        case IPCAM_PROTOCOL_STREAMING_SERVER:
        case IPCAM_PROTOCOL_RTSP_URL:
            return new ServerControl();
        default:
            return nullptr;
    }
}

}  // namespace ipcam
