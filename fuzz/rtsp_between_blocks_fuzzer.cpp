// The RTSP connection after SETUP: a reply awaited among blocks and server requests, then the
// interleaved reader over what follows. Answers go to the memory source.
//
// Input layout: byte 0 picks the video codec (bit 0), whether a reply is awaited first (bit 1)
// and the read piece size (the rest); byte 1 the first of the four assigned channels; then the
// stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/config.h"
#include "core/session.h"
#include "fuzz_session.h"
#include "platform/byte_source.h"
#include "transport/interleaved_unit.h"
#include "transport/rtp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    ipcam::Settings settings;
    settings.getTimeout = 0;
    ipcam::setSettings(settings);
    std::unique_ptr<IPCamSession> s(kestrel_fuzz::fuzzSession(data[0] & 1 ? 4 : 0));
    s->rtsp.sessionId = "F00D";
    const int first = data[1];
    s->rtp.interleaved = {first, (first + 1) & 0xFF, (first + 2) & 0xFF, (first + 3) & 0xFF};
    ipcam::MemorySource source(std::string_view(reinterpret_cast<const char *>(data + 2), size - 2),
                               (data[0] >> 2) + 1u);
    if (data[0] & 2) {
        ipcam::RtspMessage reply;
        const int status = ipcam::awaitRtspReply(s.get(), source, reply, 1, 1);
        if (status != -8 && (status < 100 || status > 999)) std::abort();
        if (s->rtp.pending.size() > ipcam::PendingBlocks::kMaxBlocks) std::abort();
    }
    while (source.remaining() > 0 || !s->rtp.pending.empty()) {
        int r = ipcam::readInterleaved(s.get(), source);
        if (r != 0 && r != -8) std::abort();
        if (r != 0) break;
    }
    return 0;
}
