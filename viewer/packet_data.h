// The "GPRS / 3G" command: make sure the device has a usable local IPv4 address, asking the
// platform's connection manager for a packet-data (mobile broadband) connection when it has
// none. The connection is left up afterwards; nothing here ever closes it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrel {

using IPv4Address = std::array<std::uint8_t, 4>;  // network order: {10, 0, 0, 3}

// The device's own IPv4 addresses, in the order the system lists its interfaces.
using AddressSource = std::function<std::vector<IPv4Address>()>;

// The AF_INET entries of getifaddrs, in list order; empty when the list cannot be read.
std::vector<IPv4Address> localIPv4Addresses();

// Whether address counts as a working connection: its first byte is none of 192 (private
// networks such as a desktop cradle's), 169 (link-local), 127 (loopback) and 255.
bool usableLocalAddress(const IPv4Address &address);

// The platform's connection manager.
class ConnectionManager {
  public:
    enum class Result {
        up,                // the connection is up
        nothingToConnect,  // no modem, or no mobile broadband profile to bring up
        failed,            // refused, or not up in time
    };
    virtual ~ConnectionManager() = default;
    // Whether there is a manager to ask at all.
    virtual bool available() = 0;
    // Brings up a mobile broadband connection, waiting at most timeoutMs.
    virtual Result establish(int timeoutMs) = 0;
};

class PacketDataConnection {
  public:
    static constexpr int kTimeoutMs = 30000;
    static constexpr std::size_t kAddressTextUnits = 64;  // the caller's buffer, at least
    static constexpr const char16_t *kFailureText = u"Can not create GPRS/3G connection!!!";
    // What the command says otherwise: the address is appended to the first and the last.
    static constexpr const char16_t *kNotNeededText =
        u"No mobile connection needed: this device has the address ";
    static constexpr const char16_t *kNoManagerText =
        u"No mobile connection to make: no connection manager is running";
    static constexpr const char16_t *kNothingToConnectText =
        u"No mobile connection to make: no modem or mobile broadband profile";
    static constexpr const char16_t *kUpText = u"Mobile connection made";

    using StatusSink = std::function<void(const std::u16string &)>;

    // manager may be null (no connection manager on this platform); status receives the text
    // for the main window's status line.
    PacketDataConnection(AddressSource addresses, ConnectionManager *manager, StatusSink status);

    // Clears addressText (when not null; it holds kAddressTextUnits units), then looks for a
    // usable local address and writes it there as "a.b.c.d". Without one it asks the manager
    // for a connection, and looks again when that worked. Returns 1 when this call brought a
    // connection up, 0 otherwise (an address was there already, no manager, or it failed).
    // Each outcome is told to the status sink in words.
    int bringUp(char16_t *addressText);

  private:
    bool findAddress(char16_t *addressText) const;
    void say(const std::u16string &text) const;

    AddressSource addresses_;
    ConnectionManager *manager_;
    StatusSink status_;
};

}  // namespace kestrel
