#include "platform/linux/LinuxPlatform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/SleepEngine.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/sim/SimPaths.h"
#include "support/BusTest.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using test::BusTest;
using test::waitFor;

// Set in a run of the compatibility engine's case where /usr/bin/caffeinate is a foreign
// program: the file that program writes when it runs.
constexpr const char* kForeignCaffeinateRan = "ORVEL_TEST_FOREIGN_CAFFEINATE_RAN";

// The Linux platform installed as the program installs it, with the sleep engines on top.
class LinuxPlatformTest : public BusTest {
  protected:
    void SetUp() override {
        BusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        folder = fs::path(::testing::TempDir()) /
                 ("orvel-platform-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
    }
    void TearDown() override {
        engine.reset();
        Platform::install(nullptr);
        for (const auto& [name, value] : savedEnvironment) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        fs::remove_all(folder);
        BusTest::TearDown();
    }
    LinuxPlatform& install(bool withBuses = true) {
        LinuxPlatformConfig config;
        if (withBuses) {
            config.systemBus = system;
            config.sessionBus = session;
        }
        config.paths = std::make_unique<SimPaths>(folder.string());
        config.sysRoot = std::string(ORVEL_TEST_DATA) + "/sysfs/laptop-on-ac";
        config.autostartFolder = (folder / "autostart").string();
        config.program = "/bin/sh";
        config.logSink = log;
        config.standIns = {
            {"/usr/bin/caffeinate", {fs::path(ORVEL_CAFFEINATE).parent_path() / "caffeinate"}}};
        auto platform = std::make_unique<LinuxPlatform>(std::move(config));
        LinuxPlatform& installed = *platform;
        Platform::install(std::move(platform));
        return installed;
    }
    // Children of the platform find this bus through their environment.
    void putChildrenOnTheBus() {
        for (const auto& variable : busEnvironment()) {
            const std::string name = variable.substr(0, variable.find('='));
            const char* previous = getenv(name.c_str());
            savedEnvironment.emplace_back(
                name, previous ? std::optional<std::string>(previous) : std::nullopt);
            setenv(name.c_str(), variable.substr(name.size() + 1).c_str(), 1);
        }
    }

    // What keeps the machine awake: logind's blocking locks (the workspace's sleep delay lock
    // is always there) and the screen saver's cookies.
    std::vector<test::LogindInhibitor> blocking() {
        auto held = logindInhibitors();
        std::erase_if(held, [](const auto& inhibitor) { return inhibitor.mode != "block"; });
        return held;
    }
    bool nothingBlocks() {
        return eventually([&] { return blocking().empty() && screenSaverInhibitors().empty(); });
    }

    // The engine holds a sleep lock through Orvel's own program until it is stopped; a foreign
    // program that writes `foreignRan` when it runs stands at /usr/bin/caffeinate when given.
    void runCaffeinateUntilStopped(const std::string& foreignRan) {
        if (!foreignRan.empty()) {
            ASSERT_TRUE(fs::exists("/usr/bin/caffeinate")) << "no foreign program to refuse";
        }
        startService("logind");
        putChildrenOnTheBus();
        install();
        ASSERT_TRUE(Platform::current().processes().isExecutableFile(kCaffeinatePath));
        engine = CaffeinateEngine::make(Platform::current().processes());
        SleepOptions options;
        options.preventSystemSleep = true;
        bool exited = false;
        ASSERT_TRUE(engine->start(options, [&] { exited = true; }).ok());
        const auto ranForeign = [&] { return !foreignRan.empty() && fs::exists(foreignRan); };
        EXPECT_TRUE(eventually([&] {
            const auto held = blocking();
            return ranForeign() ||
                   (held.size() == 1 && held[0].what == "sleep" && held[0].mode == "block");
        }));
        EXPECT_FALSE(ranForeign()) << "Orvel ran the foreign /usr/bin/caffeinate";
        engine->stop();
        EXPECT_TRUE(nothingBlocks());
        EXPECT_FALSE(exited) << "a stop the owner asked for is not an exit";
    }

    fs::path folder;
    std::shared_ptr<SleepEngine> engine;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment;
};

TEST_F(LinuxPlatformTest, TheAssertionEngineHoldsUntilStoppedAndHandsEverythingBack) {
    startService("logind");
    startService("screensaver");
    ASSERT_TRUE(install().waitForServices(test::kLimit));
    engine = AssertionEngine::make(Platform::current().powerAssertions());
    SleepOptions options;
    options.preventDisplaySleep = options.preventIdleSleep = options.preventSystemSleep = true;
    options.preventDiskSleep = true;
    ASSERT_TRUE(engine->start(options, nullptr).ok());
    EXPECT_TRUE(
        eventually([&] { return blocking().size() == 3 && screenSaverInhibitors().size() == 1; }));
    // This process's locks in logind's listing are not counted again.
    EXPECT_TRUE(
        waitFor([&] { return Platform::current().powerAssertions().status().has_value(); }));
    EXPECT_EQ(Platform::current().powerAssertions().status(),
              (std::map<std::string, std::int64_t>{{"PreventDiskIdle", 1},
                                                   {"PreventSystemSleep", 1},
                                                   {"PreventUserIdleDisplaySleep", 1},
                                                   {"PreventUserIdleSystemSleep", 1}}));
    engine->stop();
    EXPECT_TRUE(nothingBlocks());
}

TEST_F(LinuxPlatformTest, AnEngineThatFailsHandsBackWhatItHadAlreadyTaken) {
    startService("screensaver");  // no logind: system sleep cannot be prevented
    ASSERT_TRUE(install().waitForServices(test::kLimit));
    engine = AssertionEngine::make(Platform::current().powerAssertions());
    SleepOptions options;
    options.preventDisplaySleep = options.preventSystemSleep = true;
    const auto started = engine->start(options, nullptr);
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error().localizedDescription(),
              "Could not take a logind inhibitor lock: logind is not running on this system.");
    EXPECT_TRUE(eventually([&] { return inhibitCalls("screensaver") == 1; }));
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(LinuxPlatformTest, TheCompatibilityEngineRunsOrvelsCaffeinateUntilStopped) {
    const char* foreignRan = getenv(kForeignCaffeinateRan);
    runCaffeinateUntilStopped(foreignRan ? foreignRan : "");
    if (foreignRan != nullptr || HasFailure()) {
        return;
    }
    // Again on a host where /usr/bin/caffeinate is another program, as some distributions have.
    const fs::path foreign = folder / "foreign";
    fs::create_directories(foreign / "upper");
    fs::create_directories(foreign / "work");
    const fs::path ran = foreign / "ran";
    std::ofstream(foreign / "upper/caffeinate")
        << "#!/bin/sh\necho \"$@\" > '" << ran.string() << "'\nexit 1\n";
    fs::permissions(foreign / "upper/caffeinate", fs::perms(0755));
    const std::string output = (foreign / "output").string();
    const auto self = LinuxPaths::executablePath();
    ASSERT_TRUE(self);
    const pid_t rerun = test::spawn(
        {ORVEL_TEST_LAUNCHER, "foreign", foreign.string(), *self,
         "--gtest_filter=LinuxPlatformTest.TheCompatibilityEngineRunsOrvelsCaffeinateUntilStopped"},
        // Its report is the outer run's to write.
        {std::string(kForeignCaffeinateRan) + "=" + ran.string(), "GTEST_OUTPUT="}, output);
    ASSERT_GT(rerun, 0);
    const int status = test::waitForExit(rerun);
    if (status < 0) {
        ::kill(rerun, SIGKILL);
        test::waitForExit(rerun);
    }
    // Overlayfs leaves a folder nobody may enter in its work folder.
    std::error_code ignored;
    fs::permissions(foreign / "work/work", fs::perms::owner_all, ignored);
    if (status == 77) {
        GTEST_SKIP() << "no mount namespace with an overlay here: " << test::readText(output);
    }
    EXPECT_EQ(status, 0) << test::readText(output);
    EXPECT_FALSE(fs::exists(ran)) << "Orvel ran the foreign /usr/bin/caffeinate with: "
                                  << test::readText(ran.string());
}

TEST_F(LinuxPlatformTest, ACaffeinateThatFailsAtOnceIsAFailureInItsOwnWords) {
    putChildrenOnTheBus();  // a bus without logind: no sleep lock can be had
    install();
    engine = CaffeinateEngine::make(Platform::current().processes());
    std::optional<SleepEngineError> failure;
    engine->onFailure = [&](const SleepEngineError& error) { failure = error; };
    SleepOptions options;
    options.preventSystemSleep = true;
    options.timeout = 3600;
    bool exited = false;
    ASSERT_TRUE(engine->start(options, [&] { exited = true; }).ok());
    ASSERT_TRUE(waitFor([&] { return failure || exited; }));
    EXPECT_FALSE(exited) << "a failure is not a finish";
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->localizedDescription(),
              "caffeinate failed: Could not take a logind inhibitor lock: logind is not running on "
              "this system.");
    EXPECT_EQ(log->messages("caffeinate").back(), failure->localizedDescription());
}

