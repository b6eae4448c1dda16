// Pixel values of the drawing surface (RGB 5-6-5) that the viewer tests look for.
#pragma once

#include <cstdint>

namespace kestrel_test {

inline constexpr uint16_t kRed565 = 0xF800, kGreen565 = 0x07E0, kBlue565 = 0x001F,
                          kWhite565 = 0xFFFF;

}  // namespace kestrel_test
