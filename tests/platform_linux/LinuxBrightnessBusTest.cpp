#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "devices/BuiltInDisplay.h"
#include "devices/KeyboardBacklight.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxKeyboardBacklight.h"
#include "platform/sim/SimBackedPlatform.h"
#include "support/BusTest.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using test::waitFor;

const DBusObject kLogindMock{"org.freedesktop.login1", "/org/freedesktop/login1",
                             "org.freedesktop.DBus.Mock"};
const DBusObject kUPowerMock{"org.freedesktop.UPower", "/org/freedesktop/UPower/KbdBacklight",
                             "org.freedesktop.DBus.Mock"};
constexpr const char* kSession = "c7";
constexpr const char* kRefusal = "org.freedesktop.DBus.Error.AccessDenied";
const std::string kNoResponse =
    "The backlight did not respond. Every known route was tried; neither UPower's keyboard "
    "backlight nor the kernel's LED device takes a new level on this model.";

// The simulated machine with the panel and keyboard backlight of a sysfs tree, on the bus.
class BrightnessMachine final : public SimBackedPlatform {
  public:
    BrightnessMachine(const std::string& sysRoot, std::shared_ptr<DBusConnection> bus,
                      std::shared_ptr<LogSink> log)
        : displays_(sysRoot, bus, kSession),
          keyboard_(sysRoot, bus, kSession),
          log_(std::move(log)) {}
    Displays& displays() override { return displays_; }
    Backlight& backlight() override { return displays_; }
    LinuxKeyboardBacklight& keyboardBacklightRoutes() override { return keyboard_; }
    std::shared_ptr<LogSink> logSink() override { return log_; }

  private:
    LinuxDisplays displays_;
    LinuxKeyboardBacklight keyboard_;
    std::shared_ptr<LogSink> log_;
};

class LinuxBrightnessBusTest : public test::BusTest {
  protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        releaseServices();
        root_ = ::testing::TempDir() + "orvel-brightness-" + std::to_string(::getpid());
        fs::remove_all(root_);
        for (const char* fixture : {"display-intel", "kbd-leds-max2"}) {
            fs::copy(test::kSysfs + fixture, root_,
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        }
    }
    void TearDown() override {
        if (::geteuid() != ::getuid()) {
            EXPECT_EQ(::seteuid(::getuid()), 0);
        }
        releaseServices();
        if (Platform::isInstalled()) {
            Platform::install(nullptr);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        BusTest::TearDown();
    }
    BrightnessMachine& install() {
        auto owned = std::make_unique<BrightnessMachine>(root_, system, log);
        BrightnessMachine& m = *owned;
        Platform::install(std::move(owned));
        EXPECT_TRUE(waitFor([&] { return system->namesKnown(); }));
        return m;
    }
    // Leaves the sysfs files readable but not writable for this process, as they are for a
    // user: as root by acting as nobody from now on, else by their mode.
    bool loseWriteAccess() {
        if (::getuid() != 0) {
            for (const auto* file : {kLed, kPanel}) {
                fs::permissions(root_ + file, fs::perms::owner_write, fs::perm_options::remove);
            }
            return true;
        }
        ::chmod(root_.c_str(), 0755);
        return ::seteuid(65534) == 0;
    }
    std::vector<std::tuple<std::string, std::string, std::uint32_t>> logindCalls() {
        std::vector<std::tuple<std::string, std::string, std::uint32_t>> calls;
        test::Reply reply = test::callAndWait(*probe, kLogindMock, "BrightnessCalls");
        if (!reply || DBusConnection::errorOf(reply.get())) {
            return calls;
        }
        const char *subsystem, *name;
        std::uint32_t value;
        sd_bus_message_enter_container(reply.get(), 'a', "(ssu)");
        while (sd_bus_message_read(reply.get(), "(ssu)", &subsystem, &name, &value) > 0) {
            calls.emplace_back(subsystem, name, value);
        }
        return calls;
    }
    std::vector<std::int32_t> upowerCalls() {
        std::vector<std::int32_t> calls;
        test::Reply reply = test::callAndWait(*probe, kUPowerMock, "SetCalls");
        if (!reply || DBusConnection::errorOf(reply.get())) {
            return calls;
        }
        std::int32_t value;
        sd_bus_message_enter_container(reply.get(), 'a', "i");
        while (sd_bus_message_read(reply.get(), "i", &value) > 0) {
            calls.push_back(value);
        }
        return calls;
    }

    static constexpr const char* kLed = "/class/leds/tpacpi::kbd_backlight/brightness";
    static constexpr const char* kPanel = "/class/drm/card0-eDP-1/intel_backlight/brightness";
    std::string root_;
};

TEST_F(LinuxBrightnessBusTest, FilesThisUserMayNotWriteAreWrittenThroughLogind) {
    startService("logind", std::string(R"({"brightness_session": ")") + kSession +
                               R"(", "sys_root": ")" + root_ + R"("})");
    install();
    if (!loseWriteAccess()) {
        GTEST_SKIP() << "cannot act as another user here";
    }
    services().keyboardBacklight().setOff(true);
    services().builtInDisplay().setDark(true);
    ASSERT_TRUE(waitFor([&] {
        return test::firstLine(root_ + kLed) == "0" && test::firstLine(root_ + kPanel) == "0";
    }));
    EXPECT_EQ(services().keyboardBacklight().route(), "LED \u00d71");
    services().keyboardBacklight().setOff(false);
    services().builtInDisplay().setDark(false);
    ASSERT_TRUE(waitFor([&] {
        return test::firstLine(root_ + kLed) == "1" && test::firstLine(root_ + kPanel) == "9600";
    }));
    using Call = std::tuple<std::string, std::string, std::uint32_t>;
    EXPECT_EQ(logindCalls(), (std::vector<Call>{{"leds", "tpacpi::kbd_backlight", 0},
                                                {"backlight", "intel_backlight", 0},
                                                {"leds", "tpacpi::kbd_backlight", 1},
                                                {"backlight", "intel_backlight", 9600}}));
}

