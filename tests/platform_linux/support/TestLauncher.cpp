// A stand-in for Orvel in tests of child lifetimes: it launches a child the way Orvel does and
// then waits to be killed.
//
//   orvel_test_launcher launch PROGRAM [ARGUMENTS…]   a child that belongs to Orvel; prints its pid
//   orvel_test_launcher detach PROGRAM [ARGUMENTS…]   a detached child
//   orvel_test_launcher hold FILE                     blocks SIGTERM (so that one sent stays
//                                                     pending), then writes its pid to FILE
//   orvel_test_launcher foreign FOLDER PROGRAM [ARGUMENTS…]
//       runs PROGRAM in a user and mount namespace of its own where /usr/bin also holds what
//       FOLDER/upper holds (an overlay, with FOLDER/work as its work folder): a host with
//       programs of its own there. Exits with 77 where namespaces or overlays are refused.

#include "platform/linux/LinuxProcesses.h"

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void waitToBeKilled() {
    for (;;) {
        ::pause();
    }
}

int hold(const std::string& file) {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, nullptr);
    // Written whole, then renamed: a reader never sees half a number.
    const std::string partial = file + ".partial";
    std::ofstream(partial) << ::getpid() << "\n";
    std::filesystem::rename(partial, file);
    waitToBeKilled();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.close();
    return static_cast<bool>(file);
}

int refused(const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
    return 77;
}

int runWithForeignPrograms(const std::string& folder, const std::vector<std::string>& program) {
    const std::string uid = std::to_string(::getuid());
    const std::string gid = std::to_string(::getgid());
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        return refused("unshare");
    }
    // Mapped to the same ids, so that the program runs as the user who started it.
    writeFile("/proc/self/setgroups", "deny");
    if (!writeFile("/proc/self/uid_map", uid + " " + uid + " 1") ||
        !writeFile("/proc/self/gid_map", gid + " " + gid + " 1")) {
        return refused("id maps");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return refused("private mounts");
    }
    const std::string options =
        "lowerdir=/usr/bin,upperdir=" + folder + "/upper,workdir=" + folder + "/work";
    if (::mount("overlay", "/usr/bin", "overlay", 0, options.c_str()) != 0) {
        return refused("overlay on /usr/bin");
    }
    std::vector<char*> argv;
    for (const auto& argument : program) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::fprintf(stderr, "%s: %s\n", argv[0], std::strerror(errno));
    return 127;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "hold") {
        return hold(args[1]);
    }
    if (args.size() >= 3 && args[0] == "foreign") {
        return runWithForeignPrograms(args[1], {args.begin() + 2, args.end()});
    }
    if (args.size() < 2 || (args[0] != "launch" && args[0] != "detach")) {
        std::fputs(
            "usage: orvel_test_launcher launch|detach PROGRAM [ARGUMENTS…] | hold FILE | "
            "foreign FOLDER PROGRAM [ARGUMENTS…]\n",
            stderr);
        return 2;
    }
    const orvel::LaunchRequest request{args[1], {args.begin() + 2, args.end()}};
    orvel::LinuxProcesses processes;
    if (args[0] == "detach") {
        if (auto launched = processes.launchDetached(request); !launched) {
            std::fprintf(stderr, "%s\n", launched.error().message.c_str());
            return 1;
        }
    } else {
        auto child = processes.launch(request, nullptr);
        if (!child) {
            std::fprintf(stderr, "%s\n", child.error().message.c_str());
            return 1;
        }
        std::printf("%d\n", child.value()->pid());
        std::fflush(stdout);
    }
    waitToBeKilled();
}
