// The RTP path on one core: interleaved blocks and UDP datagrams through the readers and the
// assemblers, from a recorded 640x480 stream in memory, against decoding the same frames with
// libavcodec.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/session.h"
#include "platform/byte_source.h"
#include "support/media.h"
#include "transport/rtp_reader.h"

using namespace ipcam;

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 60;

struct Stream {
    std::vector<std::string> frames;
    std::string bytes;                   // the interleaved stream
    std::vector<std::string> datagrams;  // the same packets over UDP
    size_t payloadBytes = 0;

    void add(uint16_t sequence, bool marker, const std::string &payload) {
        std::string rtp(12, '\0');
        rtp[0] = '\x80';
        rtp[1] = static_cast<char>((marker ? 0x80 : 0) | 96);
        rtp[2] = static_cast<char>(sequence >> 8);
        rtp[3] = static_cast<char>(sequence);
        rtp += payload;
        bytes += '$';
        bytes += '\0';
        bytes += static_cast<char>(rtp.size() >> 8);
        bytes += static_cast<char>(rtp.size());
        bytes += rtp;
        datagrams.push_back(std::move(rtp));
    }
};

const Stream &mpeg4Stream() {
    static Stream s = [] {
        Stream st;
        st.frames = kestrel_test::encodeMpeg4(kWidth, kHeight, kFrames, 30);
        uint16_t sequence = 0;
        for (const std::string &f : st.frames) {
            for (size_t at = 0; at < f.size(); at += 1400)
                st.add(sequence++, at + 1400 >= f.size(), f.substr(at, 1400));
            st.payloadBytes += f.size();
        }
        return st;
    }();
    return s;
}

const Stream &jpegStream() {
    static Stream s = [] {
        Stream st;
        std::string jpeg = kestrel_test::encodeJpeg({kWidth, kHeight, 60, true, 0});
        std::string scan = kestrel_test::scanData(jpeg);
        uint16_t sequence = 0;
        for (int i = 0; i < 30; ++i) {
            st.frames.push_back(jpeg);
            for (size_t at = 0; at < scan.size(); at += 1400) {
                std::string header = {0,
                                      static_cast<char>(at >> 16),
                                      static_cast<char>(at >> 8),
                                      static_cast<char>(at),
                                      1,
                                      60,
                                      static_cast<char>(kWidth / 8),
                                      static_cast<char>(kHeight / 8)};
                st.add(sequence++, at + 1400 >= scan.size(), header + scan.substr(at, 1400));
            }
            st.payloadBytes += jpeg.size();
        }
        return st;
    }();
    return s;
}

int countFrames(void *context, int, void *frame, int) {
    auto *f = static_cast<EncodedFrame *>(frame);
    if (f->kind == IPCAM_FRAME_KEY || f->kind == IPCAM_FRAME_DEPENDENT)
        ++*static_cast<int64_t *>(context);
    IPCamFreeFrame(frame);
    return 0;
}

void readStream(benchmark::State &state, const Stream &stream, int codec, bool udp) {
    Settings settings;
    setSettings(settings);
    int64_t frames = 0;
    // One session for the whole run, as a live stream has.
    auto session = std::make_unique<IPCamSession>();
    session->videoRunning = 1;
    session->format.videoCodec = codec;
    session->callback = countFrames;
    session->callbackContext = &frames;
    for (auto _ : state) {
        // Copying the recording into a source is not the readers' work.
        state.PauseTiming();
        MemorySource source = udp ? MemorySource(stream.datagrams, MemorySource::Ending::Silence)
                                  : MemorySource(stream.bytes, 64 * 1024);
        // The RTSP connection is watched all along, as a live UDP session does.
        MemorySource control({}, MemorySource::Ending::Silence);
        state.ResumeTiming();
        if (udp) {
            while (source.remaining() > 0 &&
                   readUdpVideo(session.get(), source, nullptr, &control) == 0) {
            }
        } else {
            while (source.remaining() > 0 && readInterleaved(session.get(), source) == 0) {
            }
        }
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(stream.bytes.size()));
}

void BM_InterleavedMpeg4(benchmark::State &state) {
    readStream(state, mpeg4Stream(), 4, false);
}
BENCHMARK(BM_InterleavedMpeg4)->Unit(benchmark::kMillisecond);

void BM_InterleavedJpeg(benchmark::State &state) {
    readStream(state, jpegStream(), 0, false);
}
BENCHMARK(BM_InterleavedJpeg)->Unit(benchmark::kMillisecond);

void BM_UdpMpeg4(benchmark::State &state) {
    readStream(state, mpeg4Stream(), 4, true);
}
BENCHMARK(BM_UdpMpeg4)->Unit(benchmark::kMillisecond);

void BM_UdpJpeg(benchmark::State &state) {
    readStream(state, jpegStream(), 0, true);
}
BENCHMARK(BM_UdpJpeg)->Unit(benchmark::kMillisecond);

void BM_DecodeMpeg4(benchmark::State &state) {
    const Stream &stream = mpeg4Stream();
    for (auto _ : state) benchmark::DoNotOptimize(kestrel_test::decodeMpeg4(stream.frames));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * stream.frames.size()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeMpeg4)->Unit(benchmark::kMillisecond);

void BM_DecodeJpeg(benchmark::State &state) {
    const Stream &stream = jpegStream();
    for (auto _ : state)
        for (const std::string &f : stream.frames)
            benchmark::DoNotOptimize(kestrel_test::decodeJpeg(f));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * stream.frames.size()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
