// The ordinary decimal conversion that device texts and the configuration file are read with.
#pragma once

#include <cstdint>
#include <string_view>

namespace ipcam {

// Leading blanks, an optional sign, then digits up to the first non-digit; no digits give 0.
// Values beyond 32 bits saturate instead of wrapping.
int32_t decimalValue(std::string_view text);

}  // namespace ipcam
