// The front panel of a simulated recorder: what it plays, which channel or split it shows and
// the keys it was sent, in order. Safe to use from every serving thread at once.
//
// Family A recorders take playback states (SetPlayCmd.cgi, SetTimePlay.cgi) and "dvrkey_"
// keys (SetDVRKey.cgi); family B recorders take the panel texts of MoveCamera.cgi, the
// "QUAD_" ones on 4 channels and the others on 8 or 16. A key or state the panel does not
// understand changes nothing and is answered with a text naming it ("" when it was taken).
//
// Keys: a channel key shows that channel alone; split keys show 4, 9, 13 or 16 pictures;
// "play" plays back at normal speed, "stop" returns to live pictures, the pause keys pause,
// "rew" rewinds at normal speed, and the fast keys rewind or play forward twice as fast as
// before (2 the first time, at most 64). Arrow, menu and auto keys are only recorded.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/cgi_site.h"

namespace camsim {

enum class PlayMode { Live, Playback, Rewind, FastForward, Paused };

struct RecorderState {
    PlayMode play = PlayMode::Live;
    int speed = 1;         // the factor of Rewind and FastForward; 1 otherwise
    std::string playFrom;  // "yymmddhhmmss" of the last SetTimePlay.cgi; "" once live again
    int channel = 0;       // the channel shown alone, 0 while a split shows several
    int split = 4;         // pictures on screen: 1 with a channel alone, else 4, 9, 13 or 16;
                           // at first the smallest split that shows every channel
    std::vector<std::string> keys;  // as received, the last kMaxKeys
};

class RecorderPanel {
  public:
    static constexpr std::size_t kMaxKeys = 256;

    // channels: 4, 8 or 16 for a recorder; 0 for a camera, which has no panel.
    explicit RecorderPanel(int channels);

    std::string playCommand(std::string_view state);  // PLAYSTATE= of SetPlayCmd.cgi
    std::string playFrom(std::string_view event);     // EVENT=yymmddhhmmss of SetTimePlay.cgi
    std::string dvrKey(std::string_view key);         // DVRControl= of SetDVRKey.cgi
    std::string panelText(std::string_view text);     // Dir= of MoveCamera.cgi
    // A key another part took (a camera text that moved the head), kept in the list.
    void recordKey(std::string_view key);

    RecorderState state() const;
    void reset();

    // What a key does; a Split key comes with its picture count.
    enum class Press { Note, FastRewind, Rewind, Pause, Stop, Play, FastForward, Split, Channel };

  private:
    std::string press(Press press, int number, std::string_view key);

    RecorderState initial() const;

    const int channels_;
    mutable std::mutex lock_;
    RecorderState state_;  // lock_
};

// GetSimState.cgi lines of a recorder: play, play_speed, play_from, channel, split, keys.
Values describeRecorder(const RecorderState &recorder);

}  // namespace camsim
