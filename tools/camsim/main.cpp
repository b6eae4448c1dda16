// kestrel-camsim: the simulated camera as a program, for demos and manual tests.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "tools/camsim/cgi_server.h"
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

    camsim::CgiServer server;
    camsim::StreamingServer streaming;
    auto camera = camsim::applyOptions(*options, streaming, server);
    if (camera && !camera->streamsReady()) {
        std::fprintf(stderr, "kestrel-camsim: cannot open the stream ports\n");
        return 1;
    }
    if (options->log) {
        auto log = [](const camsim::RecordedRequest &request) {
            // One write per head, so heads of concurrent requests do not interleave.
            static std::mutex lock;
            std::lock_guard guard(lock);
            std::fwrite(request.raw.data(), 1, request.raw.size(), stderr);
            std::fflush(stderr);
        };
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
    std::fflush(stdout);

    waitForTerminationSignal(signals);
    streaming.stop();
    server.stop();
    if (camera) camera->streams().stop();
    return 0;
}
