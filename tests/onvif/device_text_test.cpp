#include "onvif/device_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ipcam {
namespace {

// Whatever bytes a device sends, what is shown stays on one line and is valid UTF-8.
TEST(DeviceTextTest, ControlsAndBrokenUtf8BecomeQuestionMarks) {
    const struct {
        std::string in;
        std::size_t limit;
        std::string out;
    } cases[] = {
        {"Hall 2", 99, "Hall 2"},
        {std::string("a\tb\nc\rd\0e\x1f\x7f", 11), 99, "a?b?c?d?e??"},
        {"\xC2\x85|\xC2\x9F|\xC2\xA0|\xE2\x80\xA8|\xE2\x80\xA9|\xE2\x80\xA7", 99, "?|?|\xC2\xA0|?|?|\xE2\x80\xA7"},
        {"\xFF\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80", 99, "??????????"},
        {"\xF0\x9F\x98\x80 \xE2\x82", 99, "\xF0\x9F\x98\x80 ??"},
        {"ab\xE2\x82\xAC", 4, "ab"},
        {"ab\xE2\x82\xAC", 5, "ab\xE2\x82\xAC"},
        {"a\nb", 2, "a?"},
    };
    for (const auto &c : cases) EXPECT_EQ(deviceText(c.in, c.limit), c.out) << c.in;
}

}  // namespace
}  // namespace ipcam
