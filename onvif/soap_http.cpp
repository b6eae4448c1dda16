#include "onvif/soap_http.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "core/config.h"
#include "core/text_case.h"
#include "ipcam.h"
#include "onvif/xml_document.h"
#include "platform/sockets.h"
#include "platform/stop_scope.h"
#include "transport/rtsp_reply.h"

namespace ipcam {

namespace {

constexpr std::size_t kMaxHead = 16 * 1024;
// contentLength() refuses what no message may be.
static_assert(kMaxContentLength <= kMaxXmlBytes);
constexpr int kUnauthorized = 401;
constexpr int kBroken = kBodyBroken;

bool hasToken(std::string_view list, std::string_view token) {
    std::string lower(list);
    for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(token) != std::string::npos;
}

// One line ending in LF (CR before it dropped), at most limit bytes.
std::optional<std::string> readLine(ByteSource &source, uint32_t timeoutMs, std::size_t limit) {
    std::string line;
    char c = 0;
    while (line.size() <= limit) {
        if (receiveExactly(source, &c, 1, timeoutMs) != 1) return std::nullopt;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        line += c;
    }
    return std::nullopt;
}

int readChunked(ByteSource &source, std::string &out, uint32_t timeoutMs) {
    for (;;) {
        auto line = readLine(source, timeoutMs, 256);
        if (!line) return kBroken;
        const std::string sizeText = line->substr(0, line->find(';'));
        if (sizeText.empty() || sizeText.size() > 8 ||
            sizeText.find_first_not_of("0123456789abcdefABCDEF \t") != std::string::npos)
            return kBroken;
        const std::size_t size = std::strtoul(sizeText.c_str(), nullptr, 16);
        if (size == 0) break;
        if (out.size() + size > kMaxXmlBytes) return kBodyTooLarge;
        const std::size_t at = out.size();
        out.resize(at + size);
        if (receiveExactly(source, out.data() + at, size, timeoutMs) != static_cast<int>(size))
            return kBroken;
        auto end = readLine(source, timeoutMs, 1);
        if (!end || !end->empty()) return kBroken;
    }
    // Trailers up to the empty line; a device that closes instead has sent everything anyway.
    for (int i = 0; i < 64; ++i) {
        auto line = readLine(source, timeoutMs, 1024);
        if (!line || line->empty()) return 0;
    }
    return kBroken;
}

bool endsWithTag(std::string_view text) {
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return last != std::string_view::npos && text[last] == '>';
}

// No length: up to the close, or see readHttpBody.
int readToEnd(ByteSource &source, std::string &out, uint32_t timeoutMs) {
    char piece[4096];
    const uint32_t limit = waitsFor(timeoutMs);
    bool tried = false;  // the text as it stands was read as a document already
    for (uint32_t waits = 0;;) {
        const int n = source.read(piece, sizeof piece);
        if (n > 0) {
            if (out.size() + static_cast<std::size_t>(n) > kMaxXmlBytes) return kBodyTooLarge;
            out.append(piece, static_cast<std::size_t>(n));
            waits = 0;
            tried = false;
            continue;
        }
        if (n == 0) return 0;  // closed: that was all
        if (n != ByteSource::kNothingYet) return kBroken;
        // The deadline, a stop or a long silence with the reply unfinished: no answer in time.
        const auto whole = [&] {
            return endsWithTag(out) && XmlDocument::parse(out) ? 0 : kBroken;
        };
        if (stopRequested()) return whole();
        switch (source.waitReadable()) {
            case WaitResult::Ready:
                continue;
            case WaitResult::Idle:
                if (++waits >= limit) return whole();
                // A pause after what may be the whole reply: parsed once per pause at most.
                if (!tried && endsWithTag(out)) {
                    tried = true;
                    if (XmlDocument::parse(out)) return 0;
                }
                continue;
            default:
                return kBroken;
        }
    }
}

}  // namespace

bool redirectsToHttps(std::string_view head) {
    const int status = statusCode(head);
    if (status / 100 != 3) return false;
    const auto location = headerValue(head, "Location");
    return location && startsWithNoCase(trimBlanks(*location), "https://");
}

int readHttpBody(ByteSource &source, std::string_view head, std::string &out, uint32_t timeoutMs) {
    out.clear();
    if (auto coding = headerValue(head, "Transfer-Encoding");
        coding && hasToken(*coding, "chunked"))
        return readChunked(source, out, timeoutMs);
    if (const auto announced = headerValue(head, "Content-Length")) {
        const auto length = contentLength(head);
        // A length refused for its size is one above what any message may be; lengths that
        // disagree, or are no numbers, make the reply broken.
        const std::string_view digits = trimBlanks(*announced);
        std::size_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (!length && !digits.empty() && end == digits.data() + digits.size() &&
            (error == std::errc::result_out_of_range || value > kMaxXmlBytes))
            return kBodyTooLarge;
        if (!length) return kBroken;
        out.resize(*length);
        if (*length == 0) return 0;
        return receiveExactly(source, out.data(), *length, timeoutMs) == static_cast<int>(*length)
                   ? 0
                   : kBroken;
    }
    return readToEnd(source, out, timeoutMs);
}

SoapHttp::SoapHttp(std::string_view user, std::string_view password, SoapPolicy policy)
    : policy_(policy) {
    auth_.setCredentials(user, password);
    auth_.allowClearText(policy.clearPassword);
}

int SoapHttp::exchange(SocketSlot &slot, const SoapEndpoint &to, std::string_view action,
                       const std::string &envelope, std::string &head, std::string &body) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(policy_.requestMs);
    // Every wait below ends within a slice of the deadline.
    StopScope scope([deadline] { return Clock::now() >= deadline; });
    if (openConnection(&slot, to.address.c_str(), to.port) != 1) return IPCAM_SETSOCKET_IS_ER;
    std::string request = "POST " + to.path + " HTTP/1.1\r\nHost: " + to.hostHeader +
                          "\r\nContent-Type: application/soap+xml; charset=utf-8; action=\"" +
                          std::string(action) +
                          "\"\r\nContent-Length: " + std::to_string(envelope.size()) + "\r\n";
    if (auth_.answering())
        request += "Authorization: " + auth_.authorization("POST", to.path) + "\r\n";
    request += "Connection: close\r\n\r\n";
    request += envelope;

