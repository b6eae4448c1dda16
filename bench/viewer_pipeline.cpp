// The viewer's live pipeline under load: session, queue, decoding, conversion and direct-path
// drawing into a memory display, against a device for a while.
//
//   viewer_pipeline HOST PORT [--stream N] [--seconds S] [--type T] [--latency paced|low]
//
// Prints the pictures drawn, the CPU this process spent per 1,000 of them, and the delay from
// a frame's arrival at the frame callback to its picture drawn (median and 95th percentile).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/measure.h"
#include "platform/clock.h"
#include "viewer/memory_display.h"
#include "viewer/pipeline_control.h"
#include "viewer/pipeline_state.h"
#include "viewer/site_record.h"
#include "viewer/viewer_window.h"

namespace {

class BenchWindow final : public kestrel::ViewerWindow {
  public:
    BenchWindow() : screen(800, 600) {}
    void setStatusText(const std::u16string &) override {}
    void setSiteInfoVisible(bool) override {}
    void setStatusVisible(bool) override {}
    void repaintScreen() override {}
    kestrel::Display &display() override { return screen; }
    kestrel::MemoryDisplay screen;
};

std::mutex delaysLock;
std::vector<double> delays;  // ms
std::atomic<bool> measuring{false};

void onDrawn(uint64_t arrival) {
    if (!measuring) return;
    const uint64_t now = ipcam::localFileTimeNow();
    std::lock_guard guard(delaysLock);
    delays.push_back(now > arrival ? static_cast<double>(now - arrival) / 10000.0 : 0.0);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: viewer_pipeline HOST PORT [--stream N] [--seconds S] [--type T] "
                             "[--latency paced|low]\n");
        return 2;
    }
    kestrel::SiteRecord site = kestrel::defaultSiteRecord();
    for (std::size_t i = 0; argv[1][i] && i < 99; ++i) site.host[i] = static_cast<char16_t>(argv[1][i]);
    site.port = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    site.password[0] = '\0';
    double seconds = 60;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string o = argv[i];
        if (o == "--stream") site.streamNumber = static_cast<uint8_t>(std::atoi(argv[i + 1]));
        else if (o == "--seconds") seconds = std::atof(argv[i + 1]);
        else if (o == "--type") site.protocolType = static_cast<uint8_t>(std::atoi(argv[i + 1]));
        else if (o == "--latency" && (std::strcmp(argv[i + 1], "paced") == 0 ||
                                      std::strcmp(argv[i + 1], "low") == 0))
            kestrel::pipeline().lowLatency = std::strcmp(argv[i + 1], "low") == 0;
        else {
            std::fprintf(stderr, "viewer_pipeline: unknown option %s\n", o.c_str());
            return 2;
        }
    }
    IPCamInit();
    kestrel::allocatePictureBuffers();
    kestrel::pipeline().pictureDrawn = &onDrawn;
    BenchWindow window;
    {
        kestrel::PipelineControl control(window);
        control.Start(site);
        // Two seconds to connect and settle, then the measured stretch.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double cpuBefore = bench::cpuSeconds();
        measuring = true;
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        measuring = false;
        const double cpu = bench::cpuSeconds() - cpuBefore;
        control.Stop();
        std::lock_guard guard(delaysLock);
        const std::size_t pictures = delays.size();
        std::printf("pictures %zu in %.0f s, CPU %.3f s, %.3f s per 1000, delay median %.1f ms, "
                    "95th percentile %.1f ms\n",
                    pictures, seconds, cpu, pictures ? cpu * 1000.0 / static_cast<double>(pictures) : 0.0,
                    bench::percentile(delays, 0.5), bench::percentile(delays, 0.95));
    }
    IPCamExit();
    return 0;
}
