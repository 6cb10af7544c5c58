// Schedule rules and the wake helper: the main thread's CPU time of one schedule tick with 100
// schedule rules (half of them waking the machine, the helper active), the round trip of one
// 16-date sync to the real helper program over its socket, and how often the helper writes the
// RTC's alarm in an hour of 20-second syncs of an unchanged list (expected: never after the
// first).

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "Figures.h"
#include "app/compose/Services.h"
#include "foundation/PollRunLoop.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxHelperConnection.h"
#include "platform/sim/SimPlatform.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"

using namespace orvel;
using bench::Figures;
using bench::summarise;
using bench::threadMicros;

namespace {

void print(const char* what, const std::vector<double>& samples) {
    const Figures f = summarise(samples);
    std::printf("%-58s median %9.1f us   p95 %9.1f us\n", what, f.median, f.p95);
}

void tickWithHundredRules() {
    auto ownedLoop = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));
    auto ownedSim = std::make_unique<SimPlatform>();
    SimPlatform& sim = *ownedSim;
    Platform::install(std::move(ownedSim));
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    loop.setNow(Date::fromUnix(1781085600));
    sim.helperService().setStatus(helper_service_status::kEnabled);

    TriggerEngine& engine = graph->triggerEngine();
    engine.start();
    for (int i = 0; i < 100; ++i) {
        TriggerRule rule;
        rule.source = TriggerSource::schedule;
        rule.name = "Schedule " + std::to_string(i);
        rule.schedStartMin = (i * 37) % 1440;
        if (i % 3 == 0) {
            rule.schedEndMin = (*rule.schedStartMin + 90) % 1440;
        }
        if (i % 5 == 0) {
            rule.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
        }
        if (i % 10 == 9) {
            rule.schedKind = "oneshot";
            rule.schedDate = loop.now() + 86400.0 * i;
        }
        rule.wakeMac = i % 2 == 0;
        engine.add(rule);
    }
    loop.drain();
    std::vector<double> samples;
    for (int i = 0; i < 300; ++i) {
        loop.setNow(loop.now() + 20);
        const double start = threadMicros();
        graph->scheduleSource().tick();
        samples.push_back(threadMicros() - start);
        loop.drain();
    }
    print("schedule tick, 100 rules, wake dates synced", samples);
    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
}

void helperRoundTrips() {
    const auto folder =
        std::filesystem::temp_directory_path() / ("orvel-wake-bench-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string socket = (folder / "socket").string();
    const std::string wakealarm = (folder / "wakealarm").string();
    std::ofstream(wakealarm) << "";
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    const pid_t helper = ::fork();
    if (helper == 0) {
        ::execl(ORVEL_WAKE_HELPER_PROGRAM, ORVEL_WAKE_HELPER_PROGRAM, "--socket", socket.c_str(),
                "--rtc", wakealarm.c_str(), "--state", (folder / "wakes.json").c_str(), "--client",
                self, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    RunLoop::install(std::make_unique<PollRunLoop>());
    auto& loop = static_cast<PollRunLoop&>(RunLoop::main());
    loop.runFor(20, [&] { return std::filesystem::exists(socket); });

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, wakealarm.c_str(), IN_CLOSE_WRITE);
    auto writes = [&] {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
            count += static_cast<int>(got / static_cast<ssize_t>(sizeof(inotify_event)));
        }
        return count;
    };

    LinuxHelperConnection connection(socket);
    std::vector<Date> dates;
    for (int i = 0; i < 16; ++i) {
        dates.push_back(loop.now() + 3600.0 * (i + 1));
    }
    auto sync = [&] {
        std::optional<Result<std::int32_t>> reply;
        auto request = connection.send(dates, [&](Result<std::int32_t> r) { reply = r; });
        loop.runFor(20, [&] { return reply.has_value(); });
        return reply && reply->ok() && reply->value() == 0;
    };
    if (!sync()) {
        std::printf("the helper did not answer\n");
    }
    const int firstWrites = writes();
    // An hour of syncs every 20 s, sent back to back.
    int failures = 0;
    std::vector<double> samples;
    for (int i = 0; i < 180; ++i) {
        const auto start = std::chrono::steady_clock::now();
        failures += sync() ? 0 : 1;
        samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    print("16-date sync to the helper, round trip (wall clock)", samples);
    // inotify merges repeated events that were not read yet, so this counts writes only as
    // "none" or "some"; none is what an unchanged list must give.
    std::printf("%-58s %d (the first sync wrote: %s; failed syncs: %d)\n",
                "RTC write events in an hour of unchanged 20-s syncs", writes(),
                firstWrites > 0 ? "yes" : "no", failures);
    ::close(watch);
    ::kill(helper, SIGTERM);
    ::waitpid(helper, nullptr, 0);
    RunLoop::install(nullptr);
    std::filesystem::remove_all(folder);
}

}  // namespace

int main() {
    tickWithHundredRules();
    helperRoundTrips();
    return 0;
}
