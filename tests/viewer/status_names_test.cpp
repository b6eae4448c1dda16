// The status line's words: every named status has a sentence of its own, and a code the
// library does not name still gets words rather than nothing.
#include "viewer/status_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ipcam.h"

namespace kestrel {
namespace {

constexpr int kFirstCode = -120;
constexpr int kLastCode = 10;

TEST(StatusSentence, EveryNamedCodeHasItsOwnSentence) {
    const std::string fallback = statusSentence(-8);
    std::set<std::string> seen;
    int named = 0;
    for (int code = kFirstCode; code <= kLastCode; ++code) {
        const std::string sentence = statusSentence(code);
        ASSERT_FALSE(sentence.empty()) << code;
        EXPECT_NE(sentence.back(), '.') << code;
        if (!statusName(code)) {
            EXPECT_EQ(sentence, fallback) << code;
            continue;
        }
        ++named;
        EXPECT_NE(sentence, fallback) << code;
        EXPECT_TRUE(seen.insert(sentence).second) << code << " shares \"" << sentence << '"';
    }
    EXPECT_EQ(named, 25);
}

TEST(StatusSentence, TheStatusLineSaysTheWordsWithTheNameBeside) {
    struct Case {
        int code;
        const char *shown;
        int reach = IPCAM_REACH_ANSWERED;  // when it says more, its words stand for the code's
    };
    const Case cases[] = {
        {IPCAM_OK, ""},
        {IPCAM_USER_OR_PASSWD_IS_ER, "Wrong account or password (IPCAM_USER_OR_PASSWD_IS_ER)"},
        {IPCAM_IS_UNCONNECTED, "Not connected yet (IPCAM_IS_UNCONNECTED)"},
        {IPCAM_IS_OVER, "Stopped (IPCAM_IS_OVER)"},
        {IPCAM_ONVIF_NO_PROFILE,
         "The camera has no media profile with this number (IPCAM_ONVIF_NO_PROFILE)"},
        {IPCAM_CLEAR_PASSWORD_REFUSED,
         "The device asks for the password in clear text over an unencrypted connection; refused "
         "(IPCAM_CLEAR_PASSWORD_REFUSED)"},
        {-8, "Unexpected answer from the camera (Unknow status:-8)"},
        {-18, "Unexpected answer from the camera (Unknow status:-18)"},
        {IPCAM_CANT_DETECT_TYPE_ER,
         "No answer: the device takes the connection but never answers "
         "(IPCAM_CANT_DETECT_TYPE_ER)",
         IPCAM_REACH_SILENT},
        {IPCAM_SETSOCKET_IS_ER,
         "No answer to the connection: the device is off, or a firewall drops it "
         "(IPCAM_SETSOCKET_IS_ER)",
         IPCAM_REACH_UNREACHABLE},
        {-8, "The camera is slow to answer; still waiting (Unknow status:-8)", IPCAM_REACH_SLOW},
        {IPCAM_OK, "", IPCAM_REACH_SLOW},
    };
    for (const Case &c : cases) EXPECT_EQ(lastStatusText(c.code, c.reach), c.shown) << c.code;
}

}  // namespace
}  // namespace kestrel
