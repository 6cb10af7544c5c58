// Input blocking: the tap's filter per event (time and allocations, on the simulated machine's
// tap way), and the Linux drain loop fed 1,000 events a second through a socketpair (CPU).

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "Figures.h"
#include "app/compose/Services.h"
#include "devices/InputBlocker.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxInputBlocking.h"
#include "platform/sim/SimPlatform.h"

namespace {
std::atomic<long> allocations{0};
}

// None of them inlined: g++ would then take the malloc() and free() within for a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace orvel {
namespace {

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void benchFilter() {
    RunLoop::install(std::make_unique<VirtualRunLoop>());
    auto owned = std::make_unique<SimPlatform>();
    SimPlatform& sim = *owned;
    Platform::install(std::move(owned));
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    sim.permissions().setListenEvent(ListenEventAccess::granted);
    sim.permissions().setAccessibility(true);
    HidDevice keyboard;
    keyboard.product = "AT Keyboard";
    keyboard.builtIn = true;
    keyboard.usages = {hid_usage::kKeyboard, hid_usage::kTouchPad};
    const auto id = sim.hidDevices().attach(keyboard);
    InputBlocker& blocker = graph->inputBlocker();
    blocker.apply(true, true);

    constexpr int kRounds = 20;
    constexpr int kEvents = 100000;
    // Motion is left out: its warp goes to the simulated cursor, whose record allocates.
    const std::uint32_t types[] = {10, 11, 12, 1, 22, 30};
    std::vector<double> perEvent;
    long allocated = 0;
    for (int round = 0; round < kRounds; ++round) {
        sim.input().sendValue(id, round % 2 == 0 ? 0x07 : 0x01);
        const long before = allocations.load();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kEvents; ++i) {
            TapEvent event;
            event.type = types[i % 6];
            blocker.filter(event.type, &event);
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        allocated += allocations.load() - before;
        perEvent.push_back(std::chrono::duration<double, std::nano>(elapsed).count() / kEvents);
    }
    const auto f = bench::summarise(perEvent);
    std::printf(
        "filter: %.1f ns per event (median of %d rounds of %d; p95 %.1f, max %.1f), "
        "%ld allocations\n",
        f.median, kRounds, kEvents, f.p95, f.max, allocated);
    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
}

void benchDrain() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        std::perror("socketpair");
        return;
    }
    UniqueFd writer(pair[1]);
    std::vector<UniqueFd> fds;
    fds.emplace_back(pair[0]);
    InputDrainThread drain(std::move(fds));
    constexpr int kSeconds = 5;
    constexpr int kRate = 1000;
    const char event[24] = {};
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSeconds * kRate; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / kRate));
        if (::write(writer.get(), event, sizeof event) < 0) {
            std::perror("write");
            return;
        }
    }
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (drain.drainedBytes() < sizeof event * kSeconds * kRate &&
           std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf(
        "drain loop: %d events/s for %d s, %llu bytes drained, %.2f%% of one core "
        "(process, feeder included)\n",
        kRate, kSeconds, static_cast<unsigned long long>(drain.drainedBytes()),
        100.0 * cpu / kSeconds);
}

}  // namespace
}  // namespace orvel

int main() {
    orvel::benchFilter();
    orvel::benchDrain();
    return 0;
}
