// OrvelWakeHelper: the root service that owns the machine's RTC wake alarm for Orvel's schedule
// rules. Options (tests point them at their own folders):
//   --socket PATH   the socket Orvel connects to
//   --rtc PATH      the wakealarm file
//   --state PATH    the file that keeps the dates across restarts
//   --client PATH   the one program served
//   --proc PATH     where the processes are listed

#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "foundation/Log.h"
#include "foundation/PollRunLoop.h"
#include "foundation/WakeHelperProtocol.h"
#include "wakehelper/Helper.h"
#include "wakehelper/HelperServer.h"
#include "wakehelper/RtcWakeScheduler.h"

using namespace orvel;

int main(int argc, char** argv) {
    HelperServerOptions server{wake_protocol::kDefaultSocketPath, ORVEL_HELPER_CLIENT};
    std::string rtc = "/sys/class/rtc/rtc0/wakealarm";
    std::string state = "/var/lib/orvel-wake-helper/wakes.json";
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            std::cerr << "OrvelWakeHelper: " << option << " needs a value\n";
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--socket") {
            server.socketPath = value;
        } else if (option == "--rtc") {
            rtc = value;
        } else if (option == "--state") {
            state = value;
        } else if (option == "--client") {
            server.clientExecutable = value;
        } else if (option == "--proc") {
            server.procRoot = value;
        } else {
            std::cerr << "OrvelWakeHelper: unknown option " << option << "\n";
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    auto ownedLoop = std::make_unique<PollRunLoop>();
    PollRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));
    RtcWakeScheduler scheduler(rtc);
    Helper helper(scheduler, state, [] { return RunLoop::main().now(); });
    helper.load();
    HelperServer listener(helper, server);
    if (auto started = listener.start(); !started.ok()) {
        Logger("helper").fault(started.error().message);
        std::cerr << "OrvelWakeHelper: " << started.error().message << "\n";
        return 1;
    }
    Logger("helper").notice(std::string(wake_protocol::kVersion) + " serves " +
                            server.clientExecutable + " on " + server.socketPath);
    loop.run();
    return 0;
}
