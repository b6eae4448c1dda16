#include "control/family_b_control.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "control/alarm_io.h"
#include "control/pan_tilt_protocols.h"
#include "control/ptz_control.h"
#include "control/recorder_keys.h"
#include "control/settings_tables.h"
#include "control/video_format.h"
#include "core/decimal.h"
#include "core/fixed_text.h"
#include "core/session.h"

namespace ipcam {

namespace {

constexpr int32_t kDefaultAlarmCount = 2;

int reserved(CommandObject &, CommandCall &, void *) {
    return 0;
}
int refused(CommandObject &, CommandCall &, void *) {
    return IPCAM_IS_NULL;
}

SettingContext contextOf(CommandCall &call) {
    return SettingContext{call.client, call.channel, call.modelNumber};
}

// Rows that the numbered commands read with the settings mechanism in a layout of their own:
// picture adjustment as family A lays it out, exposure with the write's key order.
constexpr const char *kAdjustKeys[] = {"Brightness", "Contrast", "Saturation", "Hue"};
constexpr const char *kExposureKeys[] = {"AES", "BLC", "AGC", "MIRROR"};
const SettingRow kReadAdjust{7, "GetStatus.cgi", kSettingRead, kAdjustKeys};
const SettingRow kReadExposure{15, "GetCCD.cgi", kSettingRead, kExposureKeys};

int32_t settingFor(int32_t code) {
    return code == 16 ? 8238 : code;
}

int setting(CommandObject &, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamSettingsRecord *>(request);
    const SettingRow *row = record.code == 7    ? &kReadAdjust
                            : record.code == 15 ? &kReadExposure
                                                : familyBSetting(settingFor(record.code));
    if (!row) return kUnknownCommand;
    SettingContext context = contextOf(call);
    return runFamilyBSetting(*row, context, record);
}

// Runs one single-value write with value in its first field.
int change(CommandCall &call, int32_t code, std::string_view first, std::string_view second = {}) {
    IPCamSettingsRecord record = settingsRecord(code);
    copyTextCut(record.field[0], first);
    copyTextCut(record.field[1], second);
    SettingContext context = contextOf(call);
    return runFamilyBSetting(*familyBSetting(code), context, record);
}

// Code 8: one Change CGI per value given; the first failure ends the series.
int writeAdjust(CommandObject &, CommandCall &call, void *request) {
    const auto &record = *static_cast<const IPCamSettingsRecord *>(request);
    int result = 0;
    for (int32_t i = 0; i < 4; ++i) {
        std::string_view value = fieldText(record.field[i]);
        if (value.empty()) continue;
        result = change(call, 8203 + i, value);
        if (result < 0) break;
    }
    return result;
}

// Code 9: switch and sensitivity from "GetMotionDetect.cgi", the rectangle's corners from
// the "Rect" of "GetStatus.cgi" (",x1,y1,x2,y2", as "SetMonitorRect.cgi" takes it).
int readMotion(CommandObject &, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamSettingsRecord *>(request);
    IPCamSettingsRecord detect = settingsRecord(8210);
    SettingContext context = contextOf(call);
    int r = runFamilyBSetting(*familyBSetting(8210), context, detect);
    if (r < 0) return r;
    r = call.client.Get("GetStatus.cgi");
    if (r < 0) return r;
    char rect[IPCAM_SETTINGS_FIELD_SIZE] = "";
    call.client.GetValueB("Rect", rect, sizeof rect);
    std::memcpy(record.field[0], detect.field[0], sizeof record.field[0]);
    std::memcpy(record.field[1], detect.field[1], sizeof record.field[1]);
    std::string_view corners = rect;
    for (std::size_t i = 2; i < 6; ++i) {
        if (!corners.empty() && corners.front() == ',') corners.remove_prefix(1);
        std::size_t end = corners.find(',');
        copyTextCut(record.field[i], corners.substr(0, end));
        corners = end == std::string_view::npos ? std::string_view() : corners.substr(end);
    }
    return 0;
}

// Code 10: the switch and sensitivity, then the rectangle when any corner is given.
int writeMotion(CommandObject &, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamSettingsRecord *>(request);
    int result = change(call, 8211, fieldText(record.field[0]), fieldText(record.field[1]));
    if (result < 0) return result;
    IPCamSettingsRecord rect = settingsRecord(8209);
    bool any = false;
    for (std::size_t i = 0; i < 4; ++i) {
        std::memcpy(rect.field[i], record.field[i + 2], sizeof rect.field[i]);
        rect.field[i][sizeof rect.field[i] - 1] = '\0';
        any = any || rect.field[i][0];
    }
    if (!any) return result;
    SettingContext context = contextOf(call);
    return runFamilyBSetting(*familyBSetting(8209), context, rect);
}

int readFormat(CommandObject &, CommandCall &call, void *request) {
    return readFamilyBFormat(call, *static_cast<IPCamVideoFormatRecord *>(request));
}

int writeFormat(CommandObject &, CommandCall &call, void *request) {
    return writeFamilyBFormat(call, *static_cast<IPCamVideoFormatRecord *>(request));
}

int readPanTilt(CommandObject &, CommandCall &call, void *request) {
    return readPanTiltSettings(call, *static_cast<IPCamPanTiltRecord *>(request),
                               PanTiltFamily::B);
}

int readAlarms(CommandObject &, CommandCall &call, void *request) {
    return readFamilyBAlarms(call, *static_cast<AlarmIoRequest *>(request));
}

int writeAlarms(CommandObject &, CommandCall &call, void *request) {
    return writeFamilyBAlarms(call, *static_cast<const AlarmIoRequest *>(request));
}

int panTilt(CommandObject &self, CommandCall &call, void *request) {
    return familyBPanTilt(call, *static_cast<const PtzRequest *>(request), self.recorderChannels());
}

int panTiltSettings(CommandObject &, CommandCall &call, void *request) {
    return familyBPanTiltSettings(call, *static_cast<const PtzRequest *>(request));
}

int serialPanTilt(CommandObject &, CommandCall &call, void *request) {
    return familyBSerialPanTilt(call, *static_cast<const PtzRequest *>(request));
}

int recorderKey(CommandObject &self, CommandCall &call, void *request) {
    self.setRecorderChannels(call.recorderChannels);
    const auto &key = *static_cast<const RecorderKeyRequest *>(request);
    return familyBRecorderKey(call, key.key, call.recorderChannels);
}

// Code 13: recorder types 0, 1 and 2 have 4, 8 and 16 channels; the result is the count.
int recorderChannels(CommandObject &self, CommandCall &call, void *request) {
    auto &record = *static_cast<IPCamRecorderChannelsRecord *>(request);
    IPCamSettingsRecord type = settingsRecord(8242);
    SettingContext context = contextOf(call);
    const int r = runFamilyBSetting(*familyBSetting(8242), context, type);
    int32_t count = 0;
    if (r >= 0 && type.field[0][0]) {
        switch (decimalValue(fieldText(type.field[0]))) {
            case 0: count = 4; break;
            case 1: count = 8; break;
            case 2: count = 16; break;
            default: break;
        }
    }
    record.channels = count;
    self.setRecorderChannels(count);
    return r < 0 ? r : count;
}

const CommandMap &familyB() {
    static const CommandMap map = [] {
        CommandMap m = {{1, reserved},         {2, reserved},     {3, readFormat},
                        {4, writeFormat},      {5, reserved},     {6, reserved},
                        {7, setting},          {8, writeAdjust},  {9, readMotion},
                        {10, writeMotion},     {11, readPanTilt}, {13, recorderChannels},
                        {15, setting},         {16, setting},     {257, refused},
                        {258, refused}};
        for (int32_t code = 8193; code <= 8243; ++code)
            if (familyBSetting(code)) m[code] = setting;
        m[17] = m[8235] = readAlarms;
        m[18] = m[8236] = writeAlarms;
        m[12] = panTilt;
        m[8240] = panTiltSettings;
        m[8241] = serialPanTilt;
        m[14] = recorderKey;
        return m;
    }();
    return map;
}

}  // namespace

FamilyBControl::FamilyBControl() : CommandObject(familyB()) {}

int FamilyBControl::admit(IPCamSession &session, int32_t code, void *request, CommandCall &call) {
    if (session.inputCount == 0 && session.outputCount == 0) {
        session.inputCount = kDefaultAlarmCount;
        session.outputCount = kDefaultAlarmCount;
    }
    if (code == IPCAM_CMD_PAN_TILT) session.itemValue1 = static_cast<const int32_t *>(request)[1];
    if (code == IPCAM_CMD_RECORDER_KEY) {
        call.recorderChannels = session.recorderChannels;
        if (call.recorderChannels <= 0) return kNoRecorderChannels;
    }
    return 0;
}

}  // namespace ipcam
