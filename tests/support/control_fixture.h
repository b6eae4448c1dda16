// The base of the control tests: a session, of a protocol type and model chosen per test, whose
// command object speaks to a simulated web server on 127.0.0.1 with short time-outs.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "camsim/cgi_server.h"
#include "control/control_factory.h"
#include "core/session.h"
#include "support/frame_collector.h"
#include "support/scoped_timeouts.h"

namespace kestrel_test {

class ControlFixture : public ::testing::Test {
    ScopedTimeouts timeouts{500};

  protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        std::strcpy(session->host, "127.0.0.1");
        session->port = server.port();
    }
    void TearDown() override {
        delete session->control.exchange(nullptr);
        server.stop();
    }

    // Gives the session this command object (null: none) and the device's type and model.
    void use(ipcam::CameraControl *control, int32_t protocolType, uint32_t model) {
        delete session->control.exchange(control);
        session->protocolType = protocolType;
        session->modelCode = model;
    }
    // The same with the object the library makes for that type and model.
    void use(int32_t protocolType, uint32_t model) {
        use(ipcam::makeCameraControl(protocolType, model), protocolType, model);
    }

    // The targets of the requests the server received, once expect of them have arrived
    // (requests that are not answered may arrive after the command has returned).
    std::vector<std::string> targets(std::size_t expect = 0) {
        if (expect) server.waitForRequests(expect, 1000);
        std::vector<std::string> all;
        for (const auto &r : server.requests()) all.push_back(r.target);
        return all;
    }

    camsim::CgiServer server;
    LocalSession session;
};

}  // namespace kestrel_test
