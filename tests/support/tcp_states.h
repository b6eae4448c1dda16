// What the system's TCP and UDP tables say about sockets on loopback, for leak checks.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrel_test {

// Connections in state ESTABLISHED whose local port is port: for a listening device, the
// connections it still serves.
inline int establishedAt(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column names
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const std::size_t colon = local.find(':');
        if (colon == std::string::npos) continue;
        const auto localPort = std::stoul(local.substr(colon + 1), nullptr, 16);
        count += localPort == port && state == "01";
    }
    return count;
}

// Bytes waiting unread on the UDP socket whose local port is port; -1 when there is none.
inline long udpQueuedAt(uint16_t port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        const std::size_t colon = local.find(':'), queueColon = queues.find(':');
        if (colon == std::string::npos || queueColon == std::string::npos) continue;
        if (std::stoul(local.substr(colon + 1), nullptr, 16) == port)
            return std::stol(queues.substr(queueColon + 1), nullptr, 16);
    }
    return -1;
}

// Descriptors this process holds open.
inline int openDescriptors() {
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (dirent *entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count - 1;  // the directory's own
}

}  // namespace kestrel_test
