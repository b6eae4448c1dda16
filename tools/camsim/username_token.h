// WS-Security UsernameToken checks of the ONVIF device.
//
// A token passes with the account's name and either a PasswordDigest, Base64(SHA-1(nonce bytes
// + Created + password)), or the password as text. Created must be a zoned time within
// kCreatedTolerance of the device clock, and a nonce is taken once: a second request with it is
// a replay. Nonces are remembered for kNonceMemory (long after their Created has left the
// window) and at most kNoncesKept of them, the oldest forgotten first.
//
// SHA-1 is libavutil's, not the library's, so a fault in the client's hashing cannot hide
// behind the same fault here.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "tools/camsim/onvif_time.h"
#include "tools/camsim/xml_doc.h"

namespace camsim {

inline constexpr std::chrono::seconds kCreatedTolerance{5};
inline constexpr std::chrono::seconds kNonceMemory{300};
inline constexpr std::size_t kNoncesKept = 10000;

// Base64(SHA-1(nonce + created + password)).
std::string passwordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password);

class UsernameTokenVerifier {
  public:
    UsernameTokenVerifier(std::string user, std::string password)
        : user_(std::move(user)), password_(std::move(password)) {}

    // "" when header (an env:Header, or nullptr) holds a token that passes at deviceNow, and
    // its nonce is then used up; else why it does not pass.
    std::string verify(xmlNode *header, SystemTime deviceNow);

  private:
    using Clock = std::chrono::steady_clock;
    // True when nonce was not taken before; it is taken now.
    bool takeNonce(const std::string &nonce);

    const std::string user_, password_;
    std::mutex lock_;
    std::set<std::string> nonces_;                         // lock_
    std::deque<std::pair<Clock::time_point, std::string>> taken_;  // lock_; oldest first
};

}  // namespace camsim
