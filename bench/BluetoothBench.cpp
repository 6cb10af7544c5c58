// The Bluetooth source and the power centre with 20 paired devices and 20 rules (each with a
// battery floor) on the simulated machine: a connect until the engine has handled it, one
// battery poll, the Linux backend's battery read (its BlueZ mirror and the device supplies of a
// fixture tree; no bus call), and the timer wake-ups of one idle hour. Prints microseconds of the
// main thread's CPU time (median and 95th percentile): the machine may be shared.

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "Figures.h"
#include "QuietSimulator.h"
#include "app/compose/Services.h"
#include "core/OrvelController.h"
#include "foundation/Registry.h"
#include "foundation/VirtualRunLoop.h"
#include "platform/linux/LinuxBluetooth.h"
#include "platform/sim/SimPlatform.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

using namespace orvel;
using bench::Figures;
using bench::micros;
using bench::summarise;
using bench::threadMicros;

namespace {

void print(const char* what, const std::vector<double>& samples) {
    const Figures f = summarise(samples);
    std::printf("%-62s median %8.1f us   p95 %8.1f us\n", what, f.median, f.p95);
}

std::string address(int i) {
    char text[18];
    std::snprintf(text, sizeof text, "AA:BB:CC:DD:EE:%02X", i);
    return text;
}

}  // namespace

int main() {
    const bench::Simulator simulator = bench::installQuietSimulator();
    auto graph = std::make_unique<Services>(Platform::current());
    graph->receiveActivityEntries();
    VirtualRunLoop& loop = simulator.loop;
    SimPlatform& sim = simulator.sim;

    std::vector<TriggerRule> rules;
    std::vector<BluetoothBatteryLevel> levels;
    for (int i = 0; i < 20; ++i) {
        TriggerRule rule;
        rule.source = TriggerSource::bluetooth;
        rule.name = "Device " + std::to_string(i);
        rule.btAddress = address(i);
        rule.btBattEnd = 10;
        rule.btBattRecover = 30;
        sim.bluetooth().pair(BluetoothDevice{address(i), rule.name, false});
        levels.push_back({address(i), 80});
        rules.push_back(rule);
    }
    sim.bluetooth().setBatteryLevels(levels);
    {
        TriggerEngine& engine = graph->triggerEngine();
        OrvelController& controller = graph->controller();
        PowerTriggerCenter& center = graph->powerCenter();
        BluetoothTriggerSource& source = graph->bluetoothSource();
        engine.replaceAll(rules, {});
        engine.start();
        center.start();
        loop.drain();

        // The last device's rule: every rule is looked at.
        const std::string last = address(19);
        std::vector<double> connect;
        std::vector<double> edge;
        int missed = 0;
        for (int i = 0; i < 500; ++i) {
            connect.push_back(micros([&] { sim.bluetooth().connect(last); }));
            edge.push_back(micros([&] { loop.drain(); }));
            missed += controller.isActive() ? 0 : 1;
            sim.bluetooth().disconnect(last);
            loop.drain();
            controller.stop(true);
            loop.drain();
        }
        print("connect callback (queues the edge)", connect);
        print("next loop turn: availability refresh and handle (starts)", edge);
        std::printf("connects not handled within that turn: %d of 500\n", missed);

        std::vector<double> poll;
        for (int i = 0; i < 2000; ++i) {
            poll.push_back(
                micros([&] { loop.advance(BluetoothTriggerSource::kBatteryPollSeconds); }));
        }
        print("battery poll, 20 floors (includes the centre's ticks due)", poll);

        // One idle hour: count what wakes the main loop.
        const int readsBefore = sim.bluetooth().batteryReads();
        int evaluations = 0;
        Subscription counted = center.noticeRefreshed.subscribe([&] { ++evaluations; });
        loop.advance(3600);
        std::printf("timer wake-ups in one idle hour: battery poll %d, power evaluation %d\n",
                    sim.bluetooth().batteryReads() - readsBefore, evaluations);
        (void)source;
    }

    // The Linux backend answers from memory and the supplies' files; no bus call.
    LinuxBluetooth backend(
        nullptr, std::string(ORVEL_SOURCE_DIR) + "/tests/data/sysfs/desktop-with-bluetooth-mouse");
    std::vector<double> read;
    for (int i = 0; i < 2000; ++i) {
        read.push_back(micros([&] { (void)backend.batteryLevels(); }));
    }
    print("Linux battery levels (mirror + 2 device supplies)", read);

    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    return 0;
}
