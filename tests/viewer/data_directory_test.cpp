#include "viewer/data_directory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace kestrel {
namespace {

TEST(DataDirectory, ChoiceOrder) {
    const struct {
        const char *chosen, *kestrelHome, *program;
        bool writable;
        const char *xdg, *home, *expected;
    } cases[] = {
        {"/opt/set", "/env/home", "/usr/bin", true, "/xdg", "/root", "/opt/set"},
        {"", "/env/home", "/usr/bin", true, "/xdg", "/root", "/env/home"},
        {"", "", "/usr/bin", true, "/xdg", "/root", "/usr/bin"},
        {"", nullptr, "/usr/bin", false, "/xdg", "/root", "/xdg/kestrel"},
        {"", nullptr, "/usr/bin", false, "", "/home/u", "/home/u/.config/kestrel"},
        {"", nullptr, "", true, nullptr, "/home/u", "/home/u/.config/kestrel"},
    };
    for (const auto &c : cases) {
        DataDirectoryInputs in;
        in.chosen = c.chosen;
        in.kestrelHome = c.kestrelHome;
        in.programDirectory = c.program;
        in.programDirectoryWritable = c.writable;
        in.xdgConfigHome = c.xdg;
        in.home = c.home;
        EXPECT_EQ(resolveDataDirectory(in), c.expected);
    }
}

TEST(DataDirectory, ProcessValues) {
    const char *saved = std::getenv("KESTREL_HOME");
    const std::string savedValue = saved ? saved : "";
    unsetenv("KESTREL_HOME");
    setDataDirectory("");
    // The test program's own directory is writable here.
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    const std::string own(exe);
    EXPECT_EQ(dataDirectory(), own.substr(0, own.rfind('/')));

    setenv("KESTREL_HOME", "/tmp/kestrel-env-home", 1);
    EXPECT_EQ(dataDirectory(), "/tmp/kestrel-env-home");
    setDataDirectory("/tmp/kestrel-chosen");
    EXPECT_EQ(dataDirectory(), "/tmp/kestrel-chosen");
    setDataDirectory("");
    if (saved)
        setenv("KESTREL_HOME", savedValue.c_str(), 1);
    else
        unsetenv("KESTREL_HOME");
}

}  // namespace
}  // namespace kestrel
