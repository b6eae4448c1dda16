// What the tool says when the library will not even make the session: the text limits of the
// library and the tool's words for them must agree, at the bound and one past it.
#include "tools/cli/live_session.h"

#include <gtest/gtest.h>

#include <string>

namespace ipcam_cli {
namespace {

TEST(LiveSession, ATextTheLibraryRefusesIsNamed) {
    struct Case {
        std::size_t host, user, password;
        const char *said;  // null: the session is made
    };
    const Case cases[] = {
        {9, 19, 19, nullptr},
        {9, 19, 20, "together may have at most 38 characters"},
        {9, 0, 38, nullptr},
        {9, 0, 39, "together may have at most 38 characters"},
        {127, 5, 5, nullptr},
        {128, 5, 5, "at most 127 characters each"},
        {9, 128, 0, "at most 127 characters each"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.host) + "/" + std::to_string(c.user) + "/" +
                     std::to_string(c.password));
        Options o;
        // Nothing that reaches past this machine: loopback, or a name that never resolves.
        o.host = c.host == 9 ? "127.0.0.1" : std::string(c.host - 8, 'h') + ".invalid";
        o.port = 9;
        o.user = std::string(c.user, 'u');
        o.password = std::string(c.password, 'p');
        BlockQueue queue(false);
        Session session;
        const std::string error = session.start(o, queue);
        if (!c.said) {
            EXPECT_EQ(error, "");
            continue;
        }
        EXPECT_EQ(error.rfind("cannot create a session: IPCAM_IS_NULL - ", 0), 0u) << error;
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace ipcam_cli
