// The family B video connection: JPEG pictures, marker words and status blocks, cut into
// arbitrary pieces, with the audio blocks of the audio connection.
//
// Input layout: byte 0 bit 0 picks audio, bits 1-7 the read piece size; the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/config.h"
#include "fuzz_session.h"
#include "platform/byte_source.h"
#include "transport/family_b_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    ipcam::Settings settings;
    settings.getTimeout = 0;
    ipcam::setSettings(settings);
    std::unique_ptr<IPCamSession> s(kestrel_fuzz::fuzzSession(0));
    s->rtp.largestFrame = 512;
    const bool audio = data[0] & 1;
    ipcam::MemorySource source(std::string_view(reinterpret_cast<const char *>(data + 1), size - 1),
                               (data[0] >> 1) * 13u + 1u);
    for (int calls = 0; calls < 10000 && source.remaining() > 0; ++calls) {
        const int r = audio ? ipcam::readStatusAudio(s.get(), source)
                            : ipcam::readStatusVideo(s.get(), source);
        if (r != 0 && r != -10 && r != -11 && r != -100) std::abort();
        if (s->rtp.frameBuffer.count() > s->rtp.frameBuffer.capacity()) std::abort();
    }
    return 0;
}
