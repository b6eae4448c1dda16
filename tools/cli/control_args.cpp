#include "tools/cli/control_args.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace ipcam_cli {

namespace {

std::optional<int32_t> number(const std::string &text, long low, long high) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
    return static_cast<int32_t>(value);
}

// Actions that take no argument.
struct SimpleAction {
    std::string_view name;
    int32_t command;
};
constexpr SimpleAction kSimpleActions[] = {
    {"stop", IPCAM_PTZ_STOP},
    {"up", IPCAM_PTZ_UP},
    {"down", IPCAM_PTZ_DOWN},
    {"left", IPCAM_PTZ_LEFT},
    {"right", IPCAM_PTZ_RIGHT},
    {"up-start", IPCAM_PTZ_UP_START},
    {"down-start", IPCAM_PTZ_DOWN_START},
    {"left-start", IPCAM_PTZ_LEFT_START},
    {"right-start", IPCAM_PTZ_RIGHT_START},
    {"up-left", IPCAM_PTZ_UP_LEFT},
    {"up-right", IPCAM_PTZ_UP_RIGHT},
    {"down-left", IPCAM_PTZ_DOWN_LEFT},
    {"down-right", IPCAM_PTZ_DOWN_RIGHT},
    {"home", IPCAM_PTZ_HOME},
    {"zoom-in", IPCAM_PTZ_ZOOM_IN},
    {"zoom-out", IPCAM_PTZ_ZOOM_OUT},
    {"focus-near", IPCAM_PTZ_FOCUS_NEAR},
    {"focus-far", IPCAM_PTZ_FOCUS_FAR},
    {"iris-open", IPCAM_PTZ_IRIS_LARGE},
    {"iris-close", IPCAM_PTZ_IRIS_SMALL},
    {"pan-start", IPCAM_PTZ_PAN_START},
    {"pan-stop", IPCAM_PTZ_PAN_STOP},
    {"patrol-start", IPCAM_PTZ_PATROL_START},
    {"patrol-stop", IPCAM_PTZ_PATROL_STOP},
    {"tour-stop", IPCAM_PTZ_TOUR_STOP},
    {"menu", IPCAM_PTZ_MENU},
    {"menu-exit", IPCAM_PTZ_MENU_EXIT},
    {"menu-select", IPCAM_PTZ_MENU_SELECT},
    {"menu-confirm", IPCAM_PTZ_MENU_CONFIRM},
    {"menu-up", IPCAM_PTZ_MENU_UP},
    {"menu-down", IPCAM_PTZ_MENU_DOWN},
    {"menu-left", IPCAM_PTZ_MENU_LEFT},
    {"menu-right", IPCAM_PTZ_MENU_RIGHT},
};

std::string joined(const std::vector<std::string> &words, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < words.size(); ++i) {
        if (i > from) text += ' ';
        text += words[i];
    }
    return text;
}

// Two hexadecimal digits per byte, blanks between bytes allowed.
bool hexBytes(const std::string &text, std::string &bytes) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':') digits += c;
    if (digits.empty() || digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        char pair[3] = {digits[i], digits[i + 1], '\0'};
        char *end = nullptr;
        const long value = std::strtol(pair, &end, 16);
        if (*end != '\0') return false;
        bytes += static_cast<char>(value);
    }
    return true;
}

struct KeyName {
    std::string_view name;
    int32_t key;
};
constexpr KeyName kKeys[] = {
    {"fast-rewind", IPCAM_KEY_FAST_REWIND}, {"rewind", IPCAM_KEY_REWIND},
    {"pause-rewind", IPCAM_KEY_PAUSE_REWIND}, {"stop", IPCAM_KEY_STOP},
    {"pause-forward", IPCAM_KEY_PAUSE_FORWARD}, {"play", IPCAM_KEY_PLAY},
    {"fast-forward", IPCAM_KEY_FAST_FORWARD}, {"play-2x", IPCAM_KEY_PLAY_2X},
    {"play-4x", IPCAM_KEY_PLAY_2X + 1}, {"play-8x", IPCAM_KEY_PLAY_2X + 2},
    {"play-16x", IPCAM_KEY_PLAY_2X + 3}, {"play-32x", IPCAM_KEY_PLAY_2X + 4},
    {"play-64x", IPCAM_KEY_PLAY_2X + 5}, {"up", IPCAM_KEY_UP},
    {"down", IPCAM_KEY_DOWN}, {"left", IPCAM_KEY_LEFT},
    {"right", IPCAM_KEY_RIGHT}, {"auto", IPCAM_KEY_AUTO},
    {"select", IPCAM_KEY_SELECT}, {"enter", IPCAM_KEY_ENTER},
    {"panel-1", IPCAM_KEY_PANEL_1}, {"panel-2", IPCAM_KEY_PANEL_2},
    {"camera-up", IPCAM_KEY_CAMERA_UP}, {"camera-down", IPCAM_KEY_CAMERA_DOWN},
    {"camera-left", IPCAM_KEY_CAMERA_LEFT}, {"camera-right", IPCAM_KEY_CAMERA_RIGHT},
    {"zoom-in", IPCAM_KEY_ZOOM_IN}, {"zoom-out", IPCAM_KEY_ZOOM_OUT},
    {"auto-pan", IPCAM_KEY_AUTO_PAN}, {"pan-stop", IPCAM_KEY_PAN_STOP},
};

