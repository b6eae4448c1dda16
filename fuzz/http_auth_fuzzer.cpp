// A 401 reply head of any shape: its challenges, the one chosen, and the answer built from it.
//
// Input layout: the reply head bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/http_auth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view head(reinterpret_cast<const char *>(data), size);
    const auto challenges = ipcam::parseChallenges(head);
    if (challenges.size() > ipcam::kMaxChallenges) std::abort();
    const ipcam::Challenge *chosen = ipcam::chooseChallenge(challenges);

    using Outcome = ipcam::Authenticator::Outcome;
    ipcam::Authenticator plain;
    plain.setCredentials("admin", "x");
    // Over a plain connection Basic is never answered unless allowed.
    const Outcome refused = plain.challenged(head);
    if (refused == Outcome::Answer && plain.scheme() == ipcam::AuthScheme::Basic) std::abort();

    ipcam::Authenticator auth([] { return std::string("0a4f113b"); });
    auth.setCredentials("admin", "se\"cr\\et");
    auth.allowClearText(true);
    const Outcome first = auth.challenged(head);
    if ((first == Outcome::Answer || first == Outcome::ClearTextRefused) != (chosen != nullptr))
        std::abort();
    if (first != Outcome::Answer) return 0;
    for (int i = 0; i < 2; ++i) {
        const std::string answer = auth.authorization("DESCRIBE", "rtsp://127.0.0.1/cam?x=1");
        // Whatever the server sent, the answer stays on one header line.
        if (answer.empty() || answer.find_first_of("\r\n") != std::string::npos) std::abort();
    }
    // The same reply again is never answered a second time: no retry loop.
    if (auth.challenged(head) == Outcome::Answer) std::abort();
    return 0;
}
