#include "tools/camsim/onvif_service.h"

#include <strings.h>

#include <algorithm>
#include <variant>

namespace camsim {

namespace {

constexpr std::string_view kSoapType = "application/soap+xml; charset=utf-8";
constexpr std::size_t kHugeReplyBytes = (1 << 20) + 4096;

std::span<const Operation> operationsAt(std::string_view path) {
    if (path == kDeviceServicePath) return deviceOperations();
    if (path == kMediaServicePath) return mediaOperations();
    if (path == kMedia2ServicePath) return media2Operations();
    if (path == kPtzServicePath) return ptzOperations();
    return {};
}

// application/soap+xml, whatever its parameters and the case of its name.
bool soapContentType(std::string_view value) {
    constexpr std::string_view kType = "application/soap+xml";
    value = value.substr(0, value.find(';'));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return value.size() == kType.size() &&
           strncasecmp(value.data(), kType.data(), kType.size()) == 0;
}

Reply plain(int status, std::string text, HeaderList headers = {}) {
    return Reply{status, std::move(text), std::move(headers)};
}

// HTTP authentication instead of UsernameTokens: Digest, or Basic alone.
bool httpAuthentication(const OnvifConfig &config) {
    return config.digest || config.faults.basicOnly;
}

RtspAuthConfig digestConfig(const OnvifConfig &config) {
    RtspAuthConfig auth;
    auth.scheme = config.faults.basicOnly ? RtspAuthConfig::Scheme::Basic
                  : config.digest         ? RtspAuthConfig::Scheme::DigestMd5
                                          : RtspAuthConfig::Scheme::None;
    auth.user = config.user;
    auth.password = config.password;
    auth.realm = "Kestrel ONVIF";
    auth.qop = true;
    return auth;
}

}  // namespace

OnvifService::OnvifService(std::unique_ptr<OnvifContext> context)
    : context_(std::move(context)), tokens_(context_->config.user, context_->config.password) {
    digest_.configure(digestConfig(context_->config));
}

Reply OnvifService::fault(const SoapFault &fault, int status) const {
    return Reply{status ? status : fault.httpStatus(),
                 soapFaultEnvelope(context_->p, fault),
                 {},
                 std::string(kSoapType)};
}

void OnvifService::log(const RecordedRequest &request, std::string_view operation,
                       int status) const {
    if (context_->config.log)
        context_->config.log("onvif: /" + request.path + " " + std::string(operation) + " " +
                             std::to_string(status) + "\n");
}

Reply OnvifService::answer(const RecordedRequest &request) {
    std::string operation = "-";
    Reply reply;
    if (context_->config.faults.httpsRedirect)
        reply = plain(307, "307 Temporary Redirect",
                      {{"Location", "https://" + request.header("Host") + "/" + request.path}});
    else if (request.method != "POST")
        reply = plain(405, "405 Method Not Allowed", {{"Allow", "POST"}});
    else if (request.body.size() > kMaxSoapBody)
        reply = plain(413, "413 Payload Too Large");
    else if (!soapContentType(request.header("Content-Type")))
        reply = plain(415, "415 Unsupported Media Type: SOAP 1.2 is application/soap+xml");
    else
        reply = answerSoap(request, operation);
    log(request, operation, reply.status);
    return reply;
}

Reply OnvifService::answerSoap(const RecordedRequest &request, std::string &operation) {
    auto read = readSoapRequest(request.body);
    if (auto *refused = std::get_if<SoapFault>(&read)) return fault(*refused);
    const SoapRequest &soap = std::get<SoapRequest>(read);
    operation = localName(soap.operation);
    const std::span<const Operation> operations = operationsAt(request.path);
    auto op = std::find_if(operations.begin(), operations.end(), [&](const Operation &o) {
        return isElement(soap.operation, o.ns, o.name);
    });
    if (op == operations.end())
        return fault(receiverFault({"ActionNotSupported"},
                                   "No operation {" + std::string(namespaceOf(soap.operation)) +
                                       "}" + operation + " at /" + request.path));
    if (!op->preAuthentication) {
        if (std::optional<Reply> refusal = refuseCredentials(request, soap)) return *refusal;
    }
    OperationResult result = op->run(*context_, soap.operation);
    if (auto *f = std::get_if<SoapFault>(&result)) return fault(*f);
    std::string envelope = soapEnvelope(context_->p, std::get<std::string>(result));
    // A device with a great many profiles, or one that means harm.
    if (context_->config.faults.hugeReply && operation == "GetProfiles")
        envelope += "<!--" + std::string(kHugeReplyBytes, 'x') + "-->";
    return Reply{200, std::move(envelope), {}, std::string(kSoapType)};
}

std::optional<Reply> OnvifService::refuseCredentials(const RecordedRequest &request,
                                                     const SoapRequest &soap) {
    if (httpAuthentication(context_->config)) {
        // A UsernameToken does not count here: only the Authorization header does.
        auto challenges = digest_.check(request);
        if (!challenges) return std::nullopt;
        Reply reply = fault(senderFault({"NotAuthorized"}, "Sender not authorized"), 401);
        for (std::string &challenge : *challenges)
            reply.lastHeaders.emplace_back("WWW-Authenticate", std::move(challenge));
        return reply;
    }
    const std::string why = tokens_.verify(soap.header, context_->deviceNow());
    if (why.empty()) return std::nullopt;
    return fault(senderFault({"NotAuthorized"}, "Sender not authorized: " + why));
}

}  // namespace camsim