// Where the families keep the settings the tool names. Family A reads and writes the
// settings commands of its CGIs; family B reads picture adjustment with code 7 and writes it
// one value per Change CGI.
constexpr SettingName kSettings[] = {
    {"name", "the camera's name", {4099, 0, 4100, 0}, {8212, 0, 8213, 0}},
    {"version", "firmware version (read only)", {4101, 0, 0, 0}, {8196, 0, 0, 0}},
    {"language", "language of the camera's pages", {4103, 0, 4102, 0}, {8233, 0, 8234, 0}},
    {"brightness", "picture brightness", {4106, 0, 4107, 0}, {7, 0, 8203, 0}},
    {"contrast", "picture contrast", {4106, 1, 4107, 1}, {7, 1, 8204, 0}},
    {"saturation", "colour saturation", {4106, 2, 4107, 2}, {7, 2, 8205, 0}},
    {"hue", "colour hue", {4106, 3, 4107, 3}, {7, 3, 8206, 0}},
    {"motion", "motion detection on (1) or off (0)", {4116, 0, 4117, 0}, {8210, 0, 0, 0}},
    {"sensitivity", "motion detection sensitivity (family B)", {}, {8210, 1, 0, 0}},
    {"time", "the camera's clock", {4097, 0, 4098, 0}, {8225, 1, 0, 0}},
    {"time-zone", "time zone", {4097, 2, 4098, 2}, {8225, 0, 0, 0}},
    {"ntp-server", "time server", {4097, 1, 4098, 1}, {8225, 2, 0, 0}},
    {"standard", "video standard (read only)", {4129, 0, 0, 0}, {}},
    {"address", "network address (read only)", {4110, 1, 0, 0}, {8221, 1, 0, 0}},
    {"http-port", "web port (read only)", {4110, 5, 0, 0}, {8223, 0, 0, 0}},
    {"ptz-protocol", "pan/tilt protocol index (read only; write with ipcam ptz protocol)",
     {4130, 0, 0, 0}, {8239, 0, 0, 0}},
    {"ptz-address", "pan/tilt head address (read only)", {4130, 2, 0, 0}, {8239, 2, 0, 0}},
    {"login-check", "whether the camera asks for an account (1) or not (0)", {4124, 0, 4125, 0},
     {}},
};

// Names as indented lines no wider than the usage text.
template <typename Entry, std::size_t N>
std::string wrappedNames(const Entry (&entries)[N]) {
    std::string text, line;
    for (const Entry &e : entries) {
        if (!line.empty() && line.size() + 1 + e.name.size() > 86) {
            text += "  " + line + "\n";
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += e.name;
    }
    return text + "  " + line + "\n";
}

}  // namespace

PtzRequest blankPtzRequest() {
    PtzRequest r;
    std::memset(&r, 0xFF, sizeof r);
    r.code = IPCAM_CMD_PAN_TILT;
    std::memset(r.text, 0, sizeof r.text);
    return r;
}