TEST_F(LinuxPlatformTest, WithoutBusesOnlyWhatNeedsThemIsUnavailable) {
    auto& platform = install(false);
    EXPECT_TRUE(platform.waitForServices(test::kLimit));
    EXPECT_EQ(platform.powerAssertions()
                  .createWithName(assertion_type::kPreventSystemSleep, kAssertionLevelOn, "Orvel")
                  .status,
              kIOReturnUnsupported);
    std::optional<bool> granted;
    platform.notifications().requestAuthorization(kNotificationAlert,
                                                  [&](bool answer) { granted = answer; });
    ASSERT_TRUE(waitFor([&] { return granted.has_value(); }));
    EXPECT_FALSE(*granted);
    EXPECT_FALSE(platform.powerSources().isLowPowerModeEnabled());

    // What needs no bus works as ever.
    const auto snapshot = platform.powerSources().snapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->providingPowerSourceType, std::optional<std::string>("AC Power"));
    platform.userDefaults().setBool("flag", true);
    platform.userDefaults().synchronize();
    EXPECT_TRUE(fs::exists(fs::path(platform.paths().configDirectory()) / "defaults.json"));
    EXPECT_TRUE(platform.loginItems().registerItem().ok());
    EXPECT_EQ(platform.loginItems().status(), login_item_status::kEnabled);
}

}  // namespace
}  // namespace orvel
