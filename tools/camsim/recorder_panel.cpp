#include "tools/camsim/recorder_panel.h"

#include <algorithm>
#include <optional>

#include "tools/camsim/command_words.h"

namespace camsim {

namespace {

using Press = RecorderPanel::Press;

struct Key {
    std::string_view text;
    Press press;
    int split = 0;  // the pictures of a Split key
};

// SetDVRKey.cgi, after "dvrkey_"; the channel keys are numbers.
const Key kDvrKeys[] = {
    {"frew", Press::FastRewind},  {"rew", Press::Rewind},     {"pauserew", Press::Pause},
    {"stop", Press::Stop},        {"pausefwd", Press::Pause}, {"play", Press::Play},
    {"ffwd", Press::FastForward}, {"up", Press::Note},        {"down", Press::Note},
    {"left", Press::Note},        {"right", Press::Note},     {"auto", Press::Note},
    {"sel", Press::Note},         {"enter", Press::Note},
};

// MoveCamera.cgi on 8 and 16 channels; the channel keys are "CH1" to "CH16".
const Key kSplitPanel[] = {
    {"RS", Press::FastRewind},     {"REW", Press::Rewind},        {"FR", Press::Pause},
    {"STOP", Press::Stop},         {"FF", Press::Pause},          {"PLAY", Press::Play},
    {"FFS", Press::FastForward},   {"BT4_16", Press::Split, 4},   {"BT9_16", Press::Split, 9},
    {"BT13_16", Press::Split, 13}, {"BT16_16", Press::Split, 16}, {"AUTO", Press::Note},
    {"SELECT", Press::Note},       {"ENTER", Press::Note},
};
// Sent by 8-channel recorders before a split key.
const Key kEightPanel[] = {{"NINE_QUAD", Press::Note}, {"NINE_NINE", Press::Note}};

// MoveCamera.cgi on 4 channels; the channel keys are "QUAD_CH1" to "QUAD_CH4".
const Key kQuadPanel[] = {
    {"QUAD_RS", Press::FastRewind}, {"QUAD_STOP", Press::Stop},       {"QUAD_FF", Press::Pause},
    {"QUAD_PLAY", Press::Play},     {"QUAD_FFS", Press::FastForward}, {"QUAD_UP", Press::Note},
    {"QUAD_DOWN", Press::Note},     {"QUAD_LEFT", Press::Note},       {"QUAD_RIGHT", Press::Note},
    {"QUAD_ENTER", Press::Note},    {"QUAD_4", Press::Split, 4},
};

template <std::size_t N>
const Key *find(const Key (&keys)[N], std::string_view text) {
    auto it = std::find_if(keys, keys + N, [&](const Key &k) { return k.text == text; });
    return it == keys + N ? nullptr : it;
}

std::string unknown(std::string_view key, std::string_view value) {
    return "Unknown " + std::string(key) + "=" + std::string(value);
}

int twice(const RecorderState &s, PlayMode mode) {
    return s.play == mode && s.speed >= 2 ? std::min(s.speed * 2, 64) : 2;
}

const char *playName(PlayMode mode) {
    switch (mode) {
        case PlayMode::Playback:
            return "playback";
        case PlayMode::Rewind:
            return "rewind";
        case PlayMode::FastForward:
            return "fastforward";
        case PlayMode::Paused:
            return "paused";
        case PlayMode::Live:
            break;
    }
    return "live";
}

}  // namespace

RecorderPanel::RecorderPanel(int channels) : channels_(channels), state_(initial()) {}

RecorderState RecorderPanel::initial() const {
    RecorderState s;
    s.split = channels_ > 9 ? 16 : channels_ > 4 ? 9 : 4;
    return s;
}

std::string RecorderPanel::playCommand(std::string_view state) {
    std::lock_guard lock(lock_);
    if (state == "REW") {
        state_.play = PlayMode::Rewind;
        state_.speed = 1;
    } else if (state == "LIVE") {
        state_.play = PlayMode::Live;
        state_.speed = 1;
        state_.playFrom.clear();
    } else if (state == "PLAYBACK") {
        state_.play = PlayMode::Playback;
        state_.speed = 1;
    } else {
        for (int speed = 2; speed <= 64; speed *= 2) {
            if (state != "FF" + std::to_string(speed)) continue;
            state_.play = PlayMode::FastForward;
            state_.speed = speed;
            return {};
        }
        return unknown("PLAYSTATE", state);
    }
    return {};
}

std::string RecorderPanel::playFrom(std::string_view event) {
    std::optional<int> part[6];
    for (int i = 0; i < 6 && event.size() == 12; ++i)
        part[i] = wholeNumber(event.substr(2 * static_cast<std::size_t>(i), 2));
    // yy mm dd hh mm ss
    const int top[6] = {99, 12, 31, 23, 59, 59}, bottom[6] = {0, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i)
        if (!part[i] || *part[i] < bottom[i] || *part[i] > top[i]) return unknown("EVENT", event);
    std::lock_guard lock(lock_);
    state_.play = PlayMode::Playback;
    state_.speed = 1;
    state_.playFrom = event;
    return {};
}

std::string RecorderPanel::dvrKey(std::string_view key) {
    if (!key.starts_with("dvrkey_") || channels_ <= 0) return unknown("DVRControl", key);
    const std::string_view name = key.substr(7);
    if (const Key *k = find(kDvrKeys, name)) return press(k->press, k->split, key);
    std::optional<int> n = wholeNumber(name);
    if (n && *n >= 1 && *n <= channels_) return press(Press::Channel, *n, key);
    // On 4 channels the key after the last one shows all four.
    if (n && *n == 5 && channels_ == 4) return press(Press::Split, 4, key);
    return unknown("DVRControl", key);
}

std::string RecorderPanel::panelText(std::string_view text) {
    const bool quad = channels_ == 4;
    const Key *k = nullptr;
    if (quad) {
        k = find(kQuadPanel, text);
    } else if (channels_ > 0) {
        k = find(kSplitPanel, text);
        if (!k && channels_ == 8) k = find(kEightPanel, text);
    }
    if (k) return press(k->press, k->split, text);
    std::optional<int> n =
        channels_ > 0 ? numberAfter(text, quad ? "QUAD_CH" : "CH") : std::nullopt;
    if (n && *n >= 1 && *n <= channels_) return press(Press::Channel, *n, text);
    return unknown("Dir", text);
}

std::string RecorderPanel::press(Press press, int number, std::string_view key) {
    std::lock_guard lock(lock_);
    RecorderState &s = state_;
    switch (press) {
        case Press::Note:
            break;
        case Press::FastRewind:
            s.speed = twice(s, PlayMode::Rewind);
            s.play = PlayMode::Rewind;
            break;
        case Press::Rewind:
            s.play = PlayMode::Rewind;
            s.speed = 1;
            break;
        case Press::Pause:
            s.play = PlayMode::Paused;
            s.speed = 1;
            break;
        case Press::Stop:
            s.play = PlayMode::Live;
            s.speed = 1;
            s.playFrom.clear();
            break;
        case Press::Play:
            s.play = PlayMode::Playback;
            s.speed = 1;
            break;
        case Press::FastForward:
            s.speed = twice(s, PlayMode::FastForward);
            s.play = PlayMode::FastForward;
            break;
        case Press::Split:
            s.split = number;
            s.channel = 0;
            break;
        case Press::Channel:
            s.channel = number;
            s.split = 1;
            break;
    }
    if (s.keys.size() == kMaxKeys) s.keys.erase(s.keys.begin());
    s.keys.emplace_back(key);
    return {};
}

void RecorderPanel::recordKey(std::string_view key) {
    press(Press::Note, 0, key);
}

RecorderState RecorderPanel::state() const {
    std::lock_guard lock(lock_);
    return state_;
}

void RecorderPanel::reset() {
    std::lock_guard lock(lock_);
    state_ = initial();
}

Values describeRecorder(const RecorderState &recorder) {
    std::string keys;
    for (const std::string &key : recorder.keys) keys += (keys.empty() ? "" : ",") + key;
    return {
        {"play", playName(recorder.play)},         {"play_speed", std::to_string(recorder.speed)},
        {"play_from", recorder.playFrom},          {"channel", std::to_string(recorder.channel)},
        {"split", std::to_string(recorder.split)}, {"keys", keys}};
}

}  // namespace camsim
