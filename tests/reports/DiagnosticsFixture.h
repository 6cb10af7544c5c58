#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/SleepOptions.h"
#include "foundation/AppInfo.h"
#include "platform/sim/SimPlatform.h"
#include "reports/DiagnosticReport.h"
#include "ui/HeadlessHost.h"

namespace orvel::test {

// Compares a diagnostic text with tests/data/diagnostics/<name>; the program's version stands
// there as "{version}". ORVEL_UPDATE_GOLDEN=1 writes the file instead.
inline void expectGolden(const std::string& name, std::string text) {
    const std::string path = std::string(ORVEL_TEST_DATA) + "/diagnostics/" + name;
    const std::string version = appVersion();
    for (std::size_t at = 0; (at = text.find("Orvel " + version, at)) != std::string::npos;) {
        text.replace(at + 6, version.size(), "{version}");
        at += 6;
    }
    if (std::getenv("ORVEL_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing golden file " << path;
    std::ostringstream golden;
    golden << in.rdbuf();
    EXPECT_EQ(text, golden.str()) << name;
}

enum class Machine { laptop, desktop, closedLid };

// A machine the report and the self-test describe: its devices, panel, screens and power.
inline void buildMachine(SimPlatform& sim, ui::HeadlessHost& host, Machine machine) {
    sim.systemInfo().setOSName("Debian GNU/Linux 12 (bookworm)");
    sim.systemInfo().setKernelRelease("6.1.0-18-amd64");
    sim.systemInfo().setHardwareModel("20XW0055GE");
    // Orvel's own caffeinate stands behind the path the engine launches.
    sim.processes().setStandIn(kCaffeinatePath, "/usr/libexec/orvel/caffeinate");
    sim.processes().setExecutable("/usr/libexec/orvel/caffeinate", true);
    sim.permissions().setListenEvent(ListenEventAccess::granted);
    sim.permissions().setPreflight(true);
    sim.permissions().setAccessibility(true);
    sim.powerAssertions().setOtherHolders(
        {{"PreventUserIdleSystemSleep", 1}, {"PreventSystemSleep", 0}});
    const HidDevice internal{0,      "Apple Internal Keyboard / Trackpad",        "SPI", true,
                             0x05AC, {hid_usage::kKeyboard, hid_usage::kTouchPad}};
    const HidDevice mouse{0,     "MX Master 3", "Bluetooth Low Energy",
                          false, 0x046D,        {hid_usage::kMouse}};
    const HidDevice keyboard{0, "Keychron K2", "USB", false, 0x05AC, {hid_usage::kKeyboard}};
    const HidDevice hub{0, "USB Hub", "USB", false, 0x1234, {}};
    const DisplayDescription monitor{7, "DELL U2720Q", false, true};
    switch (machine) {
        case Machine::laptop:
            sim.hidDevices().attach(mouse);
            sim.hidDevices().attach(internal);
            host.setScreens({{{0, 0, 1512, 982.5}, "Built-in Retina Display"}});
            break;
        case Machine::desktop:
            sim.hidDevices().attach(keyboard);
            sim.hidDevices().attach(mouse);
            sim.hidDevices().attach(hub);
            sim.powerSources().removeBatteries();
            sim.displays().removeDisplay(SimDisplays::kBuiltInID);
            sim.displays().addDisplay(monitor, 0.9);
            sim.keyboardBacklightRoutes().setHasClient(false);
            sim.keyboardBacklightRoutes().setHasService(false);
            sim.systemInfo().setHardwareModel("OptiPlex 7090");
            sim.systemInfo().setChassisType(3);
            host.setScreens(
                {{{0, 0, 2560, 1440}, "DELL U2720Q"}, {{2560, 0, 1920.9, 1080}, "LG HDR FHD"}});
            break;
        case Machine::closedLid:
            sim.hidDevices().attach(keyboard);
            sim.hidDevices().attach(internal);
            sim.displays().setOnline(SimDisplays::kBuiltInID, false);
            sim.displays().addDisplay(monitor, 0.9);
            host.setScreens({{{0, 0, 2560, 1440}, "DELL U2720Q"}});
            break;
    }
}

inline const char* machineName(Machine machine) {
    switch (machine) {
        case Machine::laptop:
            return "laptop";
        case Machine::desktop:
            return "desktop";
        case Machine::closedLid:
            return "closed-lid";
    }
    return "";
}

}  // namespace orvel::test
