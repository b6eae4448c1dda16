// The built ipcam tool as a child process: its standard output and error come through one
// pipe, read in waits of 100 ms, so a test can wait for a line, signal the tool and collect
// the rest. A child still running after 60 s is killed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace kestrel_test {

struct ToolRun {
    int status = -1;     // exit status; -1 when killed or not started
    std::string output;  // standard output and error
    double seconds = 0;  // from the start to the end of the child
};

class ToolProcess {
  public:
    static constexpr int kLimitMs = 60'000;

    // args are plain words separated by blanks; the library reads its configuration from
    // configDir (none there: the defaults).
    ToolProcess(const std::string &args, const std::filesystem::path &configDir) {
        std::vector<std::string> words{IPCAM_CLI_PATH};
        std::istringstream in(args);
        for (std::string word; in >> word;) words.push_back(word);
        std::vector<std::string> env{"IPCAM_CONFIG_DIR=" + configDir.string()};
        for (char **e = environ; *e; ++e)
            if (std::string(*e).rfind("IPCAM_CONFIG_DIR=", 0) != 0) env.push_back(*e);

        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        std::vector<char *> argv = pointers(words), envp = pointers(env);
        start_ = std::chrono::steady_clock::now();
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~ToolProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    // Reads until the output holds text (times times); false when timeoutMs passed or the
    // output ended first.
    bool waitFor(const std::string &text, int timeoutMs, std::size_t times = 1) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        auto seen = [&] {
            std::size_t n = 0;
            for (std::size_t at = output_.find(text); at != std::string::npos;
                 at = output_.find(text, at + 1))
                ++n;
            return n >= times;
        };
        while (!seen()) {
            if (std::chrono::steady_clock::now() > until || !readSome()) return false;
        }
        return true;
    }
    void signal(int number) {
        if (pid_ > 0) kill(pid_, number);
    }
    // Reads to the end of the output and reaps the child.
    ToolRun finish() {
        ToolRun run;
        const auto until = start_ + std::chrono::milliseconds(kLimitMs);
        while (readSome())
            if (std::chrono::steady_clock::now() > until) kill(pid_, SIGKILL);
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        run.output = output_;
        return run;
    }

  private:
    static std::vector<char *> pointers(std::vector<std::string> &texts) {
        std::vector<char *> p;
        for (std::string &t : texts) p.push_back(t.data());
        p.push_back(nullptr);
        return p;
    }
    // One wait of at most 100 ms for output; false once the output has ended.
    bool readSome() {
        if (out_ < 0) return false;
        pollfd p{out_, POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return true;
        char buffer[4096];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Runs the tool to its end.
inline ToolRun runTool(const std::string &args, const std::filesystem::path &configDir) {
    return ToolProcess(args, configDir).finish();
}

}  // namespace kestrel_test
