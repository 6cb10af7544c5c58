#include "support/HeadlessSway.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/RealThings.h"

namespace orvel::test {

HeadlessSway::HeadlessSway() {
    if (::access("/usr/bin/sway", X_OK) != 0) {
        why_ = "sway is not installed";
        return;
    }
    const passwd* user = ::geteuid() == 0 ? ::getpwnam("cloudsdk") : nullptr;
    if (::geteuid() == 0 && (user == nullptr || ::access("/usr/sbin/runuser", X_OK) != 0)) {
        why_ = "running as root, with no unprivileged user to run sway as";
        return;
    }
    runtime_ = ::testing::TempDir() + "/orvel-sway-run-" + std::to_string(::getpid());
    std::filesystem::create_directories(runtime_);
    std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
    if (user != nullptr && ::chown(runtime_.c_str(), user->pw_uid, user->pw_gid) != 0) {
        why_ = "the runtime folder could not be handed to " + std::string(user->pw_name);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string runtime = "XDG_RUNTIME_DIR=" + runtime_;
        const std::string home = "HOME=" + runtime_;
        const char* env = "/usr/bin/env";
        if (user != nullptr) {
            ::execl("/usr/sbin/runuser", "runuser", "-u", user->pw_name, "--", env, "-i",
                    runtime.c_str(), home.c_str(), "WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                    "WLR_LIBINPUT_NO_DEVICES=1", "/usr/bin/sway", "-c", "/dev/null", nullptr);
        } else {
            ::execl(env, "env", "-i", runtime.c_str(), home.c_str(), "WLR_BACKENDS=headless",
                    "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "/usr/bin/sway", "-c",
                    "/dev/null", nullptr);
        }
        ::_exit(127);
    }
    // Nothing wakes the loop while sway starts, so the folder is looked at until it is up.
    const bool up = test::waitUntil([&] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(runtime_, error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("sway-ipc.", 0) == 0 && entry.is_socket()) {
                socket_ = entry.path().string();
            } else if (name.rfind("wayland-", 0) == 0 && entry.is_socket()) {
                display_ = entry.path().string();
            }
        }
        if (!socket_.empty() && !display_.empty()) {
            return true;
        }
        return ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    });
    if (!up || socket_.empty() || display_.empty()) {
        why_ = "sway did not start here (headless, pixman renderer)";
    }
}

HeadlessSway::~HeadlessSway() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code error;
    std::filesystem::remove_all(runtime_, error);
}

}  // namespace orvel::test
