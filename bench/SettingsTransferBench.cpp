// The settings file with 200 rules and 50 drives on the simulated machine: the key derivation of
// new sealed files (scrypt N 2^17, r 8, p 1), then export and import, plain and sealed, with the
// file sizes. Derivation is wall time on one thread (it is what a user waits for); the rest is
// the main thread's CPU time. Prints median and 95th percentile.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/sim/SimPlatform.h"
#include "settings/SettingsTransfer.h"
#include "triggers/TriggerEngine.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;
using bench::threadMicros;

namespace {

void print(const char* what, const std::vector<double>& samples, const char* unit = "us",
           double scale = 1) {
    const Figures f = summarise(samples);
    std::printf("%-52s median %10.1f %s   p95 %10.1f %s\n", what, f.median / scale, unit,
                f.p95 / scale, unit);
}

std::vector<TriggerRule> makeRules(SimPlatform& sim) {
    std::vector<TriggerRule> rules;
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        TriggerRule bt;
        bt.source = TriggerSource::bluetooth;
        bt.name = "Headphones " + n;
        bt.btAddress = "A4:83:E7:00:00:" + n;
        sim.bluetooth().pair(BluetoothDevice{*bt.btAddress, bt.name, false});
        TriggerRule wifi;
        wifi.source = TriggerSource::wifiSSID;
        wifi.name = "WiFi " + n;
        wifi.matcher = NetworkMatcher::ssid("Net/" + n);
        TriggerRule net;
        net.source = TriggerSource::network;
        net.name = "Gateway " + n;
        net.matcher = NetworkMatcher::gateway("192.168.0." + n);
        TriggerRule schedule;
        schedule.source = TriggerSource::schedule;
        schedule.name = "Once " + n;
        schedule.schedKind = "oneshot";
        schedule.schedDate = Date::fromUnix(1796720400.0 + i * 3600);
        schedule.firedAt = Date::fromUnix(1796000000.0 + i);
        TriggerRule app;
        app.source = TriggerSource::app;
        app.name = "App " + n;
        app.appBundleID = "org.example.App" + n;
        for (auto* rule : {&bt, &wifi, &net, &schedule, &app}) {
            rules.push_back(*rule);
        }
    }
    return rules;
}

std::vector<DriveKeepAlive::Drive> makeDrives() {
    std::vector<DriveKeepAlive::Drive> drives;
    for (int i = 0; i < 50; ++i) {
        DriveKeepAlive::Drive drive;
        drive.id = "UUID-" + std::to_string(i);
        drive.name = "Disk " + std::to_string(i);
        drive.path = "/media/user/Disk " + std::to_string(i) + "/";
        drive.enabled = true;
        drive.intervalOverride = 600;
        drive.lastRead = Date::fromUnix(1796720400.0);
        drives.push_back(drive);
    }
    return drives;
}

}  // namespace

int main() {
    const bench::Simulator simulator = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    VirtualRunLoop& loop = simulator.loop;
    SimPlatform& sim = simulator.sim;

    std::vector<double> derivations;
    std::vector<double> derivationsCpu;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = micros([&] {
            auto key = SettingsTransfer::makeSealingKey("correct horse battery staple");
            if (!key) {
                std::fprintf(stderr, "derivation failed: %s\n", key.error().message.c_str());
                std::exit(1);
            }
        });
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        derivations.push_back(took.count());
        derivationsCpu.push_back(cpu);
    }
    print("key derivation, scrypt N 2^17 r 8 p 1 (wall)", derivations, "ms", 1000);
    print("key derivation (the thread's CPU time)", derivationsCpu, "ms", 1000);

    {
        graph->triggerEngine().replaceAll(makeRules(sim), {});
        auto& drives = graph->driveKeepAlive();
        drives.drives = makeDrives();
        loop.drain();

        const auto key = *SettingsTransfer::makeSealingKey("correct horse battery staple");
        const auto owners = graph->settingsTransferOwners();
        std::vector<double> exportPlain;
        std::vector<double> exportSealed;
        Data plain;
        Data sealed;
        for (int i = 0; i < 50; ++i) {
            exportPlain.push_back(
                micros([&] { plain = *SettingsTransfer::exportData(owners, std::nullopt); }));
            exportSealed.push_back(micros([&] {
                sealed = *SettingsTransfer::encodeFileWithKey(
                    SettingsTransfer::exportDocument(owners), key);
            }));
        }
        print("export, plain (200 rules, 50 drives)", exportPlain);
        print("export, sealed with a derived key", exportSealed);
        std::printf("%-52s plain %zu bytes   sealed %zu bytes\n", "file size", plain.size(),
                    sealed.size());

        std::vector<double> importPlain;
        std::vector<double> importSealed;
        for (int i = 0; i < 50; ++i) {
            importPlain.push_back(micros(
                [&] { (void)SettingsTransfer::importDataWithKey(owners, plain, std::nullopt); }));
            loop.drain();
            importSealed.push_back(micros(
                [&] { (void)SettingsTransfer::importDataWithKey(owners, sealed, key.key); }));
            loop.drain();
        }
        print("import, plain (apply included)", importPlain);
        print("import, sealed with a derived key (apply included)", importSealed);
    }

    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    return 0;
}
