#include "control/pan_tilt_protocols.h"

namespace ipcam {

namespace {

constexpr int32_t kUnused = -1;
constexpr int32_t kProtocolCount = 21;

// Index -> flag; family B leaves out indexes 12, 13, 18 and 19.
constexpr int32_t kFamilyA[kProtocolCount] = {
    0,         kUnused,   kUnused,   kUnused, kUnused, 1,       2,       4,         8,         16, 32,
    128,       256,       1 << 26,   kUnused, kUnused, kUnused, kUnused, 1 << 25,   1 << 24,   64};

bool familyBLacks(int32_t index) {
    return index == 12 || index == 13 || index == 18 || index == 19;
}

}  // namespace

int32_t panTiltFlagAt(PanTiltFamily family, int32_t index) {
    if (index < 0 || index >= kProtocolCount) return kUnused;
    if (family == PanTiltFamily::B && familyBLacks(index)) return kUnused;
    return kFamilyA[index];
}

int32_t panTiltIndexOf(PanTiltFamily family, int32_t flag) {
    if (flag < 0) return kUnused;
    for (int32_t i = 0; i < kProtocolCount; ++i)
        if (panTiltFlagAt(family, i) == flag) return i;
    return kUnused;
}

}  // namespace ipcam

#include <cstring>

#include "control/command_object.h"
#include "control/settings_tables.h"
#include "core/decimal.h"
#include "core/fixed_text.h"

namespace ipcam {

void clearPanTiltSettings(IPCamPanTiltRecord &record) {
    record.value = 0;
    std::memset(record.field, 0, sizeof record.field);
}

int readPanTiltSettings(CommandCall &call, IPCamPanTiltRecord &record, PanTiltFamily family) {
    const bool a = family == PanTiltFamily::A;
    IPCamSettingsRecord settings = settingsRecord(a ? 4130 : 8239);
    SettingContext context{call.client, call.channel, call.modelNumber};
    const int r = a ? runFamilyASetting(*familyASetting(settings.code), context, settings)
                    : runFamilyBSetting(*familyBSetting(settings.code), context, settings);
    if (r < 0) return r;
    static_assert(sizeof record.field == sizeof settings.field);
    std::memcpy(record.field, settings.field, sizeof record.field);
    const int32_t flag = panTiltFlagAt(family, decimalValue(fieldText(settings.field[0])));
    record.value = flag > 0 ? flag : 0;
    return record.value;
}

}  // namespace ipcam
