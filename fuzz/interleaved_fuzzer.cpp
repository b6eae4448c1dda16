// The RTSP connection's bytes after PLAY: '$' blocks of video, device reports and audio.
//
// Input layout: byte 0 picks the video codec (bit 0) and the read piece size; the rest is the
// stream, read ahead as the session reads it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/config.h"
#include "fuzz_session.h"
#include "platform/byte_source.h"
#include "transport/rtp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    ipcam::Settings settings;
    settings.getTimeout = 0;
    ipcam::setSettings(settings);
    std::unique_ptr<IPCamSession> s(kestrel_fuzz::fuzzSession(data[0] & 1 ? 4 : 0));
    ipcam::MemorySource source(std::string_view(reinterpret_cast<const char *>(data + 1), size - 1),
                               (data[0] >> 1) + 1u);
    // Read ahead, as the session reads its connection while streaming.
    ipcam::ReadAhead ahead;
    while (source.remaining() > 0 || ahead.at < ahead.end) {
        ipcam::BufferedSource connection(source, ahead);
        int r = ipcam::readInterleaved(s.get(), connection);
        if (r != 0 && r != -8) std::abort();
        if (r != 0) break;
    }
    return 0;
}
