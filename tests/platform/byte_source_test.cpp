#include "platform/byte_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ipcam;
using Ending = MemorySource::Ending;

namespace {

// Every read of at most capacity bytes until the source reports its end.
std::vector<std::string> readChunks(MemorySource &source, std::size_t capacity,
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
        EXPECT_EQ(readChunks(c.source, c.capacity, &remaining), c.pieces);
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

// Counts the reads that reach the source underneath.
class CountingSource final : public ByteSource {
  public:
    explicit CountingSource(ByteSource &inner) : inner_(inner) {}
    WaitResult waitReadable() override { return inner_.waitReadable(); }
    int read(void *buffer, std::size_t capacity) override {
        ++reads;
        return inner_.read(buffer, capacity);
    }
    int send(const void *data, std::size_t length, uint32_t timeoutMs) override {
        return inner_.send(data, length, timeoutMs);
    }
    int reads = 0;

  private:
    ByteSource &inner_;
};

TEST(BufferedSourceTest, UnitsReadThroughItAreWholeAndCostFewerReads) {
    // Block heads and bodies as the RTSP connection carries them: small and large, across
    // every way the socket may cut them, each unit read with a fresh source object.
    std::string stream;
    std::vector<std::size_t> bodies;
    for (std::size_t i = 0; i < 40; ++i) {
        const std::size_t length = i % 7 == 0 ? 40'000 : 200 + 97 * i;  // some beyond the buffer
        bodies.push_back(length);
        stream += std::string("$\x00", 2) + char(length >> 8) + char(length & 0xFF);
        for (std::size_t k = 0; k < length; ++k) stream += char('a' + (i + k) % 26);
    }
    // Reads every unit, read ahead or not; the reads that reached the source.
    auto readUnits = [&](std::size_t chunk, bool buffered) {
        MemorySource memory(stream, chunk, Ending::Silence);
        CountingSource counted(memory);
        ReadAhead ahead;
        std::string got;
        std::vector<uint8_t> area(65536);
        for (std::size_t length : bodies) {
            BufferedSource aheadSource(counted, ahead);
            ByteSource &source = buffered ? static_cast<ByteSource &>(aheadSource) : counted;
            uint8_t head[4];
            EXPECT_EQ(receiveExactly(source, head, 4, 1000), 4);
            got.append(reinterpret_cast<const char *>(head), 4);
            const std::size_t declared = head[2] << 8 | head[3];
            EXPECT_EQ(declared, length);
            if (declared != length) break;
            EXPECT_EQ(receiveExactly(source, area.data(), declared, 1000),
                      static_cast<int>(declared));
            got.append(reinterpret_cast<const char *>(area.data()), declared);
        }
        EXPECT_TRUE(got == stream) << "the bytes differ";
        // Nothing is left behind, and the silence after the last unit is passed on.
        BufferedSource source(counted, ahead);
        uint8_t byte;
        EXPECT_EQ(source.read(&byte, 1), ByteSource::kNothingYet);
        EXPECT_EQ(source.waitReadable(), WaitResult::Idle);
        return counted.reads;
    };
    for (std::size_t chunk : {1u, 3u, 1400u, 65536u, 1u << 20}) {
        SCOPED_TRACE(chunk);
        const int buffered = readUnits(chunk, true);
        // Where the socket hands over more than a unit at a time, fewer reads reach it.
        if (chunk >= 1400) {
            EXPECT_LT(buffered, readUnits(chunk, false) * 9 / 10);
        }
    }
}

TEST(BufferedSourceTest, EndsAndFailuresPassThrough) {
    for (Ending ending : {Ending::Close, Ending::Error}) {
        MemorySource memory({"abc"}, ending);
        ReadAhead ahead;
        BufferedSource source(memory, ahead);
        char buffer[8];
        EXPECT_EQ(source.read(buffer, 2), 2);
        EXPECT_EQ(source.waitReadable(), WaitResult::Ready);  // the byte read ahead
        EXPECT_EQ(source.read(buffer, 8), 1);
        EXPECT_EQ(buffer[0], 'c');
        // The short read said the source had nothing more: the next one is left to a wait.
        EXPECT_EQ(source.read(buffer, 8), ByteSource::kNothingYet);
        EXPECT_EQ(source.read(buffer, 8), ending == Ending::Close ? 0 : -1);
        EXPECT_EQ(source.send("x", 1, 10), 1);
        EXPECT_EQ(memory.sent(), "x");
    }
}

}  // namespace
