// What drive keep-alive costs. First the main thread's share: one scheduler tick with 50 due
// drives on the simulated machine, with the reads on the real worker thread. Then one read on a
// real disk for each read path: the worker's time and the bytes that reached the device
// (read_bytes of /proc/self/io: what the block layer was asked for).
//
//   orvel_bench_drives [folder on a disk] [reads]
//
// The folder defaults to the working directory; a 64 MiB file is written there and removed.

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Figures.h"
#include "app/compose/Services.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/PollRunLoop.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxUncachedReader.h"
#include "platform/sim/SimPlatform.h"

using namespace orvel;
using bench::Figures;
using bench::summarise;

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

long long readBytes() {
    auto data = readFile("/proc/self/io");
    if (!data) {
        return -1;
    }
    const std::string text = stringFromData(*data);
    const auto at = text.find("\nread_bytes: ");
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + 13);
}

void tickBenchmark() {
    RunLoop::install(std::make_unique<PollRunLoop>());
    auto owned = std::make_unique<SimPlatform>();
    SimPlatform& sim = *owned;
    Platform::install(std::move(owned));
    sim.log().setMinimumLevel(LogLevel::Error);
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    auto& loop = static_cast<PollRunLoop&>(RunLoop::main());

    constexpr int kDrives = 50;
    std::vector<VolumeInfo> volumes;
    for (int i = 0; i < kDrives; ++i) {
        const std::string n = std::to_string(i);
        volumes.push_back(
            VolumeInfo{"UUID-" + n, "Disk " + n, true, true, "/media/disk" + n, "/dev/sd" + n});
    }
    sim.volumes().setVolumes(volumes);
    DriveKeepAlive& keepAlive = graph->driveKeepAlive();
    loop.runFor(30, [&] { return keepAlive.drives().size() == kDrives; });
    for (const auto& d : std::vector<DriveKeepAlive::Drive>(keepAlive.drives())) {
        DriveKeepAlive::Drive on = d;
        on.enabled = true;
        on.lifecycle = DriveKeepAlive::Lifecycle::always;
        on.intervalOverride = 0;  // due at every tick
        keepAlive.update(on);
    }
    std::size_t expected = kDrives;
    loop.runFor(30, [&] { return sim.uncachedReader().reads().size() >= expected; });

    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        keepAlive.tick();
        samples.push_back(micros(start));
        expected += kDrives;
        loop.runFor(30, [&] { return sim.uncachedReader().reads().size() >= expected; });
    }
    const Figures f = summarise(samples);
    std::printf("tick with %d due drives, main thread: median %.1f us, p95 %.1f us\n", kDrives,
                f.median, f.p95);
    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
}

// The results coming back: on virtual time the simulated reads run inline, so a drain after a tick
// is the main thread's work for 50 stamps and saves (plus 50 trivial simulated reads).
void resultsBenchmark() {
    auto ownedLoop = std::make_unique<VirtualRunLoop>();
    VirtualRunLoop& loop = *ownedLoop;
    RunLoop::install(std::move(ownedLoop));
    auto owned = std::make_unique<SimPlatform>();
    SimPlatform& sim = *owned;
    Platform::install(std::move(owned));
    sim.log().setMinimumLevel(LogLevel::Error);
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    constexpr int kDrives = 50;
    std::vector<VolumeInfo> volumes;
    for (int i = 0; i < kDrives; ++i) {
        const std::string n = std::to_string(i);
        volumes.push_back(
            VolumeInfo{"UUID-" + n, "Disk " + n, true, true, "/media/disk" + n, "/dev/sd" + n});
    }
    sim.volumes().setVolumes(volumes);
    DriveKeepAlive& keepAlive = graph->driveKeepAlive();
    loop.drain();
    for (const auto& d : std::vector<DriveKeepAlive::Drive>(keepAlive.drives())) {
        DriveKeepAlive::Drive on = d;
        on.enabled = true;
        on.lifecycle = DriveKeepAlive::Lifecycle::always;
        on.intervalOverride = 0;
        keepAlive.update(on);
    }
    loop.drain();
    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) {
        keepAlive.tick();
        const auto start = Clock::now();
        loop.drain();
        samples.push_back(micros(start));
    }
    const Figures f = summarise(samples);
    std::printf("results of %d reads coming back, main thread: median %.1f us, p95 %.1f us\n",
                kDrives, f.median, f.p95);
    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
}

void readBenchmark(const std::string& folder, int reads) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) == 0 && info.f_type == 0x01021994) {
        std::printf("%s is on tmpfs: no device to reach; read figures skipped\n", folder.c_str());
        return;
    }
    const std::string file = folder + "/orvel-drive-bench.bin";
    constexpr std::size_t kSize = 64u << 20;
    if (!writeFileAtomically(file, std::string(kSize, 'x')).ok()) {
        std::printf("cannot write %s; read figures skipped\n", file.c_str());
        return;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);

    for (bool direct : {true, false}) {
        LinuxUncachedReader reader(direct);
        std::vector<double> samples;
        long long bytes = 0;
        int failures = 0;
        for (int i = 0; i < reads; ++i) {
            const long long before = readBytes();
            const auto start = Clock::now();
            auto read = reader.readBlock(file);
            samples.push_back(micros(start));
            bytes += readBytes() - before;
            failures += read.ok() ? 0 : 1;
        }
        const Figures f = summarise(samples);
        std::printf(
            "%s read on the worker: median %.1f us, p95 %.1f us, %.0f bytes to the "
            "device per read, %d failed of %d\n",
            direct ? "O_DIRECT" : "drop-behind", f.median, f.p95,
            static_cast<double>(bytes) / reads, failures, reads);
    }
    std::filesystem::remove(file);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : std::filesystem::current_path().string();
    const int reads = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    tickBenchmark();
    resultsBenchmark();
    readBenchmark(folder, reads);
    return 0;
}
