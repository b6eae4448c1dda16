#include "platform/byte_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ipcam;
using Ending = MemorySource::Ending;

namespace {

// Every read of at most capacity bytes until the source reports its end.
std::vector<std::string> readAll(MemorySource &source, std::size_t capacity,
                                 std::vector<std::size_t> *remaining = nullptr) {
    std::vector<std::string> pieces;
    char buffer[64];
    for (;;) {
        const int n = source.read(buffer, capacity);
        if (n <= 0) break;
        pieces.emplace_back(buffer, static_cast<std::size_t>(n));
        if (remaining) remaining->push_back(source.remaining());
    }
    return pieces;
}

TEST(MemorySourceTest, ReadsStopAtEveryChunkBoundary) {
    struct Case {
        const char *name;
        MemorySource source;
        std::size_t capacity;
        std::vector<std::string> pieces;
    } cases[] = {
        {"chunks as given, empty ones skipped",
         MemorySource({"abc", "", "de", "f"}),
         64,
         {"abc", "de", "f"}},
        {"a small read leaves the rest of its chunk",
         MemorySource({"abcde", "fg"}),
         2,
         {"ab", "cd", "e", "fg"}},
        {"fixed chunks, the last one short", MemorySource("abcdefgh", 3), 64, {"abc", "def", "gh"}},
        {"fixed chunks read in smaller steps",
         MemorySource("abcdefgh", 3),
         2,
         {"ab", "c", "de", "f", "gh"}},
        {"a chunk size of 0 counts as 1", MemorySource("abc", 0), 64, {"a", "b", "c"}},
        {"nothing at all", MemorySource(std::vector<std::string>{}), 64, {}},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::size_t> remaining;
        EXPECT_EQ(readAll(c.source, c.capacity, &remaining), c.pieces);
        std::size_t left = 0;
        for (const std::string &p : c.pieces) left += p.size();
        for (std::size_t i = 0; i < remaining.size(); ++i) {
            left -= c.pieces[i].size();
            EXPECT_EQ(remaining[i], left) << "after piece " << i;
        }
    }
}

TEST(MemorySourceTest, EndsAsTold) {
    struct Case {
        Ending ending;
        WaitResult wait;
        int read;
    } cases[] = {
        {Ending::Close, WaitResult::Ready, 0},
        {Ending::Error, WaitResult::Error, -1},
        {Ending::Silence, WaitResult::Idle, ByteSource::kNothingYet},
    };
    for (const Case &c : cases) {
        MemorySource source({"xy"}, c.ending);
        char buffer[4];
        EXPECT_EQ(source.waitReadable(), WaitResult::Ready);
        EXPECT_EQ(source.read(buffer, sizeof buffer), 2);
        EXPECT_EQ(source.remaining(), 0u);
        EXPECT_EQ(source.waitReadable(), c.wait);
        EXPECT_EQ(source.read(buffer, sizeof buffer), c.read);
    }
}

}  // namespace
