#include "control/ptz_control.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "control/base64.h"
#include "control/capabilities.h"
#include "control/command_object.h"
#include "control/detection.h"
#include "control/pan_tilt_protocols.h"
#include "control/query_builder.h"
#include "control/recorder_keys.h"

namespace ipcam {

namespace {

constexpr std::size_t kValueSize = 32;
constexpr int32_t kNotGiven = -1;
constexpr int32_t kMaxRawBytes = IPCAM_PTZ_TEXT_SIZE;
// What a request needs besides its query: the request line, the authorisation and the ends.
constexpr std::size_t kQueryCapacity = CgiClient::kRequestSize - 160;
// A preset name with its number in front.
constexpr std::size_t kPresetNameSize = IPCAM_PTZ_TEXT_SIZE + kValueSize;

// The text of the request, when it ends within its field.
bool requestText(const PtzRequest &request, std::string_view &text) {
    const std::size_t length = strnlen(request.text, sizeof request.text);
    if (length == sizeof request.text) return false;
    text = std::string_view(request.text, length);
    return true;
}

void decimal(char (&value)[kValueSize], int32_t number) {
    std::snprintf(value, sizeof value, "%d", number);
}

// Whether a plain camera's model code is in set. Device cameras all speak the "Dir=" wording
// with speeds as given: their low byte names no model of the sets.
bool plainModelIn(const CommandCall &call, ModelSet set) {
    return !isDeviceCamera(call.modelNumber) && inModelSet(set, call.modelCode());
}

// Speeds as the heads of set S6 count them; false for a speed they have no step for.
bool speedValue(const CommandCall &call, int32_t speed, char (&value)[kValueSize]) {
    static constexpr int32_t kSteps[10] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 5};
    if (!plainModelIn(call, ModelSet::S6)) {
        decimal(value, speed);
        return true;
    }
    if (speed < 0 || speed > 9) return false;
    decimal(value, kSteps[speed]);
    return true;
}

// The protocol index of the request's flag, or nothing for a flag the family does not know.
void protocolValue(PanTiltFamily family, int32_t flag, char (&value)[kValueSize]) {
    const int32_t index = flag == kNotGiven ? kNotGiven : panTiltIndexOf(family, flag);
    if (index >= 0) decimal(value, index);
}

// "%d:%s" with the preset number and name; the query escapes it like every value.
bool presetName(const PtzRequest &request, char (&out)[kPresetNameSize]) {
    std::string_view name;
    if (!requestText(request, name)) return false;
    const int n = std::snprintf(out, sizeof out, "%d:%.*s", request.number,
                                static_cast<int>(name.size()), name.data());
    return n >= 0 && static_cast<std::size_t>(n) < sizeof out;
}

int sendQuery(CommandCall &call, const char *cgi, const char *prefix, int count,
              const char *const *keys, const char *const *values) {
    char query[kQueryCapacity];
    std::snprintf(query, sizeof query, "%s", prefix);
    if (!BuildQuery(query, sizeof query, count, keys, values)) return kPtzRefused;
    return call.client.Set(cgi, query);
}

// Family A heads with "CMD=" texts (set S7).
int commandWording(CommandCall &call, const PtzRequest &request) {
    const char *text = nullptr;
    char preset[kValueSize * 2];
    switch (request.command) {
        case IPCAM_PTZ_UP:
            text = "UP";
            break;
        case IPCAM_PTZ_DOWN:
            text = "DOWN";
            break;
        case IPCAM_PTZ_LEFT:
            text = "LEFT";
            break;
        case IPCAM_PTZ_RIGHT:
            text = "RIGHT";
            break;
        case IPCAM_PTZ_HOME:
            text = "HOME";
            break;
        case IPCAM_PTZ_ZOOM_IN:
            text = "ZOOMIN";
            break;
        case IPCAM_PTZ_ZOOM_OUT:
            text = "ZOOMOUT";
            break;
        case IPCAM_PTZ_PAN_START:
            text = "AUTOPAN";
            break;
        case IPCAM_PTZ_PAN_STOP:
            text = "PANSTOP";
            break;
        case IPCAM_PTZ_PRESET_GO:
        case IPCAM_PTZ_PRESET_SET:
            std::snprintf(preset, sizeof preset, "%s&POINTER=%d",
                          request.command == IPCAM_PTZ_PRESET_GO ? "GOPRESET" : "SETPRESET",
                          request.number);
            text = preset;
            break;
        default:
            return kPtzRefused;
    }
    char query[kQueryCapacity];
    std::snprintf(query, sizeof query, "CH=%d&CMD=%s", call.channel, text);
    return call.client.Set("SetPTZ.cgi", query);
}

// Command 17 on the heads of set S6: turn towards a point of a W x H picture, in steps of
// 42 across and 35 down the picture.
int positionMove(CommandCall &call, const PtzRequest &request) {
    if (!plainModelIn(call, ModelSet::S6)) return kPtzRefused;
    const int64_t w = request.model, h = request.address, x = request.baudRate, y = request.speed;
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x > w || y > h) return kPtzRefused;
    const int64_t dx = (x - w / 2) * 42 / w;
    const int64_t dy = (y - h / 2) * 35 / h;
    const char *vertical = dy < 0 ? "Up" : "Down", *horizontal = dx < 0 ? "Left" : "Right";
    char query[kQueryCapacity];
    std::snprintf(query, sizeof query, "CH=%d&%s860=%lld&%s860=%lld&Dir=Go%s%s", call.channel,
                  vertical, static_cast<long long>(dy < 0 ? -dy : dy), horizontal,
                  static_cast<long long>(dx < 0 ? -dx : dx), vertical, horizontal);
    return call.client.Set("SetPTZ.cgi", query);
}

