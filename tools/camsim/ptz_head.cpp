#include "tools/camsim/ptz_head.h"

#include <strings.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "tools/camsim/base64.h"
#include "tools/camsim/command_words.h"

namespace camsim {

HeadLimits familyAHead() {
    return {};
}

HeadLimits familyBHead() {
    HeadLimits limits;
    limits.firstPreset = 0;
    limits.lastPreset = 9;
    limits.presetPrefix = "PointName";
    limits.twoDigitPresets = false;
    limits.wideWording = false;
    return limits;
}

namespace {

void shift(HeadState &s, const HeadLimits &l, int pan, int tilt) {
    s.pan = std::clamp(s.pan + pan, l.panMin, l.panMax);
    s.tilt = std::clamp(s.tilt + tilt, l.tiltMin, l.tiltMax);
}

void zoomBy(HeadState &s, const HeadLimits &l, int steps) {
    s.zoom = std::clamp(s.zoom + steps, l.zoomMin, l.zoomMax);
}

using Effect = void (*)(HeadState &, const HeadLimits &);

struct Word {
    std::string_view text;
    Effect effect;
    bool wide;  // family A only
};

// Every Dir word with a fixed effect. The OSD words also become the head's last menu key.
const Word kWords[] = {
    {"Up", [](HeadState &s, const HeadLimits &l) { shift(s, l, 0, 1); }, false},
    {"Down", [](HeadState &s, const HeadLimits &l) { shift(s, l, 0, -1); }, false},
    {"Left", [](HeadState &s, const HeadLimits &l) { shift(s, l, -1, 0); }, false},
    {"Right", [](HeadState &s, const HeadLimits &l) { shift(s, l, 1, 0); }, false},
    {"UpLeft", [](HeadState &s, const HeadLimits &l) { shift(s, l, -1, 1); }, true},
    {"UpRight", [](HeadState &s, const HeadLimits &l) { shift(s, l, 1, 1); }, true},
    {"DownLeft", [](HeadState &s, const HeadLimits &l) { shift(s, l, -1, -1); }, true},
    {"DownRight", [](HeadState &s, const HeadLimits &l) { shift(s, l, 1, -1); }, true},
    {"Home", [](HeadState &s, const HeadLimits &) { s.pan = s.tilt = 0; }, false},
    {"Stop", [](HeadState &s, const HeadLimits &) { s.drift = Drift::None; }, true},
    {"UpStart", [](HeadState &s, const HeadLimits &) { s.drift = Drift::Up; }, true},
    {"DownStart", [](HeadState &s, const HeadLimits &) { s.drift = Drift::Down; }, true},
    {"LeftStart", [](HeadState &s, const HeadLimits &) { s.drift = Drift::Left; }, true},
    {"RightStart", [](HeadState &s, const HeadLimits &) { s.drift = Drift::Right; }, true},
    {"ZoomIn", [](HeadState &s, const HeadLimits &l) { zoomBy(s, l, 1); }, false},
    {"ZoomOut", [](HeadState &s, const HeadLimits &l) { zoomBy(s, l, -1); }, false},
    {"FocusNear", [](HeadState &s, const HeadLimits &) { --s.focus; }, false},
    {"FocusFar", [](HeadState &s, const HeadLimits &) { ++s.focus; }, false},
    {"IRISLarge", [](HeadState &s, const HeadLimits &) { ++s.iris; }, false},
    {"IRISSmall", [](HeadState &s, const HeadLimits &) { --s.iris; }, false},
    {"PanStart", [](HeadState &s, const HeadLimits &) { s.autoPan = true; }, false},
    {"PanStop", [](HeadState &s, const HeadLimits &) { s.autoPan = false; }, false},
    {"PatrolStart", [](HeadState &s, const HeadLimits &) { s.patrol = true; }, true},
    {"PatrolStop", [](HeadState &s, const HeadLimits &) { s.patrol = false; }, true},
    {"TourStart",
     [](HeadState &s, const HeadLimits &) {
         s.tour = true;
         s.tourGroup = -1;  // Group= sets it afterwards
     },
     true},
    {"TourStop",
     [](HeadState &s, const HeadLimits &) {
         s.tour = false;
         s.tourGroup = -1;
     },
     true},
    {"OSD_Menu", [](HeadState &s, const HeadLimits &) { s.menuOpen = true; }, true},
    {"OSD_Exit", [](HeadState &s, const HeadLimits &) { s.menuOpen = false; }, true},
    {"OSD_Select", [](HeadState &, const HeadLimits &) {}, true},
    {"OSD_Confirm", [](HeadState &, const HeadLimits &) {}, true},
    {"OSD_Up", [](HeadState &, const HeadLimits &) {}, true},
    {"OSD_Down", [](HeadState &, const HeadLimits &) {}, true},
    {"OSD_Left", [](HeadState &, const HeadLimits &) {}, true},
    {"OSD_Right", [](HeadState &, const HeadLimits &) {}, true},
};

// Family A "CMD=" texts in the Dir words; the preset ones take their number from POINTER=.
const std::pair<std::string_view, std::string_view> kCommands[] = {
    {"UP", "Up"},           {"DOWN", "Down"},      {"LEFT", "Left"},        {"RIGHT", "Right"},
    {"HOME", "Home"},       {"ZOOMIN", "ZoomIn"},  {"ZOOMOUT", "ZoomOut"},  {"AUTOPAN", "PanStart"},
    {"PANSTOP", "PanStop"}, {"GOPRESET", "Point"}, {"SETPRESET", "Preset"},
};

// The camera texts of MoveCamera.cgi.
const std::pair<std::string_view, std::string_view> kCameraTexts[] = {
    {"UP", "Up"},         {"DOWN", "Down"},       {"LEFT", "Left"},        {"RIGHT", "Right"},
    {"ZoomIN", "ZoomIn"}, {"ZoomOUT", "ZoomOut"}, {"AutoPAN", "PanStart"}, {"PTZSTOP", "PanStop"},
};

std::string unknown(std::string_view key, std::string_view value) {
    return "Unknown " + std::string(key) + "=" + std::string(value);
}

std::string presetKey(const HeadLimits &l, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, l.twoDigitPresets ? "%02d" : "%d", number);
    return l.presetPrefix + digits;
}

const char *driftName(Drift d) {
    switch (d) {
        case Drift::Up:
            return "up";
        case Drift::Down:
            return "down";
        case Drift::Left:
            return "left";
        case Drift::Right:
            return "right";
        case Drift::Glide:
            return "glide";
        case Drift::None:
            break;
    }
    return "none";
}

}  // namespace

