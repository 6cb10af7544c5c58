#include "support/HeadlessSway.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <gtest/gtest.h>

#include "support/RealThings.h"

namespace orvel::test {

namespace {
constexpr const char* kUnshare = "/usr/bin/unshare";
}  // namespace

HeadlessSway::HeadlessSway() {
    if (::access("/usr/bin/sway", X_OK) != 0) {
        why_ = "sway is not installed";
        return;
    }
    // Root is an ordinary user in a user namespace of its own, where what sway writes stays
    // root's outside: no account is needed.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot && ::access(kUnshare, X_OK) != 0) {
        why_ = "running as root, with no unshare to run sway in a user namespace";
        // CI is there to prove sway works: a machine that cannot run it fails.
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string_view(ci) == "true") {
            ADD_FAILURE() << why_;
        }
        return;
    }
    runtime_ = ::testing::TempDir() + "/orvel-sway-run-" + std::to_string(::getpid());
    std::filesystem::create_directories(runtime_);
    std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
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
        if (asRoot) {
            ::execl(kUnshare, "unshare", "--user", "--map-user=1000", "--map-group=1000", "--", env,
                    "-i", runtime.c_str(), home.c_str(), "WLR_BACKENDS=headless",
                    "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "/usr/bin/sway", "-c",
                    "/dev/null", nullptr);
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
