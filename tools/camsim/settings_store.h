// The settings of a simulated device: texts by (section, key, channel), safe to use from
// every serving thread at once.
//
// A section is the name of the CGI that reports the value (e.g. "GetAdjust.cgi"), so tests read
// what a Get would answer. A value never set on a channel reads as the key's default; a key
// with neither reads as "". reset() forgets every set value and keeps the defaults, which is
// what a factory reset does.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace camsim {

class SettingsStore {
  public:
    void setDefault(const std::string &section, const std::string &key, std::string value);
    void set(const std::string &section, const std::string &key, std::string value,
             int channel = 0);
    std::string get(const std::string &section, const std::string &key, int channel = 0) const;
    void reset();

    // For lists kept as numbered keys on channel 0: sets the first of keys whose value is
    // match to value or, when none matches and orFree, the first empty one, in one step. False
    // when no key qualified.
    bool replaceInList(const std::string &section, const std::vector<std::string> &keys,
                       const std::string &match, std::string value, bool orFree);

  private:
    std::string lookup(const std::string &section, const std::string &key, int channel) const;

    mutable std::mutex lock_;
    std::map<std::pair<std::string, std::string>, std::string> defaults_;      // lock_
    std::map<std::tuple<int, std::string, std::string>, std::string> values_;  // lock_
};

}  // namespace camsim