// Other family A cameras: "CH=%d&" and the keys the command fills.
int keyWording(CommandCall &call, const PtzRequest &request) {
    enum { Model, Speed, Id, Baud, PointName, Dir, RemoveName, Command, KeyCount };
    static constexpr const char *kKeys[KeyCount] = {
        "PTZModel=",  "PTZSpeed=", "PTZID=",      "PTZBaudrate=",
        "PointName=", "Dir=",      "RemoveName=", "Command="};
    char model[kValueSize] = "", speed[kValueSize] = "", id[kValueSize] = "", baud[kValueSize] = "",
         dir[kValueSize] = "";
    char name[kPresetNameSize] = "";
    char raw[base64Length(kMaxRawBytes) + 1] = "";
    const char *values[KeyCount] = {model, speed, id, baud, name, dir, "", raw};
    std::string_view text;

    static constexpr const char *kDirections[] = {
        "Stop",      "Up",         "Down",   "Left",    "Right",    "UpStart",   "DownStart",
        "LeftStart", "RightStart", "UpLeft", "UpRight", "DownLeft", "DownRight", "Home"};
    static constexpr const char *kLenses[] = {"ZoomIn",      "ZoomOut",   "FocusNear", "FocusFar",
                                              "IRISLarge",   "IRISSmall", "PanStart",  "PanStop",
                                              "PatrolStart", "PatrolStop"};
    static constexpr const char *kMenu[] = {"OSD_Menu", "OSD_Exit", "OSD_Select", "OSD_Confirm",
                                            "OSD_Up",   "OSD_Down", "OSD_Left",   "OSD_Right"};
    const int32_t command = request.command;
    if (command >= IPCAM_PTZ_STOP && command <= IPCAM_PTZ_HOME) {
        std::snprintf(dir, sizeof dir, "%s", kDirections[command - IPCAM_PTZ_STOP]);
    } else if (command >= IPCAM_PTZ_ZOOM_IN && command <= IPCAM_PTZ_PATROL_STOP) {
        std::snprintf(dir, sizeof dir, "%s", kLenses[command - IPCAM_PTZ_ZOOM_IN]);
    } else if (command >= IPCAM_PTZ_MENU && command <= IPCAM_PTZ_MENU_RIGHT) {
        std::snprintf(dir, sizeof dir, "%s", kMenu[command - IPCAM_PTZ_MENU]);
    } else {
        switch (command) {
            case IPCAM_PTZ_SETTINGS:
                protocolValue(PanTiltFamily::A, request.model, model);
                if (request.address >= 0) decimal(id, request.address);
                if (request.baudRate >= 0) decimal(baud, request.baudRate);
                if (request.speed >= 0 && !speedValue(call, request.speed, speed))
                    return kPtzRefused;
                break;
            case IPCAM_PTZ_MOVE_TO:
                return positionMove(call, request);
            case IPCAM_PTZ_TOUR_START:
                if (request.number != kNotGiven) {
                    char query[kQueryCapacity];
                    std::snprintf(query, sizeof query, "CH=%d&Group=%d&Dir=TourStart", call.channel,
                                  request.number);
                    return call.client.Set("SetPTZ.cgi", query);
                }
                std::snprintf(dir, sizeof dir, "TourStart");
                break;
            case IPCAM_PTZ_TOUR_STOP:
                std::snprintf(dir, sizeof dir, "TourStop");
                break;
            case IPCAM_PTZ_SET_PROTOCOL:
                protocolValue(PanTiltFamily::A, request.model, model);
                break;
            case IPCAM_PTZ_SET_ADDRESS:
                decimal(id, request.address);
                break;
            case IPCAM_PTZ_SET_BAUD_RATE:
                decimal(baud, request.baudRate);
                break;
            case IPCAM_PTZ_SET_SPEED:
                if (!speedValue(call, request.speed, speed)) return kPtzRefused;
                break;
            case IPCAM_PTZ_PRESET_GO:
                std::snprintf(dir, sizeof dir, "Point%d", request.number);
                break;
            case IPCAM_PTZ_PRESET_SET:
                if (!presetName(request, name)) return kPtzRefused;
                std::snprintf(dir, sizeof dir, "Preset%d", request.number);
                break;
            case IPCAM_PTZ_PRESET_REMOVE:
                if (!requestText(request, text)) return kPtzRefused;
                values[RemoveName] = request.text;
                std::snprintf(dir, sizeof dir, "Remove%d", request.number);
                break;
            case IPCAM_PTZ_RAW:
                if (request.number < 1 || request.number > kMaxRawBytes) return kPtzRefused;
                EncodeBase64(request.text, static_cast<std::size_t>(request.number), raw,
                             sizeof raw);
                break;
            default:
                return kPtzRefused;
        }
    }
    char prefix[kValueSize];
    std::snprintf(prefix, sizeof prefix, "CH=%d&", call.channel);
    return sendQuery(call, "SetPTZ.cgi", prefix, KeyCount, kKeys, values);
}

