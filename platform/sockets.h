// Blocking TCP operations with time-outs, made of 100 ms waits.
//
// Every connection of the library goes through these. A socket slot holds a descriptor or -1
// when closed; every close goes through closeConnection. Time-outs are milliseconds: a
// time-out T allows T / 100 + 1 waits of 100 ms, so a silent peer is given up after T plus at
// most one wait. Results are chosen so that callers can pass them on as status codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket_slot.h"

namespace ipcam {

inline constexpr int kWaitSliceMs = 100;

// Number of 100 ms waits a time-out allows.
constexpr uint32_t waitsFor(uint32_t timeoutMs) {
    return timeoutMs / kWaitSliceMs + 1;
}

// Why a connection could not be made.
enum class ConnectFailure {
    None,
    Refused,      // the host answered that nothing listens on the port
    Unreachable,  // no answer in the time allowed, or no route to the host
    Other,        // a bad address, no socket, or the thread was asked to stop
};

// Closes whatever slot holds, then connects to a dotted IPv4 address with the configured
// time-outs. 1: connected, the slot holds the socket; 0: failed, the slot holds -1, and why
// (when given) says why.
int openConnection(SocketSlot *slot, const char *address, uint32_t port,
                   ConnectFailure *why = nullptr);

// Opens a UDP socket bound to localPort on any address (0, or a value above 65535: any
// port), asking for a receive buffer of 1 MiB (askReceiveBuffer) so that the burst of a key
// frame is not dropped. Returns the port bound, or -1 with the slot closed.
int openUdp(SocketSlot *slot, uint32_t localPort);

// Asks for a receive buffer of bytes, beyond the system's limit (net.core.rmem_max) where the
// process may. The bytes the system granted, 0 when that cannot be read.
std::size_t askReceiveBuffer(int socket, std::size_t bytes);

// Shuts the socket down both ways, closes it and stores -1. 0; -1 for a null slot. A thread
// still reading or writing it holds a lease: its wait ends at once, and the descriptor is
// closed when that thread lets go of it.
int closeConnection(SocketSlot *slot);

// Receives exactly length bytes: length, 0 on time-out (even with part of the data in),
// -1 on error or when the peer closed before anything arrived. A time-out of 0 waits for
// ever. A peer that closes after part of the data gives the part.
int receiveExactly(int socket, void *buffer, std::size_t length, uint32_t timeoutMs);

// One read of at most capacity bytes: its count (0 when the peer closed), 0 on time-out,
// -1 on error.
int receiveSome(int socket, void *buffer, std::size_t capacity, uint32_t timeoutMs);

// Reads a response head byte by byte up to and including "\r\n\r\n" or "\n\n", or until
// capacity bytes are in: the count; the failed read's value (0 or -1) when the peer closed
// or failed; -1 on time-out. Never reads past the head; the buffer is not terminated.
int receiveHeader(int socket, char *buffer, std::size_t capacity, uint32_t timeoutMs);

// Sends all of data: the count sent, -9 when the peer stops taking data for the time-out,
// -11 when a send fails, -1 on bad arguments or a socket exception.
int sendAll(int socket, const void *data, std::size_t length, uint32_t timeoutMs);

// The same on the descriptor of a slot, leased for the length of the call.
int receiveExactly(SocketSlot &slot, void *buffer, std::size_t length, uint32_t timeoutMs);
int receiveSome(SocketSlot &slot, void *buffer, std::size_t capacity, uint32_t timeoutMs);
int receiveHeader(SocketSlot &slot, char *buffer, std::size_t capacity, uint32_t timeoutMs);
int sendAll(SocketSlot &slot, const void *data, std::size_t length, uint32_t timeoutMs);

}  // namespace ipcam
