// How soon ONVIF cameras are found and play. Simulated cameras run in this process on
// loopback; for each measure the median of several runs:
//  - discovery: from IPCamDiscover's start to each camera's answer, with 1 and 4 cameras;
//  - from IPCamCreateOnvif to the first key frame delivered, against IPCamCreateUrl of the same
//    stream (the ratio is the price of asking the device for its stream first).
//
//   onvif_timing [RUNS]     RUNS (default 10) sessions of each kind
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/measure.h"
#include "ipcam.h"
#include "tools/camsim/cgi_server.h"
#include "tools/camsim/onvif_device.h"
#include "tools/camsim/rtsp_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Camera {
    explicit Camera(camsim::OnvifConfig config) {
        rtsp.addChannel({.codec = camsim::ChannelConfig::Codec::H264, .width = 640, .height = 480, .fps = 30});
        ok = rtsp.start() && web.start();
        device = std::make_unique<camsim::OnvifDevice>(web, rtsp, std::move(config));
    }
    bool ok = false;
    camsim::CgiServer web;
    camsim::StreamingServer rtsp;
    std::unique_ptr<camsim::OnvifDevice> device;
};

uint16_t freeUdpPort() {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

struct Search {
    Clock::time_point start;
    std::vector<double> answers;  // ms after the start
};

void onFound(void *context, const char *, const char *, const char *) {
    auto *s = static_cast<Search *>(context);
    s->answers.push_back(msSince(s->start));
}

void discovery(int cameras, int runs) {
    const uint16_t port = freeUdpPort();
    std::vector<std::unique_ptr<Camera>> sims;
    for (int i = 0; i < cameras; ++i) {
        camsim::OnvifConfig c;
        c.discoveryPort = port;
        sims.push_back(std::make_unique<Camera>(c));
        if (!sims.back()->ok || !sims.back()->device->startDiscovery()) {
            std::printf("discovery: a simulated camera did not start\n");
            return;
        }
    }
    setenv("IPCAM_DISCOVERY_PORT", std::to_string(port).c_str(), 1);
    std::vector<double> first, last;
    int complete = 0;
    for (int r = 0; r < runs; ++r) {
        Search s{Clock::now(), {}};
        IPCamDiscover(1, &onFound, &s);
        if (static_cast<int>(s.answers.size()) == cameras) ++complete;
        if (!s.answers.empty()) first.push_back(s.answers.front()), last.push_back(s.answers.back());
    }
    unsetenv("IPCAM_DISCOVERY_PORT");
    std::printf("discovery, %d camera%s: all found in %d of %d searches; first answer %.0f ms, "
                "last %.0f ms (medians; the search itself lasts 1 s)\n",
                cameras, cameras == 1 ? "" : "s", complete, runs, bench::percentile(first, 0.5),
                bench::percentile(last, 0.5));
}

struct FirstPicture {
    std::atomic<bool> seen{false};
    static int callback(void *context, int, void *frame, int) {
        auto *self = static_cast<FirstPicture *>(context);
        if (static_cast<const EncodedFrame *>(frame)->kind == IPCAM_FRAME_KEY) self->seen = true;
        IPCamFreeFrame(frame);
        return 0;
    }
};

// ms from creating the session to its first key frame; -1 when none came in 10 s.
double firstPicture(bool onvif, const Camera &camera, int id) {
    const std::string device = "http://127.0.0.1:" + std::to_string(camera.web.port()) +
                               "/onvif/device_service";
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(camera.rtsp.port()) + "/CH01";
    FirstPicture picture;
    const auto start = Clock::now();
    IPCamSession *session = nullptr;
    const int created = onvif ? IPCamCreateOnvif(&session, device.c_str(), "admin", "secret", 0, id)
                              : IPCamCreateUrl(&session, url.c_str(), "admin", "secret", id);
    if (created != 0 || !session) return -1;
    IPCamAction(session, &FirstPicture::callback, &picture, IPCAM_ACTION_VIDEO);
    while (!picture.seen && msSince(start) < 10000)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const double took = picture.seen ? msSince(start) : -1;
    IPCamDelete(session);
    return took;
}

}  // namespace

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    IPCamInit();
    discovery(1, 5);
    discovery(4, 5);

    Camera camera{camsim::OnvifConfig{}};
    if (!camera.ok) return 1;
    std::vector<double> onvif, url;
    for (int r = 0; r < runs; ++r) {
        const double a = firstPicture(true, camera, 2 * r + 1);
        const double b = firstPicture(false, camera, 2 * r + 2);
        if (a >= 0) onvif.push_back(a);
        if (b >= 0) url.push_back(b);
    }
    const double o = bench::percentile(onvif, 0.5), u = bench::percentile(url, 0.5);
    std::printf("create to first key frame, H.264 640x480 at 30 fps (median of %d): ONVIF %.0f ms, "
                "RTSP URL %.0f ms, ratio %.2f; 95th percentile ONVIF %.0f ms\n",
                runs, o, u, u > 0 ? o / u : 0.0, bench::percentile(onvif, 0.95));
    IPCamAllDelete();
    IPCamExit();
    return 0;
}
