// The main window offscreen, shared by its tests: a window with hooks that never block, a data
// directory of its own, and what the tests look at in the picture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QImage>
#include <QString>

#include "support/loopback.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "viewer/data_directory.h"
#include "viewer/pipeline_control.h"
#include "viewer/pipeline_state.h"
#include "viewer/qt_display.h"
#include "viewer/qt_viewer_dialog.h"
#include "viewer/site_list.h"

namespace kestrel_test {

using kestrel::controlState;
using kestrel::kControlIdle;
using kestrel::pipeline;
using kestrel::PipelineState;
using kestrel::QtDisplayWidget;
using kestrel::SiteList;
using kestrel::SiteRecord;
using kestrel::ViewerDialog;

inline SiteRecord siteAt(const char16_t *name, const char16_t *host, uint32_t port) {
    SiteRecord s = kestrel::defaultSiteRecord();
    std::u16string n(name), h(host);
    std::copy(n.begin(), n.end(), s.name);
    std::copy(h.begin(), h.end(), s.host);
    s.port = port;
    return s;
}

class ViewerDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        kestrel_test::qtApp();
        ASSERT_FALSE(dir_.empty());
        kestrel::setDataDirectory(dir_);
        PipelineState &p = pipeline();
        p.rotateMode = p.inputBusy = p.newPicture = 0;
        p.panX = p.panY = 0;
        controlState() = kControlIdle;
    }
    void TearDown() override { kestrel::setDataDirectory(""); }

    // A window with hooks that never block: no message boxes, plenty of memory.
    std::unique_ptr<ViewerDialog> makeWindow(int width = 320, int height = 400,
                                             bool smartphone = false) {
        ViewerDialog::Options o;
        o.width = width;
        o.height = height;
        o.smartphone = smartphone;
        ViewerDialog::Hooks h;
        h.covered = [this] { return covered_; };
        h.screenLocked = [this] { return locked_; };
        h.runSiteList = [this](SiteList &, const std::string &, bool, int &index, bool &) {
            index = siteChoice_;
            return siteChoice_ >= 0 ? int(QDialog::Accepted) : int(QDialog::Rejected);
        };
        h.availableMemory = [this] { return memory_; };
        h.message = [this](const QString &text) { messages_.push_back(text); };
        h.bringUpPacketData = [this] { ++packetData_; };
        auto window = std::make_unique<ViewerDialog>(o, h);
        window->show();
        return window;
    }

    void writeSites(const std::vector<SiteRecord> &sites) {
        std::ofstream out(dir_ + "/SITE_LIST_USER.DAT", std::ios::binary);
        for (const SiteRecord &s : sites) out.write(reinterpret_cast<const char *>(&s), sizeof s);
    }

    // Pictures drawn and presented, and the video thread counting frames.
    static bool picturesShown(ViewerDialog &w, int timeoutMs = 20000) {
        auto *picture = w.findChild<QtDisplayWidget *>();
        return picture && pumpUntil(
                              [&] {
                                  const QImage image = picture->image();
                                  int lit = 0;
                                  for (int y = 0; y < 240 && y < image.height(); y += 8)
                                      for (int x = 0; x < image.width(); x += 8)
                                          lit += image.pixel(x, y) != qRgb(0, 0, 0);
                                  return lit > 50 && w.statusText().startsWith("R:");
                              },
                              timeoutMs);
    }
    static bool allBlack(const QImage &image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != qRgb(0, 0, 0)) return false;
        return true;
    }
    static uint16_t closedPort() { return kestrel_test::closedPort(); }

    kestrel_test::TempDir temp_;
    const std::string &dir_ = temp_.path;
    bool covered_ = false;
    bool locked_ = false;
    int siteChoice_ = -1;  // what the Site command's list returns: Rejected for -1
    uint64_t memory_ = uint64_t(1) << 40;
    std::vector<QString> messages_;
    int packetData_ = 0;
};

}  // namespace kestrel_test
