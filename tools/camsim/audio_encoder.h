// The simulated camera's microphone: a 1 kHz tone, MPEG-1 layer II, mono, 32 kHz.
#pragma once

#include <string>
#include <vector>

namespace camsim {

inline constexpr int kAudioSampleRate = 32000;
inline constexpr int kAudioFrameSamples = 1152;  // per layer II frame: 36 ms

// n consecutive frames of the tone, each a complete frame with its header; empty on failure.
// The tone repeats every 32 samples, so the frames loop without a click.
std::vector<std::string> encodeToneFrames(int n);

}  // namespace camsim
