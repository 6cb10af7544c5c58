#include "platform/linux/LinuxKeyboardBacklight.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "devices/KeyboardBacklight.h"
#include "platform/sim/SimBackedPlatform.h"
#include "support/OrvelTest.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

// The simulated machine with the keyboard backlight of a sysfs tree.
class LedMachine final : public SimBackedPlatform {
  public:
    explicit LedMachine(const std::string& sysRoot) : routes_(sysRoot) {}
    KeyboardBacklightRoutes& keyboardBacklightRoutes() override { return routes_; }
    LinuxKeyboardBacklight& leds() { return routes_; }

  private:
    LinuxKeyboardBacklight routes_;
};

class LinuxKeyboardBacklightTest : public test::OrvelTest {
  protected:
    // A writable copy of the fixture tree, on a machine of its own.
    LedMachine& install(const std::string& fixture) {
        releaseServices();
        const std::string root = scratch() + "/" + fixture;
        fs::remove_all(root);
        fs::copy(test::kSysfs + fixture, root, fs::copy_options::recursive);
        auto machine = std::make_unique<LedMachine>(root);
        LedMachine& m = *machine;
        Platform::install(std::move(machine));
        return m;
    }
    static std::string brightness(LedMachine& m) {
        std::ifstream in(m.leds().device() + "/brightness");
        std::string text;
        std::getline(in, text);
        return text;
    }
};

// Each device is written in its own range: a 0-255 device restoring 0.5 gets 128, not the 50 a
// scale found by trying would give it.
TEST_F(LinuxKeyboardBacklightTest, WritesLevelsInTheDevicesOwnRange) {
    struct Case {
        const char* fixture;
        int range;
        std::string found;
        std::string half;
    };
    const Case cases[] = {
        {"kbd-leds-max2", 2, "1", "1"},
        {"kbd-leds-max3", 3, "2", "2"},
        {"kbd-leds-max100", 100, "40", "50"},
        {"kbd-leds-max255", 255, "200", "128"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        LedMachine& m = install(c.fixture);
        EXPECT_EQ(m.leds().range(), c.range);
        KeyboardBacklight& backlight = services().keyboardBacklight();

        EXPECT_TRUE(backlight.setLevel(0.5));
        EXPECT_EQ(backlight.route(), "LED \u00d71");
        EXPECT_EQ(brightness(m), c.half);

        backlight.setLevel(std::stod(c.found) / c.range);
        backlight.setOff(true);
        EXPECT_EQ(brightness(m), "0");
        EXPECT_FALSE(backlight.lastFailure());
        backlight.setOff(false);
        EXPECT_EQ(brightness(m), c.found);
    }
}

TEST_F(LinuxKeyboardBacklightTest, AMachineWithoutAKeyboardBacklightHasNoRoute) {
    LedMachine& m = install("desktop");
    EXPECT_FALSE(m.leds().hasService());
    EXPECT_FALSE(m.leds().range());
    services().keyboardBacklight().setOff(true);
    EXPECT_EQ(services().keyboardBacklight().isAvailable(),
              KeyboardBacklight::Availability::Unavailable);
    EXPECT_EQ(services().keyboardBacklight().lastFailure(),
              "No controllable keyboard backlight found on this computer.");
}

}  // namespace
}  // namespace orvel
