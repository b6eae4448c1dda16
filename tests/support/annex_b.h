// NAL units of Annex B bytes as the tests handle them: each a vector of its own.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "transport/nal_units.h"

namespace kestrel_test {

inline std::vector<std::vector<uint8_t>> annexBUnits(std::string_view stream) {
    std::vector<std::vector<uint8_t>> units;
    for (std::string_view unit : ipcam::splitAnnexB(stream)) units.emplace_back(unit.begin(), unit.end());
    return units;
}

}  // namespace kestrel_test
