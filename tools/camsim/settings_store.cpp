#include "tools/camsim/settings_store.h"

namespace camsim {

void SettingsStore::setDefault(const std::string &section, const std::string &key,
                               std::string value) {
    std::lock_guard lock(lock_);
    defaults_[{section, key}] = std::move(value);
}

void SettingsStore::set(const std::string &section, const std::string &key, std::string value,
                        int channel) {
    std::lock_guard lock(lock_);
    values_[{channel, section, key}] = std::move(value);
}

std::string SettingsStore::get(const std::string &section, const std::string &key,
                               int channel) const {
    std::lock_guard lock(lock_);
    return lookup(section, key, channel);
}

void SettingsStore::reset() {
    std::lock_guard lock(lock_);
    values_.clear();
}

bool SettingsStore::replaceInList(const std::string &section, const std::vector<std::string> &keys,
                                  const std::string &match, std::string value, bool orFree) {
    std::lock_guard lock(lock_);
    const std::string *chosen = nullptr;
    for (const std::string &key : keys) {
        std::string current = lookup(section, key, 0);
        if (current == match) {
            chosen = &key;
            break;
        }
        if (orFree && current.empty() && !chosen) chosen = &key;
    }
    if (!chosen) return false;
    values_[{0, section, *chosen}] = std::move(value);
    return true;
}

std::string SettingsStore::lookup(const std::string &section, const std::string &key,
                                  int channel) const {
    if (auto it = values_.find({channel, section, key}); it != values_.end()) return it->second;
    if (auto it = defaults_.find({section, key}); it != defaults_.end()) return it->second;
    return {};
}

}  // namespace camsim
