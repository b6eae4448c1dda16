// The tool's media module: the built one loads and decodes, other files are refused with a
// reason, the tool never loads the media libraries for receiving alone, and without the module
// it says so before connecting anywhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/command_output.h"
#include "support/temp_dir.h"
#include "tools/cli/media.h"

namespace {

namespace fs = std::filesystem;
using ipcam_cli::VideoCodec;

TEST(MediaModule, TheBuiltModuleLoadsAndOtherFilesAreRefused) {
    kestrel_test::TempDir dir;
    const std::string text = dir.path + "/ipcam-media.so";
    std::ofstream(text) << "not a library\n";
    struct Row {
        std::string path;
        const char *error;  // a part of the reason; null when it loads
    } const rows[] = {
        {IPCAM_MEDIA_PATH, nullptr},
        {dir.path + "/missing.so", "cannot load "},
        {text, "cannot load "},
        {"libm.so.6", " is not ipcam's media module"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        std::string error;
        const ipcam_cli::MediaModule *module = ipcam_cli::loadMediaModuleFrom(row.path, error);
        if (!row.error) {
            ASSERT_NE(module, nullptr) << error;
            EXPECT_TRUE(module->makeDecoder(VideoCodec::H265)->ready());
            EXPECT_FALSE(module->makeDecoder(VideoCodec::Unknown)->ready());
            auto writer = module->makeContainerWriter(dir.path + "/out.mkv");
            ASSERT_NE(writer, nullptr);
            EXPECT_TRUE(writer->open()) << writer->error();
            continue;
        }
        EXPECT_EQ(module, nullptr);
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        EXPECT_NE(error.find(row.path), std::string::npos) << error;
    }
}

// ldd lists every library a program loads at its start, those of its libraries included.
TEST(MediaModule, ReceivingLoadsNoMediaLibrary) {
    if (!kestrel_test::onPath("ldd")) GTEST_SKIP() << "ldd is not installed";
    const std::string tool = kestrel_test::commandOutput(std::string("ldd ") + IPCAM_CLI_PATH);
    const std::string module = kestrel_test::commandOutput(std::string("ldd ") + IPCAM_MEDIA_PATH);
    ASSERT_NE(tool.find("libipcam"), std::string::npos) << tool;
    for (const char *library : {"libavcodec", "libavformat", "libswscale", "libjpeg"}) {
        EXPECT_EQ(tool.find(library), std::string::npos) << library << " in\n" << tool;
        EXPECT_NE(module.find(library), std::string::npos) << library << " in\n" << module;
    }
}

TEST(MediaModule, WithoutItTheToolSaysSoBeforeConnecting) {
    kestrel_test::TempDir dir;
    const std::string tool = dir.path + "/ipcam";
    fs::copy_file(IPCAM_CLI_PATH, tool);
    fs::permissions(tool, fs::perms::owner_exec, fs::perm_options::add);
    // Port 1 of a documentation address: a tool that tried to connect would wait for it.
    struct Row {
        std::string args;
        bool needsModule;
    } const rows[] = {
        {"snapshot 192.0.2.1:1 --out " + dir.path + "/s.jpg", true},
        {"watch 192.0.2.1:1 --decode --seconds 20", true},
        {"record 192.0.2.1:1 --out " + dir.path + "/r.mkv --seconds 20", true},
        {"record 192.0.2.1:1 --out " + dir.path + "/r --seconds 1", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args);
        const std::string out = kestrel_test::commandOutput(
            "sh -c 'IPCAM_CONFIG_DIR=" + dir.path + " " + tool + " " + row.args +
                " 2>&1; echo exit=$?'",
            row.needsModule ? 5 : 10);
        EXPECT_NE(out.find("exit=1"), std::string::npos) << out;
        EXPECT_EQ(out.find("cannot find ipcam-media.so beside the ipcam tool") != std::string::npos,
                  row.needsModule)
            << out;
    }
}

}  // namespace
