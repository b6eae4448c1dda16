// What an RTSP client sends the simulator: the framing of requests, answers and interleaved
// packets, request URLs against mounts, Transport headers and Authorization answers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/camsim/rtsp_auth.h"
#include "tools/camsim/rtsp_message.h"
#include "tools/camsim/rtsp_mounts.h"

namespace {

camsim::RtspAuthenticator &authenticator() {
    static camsim::RtspAuthenticator auth;
    static const bool configured =
        (auth.configure({.scheme = camsim::RtspAuthConfig::Scheme::DigestBasic}), true);
    (void)configured;
    return auth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    static const camsim::Mount kMounts[] = {
        {1, "/CH01", "", true, false},
        {2, "/cam/realmonitor", "channel=1&subtype=0", false, false},
        {2, "/cam/realmonitor", "channel=1&subtype=0", false, true},
    };
    camsim::normalizeMountPath(input);
    for (int messages = 0; messages < 64; ++messages) {
        camsim::RtspInput in = camsim::takeRtspInput(input);
        if (in.kind != camsim::RtspInput::Kind::Request &&
            in.kind != camsim::RtspInput::Kind::Response &&
            in.kind != camsim::RtspInput::Kind::Interleaved)
            break;
        if (in.kind != camsim::RtspInput::Kind::Request) continue;
        const std::string path = camsim::requestPath(in.message.target);
        camsim::requestAuthority(in.message.target);
        for (const camsim::Mount &m : kMounts) {
            m.describedBy(path);
            m.aggregateOf(path);
            m.trackOf(path);
        }
        camsim::parseTransport(in.message.header("Transport"));
        const std::string answer = in.message.header("Authorization");
        camsim::parseAuthParams(answer.substr(std::min(answer.size(), answer.find(' ') + 1)));
        authenticator().check(in.message);
    }
    return 0;
}