// One request made ready to apply: at most one Dir word and the values that go with it.
struct PtzHead::Plan {
    enum class Kind { None, Word, GoTo, Store, Remove, Shift };
    Kind kind = Kind::None;
    const Word *word = nullptr;  // Kind::Word
    int number = -1;             // the preset of GoTo, Store and Remove
    std::string name;            // of a stored preset
    // Shift: the signs of a "Go..." word, then the steps of its "Up860=" keys and the like.
    std::string_view vertical, horizontal;
    int panSteps = 0, tiltSteps = 0;
    std::optional<int> speed, group;
    std::optional<std::string> serial;
};

PtzHead::PtzHead(HeadLimits limits, std::shared_ptr<SettingsStore> store)
    : limits_(std::move(limits)), store_(std::move(store)) {}

std::string PtzHead::planDir(std::string_view dir, Plan &plan) const {
    for (auto [prefix, kind] : {std::pair{"Point", Plan::Kind::GoTo},
                                {"Preset", Plan::Kind::Store},
                                {"Remove", Plan::Kind::Remove}}) {
        std::optional<int> n = numberAfter(dir, prefix);
        if (!n) continue;
        if (*n < limits_.firstPreset || *n > limits_.lastPreset) return unknown("Dir", dir);
        plan.kind = kind;
        plan.number = *n;
        return {};
    }
    if (limits_.wideWording && dir.starts_with("Go")) {
        std::string_view rest = dir.substr(2);
        for (std::string_view v : {"Up", "Down"}) {
            if (!rest.starts_with(v)) continue;
            std::string_view h = rest.substr(v.size());
            if (h != "Left" && h != "Right") break;
            plan.kind = Plan::Kind::Shift;
            plan.vertical = v;
            plan.horizontal = h == "Left" ? "Left" : "Right";
            return {};
        }
    }
    for (const Word &w : kWords) {
        if (w.text != dir || (w.wide && !limits_.wideWording)) continue;
        plan.kind = Plan::Kind::Word;
        plan.word = &w;
        return {};
    }
    return unknown("Dir", dir);
}

