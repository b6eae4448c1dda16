// Bytes collected in the frame buffer, cut into MPEG-4 frames or JPEG pictures.
//
// Input layout: byte 0 picks the assembler (bit 0) and the piece size; the rest are the bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_session.h"
#include "transport/jpeg_assembler.h"
#include "transport/mpeg4_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const bool mpeg4 = data[0] & 1;
    const size_t piece = (data[0] >> 1) + 1u;
    std::unique_ptr<IPCamSession> s(kestrel_fuzz::fuzzSession(mpeg4 ? 4 : 0));
    s->awaitingFirstFrame = data[0] & 0x80 ? 1 : 0;
    for (size_t at = 1; at < size; at += piece) {
        size_t n = std::min(piece, size - at);
        if (!s->rtp.frameBuffer.append(data + at, n)) s->rtp.frameBuffer.clear();
        int r = mpeg4 ? ipcam::assembleMpeg4(s.get()) : ipcam::assembleJpeg(s.get());
        if (r != 0) std::abort();
    }
    return 0;
}
