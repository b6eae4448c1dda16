#include "control/detection.h"

#include <cstring>

#include "control/cgi_client.h"
#include "core/decimal.h"
#include "core/session.h"

namespace ipcam {

namespace {

struct AlarmRow {
    uint8_t first, last;  // model codes, both included
    int8_t inputs, outputs;
};

// Alarm inputs and outputs of plain family A cameras by model code. Later rows win, so the
// recorders at the end override anything above them.
constexpr AlarmRow kAlarmRows[] = {
    {10, 39, 2, 2}, {62, 62, 2, 2},   {72, 74, 2, 2},   {78, 79, 2, 2},   {85, 85, 2, 2},
    {87, 87, 2, 2}, {128, 130, 2, 2}, {151, 151, 2, 2}, {161, 161, 2, 2}, {177, 177, 2, 2},
    {40, 56, 2, 4}, {63, 63, 2, 4},   {69, 69, 2, 4},   {58, 58, 4, 4},   {57, 57, 4, 1},
    {59, 59, 4, 1}, {61, 61, 1, 1},   {67, 67, 1, 1},   {75, 77, 1, 1},   {80, 81, 1, 1},
    {83, 83, 1, 1}, {86, 86, 1, 1},   {60, 60, 0, 0},   {64, 64, 0, 0},   {68, 68, 0, 0},
    {71, 71, 0, 0}, {82, 82, 0, 0},   {84, 84, 0, 0},   {88, 89, 0, 0},   {121, 127, 0, 0},
    {90, 91, 0, 0}, {93, 99, 0, 0},
};

constexpr uint8_t kRefusedModel = 92;
// Bits 24-31 are ours, not the camera's: they mark a device camera, which only "Device=" says.
constexpr uint32_t kCameraTypeBits = 0x00FFFFFF;
constexpr uint32_t kDeviceBits = 0xFF000000;
constexpr int kNoTypeKey = -3;
constexpr int kRefusedModelResult = -18;

// The decimal value after key in the reply, or fallback when the key is missing.
int32_t valueAfter(const CgiClient &client, const char *key, int32_t fallback) {
    const char *at = std::strstr(client.ReplyText(), key);
    return at ? decimalValue(at + std::strlen(key)) : fallback;
}

void prepare(CgiClient &client, IPCamSession *s, bool withCredentials) {
    client.SetAddress(s->host, static_cast<int32_t>(s->port));
    if (withCredentials) client.SetCredentials(s->user, s->password);
}

void limitChannel(Relaxed<int32_t> &inUse, int32_t count) {
    if (inUse >= count) inUse = 0;
}

void settleAutoType(IPCamSession *s, int32_t type) {
    if (s->protocolType == IPCAM_PROTOCOL_AUTO) s->protocolType = type;
}

// Requests that got no answer, by what the device did; any other result is an answer.
struct ReachRow {
    int result;
    IPCamReach reach;
};
constexpr ReachRow kReachRows[] = {
    {kCgiConnectFailed, IPCAM_REACH_REFUSED}, {kCgiNoReply, IPCAM_REACH_SILENT},
    {kCgiClosedEmpty, IPCAM_REACH_SILENT},    {kCgiWaitFailed, IPCAM_REACH_SILENT},
    {kCgiSendFailed, IPCAM_REACH_SILENT},     {kCgiSendTimedOut, IPCAM_REACH_SILENT},
    {IPCAM_PING_IS_ER, IPCAM_REACH_SILENT},
};

// Sends one detection request and keeps what the device did with it, so that a caller can
// tell a device that refuses or never answers from one of an unknown kind.
int ask(CgiClient &client, IPCamSession *s, const char *cgi) {
    const int result = client.Get(cgi);
    IPCamReach reach = IPCAM_REACH_ANSWERED;
    for (const ReachRow &row : kReachRows)
        if (row.result == result) reach = row.reach;
    s->reach = reach;
    return result;
}

}  // namespace

int channelCount(uint32_t code) {
    return code <= 4 ? 1 << code : 1;
}

int DetectFamilyA(IPCamSession *s) {
    CgiClient client;
    prepare(client, s, true);
    if (ask(client, s, "GetCameraType.cgi") < 1) {
        // Older cameras know no type query but answer for their network settings.
        int network = ask(client, s, "GetNetwork.cgi");
        if (network < 1) return network;
        s->inputCount = 2;
        s->outputCount = 2;
        settleAutoType(s, IPCAM_PROTOCOL_TYPE1);
        return 0;
    }
    const char *type = std::strstr(client.ReplyText(), "CameraType=");
    if (!type) return kNoTypeKey;
    uint32_t model = static_cast<uint32_t>(decimalValue(type + 11)) & kCameraTypeBits;
    if (std::strstr(client.ReplyText(), "Device=")) model |= kDeviceBits;

    if (isDeviceCamera(model)) {
        s->inputCount = valueAfter(client, "IO_InputNum=", 0);
        s->outputCount = valueAfter(client, "IO_OutputNum=", 0);
        limitChannel(s->videoStream, valueAfter(client, "VideoNum=", 0));
        int32_t audio = valueAfter(client, "AudioNum=", 0);
        if (audio == 0)
            s->audioStream = -1;
        else
            limitChannel(s->audioStream, audio);
    } else {
        const uint32_t code = modelCodeOf(model);
        if (code == kRefusedModel) return kRefusedModelResult;
        for (const AlarmRow &row : kAlarmRows) {
            if (code < row.first || code > row.last) continue;
            s->inputCount = row.inputs;
            s->outputCount = row.outputs;
        }
        limitChannel(s->videoStream, videoChannels(model));
        limitChannel(s->audioStream, audioChannels(model));
    }
    s->modelCode = model;
    settleAutoType(s, IPCAM_PROTOCOL_TYPE1);
    return 0;
}

int DetectFamilyB(IPCamSession *s) {
    CgiClient client;
    prepare(client, s, true);
    int r = ask(client, s, "GetMyself.cgi");
    if (r >= 0) {
        s->protocolType = IPCAM_PROTOCOL_TYPE2;
        return 0;
    }
    if (r == kCgiConnectFailed) return IPCAM_IS_UNCONNECTED;
    if (r == kCgiUnauthorised) return IPCAM_USER_OR_PASSWD_IS_ER;
    return r;
}

int DetectServer(IPCamSession *s) {
    CgiClient client;
    prepare(client, s, false);
    int r = ask(client, s, "GetServerInfo.cgi");
    if (r < 0) return r == kCgiConnectFailed ? IPCAM_IS_UNCONNECTED : r;
    if (std::strstr(client.ReplyText(), "Channel=")) {
        limitChannel(s->videoStream, valueAfter(client, "Channel=", 0));
        s->rtspPort = static_cast<uint32_t>(valueAfter(client, "Rtsp_Port=", 554));
    }
    s->protocolType = IPCAM_PROTOCOL_STREAMING_SERVER;
    return 0;
}

}  // namespace ipcam
