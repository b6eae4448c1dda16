#include "control/recorder_keys.h"

#include <cstdio>

#include "control/capabilities.h"
#include "control/command_object.h"

namespace ipcam {

namespace {

constexpr int kRefused = IPCAM_USER_OR_PASSWD_IS_ER;
constexpr std::size_t kTextSize = 48;

// Recorders of set S5 change playback state instead of pressing keys.
int playbackState(CommandCall &call, const RecorderKeyRequest &request) {
    static constexpr const char *kSpeeds[] = {"FF2", "FF4", "FF8", "FF16", "FF32", "FF64"};
    const int32_t key = request.key;
    char query[kTextSize];
    if (key == IPCAM_KEY_PLAY_FROM_TIME) {
        const IPCamDateTime *t = request.time;
        if (!t) return kRefused;
        std::snprintf(query, sizeof query, "EVENT=%02d%02d%02d%02d%02d%02d", t->year % 100,
                      t->month, t->day, t->hour, t->minute, t->second);
        return call.client.Set("SetTimePlay.cgi", query);
    }
    const char *state = nullptr;
    if (key == IPCAM_KEY_FAST_REWIND) state = "REW";
    else if (key == IPCAM_KEY_STOP) state = "LIVE";
    else if (key == IPCAM_KEY_PLAY) state = "PLAYBACK";
    else if (key >= IPCAM_KEY_PLAY_2X && key < IPCAM_KEY_PLAY_2X + 6)
        state = kSpeeds[key - IPCAM_KEY_PLAY_2X];
    if (!state) return kRefused;
    std::snprintf(query, sizeof query, "PLAYSTATE=%s", state);
    return call.client.Set("SetPlayCmd.cgi", query);
}

const char *panelKey(int32_t key, int32_t channels) {
    switch (key) {
        case 160: return "dvrkey_frew";
        case 161: return "dvrkey_rew";
        case 162: return "dvrkey_pauserew";
        case 163: return "dvrkey_stop";
        case 164: return "dvrkey_pausefwd";
        case 165: return "dvrkey_play";
        case 166: return "dvrkey_ffwd";
        case 176: return "dvrkey_up";
        case 177: return "dvrkey_down";
        case 178: return "dvrkey_left";
        case 179: return "dvrkey_right";
        case 192: return "dvrkey_auto";
        case 193: return "dvrkey_sel";
        case 194: return "dvrkey_enter";
        case 208: return "dvrkey_5";
        case 209: return channels == 4 ? "dvrkey_5" : "dvrkey_right";
        default: return nullptr;
    }
}

// The camera keys 224-231 read the same on every family B recorder.
const char *cameraKey(int32_t key) {
    static constexpr const char *kTexts[] = {"UP",     "DOWN",    "LEFT",    "RIGHT",
                                             "ZoomIN", "ZoomOUT", "AutoPAN", "PTZSTOP"};
    return key >= IPCAM_KEY_CAMERA_UP && key <= IPCAM_KEY_PAN_STOP
               ? kTexts[key - IPCAM_KEY_CAMERA_UP]
               : nullptr;
}

// The text of a key on a 4-channel family B recorder, or null.
const char *quadKey(int32_t key, char (&text)[kTextSize]) {
    if (key >= 1 && key <= 4) {
        std::snprintf(text, sizeof text, "QUAD_CH%d", key);
        return text;
    }
    switch (key) {
        case 160: return "QUAD_RS";
        case 163: return "QUAD_STOP";
        case 164: return "QUAD_FF";
        case 165: return "QUAD_PLAY";
        case 166: return "QUAD_FFS";
        case 176: return "QUAD_UP";
        case 177: return "QUAD_DOWN";
        case 178: return "QUAD_LEFT";
        case 179: return "QUAD_RIGHT";
        case 194: return "QUAD_ENTER";
        case 208:
        case 209: return "QUAD_4";
        default: return cameraKey(key);
    }
}

// The text of a key on an 8- or 16-channel family B recorder, or null; first is the text an
// 8-channel recorder needs sent before it (split keys), or null.
const char *splitKey(int32_t key, int32_t channels, const char *&first, char (&text)[kTextSize]) {
    first = nullptr;
    if (key >= 1 && key <= 16) {
        std::snprintf(text, sizeof text, "CH%d", key);
        return text;
    }
    const bool eight = channels == 8;
    switch (key) {
        case 160: return "RS";
        case 161: return "REW";
        case 162: return "FR";
        case 163: return "STOP";
        case 164: return "FF";
        case 165: return "PLAY";
        case 166: return "FFS";
        case 176: return "BT9_16";
        case 177:
            if (eight) first = "NINE_QUAD";
            return "BT4_16";
        case 178: return "BT13_16";
        case 179:
        case 209:
            if (eight) first = "NINE_NINE";
            return "BT16_16";
        case 192: return "AUTO";
        case 193: return "SELECT";
        case 194: return "ENTER";
        default: return cameraKey(key);
    }
}

int moveCamera(CommandCall &call, const char *text) {
    char query[kTextSize + 8];
    std::snprintf(query, sizeof query, "Dir=%s", text);
    return call.client.Set("MoveCamera.cgi", query);
}

}  // namespace

int familyARecorderKey(CommandCall &call, const RecorderKeyRequest &request) {
    if (inModelSet(ModelSet::S5, call.modelCode())) return playbackState(call, request);
    char text[kTextSize];
    const char *key = nullptr;
    if (request.key >= 1 && request.key <= 16) {
        std::snprintf(text, sizeof text, "dvrkey_%d", request.key);
        key = text;
    } else {
        key = panelKey(request.key, call.recorderChannels);
    }
    if (!key) return kRefused;
    char query[kTextSize + 16];
    std::snprintf(query, sizeof query, "DVRControl=%s", key);
    return call.client.Set("SetDVRKey.cgi", query);
}

int familyBRecorderKey(CommandCall &call, int32_t key, int32_t recorderChannels) {
    char buffer[kTextSize];
    const char *first = nullptr, *text = nullptr;
    if (recorderChannels == 4)
        text = quadKey(key, buffer);
    else if (recorderChannels == 8 || recorderChannels == 16)
        text = splitKey(key, recorderChannels, first, buffer);
    if (!text) return kRefused;
    // The first of two texts is not checked: the second one's answer is the result.
    if (first) moveCamera(call, first);
    return moveCamera(call, text);
}

}  // namespace ipcam
