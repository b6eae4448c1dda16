#include "tools/camsim/username_token.h"

#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include "tools/camsim/base64.h"
#include "tools/camsim/onvif_names.h"

namespace camsim {

namespace {

namespace ns = onvif_ns;

constexpr std::string_view kDigestType =
    "http://docs.oasis-open.org/wss/2004/01/"
    "oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
constexpr std::string_view kTextType =
    "http://docs.oasis-open.org/wss/2004/01/"
    "oasis-200401-wss-username-token-profile-1.0#PasswordText";
constexpr std::string_view kBase64Binary =
    "http://docs.oasis-open.org/wss/2004/01/"
    "oasis-200401-wss-soap-message-security-1.0#Base64Binary";

// Why created does not fit the device clock; "" when it does.
std::string outOfWindow(const std::string &created, SystemTime deviceNow) {
    const auto when = parseDateTime(created);
    if (!when) return "Created is not a time with a zone: " + created;
    const auto off = std::chrono::duration_cast<std::chrono::milliseconds>(*when - deviceNow);
    if (off <= kCreatedTolerance && off >= -kCreatedTolerance) return {};
    return "Created is " + std::to_string(off.count()) + " ms off the device clock (" +
           formatDateTime(deviceNow) + ")";
}

}  // namespace

std::string passwordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password) {
    std::unique_ptr<AVSHA, void (*)(void *)> sha(av_sha_alloc(), av_free);
    if (!sha || av_sha_init(sha.get(), 160) < 0) return {};
    for (std::string_view part : {nonce, created, password})
        av_sha_update(sha.get(), reinterpret_cast<const uint8_t *>(part.data()), part.size());
    uint8_t digest[20];
    av_sha_final(sha.get(), digest);
    return encodeBase64(std::string_view(reinterpret_cast<const char *>(digest), sizeof digest));
}

std::string UsernameTokenVerifier::verify(xmlNode *header, SystemTime deviceNow) {
    xmlNode *security = childElement(header, ns::kWsse, "Security");
    if (!security) return "No WS-Security header";
    xmlNode *token = childElement(security, ns::kWsse, "UsernameToken");
    if (!token) return "No UsernameToken";
    xmlNode *name = childElement(token, ns::kWsse, "Username");
    xmlNode *password = childElement(token, ns::kWsse, "Password");
    xmlNode *nonce = childElement(token, ns::kWsse, "Nonce");
    // Created belongs to the utility namespace, not to wsse.
    xmlNode *created = childElement(token, ns::kWsu, "Created");
    if (!name || elementText(name) != user_) return "Unknown user";
    if (!password) return "No Password";

    std::string nonceBytes;
    if (nonce) {
        const auto encoding = attribute(nonce, "EncodingType");
        if (encoding && *encoding != kBase64Binary) return "Nonce encoding is not Base64Binary";
        const auto decoded = decodeBase64(elementText(nonce));
        if (!decoded || decoded->empty()) return "Nonce is not Base64";
        nonceBytes = *decoded;
    }
    const std::string createdText = elementText(created);
    const std::string type = attribute(password, "Type").value_or(std::string(kTextType));
    if (type == kDigestType) {
        if (!nonce || !created) return "A PasswordDigest needs a Nonce and a Created";
        if (elementText(password) != passwordDigest(nonceBytes, createdText, password_))
            return "Wrong password digest";
    } else if (type == kTextType) {
        if (elementText(password) != password_) return "Wrong password";
    } else {
        return "Unknown Password Type";
    }
    if (created) {
        if (std::string why = outOfWindow(createdText, deviceNow); !why.empty()) return why;
    }
    if (nonce && !takeNonce(nonceBytes)) return "Nonce already used";
    return {};
}

bool UsernameTokenVerifier::takeNonce(const std::string &nonce) {
    std::lock_guard guard(lock_);
    const Clock::time_point now = Clock::now();
    while (!taken_.empty() &&
           (taken_.size() >= kNoncesKept || now - taken_.front().first > kNonceMemory)) {
        nonces_.erase(taken_.front().second);
        taken_.pop_front();
    }
    if (!nonces_.insert(nonce).second) return false;
    taken_.emplace_back(now, nonce);
    return true;
}

}  // namespace camsim
