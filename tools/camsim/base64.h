// Base64 for the simulator's own checks of Basic credentials, and for the parameter sets its
// session descriptions carry.
//
// Kept apart from the library's coder on purpose: a fault shared by both would let a wrong
// Authorization header pass the tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace camsim {

// Accepts the standard alphabet with or without the closing padding; nothing when a character
// is outside the alphabet, padding is misplaced or the length cannot be a coding.
std::optional<std::string> decodeBase64(std::string_view text);

// The standard alphabet, padded with '=' to a multiple of four characters.
std::string encodeBase64(std::string_view bytes);

}  // namespace camsim
