// What ONVIF clients send the simulator: SOAP requests at every service path, as they come and
// wrapped in a signed envelope (so the operations behind the UsernameToken are reached too),
// WS-Discovery datagrams, and the times and durations inside them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/camsim/base64.h"
#include "tools/camsim/onvif_context.h"
#include "tools/camsim/onvif_service.h"
#include "tools/camsim/settings_store.h"
#include "tools/camsim/ws_discovery.h"

namespace {

std::unique_ptr<camsim::OnvifService> makeService(bool digest) {
    using Codec = camsim::ChannelConfig::Codec;
    auto c = std::make_unique<camsim::OnvifContext>();
    c->config.digest = digest;
    c->profiles = camsim::onvifProfiles(
        {{}, {.codec = Codec::H265, .paths = {"/cam/realmonitor?channel=1&subtype=0"}}}, true);
    c->endpoint = "urn:uuid:00000000-0000-4000-8000-000000000000";
    c->webPort = [] { return uint16_t{80}; };
    c->rtspPort = [] { return uint16_t{554}; };
    c->head = std::make_shared<camsim::PtzHead>(camsim::familyAHead(),
                                                std::make_shared<camsim::SettingsStore>());
    return std::make_unique<camsim::OnvifService>(std::move(c));
}

camsim::OnvifService &service(bool digest) {
    static auto tokens = makeService(false), digests = makeService(true);
    return digest ? *digests : *tokens;
}

// body inside a SOAP 1.2 envelope with a UsernameToken that passes now.
std::string signedEnvelope(const std::string &body) {
    static uint64_t counter = 0;
    const std::string nonce = std::to_string(++counter);
    const std::string created = camsim::formatDateTime(std::chrono::system_clock::now());
    return "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Header>"
           "<w:Security xmlns:w=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-wssecurity-secext-1.0.xsd\" xmlns:u=\"http://docs.oasis-open.org/"
           "wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd\"><w:UsernameToken>"
           "<w:Username>admin</w:Username><w:Password Type=\"http://docs.oasis-open.org/wss/"
           "2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" +
           camsim::passwordDigest(nonce, created, "secret") + "</w:Password><w:Nonce>" +
           camsim::encodeBase64(nonce) + "</w:Nonce><u:Created>" + created +
           "</u:Created></w:UsernameToken></w:Security></s:Header><s:Body>" + body +
           "</s:Body></s:Envelope>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    camsim::RecordedRequest request;
    request.method = "POST";
    request.headers = {{"Content-Type", "application/soap+xml; charset=utf-8"},
                       {"Authorization", input.substr(0, input.find('\n'))}};
    for (std::string_view path : camsim::kOnvifServicePaths) {
        request.path = path;
        request.target = "/" + request.path;
        request.body = input;
        service(false).answer(request);
        service(true).answer(request);
        request.body = signedEnvelope(input);
        service(false).answer(request);
    }
    camsim::probeToAnswer(input, camsim::onvifScopes("Kestrel Camsim", "camsim"));
    camsim::parseDateTime(input);
    camsim::parseDuration(input);
    return 0;
}