bool isFamilyBSetting(int32_t command) {
    return command == IPCAM_PTZ_SETTINGS ||
           (command >= IPCAM_PTZ_SET_PROTOCOL && command <= IPCAM_PTZ_SET_BAUD_RATE);
}

// One "RS232.cgi" request with a direction and, optionally, the other keys.
int serialRequest(CommandCall &call, const char *dir, const char *speed = "",
                  const char *removeName = "", const char *pointName = "") {
    static constexpr const char *kKeys[] = {"Speed=", "Dir=", "RemoveName=", "PointName="};
    const char *values[] = {speed, dir, removeName, pointName};
    return sendQuery(call, "RS232.cgi", "", 4, kKeys, values);
}

// The pan/tilt commands of family B recorders are their camera keys.
int recorderWording(CommandCall &call, const PtzRequest &request, int32_t recorderChannels) {
    int32_t key = 0;
    switch (request.command) {
        case IPCAM_PTZ_UP:
            key = IPCAM_KEY_CAMERA_UP;
            break;
        case IPCAM_PTZ_DOWN:
            key = IPCAM_KEY_CAMERA_DOWN;
            break;
        case IPCAM_PTZ_LEFT:
            key = IPCAM_KEY_CAMERA_LEFT;
            break;
        case IPCAM_PTZ_RIGHT:
            key = IPCAM_KEY_CAMERA_RIGHT;
            break;
        case IPCAM_PTZ_ZOOM_IN:
            key = IPCAM_KEY_ZOOM_IN;
            break;
        case IPCAM_PTZ_ZOOM_OUT:
            key = IPCAM_KEY_ZOOM_OUT;
            break;
        case IPCAM_PTZ_PAN_START:
            key = IPCAM_KEY_AUTO_PAN;
            break;
        case IPCAM_PTZ_PAN_STOP:
            key = IPCAM_KEY_PAN_STOP;
            break;
        default:
            return kPtzRefused;
    }
    return familyBRecorderKey(call, key, recorderChannels);
}

}  // namespace