namespace {

// "n:name" of a preset being stored: n must be the preset's number.
std::string namePreset(const std::optional<std::string> &pointName, bool storing, int number,
                       std::string &name) {
    if (!pointName) return {};
    std::size_t colon = pointName->find(':');
    std::optional<int> n =
        colon == std::string::npos ? std::nullopt : wholeNumber(pointName->substr(0, colon));
    if (!storing || !n || *n != number) return unknown("PointName", *pointName);
    name = pointName->substr(colon + 1);
    return {};
}

}  // namespace

std::string PtzHead::setPtz(int channel, const Values &pairs, Values &settings) {
    Plan plan;
    Values kept;
    std::optional<std::string> command, dir, pointName;
    std::optional<int> pointer;
    std::map<std::string, int, std::less<>> steps;  // "Up" of "Up860=" and so on
    for (const auto &[key, value] : pairs) {
        if (key == "CMD") {
            command = value;
        } else if (key == "Dir") {
            dir = value;
        } else if (key == "POINTER") {
            if (!(pointer = wholeNumber(value))) return unknown(key, value);
        } else if (key == "PointName") {
            pointName = value;
        } else if (key == "RemoveName") {
            // names the preset that Remove<n> deletes; the number decides
        } else if (key == "Command") {
            plan.serial = decodeBase64(value);
            if (!plan.serial || plan.serial->empty()) return unknown(key, value);
        } else if (key == "Group") {
            if (!(plan.group = wholeNumber(value))) return unknown(key, value);
        } else if (key == "Up860" || key == "Down860" || key == "Left860" || key == "Right860") {
            std::optional<int> n = wholeNumber(value);
            if (!n) return unknown(key, value);
            steps[key.substr(0, key.size() - 3)] = *n;
        } else {
            if (key == "PTZSpeed" && !(plan.speed = wholeNumber(value))) return unknown(key, value);
            kept.emplace_back(key, value);
        }
    }
    if (command && dir) return unknown("CMD", *command);
    if (command) {
        auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                               [&](const auto &c) { return c.first == *command; });
        if (it == std::end(kCommands)) return unknown("CMD", *command);
        const bool preset = command->ends_with("PRESET");
        if (preset != pointer.has_value()) return unknown("CMD", *command);
        dir = std::string(it->second) + (preset ? std::to_string(*pointer) : "");
    } else if (pointer) {
        return unknown("POINTER", std::to_string(*pointer));
    }
    if (dir) {
        if (std::string problem = planDir(*dir, plan); !problem.empty()) return problem;
    }
    if (plan.kind == Plan::Kind::Shift) {
        auto v = steps.find(plan.vertical), h = steps.find(plan.horizontal);
        if (steps.size() != 2 || v == steps.end() || h == steps.end()) return unknown("Dir", *dir);
        plan.tiltSteps = plan.vertical == "Up" ? v->second : -v->second;
        plan.panSteps = plan.horizontal == "Right" ? h->second : -h->second;
    } else if (!steps.empty()) {
        return unknown(steps.begin()->first + "860", std::to_string(steps.begin()->second));
    }
    const bool tour = plan.kind == Plan::Kind::Word && plan.word->text == "TourStart";
    if (plan.group && !tour) return unknown("Group", std::to_string(*plan.group));
    if (std::string problem =
            namePreset(pointName, plan.kind == Plan::Kind::Store, plan.number, plan.name);
        !problem.empty())
        return problem;
    if (std::string problem = commit(channel, plan); !problem.empty()) return problem;
    settings.insert(settings.end(), kept.begin(), kept.end());
    return {};
}

