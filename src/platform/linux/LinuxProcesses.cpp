#include "platform/linux/LinuxProcesses.h"

#include "foundation/Log.h"
#include "platform/linux/LinuxPaths.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

extern char** environ;

namespace orvel {

namespace {

// Shared by the handle and the reaper thread, so either may go first.
struct ChildState {
    pid_t pid = -1;
    std::mutex mutex;
    bool exited = false;
    int status = -1;
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

void reap(const std::shared_ptr<ChildState>& state) {
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
        handler = std::move(state->handler);
        state->handler = nullptr;
    }
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
    void terminate() override {
        std::lock_guard lock(state_->mutex);
        if (!state_->exited) {
            ::kill(state_->pid, SIGTERM);
        }
    }
    void clearTerminationHandler() override {
        std::lock_guard lock(state_->mutex);
        state_->handler = nullptr;
    }
    int terminationStatus() const override {
        std::lock_guard lock(state_->mutex);
        return state_->exited ? state_->status : -1;
    }

  private:
    std::shared_ptr<ChildState> state_;
};

// Spawns with standard streams on the null device, default signal handling and an empty
// signal mask (the parent may block signals it reads through the run loop).
Result<pid_t> spawn(const LaunchRequest& request) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(request.executable.c_str()));
    for (const auto& argument : request.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, request.executable.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return Error{std::string(std::strerror(error)) + " (" + request.executable + ")"};
    }
    return pid;
}

bool isExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> runningExecutableFolder() {
    const auto self = LinuxPaths::executablePath();
    if (!self) {
        Logger("processes")
            .error(self.error().message +
                   "; Orvel's own programs are looked for where they are installed.");
        return std::nullopt;
    }
    return self->substr(0, self->rfind('/'));
}

}  // namespace

LinuxProcesses::LinuxProcesses(std::vector<ProgramStandIn> standIns)
    : standIns_(std::move(standIns)) {}

std::vector<ProgramStandIn> LinuxProcesses::defaultStandIns() {
    std::vector<std::string> caffeinate;
    if (const auto folder = runningExecutableFolder()) {
        caffeinate.push_back(*folder + "/caffeinate");
    }
    caffeinate.push_back(ORVEL_INSTALL_LIBEXECDIR "/caffeinate");
    return {{"/usr/bin/caffeinate", std::move(caffeinate)}};
}

std::string LinuxProcesses::resolve(std::string_view path) const {
    std::string p(path);
    if (isExecutable(p)) {
        return p;
    }
    for (const auto& standIn : standIns_) {
        if (standIn.path != path) {
            continue;
        }
        for (const auto& candidate : standIn.candidates) {
            if (isExecutable(candidate)) {
                return candidate;
            }
        }
    }
    return p;
}

bool LinuxProcesses::isExecutableFile(std::string_view path) {
    return isExecutable(resolve(path));
}

Result<std::shared_ptr<ChildProcess>> LinuxProcesses::launch(const LaunchRequest& original,
                                                             TerminationHandler onTermination) {
    LaunchRequest request = original;
    request.executable = resolve(original.executable);
    if (!isExecutable(request.executable)) {
        // posix_spawn would report a missing file only from the child's exec on some systems.
        const int error = ::access(request.executable.c_str(), F_OK) == 0 ? EACCES : ENOENT;
        return Error{std::string(std::strerror(error)) + " (" + request.executable + ")"};
    }
    auto state = std::make_shared<ChildState>();
    state->handler = std::move(onTermination);
    auto pid = spawn(request);
    if (!pid) {
        return pid.error();
    }
    state->pid = *pid;
    std::thread([state] { reap(state); }).detach();
    return std::shared_ptr<ChildProcess>(std::make_shared<LinuxChildProcess>(state));
}

void LinuxProcesses::launchDetached(const LaunchRequest& original) {
    LaunchRequest request = original;
    request.executable = resolve(original.executable);
    auto pid = spawn(request);
    if (!pid) {
        return;
    }
    const pid_t child = *pid;
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace orvel
