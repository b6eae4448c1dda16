// An RTSP reply as a whole: the head's status and headers, then its body as a session
// description, with every control joined onto the base the client would use and the
// parameter sets of its fmtp decoded.
//
// Input layout: the reply bytes; the head ends at the first empty line, the body follows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transport/nal_units.h"
#include "transport/rtsp_reply.h"
#include "transport/sdp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view reply(reinterpret_cast<const char *>(data), size);
    std::size_t end = reply.find("\r\n\r\n");
    end = end == std::string_view::npos ? reply.size() : end + 4;
    const std::string_view head = reply.substr(0, end), body = reply.substr(end);

    const int status = ipcam::statusCode(head);
    if (status != -1 && (status < 100 || status > 999)) std::abort();
    if (auto length = ipcam::contentLength(head); length && *length > ipcam::kMaxContentLength)
        std::abort();
    if (auto session = ipcam::sessionHeader(head)) {
        if (session->id.empty() || session->id.size() > ipcam::kMaxSessionId) std::abort();
        if (session->timeout < 1 || session->timeout > 86'400) std::abort();
    }
    if (auto transport = ipcam::transportHeader(head)) {
        if (auto c = transport->interleaved; c && (c->first < 0 || c->second > 255)) std::abort();
        if (auto p = transport->serverPort; p && (p->first < 1 || p->second > 65535)) std::abort();
    }
    if (auto cseq = ipcam::cseqNumber(head); cseq && *cseq < 0) std::abort();
    ipcam::publicLists(head, "GET_PARAMETER");
    ipcam::requestLine(head);

    const std::string base = ipcam::contentBase(head).value_or("rtsp://127.0.0.1/cam?x=1");
    if (auto d = ipcam::parseDescription(body)) {
        if (d->media.empty() || d->media.size() > ipcam::kMaxSections) std::abort();
        ipcam::resolveControl(base, d->control);
        for (const ipcam::MediaSection &m : d->media) {
            if (m.payloadType < -1 || m.payloadType > 127) std::abort();
            ipcam::videoCodec(m);
            ipcam::audioCodec(m);
            if (ipcam::channelCode(m) < 0 || ipcam::clockRate(m) <= 0) std::abort();
            if (auto config = ipcam::mpeg4Config(m); config && config->empty()) std::abort();
            if (m.frameRate < 0 || m.frameRate > ipcam::kMaxFrameRate) std::abort();
            for (const char *name : {"sprop-parameter-sets", "sprop-sps"}) {
                if (auto list = ipcam::fmtpParameter(m, name)) {
                    for (const auto &set : ipcam::parameterSetList(*list))
                        if (set.empty() || set.size() > list->size()) std::abort();
                }
            }
            const std::string url = ipcam::resolveControl(base, m.control);
            if (url.size() > base.size() + m.control.size() + 1) std::abort();
        }
        ipcam::firstVideo(*d);
        ipcam::firstAudio(*d);
    }
    return 0;
}
