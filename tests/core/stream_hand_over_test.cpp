// The audio side of a session keeps to its own connections while the video side reconnects
// over and over: every reconnection closes the audio connections under the audio reader, and
// the descriptors it closes are never handed to the video side's next connections (a CGI
// request, then the stream) while the audio side still reads them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "camsim/cgi_server.h"
#include "camsim/device_model.h"
#include "core/address_resolution.h"
#include "core/fixed_text.h"
#include "core/session.h"
#include "core/session_threads.h"
#include "platform/stop_scope.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"

using namespace ipcam;

namespace {

std::size_t framesOfKind(const kestrel_test::FrameCollector &frames, int32_t kind) {
    std::size_t n = 0;
    for (int32_t k : frames.kinds()) n += k == kind;
    return n;
}

TEST(StreamHandOverTest, VideoReconnectionsWithAudioRunningNeverCrossTheStreams) {
    constexpr int kReconnections = 40;
    constexpr int kFramesEach = 3;
    kestrel_test::ScopedTimeouts timeouts{1500};
    camsim::CgiServer device;
    ASSERT_TRUE(device.start());
    device.setCredentials("admin", "secret");
    camsim::FamilyACamera camera(device, {.capabilities = 1});

    kestrel_test::LocalSession s;
    copyText(s->hostGiven, "127.0.0.1");
    copyText(s->user, "admin");
    copyText(s->password, "secret");
    s->portGiven = device.port();
    s->protocolType = IPCAM_PROTOCOL_TYPE1;
    kestrel_test::FrameCollector frames;
    frames.attach(s.get());
    ASSERT_EQ(resolveAndProbe(s.get()), 0);
    ASSERT_EQ(IPCamPrepare(s.get()), 0);
    ASSERT_EQ(IPCamQueryInfo(s.get(), s->protocolType, 0), 0);

    // The audio thread's loop without its pauses: connect, read until the stream ends, again.
    std::atomic<bool> done{false};
    std::atomic<int> audioConnections{0};
    std::thread audio([&] {
        StopScope scope(&s->audioRunning);
        while (!done) {
            closeConnection(&s->sockets[kSeventhSocket]);
            closeConnection(&s->sockets[kAudioSocket]);
            if (s->driver.connect.load()(s.get(), 1) != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            ++audioConnections;
            while (!done && s->driver.runAudio.load()(s.get()) == 0) {
            }
        }
    });

    // Every reconnection must find its CGI reply and its stream whole.
    StopScope scope(&s->videoRunning);
    for (int i = 0; i < kReconnections; ++i) {
        ASSERT_EQ(connectVideo(s.get()), 0) << "reconnection " << i;
        for (int f = 0; f < kFramesEach; ++f)
            ASSERT_EQ(s->driver.runVideo.load()(s.get()), 0) << "reconnection " << i;
    }
    done = true;
    s->audioRunning = 0;
    audio.join();
    s->videoRunning = 0;
    closeConnection(&s->sockets[kVideoSocket]);
    closeConnection(&s->sockets[kAudioSocket]);
    delete s->control.exchange(nullptr);

    EXPECT_GE(framesOfKind(frames, IPCAM_FRAME_KEY) + framesOfKind(frames, IPCAM_FRAME_DEPENDENT),
              std::size_t{kReconnections});
    EXPECT_GT(framesOfKind(frames, IPCAM_FRAME_AUDIO), 0u);
    EXPECT_GT(audioConnections.load(), kReconnections / 4);
}

}  // namespace