TEST_F(LinuxBrightnessBusTest, ARefusalFromLogindIsReportedAndTheTrueLevelReadAgain) {
    startService("logind", std::string(R"({"brightness_session": ")") + kSession +
                               R"(", "sys_root": ")" + root_ + R"(", "refuse_brightness": ")" +
                               kRefusal + R"("})");
    BrightnessMachine& m = install();
    std::vector<std::uint32_t> refusedDisplays;
    auto watch = m.backlight().writeRefused.subscribe(
        [&](std::uint32_t id) { refusedDisplays.push_back(id); });
    if (!loseWriteAccess()) {
        GTEST_SKIP() << "cannot act as another user here";
    }
    KeyboardBacklight& keyboard = services().keyboardBacklight();
    EXPECT_TRUE(keyboard.setLevel(0));
    services().builtInDisplay().setBrightness(0);
    // In flight, each reads the level asked for.
    EXPECT_EQ(keyboard.route(), "LED \u00d71");
    EXPECT_EQ(services().builtInDisplay().level(), 0.0);

    ASSERT_TRUE(waitFor([&] { return keyboard.route() == "none" && !refusedDisplays.empty(); }));
    EXPECT_EQ(keyboard.lastFailure(), kNoResponse);
    EXPECT_EQ(refusedDisplays,
              std::vector<std::uint32_t>{*services().builtInDisplay().builtInDisplayID()});
    EXPECT_EQ(keyboard.level(), 0.5);
    EXPECT_EQ(services().builtInDisplay().level(), 0.5);
    EXPECT_EQ(test::firstLine(root_ + kLed), "1");
    EXPECT_EQ(test::firstLine(root_ + kPanel), "9600");
    for (const char* category : {"display", "backlight"}) {
        const auto lines = log->messages(category);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) {
                                    return line.starts_with("logind did not set the brightness");
                                }),
                  1)
            << category;
    }
}

TEST_F(LinuxBrightnessBusTest, UPowersKeyboardBacklightIsTheClientRouteAndItsLevelIsMirrored) {
    fs::remove_all(root_ + "/class/leds");
    startService("upower_kbd_backlight", R"({"max": 3, "brightness": 2})");
    BrightnessMachine& m = install();
    LinuxKeyboardBacklight& routes = m.keyboardBacklightRoutes();
    ASSERT_TRUE(waitFor([&] { return routes.hasClient(); }));
    EXPECT_EQ(routes.range(), 3);

    KeyboardBacklight& keyboard = services().keyboardBacklight();
    keyboard.setOff(true);
    EXPECT_EQ(keyboard.savedLevel(), 2.0 / 3);
    EXPECT_EQ(keyboard.route(), "UPower");
    // The user's keys bring it back; the next tick switches it off again.
    ASSERT_TRUE(waitFor([&] { return upowerCalls() == std::vector<std::int32_t>{0}; }));
    test::callAndWait(*probe, kUPowerMock, "Press",
                      [](sd_bus_message* call) { return sd_bus_message_append(call, "i", 3); });
    ASSERT_TRUE(waitFor([&] { return upowerCalls() == std::vector<std::int32_t>{0, 0}; }));
    keyboard.setOff(false);
    ASSERT_TRUE(waitFor([&] { return upowerCalls() == std::vector<std::int32_t>{0, 0, 2}; }));
    ASSERT_TRUE(waitFor([&] { return keyboard.level() == 2.0 / 3; }));
}

TEST_F(LinuxBrightnessBusTest, UPowerIsNotCalledWhenItsSetterChangedOrRefusesWhenItIs) {
    struct Case {
        const char* name;
        std::string parameters;
        std::vector<std::int32_t> calls;
        std::string logged;
        std::optional<std::string> failure;
    };
    const Case cases[] = {
        {"an argument fewer",
         R"({"set_signature": ""})",
         {},
         "private selector arity changed \u2014 skipping",
         std::nullopt},
        {"a refusal",
         std::string(R"({"refuse_set": ")") + kRefusal + R"("})",
         {0},
         std::string("UPower did not set the keyboard backlight: ") + kRefusal +
             ": refused by the test",
         kNoResponse},
    };
    fs::remove_all(root_ + "/class/leds");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startService("upower_kbd_backlight", c.parameters);
        BrightnessMachine& m = install();
        ASSERT_TRUE(waitFor([&] { return m.keyboardBacklightRoutes().hasClient(); }));
        KeyboardBacklight& keyboard = services().keyboardBacklight();
        keyboard.setLevel(0);
        ASSERT_TRUE(
            waitFor([&] { return keyboard.route() == "none" && upowerCalls() == c.calls; }));
        ASSERT_TRUE(waitFor([&] {
            const auto lines = log->messages("backlight");
            return std::count(lines.begin(), lines.end(), c.logged) == 1;
        })) << c.logged;
        EXPECT_EQ(keyboard.lastFailure(), c.failure);
        EXPECT_EQ(keyboard.level(), 1.0 / 3);

        releaseServices();
        Platform::install(nullptr);
        stopService("upower_kbd_backlight");
        log->clear();
    }
}

}  // namespace
}  // namespace orvel
