#include "tools/camsim/onvif_device.h"

#include "tools/camsim/device_routes.h"
#include "tools/camsim/settings_store.h"

namespace camsim {

namespace {

std::shared_ptr<OnvifService> makeService(CgiServer &web, const StreamingServer &streaming,
                                          OnvifConfig config, std::shared_ptr<PtzHead> head,
                                          bool headPerChannel) {
    auto context = std::make_unique<OnvifContext>();
    if (!head) {
        head = std::make_shared<PtzHead>(familyAHead(), std::make_shared<SettingsStore>());
        routeSimState(web, ReplyStyle::FamilyA, head, nullptr);
        headPerChannel = true;
    }
    context->p = prefixesOf(config.prefixes);
    context->profiles = onvifProfiles(streaming.channels(), headPerChannel);
    if (config.faults.controlTexts)
        for (OnvifProfile &p : context->profiles) p.name += "\tforged\n0: a line of its own";
    context->endpoint = randomUuidUrn();
    context->webPort = [&web] { return web.port(); };
    context->rtspPort = streaming.portReader();
    context->head = std::move(head);
    context->config = std::move(config);
    return std::make_shared<OnvifService>(std::move(context));
}

}  // namespace

OnvifDevice::OnvifDevice(CgiServer &web, const StreamingServer &streaming, OnvifConfig config,
                         std::shared_ptr<PtzHead> head, bool headPerChannel)
    : web_(web),
      service_(makeService(web, streaming, config, std::move(head), headPerChannel)),
      discovery_(
          config.discoveryPort, config.prefixes, [this] { return target(); }, config.log) {
    for (std::string_view path : kOnvifServicePaths) {
        const std::string route(path);
        web.setHandler(route, [service = service_](const RecordedRequest &request) {
            return service->answer(request);
        });
        web.setSelfAuthorising(route);
        const OnvifFaults &faults = service_->context().config.faults;
        if (faults.dripMs > 0 || faults.keepOpen) {
            ReplyBehaviour behaviour;
            behaviour.dripMs = faults.dripMs;
            behaviour.contentLength = !faults.keepOpen;
            behaviour.keepOpen = faults.keepOpen;
            web.setBehaviour(route, behaviour);
        }
    }
}

OnvifDevice::~OnvifDevice() {
    stopDiscovery();
}

bool OnvifDevice::startDiscovery() {
    return discovery_.start();
}

void OnvifDevice::stopDiscovery() {
    discovery_.stop();
}

DiscoveryTarget OnvifDevice::target() const {
    const OnvifContext &c = service_->context();
    DiscoveryTarget t;
    t.endpoint = c.config.discoveryEndpoint.empty() ? c.endpoint : c.config.discoveryEndpoint;
    t.scopes = onvifScopes(c.config.name, c.config.hardware);
    // Some cameras advertise the address they bound, not one that reaches them.
    t.xaddrs = "http://" + std::string(c.config.xaddrAny ? "0.0.0.0" : "127.0.0.1") + ":" +
               std::to_string(web_.port()) + "/onvif/device_service";
    if (!c.config.discoveryXAddrs.empty()) t.xaddrs = c.config.discoveryXAddrs;
    t.floodDevices = c.config.floodDevices;
    return t;
}

}  // namespace camsim
