// What the RTSP connection carries once media flows: '$'-framed blocks of RTP and RTCP, and
// RTSP messages between them (a server's keep-alive request, a reply to one of ours).
#pragma once

#include <cstdint>
#include <span>

#include "ipcam.h"
#include "platform/byte_source.h"
#include "transport/rtp_state.h"
#include "transport/rtsp_message.h"

namespace ipcam {

struct InterleavedUnit {
    enum class Kind { Block, Message };
    Kind kind = Kind::Block;
    uint8_t channel = 0;             // a block's channel
    std::span<const uint8_t> block;  // a block's bytes, in the caller's area
    RtspMessage message;             // a message, head and body
    uint32_t skipped = 0;            // stray bytes passed over before it
};

// Stray bytes passed over in a row before the connection is given up as not RTSP at all.
inline constexpr uint32_t kMaxStrayBytes = 256 * 1024;

// Reads the next unit: '$', channel, 16-bit length and exactly that many bytes (any length
// 0 to 65535) into area, which must hold 65535 bytes; or an RTSP message (readRtspMessage)
// whose first line is a status or request line. Bytes that begin neither (some cameras write
// stray bytes between blocks, or cut a block short) are passed over up to the next '$' of a
// channel the handshake assigned (channels) or the next message, kMaxStrayBytes at most.
// 0, or -8 when the connection closes, fails or stays silent for timeoutMs, when nothing but
// stray bytes comes, or when a message is damaged.
int readInterleavedUnit(ByteSource &connection, std::span<uint8_t> area, InterleavedUnit &unit,
                        uint32_t timeoutMs, const InterleavedChannels &channels);

// Deals with a message that came between blocks: a server request is answered on connection
// (answerToServerRequest with the session's id); a reply's status and CSeq are noted in the
// session's RtpState::replies. 0, or -8 when the answer could not be sent.
int takeRtspMessage(IPCamSession *session, ByteSource &connection, const RtspMessage &message);

// Waits for the reply to a request just sent on the RTSP connection. Interleaved blocks that
// come first are queued for the reader (RtpState::pending), server requests are answered, and
// replies whose CSeq is not expectedCseq (when that is 0 or more) are noted and passed over.
// The reply's status code (100 to 999) with the reply in reply; -8 when the connection closes
// or fails, no reply comes within timeoutMs, or bytes arrive that are neither.
// With slowAfterMs, the session's reach tells how the server met the request: slow once that
// long has passed without a reply, silent when nothing at all came in time, answered when
// its reply came.
int awaitRtspReply(IPCamSession *session, ByteSource &connection, RtspMessage &reply,
                   uint32_t timeoutMs, int32_t expectedCseq = -1, uint32_t slowAfterMs = 0);

// Looks at the RTSP connection without waiting, while media comes another way (UDP): takes
// a message that has begun to arrive (takeRtspMessage) and skips a block. 0 when nothing
// was there or it was dealt with; -8 when the server has closed the connection, it failed,
// or it carries bytes that are neither.
int watchRtspConnection(IPCamSession *session, ByteSource &connection);

}  // namespace ipcam
