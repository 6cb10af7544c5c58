// A stand-in for Orvel in tests of child lifetimes: it launches a child the way Orvel does and
// then waits to be killed.
//
//   orvel_test_launcher launch PROGRAM [ARGUMENTS…]   a child that belongs to Orvel; prints its pid
//   orvel_test_launcher detach PROGRAM [ARGUMENTS…]   a detached child
//   orvel_test_launcher hold FILE                     blocks SIGTERM (so that one sent stays
//                                                     pending), then writes its pid to FILE

#include "platform/linux/LinuxProcesses.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "hold") {
        return hold(args[1]);
    }
    if (args.size() < 2 || (args[0] != "launch" && args[0] != "detach")) {
        std::fputs("usage: orvel_test_launcher launch|detach PROGRAM [ARGUMENTS…] | hold FILE\n",
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
