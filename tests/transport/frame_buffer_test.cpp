#include "transport/frame_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace ipcam;

namespace {

std::string contents(const FrameBuffer &b) {
    std::string s(b.count(), '\0');
    EXPECT_TRUE(b.take(s.data(), s.size()));
    return s;
}

TEST(FrameBufferTest, AppendsAreWholeOrRefused) {
    FrameBuffer b(8);
    EXPECT_TRUE(b.append("abcde", 5));
    EXPECT_FALSE(b.append("fghi", 4));  // one byte too many: nothing goes in
    EXPECT_EQ(contents(b), "abcde");
    EXPECT_TRUE(b.append("fgh", 3));
    EXPECT_EQ(b.freeSpace(), 0u);
    EXPECT_FALSE(b.append("x", 1));
    char out[9];
    EXPECT_FALSE(b.take(out, 9));
}

TEST(FrameBufferTest, WrapsAroundTheEndOfItsStorage) {
    FrameBuffer b(8);
    ASSERT_TRUE(b.append("012345", 6));
    b.remove(5);
    ASSERT_TRUE(b.append("6789abc", 7));  // wraps
    EXPECT_EQ(contents(b), "56789abc");
    EXPECT_EQ(b.at(0), '5');
    EXPECT_EQ(b.at(7), 'c');
    const uint8_t pattern[] = {'9', 'a'};
    EXPECT_EQ(b.find(pattern), 4u);
    EXPECT_EQ(b.find(pattern, 5), b.count());
    b.remove(100);
    EXPECT_EQ(b.count(), 0u);
}

TEST(FrameBufferTest, ReceivesStraightIntoItsFreeRoom) {
    FrameBuffer b(8);
    ASSERT_TRUE(b.append("abcdef", 6));
    b.remove(4);
    // Free room at the write position runs to the end of the storage, then from its start.
    auto room = b.contiguousFree();
    ASSERT_EQ(room.size(), 2u);
    std::memcpy(room.data(), "gh", 2);
    b.commit(2);
    room = b.contiguousFree();
    ASSERT_EQ(room.size(), 4u);
    std::memcpy(room.data(), "ijkl", 4);
    b.commit(9);  // never more than the room
    EXPECT_EQ(contents(b), "efghijkl");
    EXPECT_TRUE(b.contiguousFree().empty());
}

TEST(FrameBufferTest, CapacityIsChosenBeforeFirstUse) {
    FrameBuffer b;
    b.useCapacity(FrameBuffer::kDataChannelCapacity);
    EXPECT_EQ(b.capacity(), 307'200u);
    ASSERT_TRUE(b.append("x", 1));
    b.useCapacity(16);
    EXPECT_EQ(b.capacity(), 307'200u);
}

}  // namespace
