#include "onvif/onvif_control.h"

#include <chrono>
#include <cstring>
#include <string_view>

#include "core/fixed_text.h"
#include "core/session.h"
#include "onvif/onvif_session.h"
#include "platform/sockets.h"
#include "platform/stop_scope.h"

namespace ipcam {

namespace {

constexpr double kDefaultSpeed = 0.5;
constexpr auto kRepeatPause = std::chrono::milliseconds(500);

// The request's 0-9 speed as a fraction of the head's full speed.
double velocity(const PtzRequest &request) {
    if (request.speed < 0 || request.speed > 9) return kDefaultSpeed;
    return (request.speed + 1) / 10.0;
}

struct Move {
    int32_t command;
    double pan, tilt, zoom;  // directions; ONVIF's tilt is positive upwards
    bool untilStop;
};

constexpr Move kMoves[] = {
    {IPCAM_PTZ_UP, 0, 1, 0, false},          {IPCAM_PTZ_DOWN, 0, -1, 0, false},
    {IPCAM_PTZ_LEFT, -1, 0, 0, false},       {IPCAM_PTZ_RIGHT, 1, 0, 0, false},
    {IPCAM_PTZ_UP_START, 0, 1, 0, true},     {IPCAM_PTZ_DOWN_START, 0, -1, 0, true},
    {IPCAM_PTZ_LEFT_START, -1, 0, 0, true},  {IPCAM_PTZ_RIGHT_START, 1, 0, 0, true},
    {IPCAM_PTZ_UP_LEFT, -1, 1, 0, false},    {IPCAM_PTZ_UP_RIGHT, 1, 1, 0, false},
    {IPCAM_PTZ_DOWN_LEFT, -1, -1, 0, false}, {IPCAM_PTZ_DOWN_RIGHT, 1, -1, 0, false},
    {IPCAM_PTZ_ZOOM_IN, 0, 0, 1, false},     {IPCAM_PTZ_ZOOM_OUT, 0, 0, -1, false},
};

const Move *findMove(int32_t command) {
    for (const Move &m : kMoves)
        if (m.command == command) return &m;
    return nullptr;
}

// The preset a request's number (and name) stands for, among those the device lists: the one
// this session set under that number, else the one whose token is the number, else the one
// named as the request's text, else the one named as the number.
std::string findPreset(const std::vector<PtzPreset> &presets, const PtzRequest &request,
                       const std::string &remembered) {
    const std::string number = std::to_string(request.number);
    const std::string_view text = fieldText(request.text);
    for (const PtzPreset &p : presets)
        if (!remembered.empty() && p.token == remembered) return p.token;
    for (const PtzPreset &p : presets)
        if (p.token == number) return p.token;
    for (const PtzPreset &p : presets)
        if (!text.empty() && p.name == text) return p.token;
    for (const PtzPreset &p : presets)
        if (p.name == number) return p.token;
    return {};
}

// A repeated background command gives up after a result no repetition can change.
bool worthRepeating(int result) {
    return result == IPCAM_SETSOCKET_IS_ER || result == IPCAM_IS_UNCONNECTED;
}

}  // namespace

int runOnvifPtz(const PtzRequest &request, const PtzTarget &target, const std::string &user,
                const std::string &password, const SoapPolicy &policy, OnvifState &state,
                SocketSlot &slot) {
    if (target.service.address.empty()) return OnvifControl::kNoCommand;
    OnvifDevice device(state.deviceUrl, target.service.address, user, password, target.clockOffset,
                       policy);
    const std::string &profile = target.profileToken;
    auto send = [&](const SoapCall &call, std::optional<SoapReply> &reply) {
        const int r = device.call(slot, target.service, call, reply);
        if (device.clockOffset() != target.clockOffset) {
            // The device's clock was read again: later commands sign in its new time.
            std::lock_guard guard(state.lock);
            if (state.ptz) state.ptz->clockOffset = device.clockOffset();
        }
        return r == 0 ? OnvifControl::kAccepted : r;
    };
    std::optional<SoapReply> reply;

    if (const Move *move = findMove(request.command)) {
        // Only the axes the profile's configuration has; a move of none of them is no command.
        const double v = velocity(request);
        const double pan = target.panTilt ? move->pan : 0, tilt = target.panTilt ? move->tilt : 0,
                     zoom = target.zoom ? move->zoom : 0;
        if (pan == 0 && tilt == 0 && zoom == 0) return OnvifControl::kNoCommand;
        return send(continuousMove(profile, pan * v, tilt * v, zoom * v,
                                   move->untilStop ? 0 : OnvifControl::kStepMs),
                    reply);
    }
    switch (request.command) {
        case IPCAM_PTZ_STOP:
            return send(stopMove(profile, target.panTilt, target.zoom), reply);
        case IPCAM_PTZ_HOME:
            return send(gotoHomePosition(profile), reply);
        case IPCAM_PTZ_PRESET_GO:
        case IPCAM_PTZ_PRESET_SET:
        case IPCAM_PTZ_PRESET_REMOVE:
            break;
        default:
            return OnvifControl::kNoCommand;
    }
    std::string remembered;
    {
        std::lock_guard guard(state.lock);
        if (auto at = state.presetTokens.find(request.number); at != state.presetTokens.end())
            remembered = at->second;
    }
    if (int r = send(getPresets(profile), reply); r != OnvifControl::kAccepted) return r;
    const std::string known = findPreset(readPresets(*reply).value_or(std::vector<PtzPreset>{}),
                                         request, remembered);
    // A preset the device does not list is still asked for by its number: the device's fault
    // then says what is wrong.
    const std::string token = known.empty() ? std::to_string(request.number) : known;
    if (request.command == IPCAM_PTZ_PRESET_GO) return send(gotoPreset(profile, token), reply);
    if (request.command == IPCAM_PTZ_PRESET_REMOVE) {
        const int r = send(removePreset(profile, token), reply);
        std::lock_guard guard(state.lock);
        if (r == OnvifControl::kAccepted) std::erase_if(state.presetTokens, [&](const auto &entry) {
            return entry.second == token;
        });
        return r;
    }
    const std::string_view text = fieldText(request.text);
    const std::string name = text.empty() ? std::to_string(request.number) : std::string(text);
    const int r = send(setPreset(profile, known, name), reply);
    if (r != OnvifControl::kAccepted) return r;
    const std::string made = readSetPresetToken(*reply).value_or(known);
    std::lock_guard guard(state.lock);
    if (!made.empty()) state.presetTokens[request.number] = made;
    return r;
}

OnvifControl::OnvifControl(std::shared_ptr<OnvifState> state) : state_(std::move(state)) {}

OnvifControl::~OnvifControl() {
    std::lock_guard guard(workersLock_);
    running_ = 0;
    for (Worker &w : workers_) closeConnection(&w.slot);
    for (Worker &w : workers_)
        if (w.thread.joinable()) w.thread.join();
}

int OnvifControl::Command(IPCamSession *session, void *request, void *flag) {
    if (!session || !request) return IPCAM_IS_NULL;
    int32_t code = 0;
    std::memcpy(&code, request, sizeof code);
    if (code != IPCAM_CMD_PAN_TILT || !state_) return kNoCommand;
    PtzRequest ptz;
    std::memcpy(&ptz, request, sizeof ptz);
    if (!findMove(ptz.command) && ptz.command != IPCAM_PTZ_STOP && ptz.command != IPCAM_PTZ_HOME &&
        ptz.command != IPCAM_PTZ_PRESET_GO && ptz.command != IPCAM_PTZ_PRESET_SET &&
        ptz.command != IPCAM_PTZ_PRESET_REMOVE)
        return kNoCommand;
    std::optional<PtzTarget> target;
    {
        std::lock_guard guard(state_->lock);
        target = state_->ptz;
    }
    if (!target) return IPCAM_IS_UNCONNECTED;
    if (target->service.address.empty()) return kNoCommand;  // the profile has no PTZ
    const std::string user(fieldText(session->user)), password(fieldText(session->password));
    const SoapPolicy policy{session->options.clearPassword != 0};
    if (!flag) {
        SocketSlot slot{-1};
        return runOnvifPtz(ptz, *target, user, password, policy, *state_, slot);
    }

    std::lock_guard guard(workersLock_);
    if (!running_) return IPCAM_IS_NULL;
    dropFinishedWorkers();
    Worker &worker = workers_.emplace_back();
    worker.thread = std::thread([this, &worker, ptz, target = *target, user, password, policy] {
        // Every wait of the request ends within a slice once the destructor clears the flag.
        StopScope scope(&running_);
        while (running_) {
            const int r = runOnvifPtz(ptz, target, user, password, policy, *state_, worker.slot);
            if (!worthRepeating(r)) break;
            std::this_thread::sleep_for(kRepeatPause);
        }
        worker.done = 1;
    });
    return 0;
}

void OnvifControl::dropFinishedWorkers() {
    for (auto w = workers_.begin(); w != workers_.end();) {
        if (!w->done) {
            ++w;
            continue;
        }
        if (w->thread.joinable()) w->thread.join();
        w = workers_.erase(w);
    }
}

}  // namespace ipcam
