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
    };
    for (const Case &c : cases) EXPECT_EQ(lastStatusText(c.code), c.shown) << c.code;
}

}  // namespace
}  // namespace kestrel
