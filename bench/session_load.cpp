// How many sessions one process holds at a device's full frame rate.
//
//   session_load HOST PORT [--type T] [--stream N] [--fps F] [--seconds S] [--counts 8,16,...]
//
// For each count, opens that many sessions to the device through the public interface, waits
// until every one delivers pictures, then counts the video frames each receives over S
// seconds. A count is held when every session received its F frames per second (the device
// paces by its clock and catches up after a stall, so a session that falls behind shows as a
// shortfall here). Prints one line per count with the slowest and the mean session, the CPU
// this process spent per 1,000 frames, and the verdict.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ipcam.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Counter {
    std::atomic<uint64_t> video{0};
};

int onFrame(void *context, int, void *frame, int) {
    const auto *f = static_cast<const EncodedFrame *>(frame);
    if (f->kind >= IPCAM_FRAME_KEY && f->kind <= IPCAM_FRAME_DROPPABLE)
        static_cast<Counter *>(context)->video.fetch_add(1, std::memory_order_relaxed);
    IPCamFreeFrame(frame);
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Settings {
    std::string host;
    unsigned port = 0;
    int type = IPCAM_PROTOCOL_AUTO;
    int stream = 0;
    double fps = 30;
    double seconds = 10;
    std::vector<int> counts{8, 16, 32, 64};
};

[[noreturn]] void usage(const char *why) {
    std::fprintf(stderr,
                 "session_load: %s\nusage: session_load HOST PORT [--type T] [--stream N] "
                 "[--fps F] [--seconds S] [--counts 8,16,32,64]\n",
                 why);
    std::exit(2);
}

Settings parse(int argc, char **argv) {
    if (argc < 3) usage("HOST and PORT are needed");
    Settings s;
    s.host = argv[1];
    s.port = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    if (s.port == 0 || s.port > 65535) usage("PORT must be 1 to 65535");
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) usage(("missing value after " + option).c_str());
        const char *value = argv[++i];
        if (option == "--type") {
            s.type = std::atoi(value);
        } else if (option == "--stream") {
            s.stream = std::atoi(value);
        } else if (option == "--fps") {
            s.fps = std::atof(value);
        } else if (option == "--seconds") {
            s.seconds = std::atof(value);
        } else if (option == "--counts") {
            s.counts.clear();
            for (const char *p = value; *p;) {
                char *end = nullptr;
                const long n = std::strtol(p, &end, 10);
                if (end == p || n < 1 || n > 1000) usage("--counts takes numbers 1 to 1000");
                s.counts.push_back(static_cast<int>(n));
                p = *end == ',' ? end + 1 : end;
                if (*end && *end != ',') usage("--counts takes a comma-separated list");
            }
        } else {
            usage(("unknown option " + option).c_str());
        }
    }
    if (s.fps <= 0 || s.seconds <= 0 || s.counts.empty()) usage("bad --fps, --seconds or --counts");
    return s;
}

bool runCount(const Settings &s, int count, int &firstId) {
    std::vector<std::unique_ptr<Counter>> counters;
    for (int i = 0; i < count; ++i) {
        counters.push_back(std::make_unique<Counter>());
        IPCamSession *session = nullptr;
        if (IPCamCreate(&session, s.host.c_str(), s.port, "admin", "", firstId++, s.type) != 0 ||
            IPCamSetStreamNum(session, s.stream, s.stream) != 0 ||
            IPCamAction(session, &onFrame, counters.back().get(), IPCAM_ACTION_VIDEO) != 0) {
            std::fprintf(stderr, "session_load: could not start session %d\n", i + 1);
            IPCamAllDelete();
            return false;
        }
    }
    // Every session streams before the window opens; then two seconds to settle.
    const auto started = Clock::now();
    auto allStreaming = [&] {
        return std::all_of(counters.begin(), counters.end(), [](const auto &c) {
            return c->video.load() > 0;
        });
    };
    while (!allStreaming() && Clock::now() - started < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!allStreaming()) {
        std::printf("%8d  not every session streamed within 30 s\n", count);
        IPCamAllDelete();
        return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));

    std::vector<uint64_t> before;
    for (const auto &c : counters) before.push_back(c->video.load());
    const double cpuBefore = cpuSeconds();
    const auto windowStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(s.seconds));
    const double window = std::chrono::duration<double>(Clock::now() - windowStart).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::vector<uint64_t> received;
    for (std::size_t i = 0; i < counters.size(); ++i)
        received.push_back(counters[i]->video.load() - before[i]);
    IPCamAllDelete();

    const uint64_t slowest = *std::min_element(received.begin(), received.end());
    uint64_t total = 0;
    for (uint64_t n : received) total += n;
    // Either end of the window can cut a frame interval short and the device's clock drifts
    // from ours: two frames of slack per session. A session that falls behind loses far more.
    const double due = s.fps * window;
    const bool held = static_cast<double>(slowest) + 2.0 >= due;
    std::printf("%8d %12.1f %12.1f %12.1f %14.3f %8s\n", count, slowest / window,
                static_cast<double>(total) / count / window, s.fps,
                total ? cpu * 1000.0 / static_cast<double>(total) : 0.0, held ? "held" : "behind");
    std::fflush(stdout);
    return held;
}

}  // namespace

int main(int argc, char **argv) {
    const Settings s = parse(argc, argv);
    IPCamInit();
    std::printf("%8s %12s %12s %12s %14s %8s\n", "sessions", "slowest fps", "mean fps",
                "device fps", "CPU s/1k fr", "verdict");
    int id = 1, most = 0;
    for (int count : s.counts) {
        if (runCount(s, count, id)) most = std::max(most, count);
    }
    IPCamExit();
    std::printf("held at most: %d sessions\n", most);
    return 0;
}
