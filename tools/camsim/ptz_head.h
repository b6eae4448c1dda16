// The pan/tilt/zoom head of a simulated camera: where it points, what its lens does, what it
// runs on its own and the presets it remembers, one head per channel. Safe to use from every
// serving thread at once.
//
// The head takes the requests of both families in their own wordings and applies each one
// whole or not at all: a request with any part the head does not understand leaves every
// channel as it was and is answered with a text naming that part ("" when it was taken).
// Moves are steps: one per Up/Down/Left/Right, held within the limits; "Up" raises tilt and
// "Right" raises pan. A stored preset's name is also written to the settings store under the
// GetPTZ.cgi key the family reports it as, and removing the preset clears that key.
//
// Besides steps the head glides: a continuous move at a velocity (units per second) until it
// is halted or its time is up. The position is worked out from the clock whenever it is read,
// so no thread drives the head; any request of the families' own ends a glide first.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "tools/camsim/cgi_site.h"
#include "tools/camsim/settings_store.h"

namespace camsim {

struct HeadLimits {
    int panMin = -180, panMax = 180;
    int tiltMin = -90, tiltMax = 90;
    int zoomMin = 1, zoomMax = 10;
    int firstPreset = 1, lastPreset = 16;
    // Preset n's name is reported by GetPTZ.cgi as the prefix and n, two digits or as few as
    // it takes: "PName03", "PointName3".
    std::string presetPrefix = "PName";
    bool twoDigitPresets = true;
    bool wideWording = true;  // family A's Dir words; false: the few of family B's RS232.cgi
};

HeadLimits familyAHead();
HeadLimits familyBHead();

// A continuous move, started by "UpStart" and the like and ended by "Stop"; Glide while the
// head glides at a velocity.
enum class Drift { None, Up, Down, Left, Right, Glide };

// Units per second: degrees of pan and tilt, zoom steps.
struct HeadVelocity {
    double pan = 0, tilt = 0, zoom = 0;
};

// Where the head points to the fraction, and which parts are gliding.
struct HeadPosition {
    double pan = 0, tilt = 0, zoom = 1;
    bool panTiltMoving = false, zoomMoving = false;
};

struct HeadPreset {
    int pan = 0, tilt = 0, zoom = 1;
    std::string name;
    bool operator==(const HeadPreset &) const = default;
};

struct HeadState {
    int pan = 0, tilt = 0, zoom = 1;
    int focus = 0;  // +1 per FocusFar, -1 per FocusNear
    int iris = 0;   // +1 per IRISLarge, -1 per IRISSmall
    bool autoPan = false, patrol = false, tour = false;
    int tourGroup = -1;  // the Group of a running tour, -1 for none
    Drift drift = Drift::None;
    bool menuOpen = false;    // between OSD_Menu and OSD_Exit
    std::string lastMenuKey;  // "OSD_Up", ...
    std::map<int, HeadPreset> presets;
    std::string serial;  // the raw bytes of the last Command=, decoded
    int speed = -1;      // the last speed given, -1 for none
};

class PtzHead {
  public:
    PtzHead(HeadLimits limits, std::shared_ptr<SettingsStore> store);

    // Family A SetPTZ.cgi: "CMD=" (with "POINTER=") or "Dir=" with its companions, or a
    // position move. The pairs that are settings rather than the head's are appended to
    // settings for the caller to store; a speed counts as both.
    std::string setPtz(int channel, const Values &pairs, Values &settings);
    // Family B RS232.cgi on channel 0; a Speed= is also appended to settings.
    std::string serialPort(const Values &pairs, Values &settings);
    // A MoveCamera.cgi camera text ("UP", "ZoomIN", "AutoPAN", "PTZSTOP", ...) on channel 0;
    // with freeText also "up", "Left" and the like in any case.
    std::string cameraText(std::string_view text, bool freeText);

    // One Dir word on a channel ("Home", "Preset3", "Point3", "Remove3"); presetName is the
    // name a stored preset takes. "" when taken, else what was not understood.
    std::string command(int channel, std::string_view dir, const std::string &presetName = {});
    // Glides at velocity for duration, replacing any glide of the channel.
    void glide(int channel, HeadVelocity velocity, std::chrono::milliseconds duration);
    // Ends the pan/tilt part, the zoom part or both of a glide where the head is now.
    void halt(int channel, bool panTilt, bool zoom);
    HeadPosition position(int channel = 0) const;
    const HeadLimits &limits() const { return limits_; }

    HeadState state(int channel = 0) const;
    void reset();  // every channel back home, presets forgotten

  private:
    using Clock = std::chrono::steady_clock;
    struct Plan;
    // A glide: the exact position at from, where it goes from there and until when.
    struct Glide {
        double pan = 0, tilt = 0, zoom = 1;
        HeadVelocity rate;
        Clock::time_point from, until;
    };

    std::string planDir(std::string_view dir, Plan &plan) const;
    std::string commit(int channel, const Plan &plan);
    // Under lock_: a glide's exact position at now, held within the limits.
    HeadPosition glidePosition(const Glide &glide, Clock::time_point now) const;
    // Under lock_: the channel's exact position at now, gliding or not.
    HeadPosition exact(int channel, Clock::time_point now) const;
    // Under lock_: the channel's state at now, a glide's position rounded into it.
    HeadState current(int channel, Clock::time_point now) const;

    const HeadLimits limits_;
    const std::shared_ptr<SettingsStore> store_;
    mutable std::mutex lock_;
    std::map<int, HeadState> heads_;  // lock_; a channel appears when first moved
    std::map<int, Glide> glides_;     // lock_; the channels that glide
};

// GetSimState.cgi lines of a head: pan, tilt, zoom, ..., then "presetN=pan,tilt,zoom,name"
// for each stored preset.
Values describeHead(const HeadState &head);

}  // namespace camsim
