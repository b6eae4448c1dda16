// The datagrams of one host on a UDP socket, whatever port the host sends them from.
//
// A camera may send its RTP from another port than the one its SETUP reply named, or name
// none: the socket is left unconnected and filtered by address here instead. Reports go to
// the port the handshake gave, else to the one the host's first datagram came from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_source.h"
#include "platform/relaxed.h"
#include "platform/socket_slot.h"

namespace ipcam {

// Whom a socket hears and answers. Set by the handshake; the reader may learn the reply port.
struct DatagramPeer {
    Relaxed<uint32_t> address{0};    // IPv4 in network order; 0 hears nobody
    Relaxed<uint16_t> replyPort{0};  // where send() goes; 0 until known
    void set(uint32_t networkAddress, uint16_t port) {
        address = networkAddress;
        replyPort = port;
    }
};

// The IPv4 address of a dotted text in network order; 0 when it is none.
uint32_t ipv4Address(const char *dotted);

class DatagramSource final : public ByteSource {
  public:
    // A lease on the slot's descriptor for the source's lifetime; peer outlives the source.
    DatagramSource(SocketSlot &slot, DatagramPeer &peer) : lease_(slot), peer_(peer) {}
    // A wait on a socket whose slot was closed under it fails: nothing more can come.
    WaitResult waitReadable() override { return waitReadableFor(100); }
    WaitResult waitReadableFor(uint32_t ms) override;
    // One datagram of the peer's address: its length; datagrams of other hosts and empty ones
    // are passed over. kNothingYet when none is waiting, -1 on error.
    int read(void *buffer, std::size_t capacity) override;
    // One datagram to the peer's reply port, learnt from the first datagram read when the
    // handshake gave none: length, -1 while no port is known, -11 when sending fails.
    int send(const void *data, std::size_t length, uint32_t timeoutMs) override;
    std::size_t askReceiveBuffer(std::size_t bytes) override;

  private:
    SlotLease lease_;
    DatagramPeer &peer_;
};

}  // namespace ipcam
