// The family A stream readers on one core: "HUNT" and "3297" streams of recorded 640x480
// MPEG-4 and Motion-JPEG pictures, read from memory frame by frame.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/session.h"
#include "platform/byte_source.h"
#include "support/family_a_frames.h"
#include "support/media.h"
#include "transport/family_a_stream.h"

using namespace ipcam;

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 60;

struct Stream {
    std::string bytes;
    int frames = 0;
};

std::vector<std::string> mpeg4Pictures() {
    return kestrel_test::encodeMpeg4(kWidth, kHeight, kFrames, 30);
}

std::vector<std::string> jpegPictures() {
    return std::vector<std::string>(30, kestrel_test::encodeJpeg({kWidth, kHeight, 60, true, 0}));
}

// Key frame first, then dependent pictures; Motion-JPEG pictures are all key frames.
Stream huntStream(const std::vector<std::string> &pictures, uint8_t codec) {
    Stream s;
    uint32_t ms = 0;
    for (const std::string &p : pictures) {
        kestrel_test::HuntFields f;
        f.codec = codec;
        f.pictureType = codec == 1 && s.frames > 0 ? 2 : 0;
        f.seconds = 1'700'000'000 + ms / 1000;
        f.milliseconds = ms % 1000;
        s.bytes += kestrel_test::huntFrame(f, p);
        ms += 33;
        ++s.frames;
    }
    s.bytes += "HUNT";
    return s;
}

Stream taggedStream(const std::vector<std::string> &pictures, uint8_t codec) {
    Stream s;
    uint32_t ms = 0;
    for (const std::string &p : pictures) {
        kestrel_test::TaggedFields f;
        f.type = codec == 2 ? 4 : s.frames > 0 ? 2 : 1;
        f.seconds = 1'700'000'000 + ms / 1000;
        f.milliseconds = ms % 1000;
        s.bytes += kestrel_test::taggedPacket(f, p);
        ms += 33;
        ++s.frames;
    }
    s.bytes += "3297";
    return s;
}

int countFrames(void *context, int, void *frame, int) {
    const int32_t kind = static_cast<EncodedFrame *>(frame)->kind;
    if (kind >= IPCAM_FRAME_KEY && kind <= IPCAM_FRAME_DROPPABLE) ++*static_cast<int64_t *>(context);
    IPCamFreeFrame(frame);
    return 0;
}

void readStream(benchmark::State &state, const Stream &stream, bool tagged) {
    Settings settings;
    settings.usePCTime = false;
    setSettings(settings);
    auto session = std::make_unique<IPCamSession>();
    session->videoRunning = 1;
    session->deviceNumber = 1.06;  // with checksums
    int64_t frames = 0;
    session->callback = countFrames;
    session->callbackContext = &frames;
    for (auto _ : state) {
        // Each pass is a new connection, so its first key frame starts the stream again.
        session->stream.expectMagic = 1;
        session->awaitingFirstFrame = 1;
        MemorySource source(stream.bytes, 64 * 1024);
        while (source.remaining() > 0) {
            const int r = tagged ? readTaggedVideo(session.get(), source)
                                 : readHuntVideo(session.get(), source);
            if (r != 0) state.SkipWithError("reader failed");
        }
    }
    if (frames != static_cast<int64_t>(state.iterations()) * stream.frames)
        state.SkipWithError("frames lost");
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(stream.bytes.size()));
}

void BM_HuntMpeg4(benchmark::State &state) {
    static const Stream s = huntStream(mpeg4Pictures(), 1);
    readStream(state, s, false);
}
BENCHMARK(BM_HuntMpeg4)->Unit(benchmark::kMillisecond);

void BM_HuntJpeg(benchmark::State &state) {
    static const Stream s = huntStream(jpegPictures(), 2);
    readStream(state, s, false);
}
BENCHMARK(BM_HuntJpeg)->Unit(benchmark::kMillisecond);

void BM_TaggedMpeg4(benchmark::State &state) {
    static const Stream s = taggedStream(mpeg4Pictures(), 1);
    readStream(state, s, true);
}
BENCHMARK(BM_TaggedMpeg4)->Unit(benchmark::kMillisecond);

void BM_TaggedJpeg(benchmark::State &state) {
    static const Stream s = taggedStream(jpegPictures(), 2);
    readStream(state, s, true);
}
BENCHMARK(BM_TaggedJpeg)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
