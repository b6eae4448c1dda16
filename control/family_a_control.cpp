#include "control/family_a_control.h"

#include <cstring>

#include "control/alarm_io.h"
#include "control/capabilities.h"
#include "control/pan_tilt_protocols.h"
#include "control/ptz_control.h"
#include "control/recorder_keys.h"
#include "control/settings_tables.h"
#include "core/decimal.h"
#include "core/session.h"
#include "core/session_api.h"

namespace ipcam {

namespace {

constexpr int kRecorderModelItem = 6;
constexpr int kNoPanTilt = IPCAM_GET_INFO_IS_ER;

int reserved(CommandObject &, CommandCall &, void *) {
    return 0;
}
int refused(CommandObject &, CommandCall &, void *) {
    return IPCAM_IS_NULL;
}

// Codes 5 to 10, 15 and 16 are settings commands under another number.
int32_t settingFor(int32_t code) {
    switch (code) {
        case 5: return 4108;
        case 6: return 4109;
        case 7: return 4106;
        case 8: return 4107;
        case 9: return 4116;
        case 10: return 4117;
        case 15: return 4122;
        case 16: return 4123;
        default: return code;
    }
}

int setting(CommandObject &, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamSettingsRecord *>(request);
    const SettingRow *row = familyASetting(settingFor(record.code));
    if (!row) return kUnknownCommand;
    SettingContext context{call.client, call.channel, call.modelNumber};
    return runFamilyASetting(*row, context, record);
}

int readFormat(CommandObject &, CommandCall &call, void *request) {
    return readFamilyAFormat(call, *static_cast<IPCamVideoFormatRecord *>(request));
}

int writeFormat(CommandObject &, CommandCall &call, void *request) {
    return writeFamilyAFormat(call, *static_cast<IPCamVideoFormatRecord *>(request));
}

// Models with a built-in head (S7) and those without pan/tilt settings (S8) keep none to read.
int readPanTilt(CommandObject &, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamPanTiltRecord *>(request);
    const uint32_t model = call.modelCode();
    if (inModelSet(ModelSet::S7, model) || inModelSet(ModelSet::S8, model)) {
        clearPanTiltSettings(record);
        return 0;
    }
    return readPanTiltSettings(call, record, PanTiltFamily::A);
}

int recorderChannels(CommandObject &self, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamRecorderChannelsRecord *>(request);
    const int r = call.client.Get("GetDVRCHANNEL.cgi");
    char value[32] = "";
    int32_t count = 0;
    if (r >= 0 && call.client.GetValueA("dvr_channel", value, sizeof value) > 0)
        count = decimalValue(value);
    record.channels = count;
    self.setRecorderChannels(count);
    return r;
}

int readAlarms(CommandObject &, CommandCall &call, void *request) {
    return readFamilyAAlarms(call, *static_cast<AlarmIoRequest *>(request));
}

int writeAlarms(CommandObject &, CommandCall &call, void *request) {
    return writeFamilyAAlarms(call, *static_cast<const AlarmIoRequest *>(request));
}

int panTilt(CommandObject &, CommandCall &call, void *request) {
    return familyAPanTilt(call, *static_cast<const PtzRequest *>(request));
}

int recorderKey(CommandObject &self, CommandCall &call, void *request) {
    if (call.recorderChannels > 0) self.setRecorderChannels(call.recorderChannels);
    return familyARecorderKey(call, *static_cast<const RecorderKeyRequest *>(request));
}

// Device cameras: the offer comes from the capabilities, not from the model code.
int readDeviceFormat(CommandObject &self, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamVideoFormatRecord *>(request);
    DeviceCapabilities caps;
    const int r = static_cast<DeviceControl &>(self).readCapabilities(call.client, caps);
    if (r < 0) return r;
    const int format = readFamilyAFormat(call, record);
    if (format < 0) return format;
    record.ntscResolutions = record.palResolutions = static_cast<int32_t>(caps.resolutions);
    record.codecs = caps.codecs;
    return format;
}

int readDevicePanTilt(CommandObject &self, CommandCall &call, void *request) {
    auto &device = static_cast<DeviceControl &>(self);
    auto &record = *static_cast<IPCamPanTiltRecord *>(request);
    if (!device.capabilitiesKnown()) {
        DeviceCapabilities caps;
        if (int r = device.readCapabilities(call.client, caps); r < 0) return r;
    }
    if (!device.CanQueryItems()) {
        clearPanTiltSettings(record);
        return kNoPanTilt;
    }
    return readPanTiltSettings(call, record, PanTiltFamily::A);
}

CommandMap familyAMap() {
    CommandMap map = {{1, reserved},      {2, reserved},     {3, readFormat},
                      {4, writeFormat},   {11, readPanTilt}, {13, recorderChannels},
                      {257, refused},     {258, refused}};
    for (int32_t code : {5, 6, 7, 8, 9, 10, 15, 16}) map[code] = setting;
    map[17] = map[4127] = readAlarms;
    map[18] = map[4128] = writeAlarms;
    map[12] = map[4131] = panTilt;
    map[14] = recorderKey;
    for (int32_t code = 4097; code <= 4136; ++code)
        if (familyASetting(code)) map[code] = setting;
    return map;
}

const CommandMap &familyA() {
    static const CommandMap map = familyAMap();
    return map;
}

const CommandMap &device() {
    static const CommandMap map = [] {
        CommandMap m = familyAMap();
        m[3] = readDeviceFormat;
        m[11] = readDevicePanTilt;
        return m;
    }();
    return map;
}

}  // namespace

FamilyAControl::FamilyAControl(uint32_t modelNumber) : FamilyAControl(familyA(), modelNumber) {}

FamilyAControl::FamilyAControl(const CommandMap &map, uint32_t modelNumber)
    : CommandObject(map), modelNumber_(modelNumber) {}

int32_t FamilyAControl::GetValue() {
    return inModelSet(ModelSet::S9, modelNumber_ & 0xFF) ? 1 : 0;
}

int FamilyAControl::admit(IPCamSession &session, int32_t code, void *request, CommandCall &call) {
    modelNumber_ = call.modelNumber;
    if (code == IPCAM_CMD_PAN_TILT) {
        const int32_t value = static_cast<const int32_t *>(request)[1];
        if (value >= 0 && !inModelSet(ModelSet::S6, call.modelCode())) session.itemValue1 = value;
    }
    if (code == IPCAM_CMD_RECORDER_KEY) {
        call.recorderChannels = session.recorderChannels;
        if (call.recorderChannels <= 0 && IPCamGetItem(&session, kRecorderModelItem) == 0)
            return kNoRecorderChannels;
    }
    return 0;
}

DeviceControl::DeviceControl(uint32_t modelNumber) : FamilyAControl(device(), modelNumber) {}

int DeviceControl::readCapabilities(CgiClient &client, DeviceCapabilities &caps) {
    const int r = client.Get("GetCameraType.cgi");
    if (r < 0) return r;
    caps = readDeviceCapabilities(client.ReplyText());
    panTilt_ = caps.panTilt;
    twoWayAudio_ = caps.twoWayAudio;
    known_ = 1;
    return r;
}

}  // namespace ipcam