std::string PtzHead::serialPort(const Values &pairs, Values &settings) {
    Plan plan;
    std::optional<std::string> pointName;
    for (const auto &[key, value] : pairs) {
        if (key == "Dir") {
            if (std::string problem = planDir(value, plan); !problem.empty()) return problem;
        } else if (key == "Speed") {
            if (!(plan.speed = wholeNumber(value))) return unknown(key, value);
        } else if (key == "PointName") {
            pointName = value;
        } else if (key != "RemoveName") {
            return unknown(key, value);
        }
    }
    if (std::string problem =
            namePreset(pointName, plan.kind == Plan::Kind::Store, plan.number, plan.name);
        !problem.empty())
        return problem;
    if (std::string problem = commit(0, plan); !problem.empty()) return problem;
    if (plan.speed) settings.emplace_back("Speed", std::to_string(*plan.speed));
    return {};
}

std::string PtzHead::cameraText(std::string_view text, bool freeText) {
    std::string_view word;
    for (const auto &[camera, dir] : kCameraTexts)
        if (text == camera) word = dir;
    if (word.empty() && freeText)
        for (std::string_view dir : {"Up", "Down", "Left", "Right"})
            if (text.size() == dir.size() && strncasecmp(text.data(), dir.data(), dir.size()) == 0)
                word = dir;
    if (word.empty()) return unknown("Dir", text);
    Plan plan;
    if (std::string problem = planDir(word, plan); !problem.empty()) return problem;
    return commit(0, plan);
}

std::string PtzHead::commit(int channel, const Plan &plan) {
    std::lock_guard lock(lock_);
    // A request of the head's own takes over from a glide where the glide has got to.
    HeadState next = current(channel, Clock::now());
    if (next.drift == Drift::Glide) next.drift = Drift::None;
    if (plan.speed) next.speed = *plan.speed;
    if (plan.serial) next.serial = *plan.serial;
    switch (plan.kind) {
        case Plan::Kind::None:
            break;
        case Plan::Kind::Word:
            plan.word->effect(next, limits_);
            if (plan.word->text.starts_with("OSD_")) next.lastMenuKey = plan.word->text;
            break;
        case Plan::Kind::Shift:
            shift(next, limits_, plan.panSteps, plan.tiltSteps);
            break;
        case Plan::Kind::GoTo: {
            auto preset = next.presets.find(plan.number);
            if (preset == next.presets.end()) return "No preset " + std::to_string(plan.number);
            next.pan = preset->second.pan;
            next.tilt = preset->second.tilt;
            next.zoom = preset->second.zoom;
            break;
        }
        case Plan::Kind::Store:
            next.presets[plan.number] = {next.pan, next.tilt, next.zoom, plan.name};
            store_->set("GetPTZ.cgi", presetKey(limits_, plan.number), plan.name, channel);
            break;
        case Plan::Kind::Remove:
            next.presets.erase(plan.number);
            store_->set("GetPTZ.cgi", presetKey(limits_, plan.number), "", channel);
            break;
    }
    if (plan.group) next.tourGroup = *plan.group;
    heads_[channel] = std::move(next);
    glides_.erase(channel);
    return {};
}

std::string PtzHead::command(int channel, std::string_view dir, const std::string &presetName) {
    Plan plan;
    if (std::string problem = planDir(dir, plan); !problem.empty()) return problem;
    plan.name = presetName;
    return commit(channel, plan);
}

HeadPosition PtzHead::glidePosition(const Glide &glide, Clock::time_point now) const {
    const Clock::time_point end = std::min(now, glide.until);
    const double seconds =
        std::max(0.0, std::chrono::duration<double>(end - glide.from).count());
    HeadPosition p;
    p.pan = std::clamp(glide.pan + glide.rate.pan * seconds, double(limits_.panMin),
                       double(limits_.panMax));
    p.tilt = std::clamp(glide.tilt + glide.rate.tilt * seconds, double(limits_.tiltMin),
                        double(limits_.tiltMax));
    p.zoom = std::clamp(glide.zoom + glide.rate.zoom * seconds, double(limits_.zoomMin),
                        double(limits_.zoomMax));
    p.panTiltMoving = now < glide.until && (glide.rate.pan != 0 || glide.rate.tilt != 0);
    p.zoomMoving = now < glide.until && glide.rate.zoom != 0;
    return p;
}

