#include "platform/linux/LinuxProcesses.h"

#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "platform/linux/LinuxPaths.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace orvel {

namespace {

// Shared by the handle and the reaper thread, so either may go first.
struct ChildState {
    pid_t pid = -1;
    std::mutex mutex;
    std::condition_variable reaped;
    bool exited = false;
    int status = -1;
    std::string standardError;
    TerminationHandler handler;
};

int decodeStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return -1;
}

// Keeps the last bytes the child writes to `stream` until it has exited (`exitFd`, its pidfd,
// becomes readable) or every writer has closed the stream: a grandchild that inherited the
// stream must not keep the exit from being told.
std::string readStandardError(int stream, int exitFd) {
    // After the exit, what is already in the pipe is read, but no more than a pipe holds.
    constexpr std::size_t kDrainLimit = 64 * 1024;
    std::string kept;
    char chunk[1024];
    const auto keep = [&](ssize_t n) {
        kept.append(chunk, static_cast<std::size_t>(n));
        if (kept.size() > ChildProcess::kStandardErrorLimit) {
            kept.erase(0, kept.size() - ChildProcess::kStandardErrorLimit);
        }
    };
    pollfd watched[2] = {{stream, POLLIN, 0}, {exitFd, POLLIN, 0}};
    const nfds_t count = exitFd >= 0 ? 2 : 1;
    for (;;) {
        if (::poll(watched, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kept;
        }
        if (count == 2 && watched[1].revents != 0) {
            ::fcntl(stream, F_SETFL, O_NONBLOCK);
            std::size_t drained = 0;
            ssize_t n;
            while (drained < kDrainLimit && (n = ::read(stream, chunk, sizeof chunk)) > 0) {
                keep(n);
                drained += static_cast<std::size_t>(n);
            }
            return kept;
        }
        if (watched[0].revents != 0) {
            const ssize_t n = ::read(stream, chunk, sizeof chunk);
            if (n > 0) {
                keep(n);
            } else if (n == 0 || errno != EINTR) {
                return kept;  // every writer has gone: the exit comes next
            }
        }
    }
}

// `standardError` and `exitFd`, when there are any, belong to the reaper from here on.
void reap(const std::shared_ptr<ChildState>& state, int standardError, int exitFd) {
    std::string said;
    if (standardError >= 0) {
        said = readStandardError(standardError, exitFd);
        ::close(standardError);
    }
    if (exitFd >= 0) {
        ::close(exitFd);
    }
    // Wait without reaping first, so that terminate() (under the lock) can never signal a pid
    // that has been reaped and perhaps reused.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    TerminationHandler handler;
    int status = -1;
    {
        std::lock_guard lock(state->mutex);
        int waitStatus = 0;
        pid_t reaped;
        do {
            reaped = waitpid(state->pid, &waitStatus, 0);
        } while (reaped < 0 && errno == EINTR);
        status = reaped == state->pid ? decodeStatus(waitStatus) : -1;
        state->exited = true;
        state->status = status;
        state->standardError = std::move(said);
        handler = std::move(state->handler);
        state->handler = nullptr;
    }
    state->reaped.notify_all();
    if (handler) {
        handler(status);
    }
}

class LinuxChildProcess final : public ChildProcess {
  public:
    explicit LinuxChildProcess(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}

    int pid() const override { return state_->pid; }
    bool isRunning() const override {
        std::lock_guard lock(state_->mutex);
        return !state_->exited;
    }
    void terminate() override { signal(SIGTERM); }
    void kill() override { signal(SIGKILL); }
    bool waitForExit(double seconds) override {
        std::unique_lock lock(state_->mutex);
        return state_->reaped.wait_for(lock, std::chrono::duration<double>(seconds),
                                       [this] { return state_->exited; });
    }
    void clearTerminationHandler() override {
        std::lock_guard lock(state_->mutex);
        state_->handler = nullptr;
    }
    int terminationStatus() const override {
        std::lock_guard lock(state_->mutex);
        return state_->exited ? state_->status : -1;
    }
    std::string standardError() const override {
        std::lock_guard lock(state_->mutex);
        return state_->standardError;
    }

  private:
    // Under the lock the pid is not reaped yet, so it is still this child's.
    void signal(int number) {
        std::lock_guard lock(state_->mutex);
        if (!state_->exited) {
            ::kill(state_->pid, number);
        }
    }

    std::shared_ptr<ChildState> state_;
};

// Whether a child ends when Orvel does. Children that hold something for Orvel (caffeinate's
// inhibitors) must: nobody else would ever end them. Programs started for the user (a browser
// opening a link) must not.
enum class Lifetime { endsWithOrvel, independent };

// What the child does between fork and exec: async-signal-safe calls only, since another
// thread may have held a lock (malloc's among them) at the moment of the fork.
[[noreturn]] void becomeChild(const char* path, char* const* argv, char* const* envp,
                              Lifetime lifetime, pid_t parent, int errorPipe, int standardError) {
    if (lifetime == Lifetime::endsWithOrvel) {
        // The signal comes when the thread that forked ends: launches happen on the main thread,
        // whose end is the process's end.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // Orvel may have died before the request took effect; the signal would then never come.
        if (::getppid() != parent) {
            ::_exit(127);
        }
    }
    // Standard streams become the null device, or standard error the pipe it is kept through;
    // keep the pipes clear of them.
    if (errorPipe <= 2) {
        errorPipe = ::fcntl(errorPipe, F_DUPFD_CLOEXEC, 3);
    }
    if (standardError >= 0 && standardError <= 2) {
        standardError = ::fcntl(standardError, F_DUPFD_CLOEXEC, 3);
    }
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 ||
        ::dup2(standardError >= 0 ? standardError : null, 2) < 0) {
        const int error = errno;
        [[maybe_unused]] auto n = ::write(errorPipe, &error, sizeof error);
        ::_exit(127);
    }
    if (null > 2) {
        ::close(null);
    }
    // Default handling for every signal and an empty mask: the parent may catch or block
    // signals it reads through the run loop.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &defaults, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(path, argv, envp);
    const int error = errno;
    [[maybe_unused]] auto n = ::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

// Forks and execs the request, with standard streams on the null device, except standard error
// on `standardError` when that is a descriptor. An exec that fails is reported through a
// close-on-exec pipe, so the error comes back here with the system's words.
Result<pid_t> spawn(const LaunchRequest& request, Lifetime lifetime, int standardError = -1) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(request.executable.c_str()));
    for (const auto& argument : request.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    // Orvel's LANGUAGE names its own catalogue; the programs it starts speak as the user chose.
    const std::vector<std::string> environment = Localization::shared().userEnvironment();
    std::vector<char*> envp;
    for (const auto& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    const auto failed = [&](int error) {
        return Error{std::string(std::strerror(error)) + " (" + request.executable + ")"};
    };

    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        return failed(errno);
    }
    const pid_t parent = ::getpid();
    // Until the child has reset its signal handling, none of Orvel's handlers may run in it.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(errorPipe[0]);
        becomeChild(argv[0], argv.data(), envp.data(), lifetime, parent, errorPipe[1],
                    standardError);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(errorPipe[1]);
    if (pid < 0) {
        ::close(errorPipe[0]);
        return failed(forkError);
    }
    int childError = 0;
    ssize_t n;
    do {
        n = ::read(errorPipe[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    ::close(errorPipe[0]);
    if (n > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return failed(childError);
    }
    return pid;
}

bool isExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

LinuxProcesses::LinuxProcesses(std::vector<ProgramStandIn> standIns)
    : standIns_(std::move(standIns)) {}

std::vector<ProgramStandIn> LinuxProcesses::defaultStandIns() {
    const auto self = LinuxPaths::executablePath();
    if (!self) {
        Logger("processes")
            .error(self.error().message +
                   "; Orvel's own programs are looked for where they are installed.");
        return standInsFor(std::nullopt);
    }
    return standInsFor(*self);
}

std::vector<ProgramStandIn> LinuxProcesses::standInsFor(
    const std::optional<std::string>& runningProgram) {
    std::vector<std::string> caffeinate;
    // Beside an installed program, in a folder such as /usr/bin, a caffeinate may be anyone's.
    if (runningProgram && LinuxPaths::isInBuildTree(*runningProgram)) {
        caffeinate.push_back(runningProgram->substr(0, runningProgram->rfind('/')) + "/caffeinate");
    }
    // Installed, in libexec/orvel of the program's own prefix, wherever that was put.
    caffeinate.push_back(
        runningProgram
            ? LinuxPaths::besideProgram(*runningProgram, ORVEL_BINDIR_TO_LIBEXECDIR) + "/caffeinate"
            : ORVEL_INSTALL_LIBEXECDIR "/caffeinate");
    return {{"/usr/bin/caffeinate", std::move(caffeinate)}};
}

std::string LinuxProcesses::resolve(std::string_view path) const {
    for (const auto& standIn : standIns_) {
        if (standIn.path != path) {
            continue;
        }
        // Never the program at the path itself: on some systems another program has that name.
        for (const auto& candidate : standIn.candidates) {
            if (isExecutable(candidate)) {
                return candidate;
            }
        }
        return standIn.candidates.empty() ? std::string() : standIn.candidates.back();
    }
    return std::string(path);
}

bool LinuxProcesses::isExecutableFile(std::string_view path) {
    return isExecutable(resolve(path));
}

Result<std::shared_ptr<ChildProcess>> LinuxProcesses::launch(const LaunchRequest& original,
                                                             TerminationHandler onTermination) {
    // Children end with the thread that forks them: it must live as long as Orvel.
    ORVEL_ASSERT_MAIN_THREAD("LinuxProcesses::launch");
    LaunchRequest request = original;
    request.executable = resolve(original.executable);
    if (!isExecutable(request.executable)) {
        // posix_spawn would report a missing file only from the child's exec on some systems.
        const int error = ::access(request.executable.c_str(), F_OK) == 0 ? EACCES : ENOENT;
        return Error{std::string(std::strerror(error)) + " (" + request.executable + ")"};
    }
    auto state = std::make_shared<ChildState>();
    state->handler = std::move(onTermination);
    int standardError[2] = {-1, -1};
    if (request.keepStandardError && ::pipe2(standardError, O_CLOEXEC) != 0) {
        return Error{std::string(std::strerror(errno)) + " (" + request.executable + ")"};
    }
    auto pid = spawn(request, Lifetime::endsWithOrvel, standardError[1]);
    if (standardError[1] >= 0) {
        ::close(standardError[1]);
    }
    if (!pid) {
        if (standardError[0] >= 0) {
            ::close(standardError[0]);
        }
        return pid.error();
    }
    state->pid = *pid;
    // Without a pidfd (before Linux 5.3) the stream is read until every writer has closed it.
    const int exitFd =
        standardError[0] >= 0 ? static_cast<int>(::syscall(SYS_pidfd_open, *pid, 0)) : -1;
    std::thread([state, stream = standardError[0], exitFd] {
        reap(state, stream, exitFd);
    }).detach();
    return std::shared_ptr<ChildProcess>(std::make_shared<LinuxChildProcess>(state));
}

Result<int> LinuxProcesses::launchDetached(const LaunchRequest& original) {
    LaunchRequest request = original;
    request.executable = resolve(original.executable);
    auto pid = spawn(request, Lifetime::independent);
    if (!pid) {
        log_.error("A detached launch failed: " + pid.error().message);
        return pid.error();
    }
    const pid_t child = *pid;
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return child;
}

}  // namespace orvel
