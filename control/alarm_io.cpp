#include "control/alarm_io.h"

#include <cstdio>

#include "control/capabilities.h"
#include "control/cgi_reply.h"
#include "control/query_builder.h"
#include "core/decimal.h"

namespace ipcam {

namespace {

constexpr uint32_t kNewerModels = 57;  // from here on the "Output" keys
constexpr int32_t kFailedReadInterval = 5;
constexpr std::size_t kValueSize = 32;

void clear(AlarmIoRequest &request, int32_t interval) {
    request.mode = 0;
    request.interval = interval;
    for (uint8_t &out : request.outputs) out = 0;
}

const char *onOff(uint8_t state) {
    return state ? "1" : "0";
}

}  // namespace

int readFamilyAAlarms(CommandCall &call, AlarmIoRequest &request) {
    static constexpr const char *kOlder[] = {"Alarm1_Status", "Alarm2_Status", "Alarm_Interval",
                                             "COM1OUT",       "COM2OUT",       "COM3OUT",
                                             "COM4OUT",       "COM_Interval",  "COM_Module"};
    static constexpr const char *kNewer[] = {"Input1_Status", "Input2_Status",   "Input_Interval",
                                             "Output1",       "Output2",         "Output3",
                                             "Output4",       "Output_Interval", "Output_Mode"};
    const uint32_t model = call.modelCode();
    const char *const *keys = model < kNewerModels ? kOlder : kNewer;

    const int r = call.client.Get("GetGPIO.cgi");
    if (r < 0) {
        clear(request, kFailedReadInterval);
        return r;
    }
    char values[9][kValueSize];
    for (int i = 8; i >= 0; --i) call.client.GetValueA(keys[i], values[i], kValueSize);
    request.mode = decimalValue(values[8]);
    request.interval = decimalValue(values[7]);
    for (int i = 0; i < 4; ++i) request.outputs[i] = decimalValue(values[3 + i]) != 0;
    if (inModelSet(ModelSet::S5, model)) request.mode = -1;
    return 0;
}

int writeFamilyAAlarms(CommandCall &call, const AlarmIoRequest &request) {
    const bool newer = call.modelCode() >= kNewerModels;
    // Interval, mode, the four states, the four pulse keys, (older models) the four serial
    // keys; the query carries them from the last to the first.
    const char *keys[14] = {newer ? "Output_Interval=" : "CInterval=",
                            newer ? "Output_Mode=" : "COMModule="};
    char interval[16] = "", mode[16];
    if (request.interval > 0) std::snprintf(interval, sizeof interval, "%d", request.interval);
    std::snprintf(mode, sizeof mode, "%d", request.mode);
    const char *values[14] = {interval, mode};
    static constexpr const char *kNewerKeys[] = {
        "Out1STA=",   "Out2STA=",   "Out3STA=",   "Out4STA=",
        "Out1Slide=", "Out2Slide=", "Out3Slide=", "Out4Slide="};
    static constexpr const char *kOlderKeys[] = {
        "COM1STA=",   "COM2STA=",   "COM3STA=", "COM4STA=", "COM1Slide=", "COM2Slide=",
        "COM3Slide=", "COM4Slide=", "COM1PT=",  "COM2PT=",  "COM3PT=",    "COM4PT="};
    const int count = newer ? 10 : 14;
    for (int i = 2; i < count; ++i) {
        keys[i] = newer ? kNewerKeys[i - 2] : kOlderKeys[i - 2];
        values[i] = "";
    }
    // The states go under the keys of the mode: 0 steady, 1 pulses, 2 serial (older only).
    const int group = 2 + 4 * request.mode;
    if (request.mode >= 0 && group + 4 <= count)
        for (int i = 0; i < 4; ++i) values[group + i] = onOff(request.outputs[i]);

    char query[CgiClient::kRequestSize] = "";
    if (!BuildQuery(query, sizeof query, count, keys, values)) return kCgiNoName;
    return call.client.Set("SetGPIO.cgi", query);
}

int readFamilyBAlarms(CommandCall &call, AlarmIoRequest &request) {
    clear(request, 0);
    const int r = call.client.Get("GetIO.cgi");
    if (r < 0) return r;
    static constexpr const char *kKeys[] = {"Interval", "GPIOOUT4", "GPIOOUT3", "GPIOOUT2",
                                            "GPIOOUT1", "GPIOIN1",  "GPIOIN0"};
    char value[kValueSize];
    for (int i = 0; i < 7; ++i) {
        value[0] = '\0';
        const int lookup = call.client.GetValueB(kKeys[i], value, sizeof value);
        if (lookup < 0 && i < 6) return lookup;
        if (i >= 1 && i <= 4) request.outputs[4 - i] = decimalValue(value) != 0;
    }
    return 0;
}

int writeFamilyBAlarms(CommandCall &call, const AlarmIoRequest &request) {
    static constexpr const char *kKeys[] = {"GPIO1Out=", "GPIO2Out=", "GPIO3Out=", "GPIO4Out="};
    const char *values[4];
    for (int i = 0; i < 4; ++i) values[i] = onOff(request.outputs[i]);
    char query[CgiClient::kRequestSize] = "";
    if (!BuildQuery(query, sizeof query, 4, kKeys, values)) return kCgiNoName;
    return call.client.Set("SetIO.cgi", query);
}

}  // namespace ipcam
