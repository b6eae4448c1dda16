// The devices a discovery has heard of, kept as answers come: one entry per device and
// address, the doubtful ones marked, and no more than a bounded number whatever the network
// sends.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ipcam {

struct FoundDevice {
    std::string url, name, hardware;
    std::string endpoint;      // "" when the answer gave none
    std::string answeredFrom;  // dotted address of the answer's sender
    bool elsewhere = false;    // url names another host than answeredFrom
    bool contested = false;    // another entry claims the same endpoint with another url
};

class DiscoveryList {
  public:
    static constexpr std::size_t kMaxDevices = 256;

    // Takes one answer. An entry with the same identity (its endpoint, else its url) and url is
    // kept as it is: repeats of a Probe's answer and devices answering on several interfaces
    // change nothing. The same endpoint with another url is kept beside the first, and both
    // are marked contested: one answer cannot replace another device. Nothing is added past
    // kMaxDevices. True when the answer was added.
    bool add(FoundDevice device);

    const std::vector<FoundDevice> &devices() const { return devices_; }

  private:
    std::vector<FoundDevice> devices_;
};

}  // namespace ipcam
