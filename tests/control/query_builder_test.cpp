#include "control/query_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace ipcam;

namespace {

TEST(QueryBuilderTest, BuildQueryAppendsInReverseAndSkipsEmptyValues) {
    const char *keys[] = {"Brightness=", "Contrast=", "Hue=", "Name="};
    struct Case {
        const char *start;
        const char *values[4];
        const char *expected;
    } cases[] = {
        {"", {"1", "2", "3", "x"}, "Name=x&Hue=3&Contrast=2&Brightness=1"},
        {"", {"1", "", nullptr, "x"}, "Name=x&Brightness=1"},
        {"CH=2&", {"5", "", "", ""}, "CH=2&Brightness=5"},
        {"CH=2&", {"", "", "", ""}, "CH=2"},  // no pair: the prefix's "&" ends nothing
        {"", {"", "", "", ""}, ""},
        {"", {"", "", "", "Front door"}, "Name=Front%20door"},
        {"CH=0&", {"", "", "a=b&c", "50% #1"}, "CH=0&Name=50%25%20%231&Hue=a%3Db%26c"},
    };
    for (const Case &c : cases) {
        char text[128];
        std::snprintf(text, sizeof text, "%s", c.start);
        EXPECT_TRUE(BuildQuery(text, sizeof text, 4, keys, c.values));
        EXPECT_STREQ(text, c.expected);
    }
    char small[16] = "CH=1&";
    const char *values[] = {"123456", "", "", ""};
    EXPECT_FALSE(BuildQuery(small, sizeof small, 4, keys, values));
    EXPECT_STREQ(small, "CH=1&");
    // Escapes count against the room: "Hue=%20" needs 7 bytes and its terminator.
    const char *blank[] = {"", "", " ", ""};
    char eight[8] = "";
    EXPECT_FALSE(BuildQuery(eight, 7, 4, keys, blank));
    EXPECT_STREQ(eight, "");
    EXPECT_TRUE(BuildQuery(eight, sizeof eight, 4, keys, blank));
    EXPECT_STREQ(eight, "Hue=%20");
}

TEST(QueryBuilderTest, ValuesKeepEveryByteThatCanStandInAQuery) {
    struct Case {
        std::string value, expected;
    } cases[] = {
        {"Front door", "Front%20door"},
        {"tab\there", "tab%09here"},
        {"line\r\nend", "line%0D%0Aend"},
        {std::string("\x01\x1f\x7f", 3), "%01%1F%7F"},
        {"100%", "100%25"},
        {"%20", "%2520"},  // an escape the caller wrote stays the caller's text
        {"#top", "%23top"},
        {"a&b=c", "a%26b%3Dc"},
        {"AQI=", "AQI%3D"},
        // Everything else as it is: the texts of the tables, addresses, paths, 8-bit bytes.
        {"3:Gate/2+1?x,y;z@h.local", "3:Gate/2+1?x,y;z@h.local"},
        {"\xc3\xa9t\xe9", "\xc3\xa9t\xe9"},
        {"", ""},
    };
    for (const Case &c : cases) {
        char out[64];
        EXPECT_TRUE(encodeQueryValue(c.value, out, sizeof out)) << c.value;
        EXPECT_EQ(std::string(out), c.expected) << c.value;
    }
    char tight[4] = "x";
    EXPECT_FALSE(encodeQueryValue(" ", tight, 3));  // "%20" needs 4 bytes with its terminator
    EXPECT_STREQ(tight, "");
    EXPECT_TRUE(encodeQueryValue(" ", tight, sizeof tight));
    EXPECT_STREQ(tight, "%20");
    char text[16] = "Rect=";
    EXPECT_TRUE(appendQueryValue(text, sizeof text, ","));
    EXPECT_TRUE(appendQueryValue(text, sizeof text, "1 0"));
    EXPECT_STREQ(text, "Rect=,1%200");
    EXPECT_FALSE(appendQueryValue(text, sizeof text, "#####"));
    EXPECT_STREQ(text, "Rect=,1%200");
}

}  // namespace
