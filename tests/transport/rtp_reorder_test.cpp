// The reorder window: what goes through when, for packets in every order a network makes.
#include "transport/rtp_reorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ipcam::RtpReorder;

namespace {

struct ReorderArrival {
    int sequence;  // -1: nothing arrives, the reader only looks at the time
    uint64_t ms;
};

// "sequence@ms" of every packet let through, in order.
std::string reorderedThrough(uint32_t windowMs, const std::vector<ReorderArrival> &arrivals) {
    RtpReorder window;
    std::string out;
    const auto note = [&](uint16_t sequence, uint64_t ms) {
        out += (out.empty() ? "" : " ") + std::to_string(sequence) + "@" + std::to_string(ms);
    };
    for (const ReorderArrival &a : arrivals) {
        const uint8_t bytes[] = {uint8_t(a.sequence >> 8), uint8_t(a.sequence)};
        if (a.sequence >= 0 && window.admit(bytes, uint16_t(a.sequence), a.ms, windowMs))
            note(uint16_t(a.sequence), a.ms);
        for (auto held = window.release(a.ms, windowMs); !held.empty();
             held = window.release(a.ms, windowMs))
            note(uint16_t(held[0] << 8 | held[1]), a.ms);
    }
    return out;
}

TEST(RtpReorderTest, PacketsGoThroughInSequenceWithinTheWindow) {
    std::vector<ReorderArrival> full = {{1, 0}};  // 2 never comes; 3 to 34 fill the window
    for (int s = 3; s <= 34; ++s) full.push_back({s, 1});
    std::string fullOut = "1@0";
    for (int s = 3; s <= 34; ++s) fullOut += " " + std::to_string(s) + "@1";
    const struct Case {
        const char *name;
        uint32_t windowMs;
        std::vector<ReorderArrival> arrivals;
        std::string expected;
    } cases[] = {
        {"in order", 50, {{7, 0}, {8, 1}, {9, 2}}, "7@0 8@1 9@2"},
        {"a swapped pair", 50, {{1, 0}, {3, 1}, {2, 2}, {4, 3}}, "1@0 2@2 3@2 4@3"},
        {"two held, then the gap", 50, {{1, 0}, {4, 1}, {3, 2}, {2, 3}}, "1@0 2@3 3@3 4@3"},
        {"the next while one waits", 50, {{1, 0}, {4, 1}, {2, 2}, {3, 3}}, "1@0 2@2 3@3 4@3"},
        {"the wrap", 50, {{65534, 0}, {0, 1}, {65535, 2}, {1, 3}}, "65534@0 65535@2 0@2 1@3"},
        {"a copy of one held", 50, {{1, 0}, {3, 1}, {3, 2}, {2, 3}}, "1@0 2@3 3@3"},
        {"copies, stragglers: counted", 50, {{5, 0}, {6, 1}, {6, 2}, {4, 3}}, "5@0 6@1 6@2 4@3"},
        {"jumped back", 50, {{900, 0}, {800, 1}, {799, 2}, {802, 3}, {801, 4}}, "900@0 800@1 799@2 801@4 802@4"},
        // A lost packet is given up once the oldest held has waited the window's time.
        {"lost",
         50,
         {{1, 0}, {3, 10}, {5, 40}, {-1, 59}, {-1, 60}, {-1, 89}, {-1, 90}},
         "1@0 3@60 5@90"},
        {"the window full", 50, full, fullOut},
        {"no window", 0, {{1, 0}, {3, 1}, {2, 2}, {4, 3}}, "1@0 3@1 2@2 4@3"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(reorderedThrough(c.windowMs, c.arrivals), c.expected) << c.name;

    // Closing the window while packets wait lets them go at once, in order; a reset forgets.
    RtpReorder window;
    const uint8_t none[1] = {};
    EXPECT_TRUE(window.admit(none, 1, 0, 50));
    EXPECT_FALSE(window.admit(none, 4, 0, 50));
    EXPECT_FALSE(window.admit(none, 3, 0, 50));
    EXPECT_EQ(window.dueAt(50), 50u);
    EXPECT_TRUE(window.release(10, 50).empty());
    EXPECT_EQ(window.release(10, 0).size(), 1u);
    EXPECT_EQ(window.held(), 1u);
    window.reset();
    EXPECT_EQ(window.held(), 0u);
    EXPECT_EQ(window.dueAt(50), 0u);
    EXPECT_TRUE(window.admit(none, 9, 0, 50));
}

}  // namespace
