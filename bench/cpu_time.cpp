// Runs a command and writes the CPU time it used, user and system, in microseconds as the
// kernel accounts them (getrusage through wait4), to a file: "USER SYSTEM\n". A shell's `time`
// rounds to 10 ms, too coarse for per-frame costs of a few hundred microseconds.
//
//   cpu_time RESULT_FILE COMMAND [ARGUMENTS...]
//
// The command inherits standard input and output; the exit status is the command's own
// (128 + signal when a signal ended it, 127 when it could not be started).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

long long microseconds(const timeval &t) {
    return static_cast<long long>(t.tv_sec) * 1'000'000 + t.tv_usec;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: cpu_time RESULT_FILE COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "cpu_time: fork: %s\n", std::strerror(errno));
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "cpu_time: %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    pid_t ended;
    do {
        ended = wait4(child, &status, 0, &usage);
    } while (ended < 0 && errno == EINTR);
    if (ended < 0) {
        std::fprintf(stderr, "cpu_time: wait: %s\n", std::strerror(errno));
        return 2;
    }
    FILE *out = std::fopen(argv[1], "w");
    if (!out) {
        std::fprintf(stderr, "cpu_time: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    std::fprintf(out, "%lld %lld\n", microseconds(usage.ru_utime), microseconds(usage.ru_stime));
    std::fclose(out);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
