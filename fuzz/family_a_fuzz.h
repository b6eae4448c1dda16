// The body of the family A stream fuzzers: a stream in one framing, video or audio, cut into
// arbitrary pieces.
//
// Input layout: byte 0 bit 0 picks audio, bits 1-2 the firmware version (1.03, 1.05, 1.06,
// 2.0), bits 3-6 the read piece size, bit 7 our own clock; the rest is the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/config.h"
#include "fuzz_session.h"
#include "platform/byte_source.h"
#include "transport/family_a_stream.h"

namespace kestrel_fuzz {

inline void readFamilyAStream(const uint8_t *data, size_t size, bool tagged) {
    if (size < 1) return;
    ipcam::Settings settings;
    settings.getTimeout = 0;
    settings.usePCTime = (data[0] & 0x80) != 0;
    ipcam::setSettings(settings);
    static constexpr double kFirmware[] = {1.03, 1.05, 1.06, 2.0};
    std::unique_ptr<IPCamSession> s(fuzzSession(4));
    s->deviceNumber = kFirmware[(data[0] >> 1) & 3];
    s->modelCode = 0x5A;  // draws overlays
    const bool audio = data[0] & 1;
    ipcam::MemorySource source(std::string_view(reinterpret_cast<const char *>(data + 1), size - 1),
                               ((data[0] >> 3) & 0x0F) * 37u + 1u);
    for (int calls = 0; calls < 10000 && source.remaining() > 0; ++calls) {
        const int r = audio ? (tagged ? ipcam::readTaggedAudio(s.get(), source)
                                      : ipcam::readHtadAudio(s.get(), source))
                            : (tagged ? ipcam::readTaggedVideo(s.get(), source)
                                      : ipcam::readHuntVideo(s.get(), source));
        if (r > 5 || (r < 0 && r != -10 && r != -11 && r != -13 && r != -50)) std::abort();
    }
}

}  // namespace kestrel_fuzz
