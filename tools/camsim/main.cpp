// kestrel-camsim: the simulated camera as a program, for demos and manual tests.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "tools/camsim/cgi_server.h"
#include "tools/camsim/onvif_options.h"
#include "tools/camsim/options.h"
#include "tools/camsim/rtsp_server.h"

namespace {

// SIGINT and SIGTERM are blocked before any thread starts, so they are only ever taken here.
int waitForTerminationSignal(const sigset_t &signals) {
    const timespec slice{0, camsim::kWaitSliceMs * 1000 * 1000};
    for (;;) {
        int signal = sigtimedwait(&signals, nullptr, &slice);
        if (signal > 0) return signal;
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::string error;
    auto options = camsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "kestrel-camsim: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(camsim::usage().c_str(), stdout);
        return 0;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // Before anything is served: the log reaches the ONVIF device through its options.
    auto writeLog = [](const std::string &text) {
        // One write per text, so those of concurrent requests do not interleave.
        static std::mutex lock;
        std::lock_guard guard(lock);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    };
    if (options->log) options->onvif.log = writeLog;

    camsim::CgiServer server;
    camsim::StreamingServer streaming;
    auto device = camsim::applyDevice(*options, streaming, server);
    auto camera = std::dynamic_pointer_cast<camsim::FamilyACamera>(device);
    auto onvif = camsim::makeOnvifDevice(*options, streaming, server, device);
    if (camera && !camera->streamsReady()) {
        std::fprintf(stderr, "kestrel-camsim: cannot open the stream ports\n");
        return 1;
    }
    if (options->log) {
        auto log = [writeLog](const camsim::RecordedRequest &request) { writeLog(request.raw); };
        server.setRequestObserver(log);
        streaming.setRequestObserver(log);
    }
    if (!server.start(options->port)) {
        std::fprintf(stderr, "kestrel-camsim: cannot listen on 127.0.0.1:%u\n",
                     static_cast<unsigned>(options->port));
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.port()));
    if (!streaming.start(options->rtspPort)) {
        std::fprintf(stderr, "kestrel-camsim: cannot listen on 127.0.0.1:%u for RTSP\n",
                     static_cast<unsigned>(options->rtspPort));
        return 1;
    }
    std::printf("rtsp on 127.0.0.1:%u\n", static_cast<unsigned>(streaming.port()));
    if (camera && camera->streams().videoPort())
        std::printf("video on 127.0.0.1:%u\n",
                    static_cast<unsigned>(camera->streams().videoPort()));
    if (camera && camera->streams().audioPort())
        std::printf("audio on 127.0.0.1:%u\n",
                    static_cast<unsigned>(camera->streams().audioPort()));
    if (onvif && !onvif->startDiscovery()) {
        std::fprintf(stderr, "kestrel-camsim: cannot open the discovery port %u\n",
                     static_cast<unsigned>(options->onvif.discoveryPort));
        return 1;
    }
    if (onvif)
        std::printf("onvif on http://127.0.0.1:%u/onvif/device_service, discovery on udp %u\n",
                    static_cast<unsigned>(server.port()),
                    static_cast<unsigned>(onvif->discoveryPort()));
    std::fflush(stdout);

    waitForTerminationSignal(signals);
    if (onvif) onvif->stopDiscovery();
    streaming.stop();
    server.stop();
    if (camera) camera->streams().stop();
    return 0;
}
