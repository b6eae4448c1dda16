// The built viewer's command line: help and mistakes are answered without a display.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct ViewerRun {
    int status = -1;  // exit status; -1 when it did not exit by itself
    std::string output;
};

// Runs the viewer with args (plain words) where no display of any kind is to be had.
ViewerRun runViewer(const std::string &args) {
    const std::string command =
        std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
        "timeout -s KILL 20 " + KESTREL_APP_PATH + " " + args + " 2>&1";
    ViewerRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(ViewerCommandLine, HelpAndMistakesNeedNoDisplay) {
    const struct {
        const char *args;
        int status;
        const char *says;  // at the start of the output
    } cases[] = {
        {"--help", 0, "usage: kestrel "},
        {"-h", 0, "usage: kestrel "},
        {"-platform xcb --help", 0, "usage: kestrel "},
        {"--bogus", 2, "kestrel: unknown option \"--bogus\"\nusage: kestrel "},
        {"--size 1x1", 2, "kestrel: --size wants"},
        {"--data-dir", 2, "kestrel: --data-dir needs a value\nusage: kestrel "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const ViewerRun run = runViewer(c.args);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_EQ(run.output.rfind(c.says, 0), 0u) << run.output;
    }
}

}  // namespace
