#include "GuiProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace contavio::bench {

FreshRun runInFreshProcess(const std::string& self, const std::string& flag,
                           const std::filesystem::path& folder) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        std::string name = self;
        std::string option = flag;
        std::string dir = folder.string();
        char* argv[] = {name.data(), option.data(), dir.data(), nullptr};
        ::execv("/proc/self/exe", argv);
        ::_exit(127);
    }
    ::close(fds[1]);
    FreshRun run;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        run.output.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.ended = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("the run's process failed: " + run.output);
    }
    return run;
}

}  // namespace contavio::bench