HeadPosition PtzHead::exact(int channel, Clock::time_point now) const {
    if (auto g = glides_.find(channel); g != glides_.end()) return glidePosition(g->second, now);
    auto it = heads_.find(channel);
    const HeadState s = it == heads_.end() ? HeadState{} : it->second;
    return {double(s.pan), double(s.tilt), double(s.zoom), false, false};
}

HeadState PtzHead::current(int channel, Clock::time_point now) const {
    auto it = heads_.find(channel);
    HeadState s = it == heads_.end() ? HeadState{} : it->second;
    if (auto g = glides_.find(channel); g != glides_.end()) {
        const HeadPosition p = glidePosition(g->second, now);
        s.pan = static_cast<int>(std::lround(p.pan));
        s.tilt = static_cast<int>(std::lround(p.tilt));
        s.zoom = static_cast<int>(std::lround(p.zoom));
        if (p.panTiltMoving || p.zoomMoving) s.drift = Drift::Glide;
    }
    return s;
}

void PtzHead::glide(int channel, HeadVelocity velocity, std::chrono::milliseconds duration) {
    std::lock_guard lock(lock_);
    const Clock::time_point now = Clock::now();
    const HeadPosition from = exact(channel, now);
    HeadState s = current(channel, now);
    s.drift = Drift::None;  // a glide replaces any drift of the families' words
    heads_[channel] = s;
    glides_[channel] = Glide{from.pan, from.tilt, from.zoom, velocity, now, now + duration};
}

void PtzHead::halt(int channel, bool panTilt, bool zoom) {
    std::lock_guard lock(lock_);
    auto g = glides_.find(channel);
    if (g == glides_.end()) return;
    const Clock::time_point now = Clock::now();
    const HeadPosition at = glidePosition(g->second, now);
    Glide &next = g->second;
    next.pan = at.pan;
    next.tilt = at.tilt;
    next.zoom = at.zoom;
    next.from = now;
    if (panTilt) next.rate.pan = next.rate.tilt = 0;
    if (zoom) next.rate.zoom = 0;
    // A glide with nothing left to do stays, spent, so position() keeps its fractions.
    if (next.rate.pan == 0 && next.rate.tilt == 0 && next.rate.zoom == 0) next.until = now;
}

HeadPosition PtzHead::position(int channel) const {
    std::lock_guard lock(lock_);
    return exact(channel, Clock::now());
}

HeadState PtzHead::state(int channel) const {
    std::lock_guard lock(lock_);
    return current(channel, Clock::now());
}

void PtzHead::reset() {
    std::lock_guard lock(lock_);
    heads_.clear();
    glides_.clear();
}

Values describeHead(const HeadState &head) {
    std::string serial;
    for (unsigned char c : head.serial) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", c);
        serial += hex;
    }
    Values values = {
        {"pan", std::to_string(head.pan)},     {"tilt", std::to_string(head.tilt)},
        {"zoom", std::to_string(head.zoom)},   {"focus", std::to_string(head.focus)},
        {"iris", std::to_string(head.iris)},   {"move", driftName(head.drift)},
        {"autopan", head.autoPan ? "1" : "0"}, {"patrol", head.patrol ? "1" : "0"},
        {"tour", head.tour ? "1" : "0"},       {"tour_group", std::to_string(head.tourGroup)},
        {"osd", head.menuOpen ? "1" : "0"},    {"osd_key", head.lastMenuKey},
        {"speed", std::to_string(head.speed)}, {"serial", serial}};
    for (const auto &[n, p] : head.presets)
        values.emplace_back("preset" + std::to_string(n),
                            std::to_string(p.pan) + "," + std::to_string(p.tilt) + "," +
                                std::to_string(p.zoom) + "," + p.name);
    return values;
}

}  // namespace camsim
