#include "core/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Waits up to `milliseconds` for the child to end; true when it did (its status in `status`).
bool WaitFor(pid_t pid, int milliseconds, int& status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
#ifdef SYS_pidfd_open
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{pidfd, POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&fd, 1, int(left.count()) + 1) : 0;
            if (ready < 0 && errno == EINTR) continue;
            ::close(pidfd);
            if (ready <= 0) return ::waitpid(pid, &status, WNOHANG) == pid;
            return ::waitpid(pid, &status, 0) == pid;
        }
    }
#endif
    // Kernels without process descriptors: a look every few milliseconds.
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) return true;
        if (ended < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

tChildResult RunChild(const QString& program, const QStringList& arguments, const tChildLimits& limits) {
    // Everything the child needs is made before the fork: after it, only calls safe in a forked copy of a
    // threaded process.
    std::vector<std::string> args{program.toStdString()};
    for (const QString& a : arguments) args.push_back(a.toStdString());
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "LC_", 3) != 0 && std::strncmp(*e, "LANG=", 5) != 0) env.emplace_back(*e);
    env.emplace_back("LC_ALL=C");
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    const bool searched = !program.contains(u'/');
    std::string path;
    if (searched) {
        const char* paths = ::getenv("PATH");
        path = paths ? paths : "/usr/bin:/bin";
    }
    const rlimit memory{rlim_t(limits.MemoryBytes), rlim_t(limits.MemoryBytes)};

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return {tChildEnd::NotStarted, errno};
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return {tChildEnd::NotStarted, error};
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::setrlimit(RLIMIT_AS, &memory);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        int error = ENOENT;
        if (!searched) {
            ::execve(argv[0], argv.data(), envp.data());
            error = errno;
        } else {
            // PATH searched by hand: execvpe is not safe after a fork in a threaded process.
            char full[4096];
            const char* start = path.c_str();
            for (;;) {
                const char* end = std::strchr(start, ':');
                const std::size_t length = end ? std::size_t(end - start) : std::strlen(start);
                const std::size_t name = std::strlen(argv[0]);
                if (length + name + 2 <= sizeof full) {
                    std::memcpy(full, start, length);
                    full[length] = '/';
                    std::memcpy(full + length + 1, argv[0], name + 1);
                    ::execve(full, argv.data(), envp.data());
                    if (errno != ENOENT && errno != ENOTDIR) error = errno;
                }
                if (!end) break;
                start = end + 1;
            }
        }
        [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t got;
    do got = ::read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == sizeof error) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {tChildEnd::NotStarted, error};
    }
    int status = 0;
    if (!WaitFor(pid, limits.Milliseconds, status)) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return {tChildEnd::TimedOut, 0};
    }
    if (WIFSIGNALED(status)) return {tChildEnd::Crashed, WTERMSIG(status)};
    const int code = WEXITSTATUS(status);
    return {code == 0 ? tChildEnd::Finished : tChildEnd::Failed, code};
}