    const Settings &cfg = settings();
    SocketSource socket(slot);
    ReadAhead ahead;
    BufferedSource connection(socket, ahead);
    int result = 0;
    if (connection.send(request.data(), request.size(), cfg.setTimeout) !=
        static_cast<int>(request.size())) {
        result = IPCAM_SETSOCKET_IS_ER;
    } else {
        head.assign(kMaxHead, '\0');
        const int n = receiveHeader(connection, head.data(), head.size(), cfg.getTimeout);
        head.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (n <= 0)
            result = IPCAM_IS_UNCONNECTED;
        else if (statusCode(head) < 0 || (head.find("\n\n") == std::string::npos &&
                                          head.find("\r\n\r\n") == std::string::npos))
            result = IPCAM_ONVIF_NOT_DEVICE;
        else if (const int r = readHttpBody(connection, head, body, cfg.getTimeout); r != 0)
            result = r == kBodyTooLarge ? IPCAM_ONVIF_REPLY_TOO_LARGE : IPCAM_IS_UNCONNECTED;
    }
    closeConnection(&slot);
    return result;
}

int SoapHttp::post(SocketSlot &slot, const SoapEndpoint &to, std::string_view action,
                   const Envelope &envelope, int &status, std::string &body) {
    // The first attempt, and at most a few answers to challenges (a stale nonce may need one
    // more); the authenticator refuses to answer the same round twice.
    for (int attempt = 0; attempt < 2 + Authenticator::kMaxStaleRepeats; ++attempt) {
        std::string head;
        if (int r = exchange(slot, to, action, envelope(), head, body); r != 0) return r;
        status = statusCode(head);
        if (redirectsToHttps(head)) return IPCAM_ONVIF_WANTS_HTTPS;
        if (status != kUnauthorized || headerValues(head, "WWW-Authenticate").empty()) {
            if (status / 100 == 2 && auth_.answering()) auth_.accepted();
            return 0;
        }
        switch (auth_.challenged(head)) {
            case Authenticator::Outcome::Answer:
                continue;
            case Authenticator::Outcome::ClearTextRefused:
                return IPCAM_CLEAR_PASSWORD_REFUSED;
            case Authenticator::Outcome::Refused:
            case Authenticator::Outcome::Unsupported:
                return IPCAM_USER_OR_PASSWD_IS_ER;
        }
    }
    return IPCAM_USER_OR_PASSWD_IS_ER;
}

}  // namespace ipcam