int familyAPanTilt(CommandCall &call, const PtzRequest &request) {
    if (plainModelIn(call, ModelSet::S7)) return commandWording(call, request);
    return keyWording(call, request);
}

int familyBPanTiltSettings(CommandCall &call, const PtzRequest &request) {
    static constexpr const char *kKeys[] = {"Baudrate=", "CameraID=", "PTZModel="};
    char baud[kValueSize] = "", id[kValueSize] = "", model[kValueSize] = "";
    const int32_t command = request.command;
    if (!isFamilyBSetting(command)) return kPtzRefused;
    if (command == IPCAM_PTZ_SETTINGS || command == IPCAM_PTZ_SET_PROTOCOL)
        protocolValue(PanTiltFamily::B, request.model, model);
    if ((command == IPCAM_PTZ_SETTINGS || command == IPCAM_PTZ_SET_ADDRESS) && request.address >= 0)
        decimal(id, request.address);
    if ((command == IPCAM_PTZ_SETTINGS || command == IPCAM_PTZ_SET_BAUD_RATE) &&
        request.baudRate >= 0)
        decimal(baud, request.baudRate);
    const char *values[] = {baud, id, model};
    return sendQuery(call, "SetPTZ.cgi", "", 3, kKeys, values);
}

int familyBSerialPanTilt(CommandCall &call, const PtzRequest &request) {
    static constexpr const char *kMoves[] = {"Up", "Down", "Left", "Right"};
    static constexpr const char *kLenses[] = {"ZoomIn",    "ZoomOut",   "FocusNear", "FocusFar",
                                              "IRISLarge", "IRISSmall", "PanStart",  "PanStop"};
    const int32_t command = request.command;
    char dir[kValueSize];
    if (command >= IPCAM_PTZ_UP && command <= IPCAM_PTZ_RIGHT)
        return serialRequest(call, kMoves[command - IPCAM_PTZ_UP]);
    if (command >= IPCAM_PTZ_UP_LEFT && command <= IPCAM_PTZ_DOWN_RIGHT) {
        // Diagonals are two moves; the second is sent only when the first was taken.
        const bool up = command <= IPCAM_PTZ_UP_RIGHT;
        const bool left = command == IPCAM_PTZ_UP_LEFT || command == IPCAM_PTZ_DOWN_LEFT;
        const int first = serialRequest(call, up ? "Up" : "Down");
        if (first < 0) return first;
        return serialRequest(call, left ? "Left" : "Right");
    }
    if (command >= IPCAM_PTZ_ZOOM_IN && command <= IPCAM_PTZ_PAN_STOP)
        return serialRequest(call, kLenses[command - IPCAM_PTZ_ZOOM_IN]);
    switch (command) {
        case IPCAM_PTZ_HOME:
            return serialRequest(call, "Home");
        case IPCAM_PTZ_SET_SPEED: {
            char speed[kValueSize];
            decimal(speed, request.speed);
            return serialRequest(call, "", speed);
        }
        case IPCAM_PTZ_PRESET_GO:
            std::snprintf(dir, sizeof dir, "Point%d", request.number);
            return serialRequest(call, dir);
        case IPCAM_PTZ_PRESET_SET: {
            char name[kPresetNameSize];
            if (!presetName(request, name)) return kPtzRefused;
            std::snprintf(dir, sizeof dir, "Preset%d", request.number);
            return serialRequest(call, dir, "", "", name);
        }
        case IPCAM_PTZ_PRESET_REMOVE: {
            std::string_view text;
            if (!requestText(request, text)) return kPtzRefused;
            std::snprintf(dir, sizeof dir, "Remove%d", request.number);
            return serialRequest(call, dir, "", request.text);
        }
        default:
            return kPtzRefused;
    }
}

int familyBPanTilt(CommandCall &call, const PtzRequest &request, int32_t recorderChannels) {
    if (isFamilyBSetting(request.command)) return familyBPanTiltSettings(call, request);
    if (recorderChannels >= 1) return recorderWording(call, request, recorderChannels);
    return familyBSerialPanTilt(call, request);
}

}  // namespace ipcam
