// The ONVIF device's HTTP side: a SOAP 1.2 request at one of the service paths, checked,
// authenticated and handed to the operation its Body names.
//
// The HTTP answers, in the order they are checked:
//   405 (Allow: POST)  any method but POST
//   413                a body over kMaxSoapBody
//   415                a Content-Type other than application/soap+xml (parameters allowed)
//   400/500 + fault    what readSoapRequest() refuses; VersionMismatch is 500
//   500 + fault        env:Receiver ter:ActionNotSupported: no such operation at this path
//   401 + Digest       with digest: a request outside the pre-authentication class without a
//                      valid Authorization (the body is a NotAuthorized fault)
//   400 + fault        without digest: env:Sender ter:NotAuthorized, when the UsernameToken is
//                      missing, wrong, out of the clock window or replayed
//   200 or fault       the operation's answer
// Every SOAP answer is "application/soap+xml; charset=utf-8".
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/camsim/cgi_site.h"
#include "tools/camsim/http_message.h"
#include "tools/camsim/onvif_context.h"
#include "tools/camsim/rtsp_auth.h"
#include "tools/camsim/username_token.h"

namespace camsim {

inline constexpr std::size_t kMaxSoapBody = 64 * 1024;

// The service paths as routes name them (no leading '/').
inline constexpr std::string_view kDeviceServicePath = "onvif/device_service";
inline constexpr std::string_view kMediaServicePath = "onvif/media_service";
inline constexpr std::string_view kMedia2ServicePath = "onvif/media2_service";
inline constexpr std::string_view kPtzServicePath = "onvif/ptz_service";
inline constexpr std::string_view kOnvifServicePaths[] = {kDeviceServicePath, kMediaServicePath,
                                                          kMedia2ServicePath, kPtzServicePath};

class OnvifService {
  public:
    // context->head must be set.
    explicit OnvifService(std::unique_ptr<OnvifContext> context);

    Reply answer(const RecordedRequest &request);
    const OnvifContext &context() const { return *context_; }

  private:
    // A request past the HTTP checks; operation is set to the Body's element once known.
    Reply answerSoap(const RecordedRequest &request, std::string &operation);
    // The refusal of a request whose credentials do not pass; nothing when they do.
    std::optional<Reply> refuseCredentials(const RecordedRequest &request, const SoapRequest &soap);
    Reply fault(const SoapFault &fault, int status = 0) const;
    void log(const RecordedRequest &request, std::string_view operation, int status) const;

    const std::unique_ptr<OnvifContext> context_;
    UsernameTokenVerifier tokens_;  // locks itself
    RtspAuthenticator digest_;      // locks itself
};

}  // namespace camsim
