#include "platform/linux/LinuxDisplays.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "platform/sim/SimBackedPlatform.h"
#include "support/OrvelTest.h"
#include "support/RealThings.h"
#include "ui/HeadlessHost.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

// The simulated machine with the displays of a sysfs tree.
class DrmMachine final : public SimBackedPlatform {
  public:
    explicit DrmMachine(const std::string& sysRoot) : displays_(sysRoot) {}
    Displays& displays() override { return displays_; }
    Backlight& backlight() override { return displays_; }

  private:
    LinuxDisplays displays_;
};

void writeLine(const std::string& path, const std::string& text) {
    std::ofstream(path) << text << "\n";
}

class LinuxDisplaysTest : public test::OrvelTest {
  protected:
    // A writable copy of a fixture tree.
    std::string copy(const std::string& fixture) {
        const std::string root = scratch() + "/" + fixture;
        fs::remove_all(root);
        fs::copy(test::kSysfs + fixture, root, fs::copy_options::recursive);
        return root;
    }
};

TEST_F(LinuxDisplaysTest, FindsTheBuiltInPanelAndItsOwnBacklight) {
    struct Case {
        const char* fixture;
        std::vector<std::string> online;
        std::optional<std::string> builtIn;
        std::optional<std::string> backlight;
        std::optional<double> level;
    };
    const Case cases[] = {
        {"display-intel", {"HDMI-A-1", "eDP-1"}, "eDP-1", "intel_backlight", 0.5},
        {"display-acpi", {"HDMI-A-1", "LVDS-1"}, "LVDS-1", "acpi_video0", 0.2},
        {"display-desktop", {"HDMI-A-1"}, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        LinuxDisplays displays(test::kSysfs + c.fixture);
        std::vector<std::string> online;
        std::optional<DisplayDescription> builtIn;
        for (const auto& d : displays.onlineDisplays()) {
            online.push_back(d.name);
            if (d.isBuiltIn) {
                builtIn = d;
            }
            if (!d.isBuiltIn) {
                EXPECT_FALSE(displays.backlightOf(d.id)) << d.name;
                EXPECT_FALSE(displays.level(d.id)) << d.name;
            }
        }
        EXPECT_EQ(online, c.online);
        EXPECT_EQ(builtIn ? std::optional<std::string>(builtIn->name) : std::nullopt, c.builtIn);
        if (builtIn) {
            const auto folder = displays.backlightOf(builtIn->id);
            ASSERT_TRUE(folder);
            EXPECT_EQ(fs::path(*folder).filename().string(), c.backlight);
            EXPECT_EQ(displays.level(builtIn->id), c.level);
        }
    }
}

TEST_F(LinuxDisplaysTest, DarkensThePanelNeverTheMonitorAndRestoresItsLevel) {
    const std::string root = copy("display-intel");
    releaseServices();
    Platform::install(std::make_unique<DrmMachine>(root));
    const std::string panel = root + "/class/drm/card0-eDP-1/intel_backlight/brightness";
    const std::string monitor = root + "/class/backlight/ddcci5/brightness";

    services().builtInDisplay().setDark(true);
    EXPECT_EQ(test::firstLine(panel), "0");
    writeLine(panel, "19200");  // the brightness keys
    loop().advance(0.5);
    EXPECT_EQ(test::firstLine(panel), "0");
    services().builtInDisplay().setDark(false);
    EXPECT_EQ(test::firstLine(panel), "9600");
    EXPECT_EQ(test::firstLine(monitor), "80");
}

TEST_F(LinuxDisplaysTest, AClosedLidTakesThePanelOffline) {
    const std::string root = copy("display-intel");
    writeLine(root + "/class/drm/card0-eDP-1/enabled", "disabled");
    LinuxDisplays displays(root);
    ASSERT_EQ(displays.onlineDisplays().size(), 1u);
    EXPECT_FALSE(displays.onlineDisplays()[0].isBuiltIn);
}

TEST_F(LinuxDisplaysTest, ConnectorsAreReadAgainAfterThreeSecondsOrWhenAskedButLevelsEveryTime) {
    const std::string root = copy("display-intel");
    const std::string status = root + "/class/drm/card0-eDP-1/status";
    LinuxDisplays displays(root);
    const auto panel = displays.onlineDisplays().at(1);
    ASSERT_TRUE(panel.isBuiltIn);

    writeLine(root + "/class/drm/card0-eDP-1/intel_backlight/brightness", "4800");
    writeLine(status, "disconnected");
    EXPECT_EQ(displays.level(panel.id), 0.25);
    EXPECT_EQ(displays.onlineDisplays().size(), 2u);
    loop().advance(3);
    EXPECT_EQ(displays.onlineDisplays().size(), 1u);
    EXPECT_FALSE(displays.level(panel.id));

    writeLine(status, "connected");
    loop().advance(1);
    EXPECT_EQ(displays.onlineDisplays().size(), 1u);
    displays.refresh();
    EXPECT_EQ(displays.onlineDisplays().size(), 2u);
}

// The device state on the Linux readers, with a window host that announces screen changes.
class LinuxScreensTest : public LinuxDisplaysTest {
  protected:
    void TearDown() override {
        LinuxDisplaysTest::TearDown();
        ui::UiHost::install(nullptr);
    }
    ui::HeadlessHost& installHost() {
        auto host =
            std::make_unique<ui::HeadlessHost>(ui::HostCapabilities::of(Platform::current()));
        ui::HeadlessHost& installed = *host;
        ui::UiHost::install(std::move(host));
        return installed;
    }
};

std::vector<std::string> onlineNames() {
    std::vector<std::string> names;
    for (const auto& display : Platform::current().displays().onlineDisplays()) {
        names.push_back(display.name);
    }
    return names;
}

TEST_F(LinuxScreensTest, AMonitorUnpluggedOrALidClosedIsSeenAsSoonAsTheScreensChange) {
    const std::string root = copy("display-intel");
    releaseServices();
    Platform::install(std::make_unique<DrmMachine>(root));
    ui::HeadlessHost& host = installHost();
    (void)services().deviceState();
    ASSERT_EQ(onlineNames(), (std::vector<std::string>{"HDMI-A-1", "eDP-1"}));

    writeLine(root + "/class/drm/card0-HDMI-A-1/status", "disconnected");
    host.setScreens({{{0, 0, 1440, 900}, "eDP-1"}});
    EXPECT_EQ(onlineNames(), std::vector<std::string>{"eDP-1"});

    writeLine(root + "/class/drm/card0-eDP-1/enabled", "disabled");
    host.setScreens({});
    EXPECT_EQ(onlineNames(), std::vector<std::string>{});
    EXPECT_FALSE(services().builtInDisplay().builtInDisplayID());
}

}  // namespace
}  // namespace orvel
