#include "tools/camsim/stream_faults.h"

#include "tools/camsim/rtp_packetizer.h"

namespace camsim {

namespace {

constexpr uint16_t kOneByteProfile = 0xBEDE;
constexpr uint16_t kTwoByteProfile = 0x1000;  // the low 4 bits are the sender's own

bool due(int every, uint64_t &counter) {
    return every > 0 && counter++ % static_cast<uint64_t>(every) == 0;
}

}  // namespace

std::string FaultPlan::nextExtension() {
    if (!due(faults_.extensionEvery, extended_)) return {};
    const uint16_t profile = faults_.twoByteExtension
                                 ? static_cast<uint16_t>(kTwoByteProfile | (random_() & 0xF))
                                 : kOneByteProfile;
    const int words = 1 + static_cast<int>(random_() % 4);
    std::string extension;
    putBigEndian(extension, profile, 2);
    putBigEndian(extension, static_cast<uint64_t>(words), 2);
    for (int i = 0; i < words; ++i) putBigEndian(extension, random_(), 4);
    return extension;
}

int FaultPlan::nextPadding() {
    if (!due(faults_.paddingEvery, padded_)) return 0;
    return 1 + static_cast<int>(random_() % 255);
}

}  // namespace camsim