std::string parsePtzAction(const std::vector<std::string> &words, PtzRequest &request) {
    request = blankPtzRequest();
    if (words.empty()) return "missing action";
    const std::string &action = words[0];
    auto needs = [&](std::size_t count, const char *what) -> std::string {
        if (words.size() - 1 < count) return action + " needs " + what;
        return {};
    };
    for (const SimpleAction &a : kSimpleActions) {
        if (action != a.name) continue;
        if (words.size() > 1) return action + " takes no argument";
        request.command = a.command;
        return {};
    }
    if (action == "tour-start") {
        request.command = IPCAM_PTZ_TOUR_START;
        if (words.size() > 2) return "tour-start takes at most a group number";
        if (words.size() == 2) {
            const auto group = number(words[1], 0, 255);
            if (!group) return "bad tour group '" + words[1] + "': expected 0-255";
            request.number = *group;
        }
        return {};
    }
    if (action == "preset-go" || action == "preset-set" || action == "preset-remove") {
        if (auto e = needs(1, "a preset number"); !e.empty()) return e;
        const auto preset = number(words[1], 0, 255);
        if (!preset) return "bad preset number '" + words[1] + "': expected 0-255";
        request.number = *preset;
        request.command = action == "preset-go"    ? IPCAM_PTZ_PRESET_GO
                          : action == "preset-set" ? IPCAM_PTZ_PRESET_SET
                                                   : IPCAM_PTZ_PRESET_REMOVE;
        if (action == "preset-go") {
            if (words.size() > 2) return "preset-go takes only the preset number";
            return {};
        }
        const std::string name = joined(words, 2);
        if (name.size() >= sizeof request.text)
            return "preset name longer than " + std::to_string(sizeof request.text - 1) +
                   " characters";
        std::memcpy(request.text, name.data(), name.size());
        return {};
    }
    if (action == "move-to") {
        if (words.size() != 5) return "move-to needs WIDTH HEIGHT X Y";
        std::optional<int32_t> v[4];
        for (int i = 0; i < 4; ++i) {
            v[i] = number(words[1 + i], 0, 65535);
            if (!v[i]) return "bad move-to value '" + words[1 + i] + "': expected 0-65535";
        }
        request.command = IPCAM_PTZ_MOVE_TO;
        request.model = *v[0];
        request.address = *v[1];
        request.baudRate = *v[2];
        request.speed = *v[3];
        return {};
    }
    struct Setting {
        std::string_view name;
        int32_t command;
        int32_t PtzRequest::*field;
    };
    static constexpr Setting kSettingActions[] = {
        {"speed", IPCAM_PTZ_SET_SPEED, &PtzRequest::speed},
        {"protocol", IPCAM_PTZ_SET_PROTOCOL, &PtzRequest::model},
        {"address", IPCAM_PTZ_SET_ADDRESS, &PtzRequest::address},
        {"baud", IPCAM_PTZ_SET_BAUD_RATE, &PtzRequest::baudRate},
    };
    for (const Setting &s : kSettingActions) {
        if (action != s.name) continue;
        if (words.size() != 2) return action + " needs one value";
        const auto value = number(words[1], 0, 0x7FFFFFFF);
        if (!value) return "bad " + action + " value '" + words[1] + "'";
        request.command = s.command;
        request.*s.field = *value;
        return {};
    }
    if (action == "raw") {
        std::string bytes;
        if (words.size() < 2 || !hexBytes(joined(words, 1), bytes))
            return "raw needs the bytes in hexadecimal, e.g. 'raw FF 01 00 08 00 20 29'";
        if (bytes.size() > sizeof request.text)
            return "raw takes at most " + std::to_string(sizeof request.text) + " bytes";
        std::memcpy(request.text, bytes.data(), bytes.size());
        request.number = static_cast<int32_t>(bytes.size());
        request.command = IPCAM_PTZ_RAW;
        return {};
    }
    return "unknown action '" + action + "'";
}

std::string ptzActionHelp() {
    std::string text = wrappedNames(kSimpleActions);
    return text +
           "  tour-start [GROUP]           start the tour, of one group when given\n"
           "  preset-go N                  turn to preset N\n"
           "  preset-set N [NAME...]       store the position as preset N\n"
           "  preset-remove N [NAME...]    delete preset N\n"
           "  move-to WIDTH HEIGHT X Y     turn towards point X,Y of a WIDTH x HEIGHT picture\n"
           "  speed N, protocol FLAG, address N, baud N\n"
           "                               the head's settings\n"
           "  raw HEX...                   raw serial bytes, e.g. raw FF 01 00 08 00 20 29\n";
}

std::string parseRecorderKey(const std::vector<std::string> &words, int32_t &key,
                             IPCamDateTime &time, bool &haveTime) {
    haveTime = false;
    if (words.empty()) return "missing key";
    const std::string &name = words[0];
    if (name == "play-from") {
        unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        char tail = 0;
        const std::string moment = joined(words, 1);
        if (std::sscanf(moment.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%c", &year, &month, &day, &hour,
                        &minute, &second, &tail) != 6 ||
            month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
            second > 59)
            return "play-from needs 'YYYY-MM-DD HH:MM:SS'";
        time = IPCamDateTime{static_cast<uint16_t>(year),   static_cast<uint16_t>(month), 0,
                             static_cast<uint16_t>(day),    static_cast<uint16_t>(hour),
                             static_cast<uint16_t>(minute), static_cast<uint16_t>(second), 0};
        haveTime = true;
        key = IPCAM_KEY_PLAY_FROM_TIME;
        return {};
    }
    if (words.size() > 1) return "key takes one key name";
    if (name.size() > 2 && name.compare(0, 2, "ch") == 0) {
        const auto channel = number(name.substr(2), 1, 16);
        if (!channel) return "bad channel key '" + name + "': expected ch1 to ch16";
        key = *channel;
        return {};
    }
    for (const KeyName &k : kKeys) {
        if (name == k.name) {
            key = k.key;
            return {};
        }
    }
    if (const auto code = number(name, 1, 255)) {
        key = *code;
        return {};
    }
    return "unknown key '" + name + "'";
}

std::string recorderKeyHelp() {
    std::string text = "  ch1 ... ch16\n" + wrappedNames(kKeys);
    return text +
           "  play-from YYYY-MM-DD HH:MM:SS   play back from that moment\n"
           "  N                            any key number 1-255\n";
}

const SettingName *findSetting(std::string_view name) {
    for (const SettingName &s : kSettings)
        if (s.name == name) return &s;
    return nullptr;
}

std::string settingHelp() {
    std::string text;
    for (const SettingName &s : kSettings) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-14s %.*s\n", std::string(s.name).c_str(),
                      static_cast<int>(s.description.size()), s.description.data());
        text += line;
    }
    return text;
}

}  // namespace ipcam_cli
