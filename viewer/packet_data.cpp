#include "viewer/packet_data.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace kestrel {

std::vector<IPv4Address> localIPv4Addresses() {
    std::vector<IPv4Address> result;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        sockaddr_in in;
        std::memcpy(&in, entry->ifa_addr, sizeof in);
        IPv4Address address;
        std::memcpy(address.data(), &in.sin_addr.s_addr, address.size());
        result.push_back(address);
    }
    freeifaddrs(list);
    return result;
}

bool usableLocalAddress(const IPv4Address &address) {
    switch (address[0]) {
        case 192:
        case 169:
        case 127:
        case 255:
            return false;
        default:
            return true;
    }
}

PacketDataConnection::PacketDataConnection(AddressSource addresses, ConnectionManager *manager,
                                           StatusSink status)
    : addresses_(std::move(addresses)), manager_(manager), status_(std::move(status)) {}

bool PacketDataConnection::findAddress(char16_t *addressText) const {
    if (!addresses_) return false;
    for (const IPv4Address &address : addresses_()) {
        if (!usableLocalAddress(address)) continue;
        if (addressText) {
            char text[kAddressTextUnits];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{address[0]},
                          unsigned{address[1]}, unsigned{address[2]}, unsigned{address[3]});
            std::size_t i = 0;
            for (; text[i] && i + 1 < kAddressTextUnits; ++i) addressText[i] = char16_t(text[i]);
            addressText[i] = 0;
        }
        return true;
    }
    return false;
}

void PacketDataConnection::say(const std::u16string &text) const {
    if (status_) status_(text);
}

int PacketDataConnection::bringUp(char16_t *addressText) {
    char16_t found[kAddressTextUnits];
    char16_t *address = addressText ? addressText : found;
    address[0] = 0;
    bool established = false;
    // At most two rounds: once a connection has come up, the next look ends the call whether or
    // not an address has appeared.
    for (;;) {
        if (findAddress(address) || established) {
            if (!established) {
                say(kNotNeededText + std::u16string(address));
            } else if (address[0]) {
                say(kUpText + (u": " + std::u16string(address)));
            } else {
                say(kUpText);
            }
            return established ? 1 : 0;
        }
        if (!manager_ || !manager_->available()) {
            say(kNoManagerText);
            return 0;
        }
        switch (manager_->establish(kTimeoutMs)) {
            case ConnectionManager::Result::up:
                established = true;
                break;
            case ConnectionManager::Result::nothingToConnect:
                say(kNothingToConnectText);
                return 0;
            case ConnectionManager::Result::failed:
                say(kFailureText);
                return 0;
        }
    }
}

}  // namespace kestrel
