// A slot closed by one thread while another still uses its descriptor: the user is woken, and
// the number is not handed to the next socket until the user lets go.
#include "platform/socket_slot.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/byte_source.h"
#include "platform/sockets.h"
#include "support/loopback.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;
using namespace kestrel_test;

namespace {

bool isOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

// Takes every free descriptor number below fd, so that fd is the next number the system hands
// out once it is closed. Gives them back when it goes.
class LowerNumbersTaken {
  public:
    explicit LowerNumbersTaken(int fd) {
        for (;;) {
            int d = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (d < 0) break;
            if (d > fd) {
                close(d);
                break;
            }
            taken_.push_back(d);
        }
    }
    ~LowerNumbersTaken() {
        for (int d : taken_) close(d);
    }

  private:
    std::vector<int> taken_;
};

class SocketSlotTest : public ::testing::Test {
    ScopedTimeouts timeouts{1000};

  protected:
    Listener audioDevice, videoDevice;
};

TEST_F(SocketSlotTest, AReaderOfAClosedSlotNeverReadsTheNextConnection) {
    // The audio side reads from its slot; the video side closes that slot and opens its next
    // connection, whose peer answers at once.
    enum class Reader { Source, Receive };
    for (Reader reader : {Reader::Source, Reader::Receive}) {
        SCOPED_TRACE(reader == Reader::Source ? "source made from the slot"
                                              : "receive on the slot");
        SocketSlot audio;
        ASSERT_EQ(openConnection(&audio, "127.0.0.1", audioDevice.port()), 1);
        const int audioPeer = audioDevice.accept();
        ASSERT_GE(audioPeer, 0);
        const int used = audio;

        std::optional<SocketSource> source;
        if (reader == Reader::Source) source.emplace(audio);
        std::string read;
        int result = 1;
        std::thread receiver;
        if (reader == Reader::Receive) {
            receiver = std::thread([&] {
                char buffer[64];
                result = receiveSome(audio, buffer, sizeof buffer, 3000);
                if (result > 0) read.assign(buffer, static_cast<std::size_t>(result));
            });
        }

        SocketSlot video;
        int videoPeer = -1;
        {
            LowerNumbersTaken lower(used);
            closeConnection(&audio);
            ASSERT_EQ(openConnection(&video, "127.0.0.1", videoDevice.port()), 1);
            videoPeer = videoDevice.accept();
            ASSERT_GE(videoPeer, 0);
            sendText(videoPeer, "HTTP/1.1 200 OK\r\n\r\nVideo_Port=8000<br>");
        }

        if (source) {
            char buffer[64];
            result = receiveSome(*source, buffer, sizeof buffer, 3000);
            if (result > 0) read.assign(buffer, static_cast<std::size_t>(result));
            EXPECT_NE(video.load(), used) << "the number was handed on while still in use";
            EXPECT_TRUE(isOpen(used));
            source.reset();
            EXPECT_FALSE(isOpen(used));  // closed once the reader let go
        } else {
            receiver.join();  // it may have come too late to see the connection at all
        }
        EXPECT_LE(result, 0);
        EXPECT_EQ(read, "");
        EXPECT_EQ(readAll(audioPeer, 2000), "");  // the audio device sees the end
        char check[64];
        EXPECT_GT(receiveSome(video, check, sizeof check, 2000), 0);  // the reply is still there
        close(audioPeer);
        close(videoPeer);
    }
}

TEST_F(SocketSlotTest, TheLastLeaseClosesAndWakingLeavesTheDescriptorInPlace) {
    SocketSlot slot;
    ASSERT_EQ(openConnection(&slot, "127.0.0.1", audioDevice.port()), 1);
    const int peer = audioDevice.accept();
    ASSERT_GE(peer, 0);
    const int fd = slot;

    // Waking ends the connection for both sides but keeps the number in the slot.
    slot.wake();
    EXPECT_EQ(readAll(peer, 2000), "");
    EXPECT_EQ(slot.load(), fd);
    EXPECT_TRUE(isOpen(fd));
    close(peer);

    auto first = std::make_unique<SlotLease>(slot);
    auto second = std::make_unique<SlotLease>(slot);
    EXPECT_EQ(first->descriptor(), fd);
    ASSERT_EQ(openConnection(&slot, "127.0.0.1", videoDevice.port()), 1);  // replaces it
    const int replacement = slot;
    EXPECT_NE(replacement, fd);
    first.reset();
    EXPECT_TRUE(isOpen(fd));
    second.reset();
    EXPECT_FALSE(isOpen(fd));
    EXPECT_TRUE(isOpen(replacement));

    closeConnection(&slot);
    SlotLease none(slot);
    EXPECT_EQ(none.descriptor(), -1);
    const int videoPeer = videoDevice.accept();
    if (videoPeer >= 0) close(videoPeer);
}

}  // namespace
