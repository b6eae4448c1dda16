// The talk channel: the handheld's audio sent to a family A device, on the web port after a
// "Chatting.cgi" request (with a talk-start packet on "3297" streams) or on a talk port after
// a login block. The family A connect step installs these as the session's talk operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ipcam.h"

namespace ipcam {

// Results of the talk operations (IPCamTalkStatus).
inline constexpr int kTalkNotAvailable = IPCAM_TALK_NOT_AVAILABLE;
inline constexpr int kTalkConnectFailed = IPCAM_TALK_CONNECT_FAILED;
inline constexpr int kTalkLoginFailed = IPCAM_TALK_LOGIN_FAILED;
inline constexpr int kTalkHeaderNotSent = IPCAM_TALK_HEADER_NOT_SENT;
inline constexpr int kTalkDataNotSent = IPCAM_TALK_DATA_NOT_SENT;

// on 0 closes the talk connection (0); otherwise opens it: 0 or a talk result.
int talkOpen(IPCamSession *session, int on);
// Sends one block of audio behind its packet header: 0 (also with the channel closed) or a
// talk result.
int talkSend(IPCamSession *session, const void *data, std::size_t length);

// The packet headers, as the device reads them.
std::string taggedTalkHeader(uint8_t type, uint32_t payloadLength);
std::string talkStartPacket(const StreamFormatBlock &format);
std::string htadTalkHeader(uint32_t payloadLength);

}  // namespace ipcam
