#include "devices/InputBlocker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/OrvelTest.h"

namespace orvel {
namespace {

using Verdict = SimInput::Verdict;

constexpr std::uint32_t kKeyDown = 10;
constexpr std::uint32_t kLeftMouseDown = 1;
constexpr std::uint32_t kScroll = 22;
constexpr std::uint32_t kMagnify = 30;
constexpr const char* kNoDevice = "No built-in keyboard or trackpad found on this computer.";

HidDevice device(const char* product, const char* transport, bool builtIn,
                 std::vector<HidUsage> usages) {
    HidDevice d;
    d.product = product;
    d.transport = transport;
    d.builtIn = builtIn;
    d.vendorId = 1;
    d.usages = std::move(usages);
    return d;
}

class InputBlockerTest : public test::OrvelTest {
  protected:
    void SetUp() override {
        OrvelTest::SetUp();
        grant(true, true);
        auto& hid = sim().hidDevices();
        keyboard = hid.attach(device("AT Keyboard", "i8042", true, {hid_usage::kKeyboard}));
        touchpad =
            hid.attach(device("Touchpad", "I2C", true, {hid_usage::kTouchPad, hid_usage::kMouse}));
        externalKeyboard = hid.attach(device("USB Keyboard", "USB", false, {hid_usage::kKeyboard}));
        mouse = hid.attach(device("USB Mouse", "USB", false, {hid_usage::kMouse}));
        // Values of a built-in device long ago are not recent.
        loop().advance(10);
    }

    void grant(bool inputMonitoring, bool accessibility) {
        sim().permissions().setListenEvent(inputMonitoring ? ListenEventAccess::granted
                                                           : ListenEventAccess::denied);
        sim().permissions().setAccessibility(accessibility);
    }

    SimInput& input() { return sim().input(); }
    InputBlocker& blocker() { return services().inputBlocker(); }

    std::uint64_t keyboard = 0;
    std::uint64_t touchpad = 0;
    std::uint64_t externalKeyboard = 0;
    std::uint64_t mouse = 0;
};

const BlockingWay kWays[] = {BlockingWay::perDevice, BlockingWay::tapWithCorrelation};

const char* nameOf(BlockingWay way) {
    return way == BlockingWay::perDevice ? "per device" : "tap with correlation";
}

TEST_F(InputBlockerTest, KeyboardOnlyLeavesTheTouchpadFreeEitherWay) {
    for (auto way : kWays) {
        SCOPED_TRACE(nameOf(way));
        input().setWay(way);
        blocker().apply(true, false);
        ASSERT_EQ(blocker().lastFailure, std::nullopt);
        EXPECT_TRUE(blocker().isBlockingKeyboard());
        EXPECT_FALSE(blocker().isBlockingTrackpad());

        EXPECT_NE(input().send(keyboard, kKeyDown), Verdict::passed);
        const CursorPoint before = input().cursor();
        EXPECT_EQ(input().sendMotion(touchpad, 5, 3), Verdict::passed);
        EXPECT_EQ(input().cursor(), (CursorPoint{before.x + 5, before.y + 3}));
        EXPECT_EQ(input().send(touchpad, kLeftMouseDown), Verdict::passed);
        loop().advance(1);
        EXPECT_EQ(input().send(externalKeyboard, kKeyDown), Verdict::passed);
        EXPECT_EQ(input().send(mouse, kScroll), Verdict::passed);

        if (way == BlockingWay::perDevice) {
            EXPECT_EQ(input().silenced(), std::set<std::uint64_t>{keyboard});
            EXPECT_FALSE(input().tapInstalled());
        } else {
            EXPECT_EQ(input().observed(), std::set<std::uint64_t>{keyboard});
            EXPECT_EQ(input().tapMask(), (1u << 10) | (1u << 11) | (1u << 12));
        }
        blocker().stop();
        EXPECT_TRUE(input().silenced().empty());
        EXPECT_TRUE(input().observed().empty());
        EXPECT_FALSE(input().tapInstalled());
        EXPECT_EQ(input().send(keyboard, kKeyDown), Verdict::passed);
        loop().advance(1);
    }
}

TEST_F(InputBlockerTest, BothSilencesEveryBuiltInInputWhileExternalDevicesWork) {
    for (auto way : kWays) {
        SCOPED_TRACE(nameOf(way));
        input().setWay(way);
        blocker().apply(true, true);
        ASSERT_EQ(blocker().lastFailure, std::nullopt);
        const struct {
            std::uint64_t device;
            std::uint32_t type;
            bool passes;
        } events[] = {
            {keyboard, kKeyDown, false},   {touchpad, kLeftMouseDown, false},
            {touchpad, kScroll, false},    {touchpad, kMagnify, false},
            {mouse, kLeftMouseDown, true}, {externalKeyboard, kKeyDown, true},
        };
        for (const auto& e : events) {
            SCOPED_TRACE(e.type);
            loop().advance(1);
            const Verdict verdict = input().send(e.device, e.type);
            EXPECT_EQ(verdict == Verdict::passed, e.passes);
        }
        blocker().stop();
    }
}

TEST_F(InputBlockerTest, ABuiltInDeviceMadeAnewIsSwitchedOffAsSoonAsItShows) {
    input().setWay(BlockingWay::perDevice);
    blocker().apply(false, true);
    ASSERT_EQ(input().silenced(), std::set<std::uint64_t>{touchpad});
    // The kernel makes the touch pad anew after a resume: a new device.
    sim().hidDevices().detach(touchpad);
    const auto again = sim().hidDevices().attach(
        device("Touchpad", "I2C", true, {hid_usage::kTouchPad, hid_usage::kMouse}));
    EXPECT_EQ(input().send(again, kLeftMouseDown), Verdict::silenced);
    EXPECT_EQ(input().send(mouse, kLeftMouseDown), Verdict::passed);
    // External devices plugged in meanwhile, of the kind blocked or not, keep working.
    const auto usbKeyboard =
        sim().hidDevices().attach(device("USB Keyboard", "USB", false, {hid_usage::kKeyboard}));
    EXPECT_EQ(input().send(usbKeyboard, kKeyDown), Verdict::passed);
    const auto usbMouse =
        sim().hidDevices().attach(device("USB Trackball", "USB", false, {hid_usage::kMouse}));
    EXPECT_EQ(input().send(usbMouse, kLeftMouseDown), Verdict::passed);
    blocker().stop();
    EXPECT_TRUE(input().silenced().empty());
}

TEST_F(InputBlockerTest, TheCorrelationWindowDecidesNotTheDevice) {
    blocker().apply(true, true);
    struct Case {
        double after;
        bool externalKeyPasses;
    };
    const Case cases[] = {{0.0, false}, {0.149, false}, {0.150, true}, {2.0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        input().sendValue(keyboard, 0x07);
        loop().advance(c.after);
        EXPECT_EQ(input().send(externalKeyboard, kKeyDown) == Verdict::passed, c.externalKeyPasses);
        EXPECT_EQ(input().send(mouse, kLeftMouseDown), Verdict::passed)
            << "a keyboard value says nothing about the pointer";
        loop().advance(1);
    }
}

TEST_F(InputBlockerTest, AWallClockSteppedBackDropsNoExternalKey) {
    blocker().apply(true, true);
    input().sendValue(keyboard, 0x07);
    input().sendValue(touchpad, 0x01);
    loop().advance(1);
    loop().setNow(Date{loop().now().secondsSinceReferenceDate - 3600});
    EXPECT_EQ(input().send(externalKeyboard, kKeyDown), Verdict::passed);
    EXPECT_EQ(input().send(mouse, kLeftMouseDown), Verdict::passed);
}

TEST_F(InputBlockerTest, WithoutAWatchedDeviceTheExternalCensusDecides) {
    struct Case {
        const char* name;
        bool keepExternalKeyboard;
        bool keepMouse;
        bool keyPasses;
        bool clickPasses;
    };
    const Case cases[] = {
        {"both external kinds attached", true, true, true, true},
        {"no external keyboard", false, true, false, true},
        {"no external pointer", true, false, true, false},
        {"nothing external", false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        auto& hid = sim().hidDevices();
        if (!c.keepExternalKeyboard) {
            hid.detach(externalKeyboard);
        }
        if (!c.keepMouse) {
            hid.detach(mouse);
        }
        blocker().apply(true, true);
        ASSERT_EQ(blocker().lastFailure, std::nullopt);
        // The watched devices go away: no event can be told apart any more.
        hid.detach(keyboard);
        hid.detach(touchpad);
        loop().advance(1);
        EXPECT_EQ(input().send(externalKeyboard, kKeyDown) == Verdict::passed, c.keyPasses);
        EXPECT_EQ(input().send(mouse, kLeftMouseDown) == Verdict::passed, c.clickPasses);
    }
}

TEST_F(InputBlockerTest, BuiltInMotionIsHeldAtTheAnchorAndExternalMotionMovesIt) {
    input().setCursor({100, 100});
    blocker().apply(false, true);
    ASSERT_EQ(blocker().anchor(), (CursorPoint{100, 100}));

    EXPECT_EQ(input().sendMotion(touchpad, 10, 10), Verdict::rewritten);
    EXPECT_EQ(input().cursor(), (CursorPoint{100, 100})) << "held at the anchor";
    EXPECT_EQ(input().warps(), (std::vector<CursorPoint>{{100, 100}}));

    loop().advance(1);
    EXPECT_EQ(input().sendMotion(mouse, 30, -20), Verdict::passed);
    EXPECT_EQ(input().cursor(), (CursorPoint{130, 80}));
    EXPECT_EQ(blocker().anchor(), (CursorPoint{130, 80})) << "the anchor follows";

    EXPECT_EQ(input().sendMotion(touchpad, -50, 5, 6), Verdict::rewritten);
    EXPECT_EQ(input().cursor(), (CursorPoint{130, 80}));
}

TEST_F(InputBlockerTest, BuiltInMotionWithoutAnAnchorIsDropped) {
    input().setCursorReadable(false);
    blocker().apply(false, true);
    ASSERT_EQ(blocker().anchor(), std::nullopt);
    const CursorPoint before = input().cursor();
    EXPECT_EQ(input().sendMotion(touchpad, 10, 10), Verdict::dropped);
    EXPECT_EQ(input().cursor(), before);
    EXPECT_TRUE(input().warps().empty());
}

TEST_F(InputBlockerTest, ATapTheSystemTurnedOffIsTurnedBackOn) {
    blocker().apply(true, false);
    input().disableTap();
    EXPECT_TRUE(input().tapEnabled());
    EXPECT_NE(input().send(keyboard, kKeyDown), Verdict::passed);
}

TEST_F(InputBlockerTest, AFailedApplyLeavesNothingBlockedAndTheFlagDown) {
    struct Case {
        const char* name;
        BlockingWay way;
        std::function<void()> arrange;
        const char* failure;
    };
    const std::string staleTap =
        "Could not watch the event devices. Input device control may have been taken back "
        "\u2014 see Input device access in Help, then quit and relaunch.";
    const Case cases[] = {
        {"tap refused", BlockingWay::tapWithCorrelation, [this] { input().failTap(true); },
         staleTap.c_str()},
        {"no device opens", BlockingWay::tapWithCorrelation,
         [this] {
             input().failOpen(keyboard);
             input().failOpen(touchpad);
         },
         kNoDevice},
        {"no device can be switched off", BlockingWay::perDevice,
         [this] {
             input().failSilence(keyboard);
             input().failSilence(touchpad);
         },
         kNoDevice},
        {"no built-in device", BlockingWay::perDevice,
         [this] {
             sim().hidDevices().detach(keyboard);
             sim().hidDevices().detach(touchpad);
         },
         kNoDevice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        input().setWay(c.way);
        c.arrange();
        blocker().apply(true, true);
        EXPECT_EQ(blocker().lastFailure, std::string(c.failure));
        EXPECT_FALSE(services().inputBlocker().hidAccess());
        EXPECT_FALSE(blocker().isBlockingKeyboard() || blocker().isBlockingTrackpad());
        EXPECT_TRUE(input().silenced().empty());
        EXPECT_TRUE(input().observed().empty());
        EXPECT_FALSE(input().tapInstalled());
    }
}

TEST_F(InputBlockerTest, OneDeviceThatCannotBeHeldIsLoggedAndTheOthersAreBlocked) {
    for (auto way : kWays) {
        SCOPED_TRACE(nameOf(way));
        input().setWay(way);
        input().failOpen(touchpad);
        input().failSilence(touchpad);
        blocker().apply(true, true);
        EXPECT_EQ(blocker().lastFailure, std::nullopt);
        const auto held = way == BlockingWay::perDevice ? input().silenced() : input().observed();
        EXPECT_EQ(held, std::set<std::uint64_t>{keyboard});
        const auto errors = sim().log().messages("input");
        EXPECT_NE(std::find_if(errors.begin(), errors.end(),
                               [](const std::string& m) {
                                   return m.rfind("could not", 0) == 0 &&
                                          m.find("Touchpad") != std::string::npos;
                               }),
                  errors.end());
        blocker().stop();
        EXPECT_FALSE(services().inputBlocker().hidAccess());
    }
}

TEST_F(InputBlockerTest, AMissingPermissionKeepsOnlyWhatIsBlockedAsAsked) {
    struct Case {
        const char* name;
        bool keyboard;
        bool trackpad;
        bool stillBlocking;
    };
    const Case cases[] = {
        {"the same request", true, false, true},
        {"the trackpad instead", false, true, false},
        {"both", true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        input().setWay(BlockingWay::perDevice);
        grant(true, true);
        blocker().apply(true, false);
        ASSERT_EQ(input().silenced(), std::set<std::uint64_t>{keyboard});

        grant(true, false);
        blocker().apply(c.keyboard, c.trackpad);
        EXPECT_EQ(blocker().lastFailure,
                  std::string("Needs Input device control. Enable in Settings installs Orvel's "
                              "udev rule; see Input device access in Help."));
        EXPECT_EQ(blocker().isBlockingKeyboard(), c.stillBlocking);
        EXPECT_EQ(!input().silenced().empty(), c.stillBlocking);
        EXPECT_EQ(services().inputBlocker().hidAccess(), c.stillBlocking);
        blocker().stop();
    }
}

TEST_F(InputBlockerTest, NamesEveryMissingPermission) {
    grant(false, false);
    blocker().apply(true, true);
    EXPECT_EQ(blocker().lastFailure,
              std::string("Needs Input device access and Input device control. Enable in Settings "
                          "installs Orvel's udev rule; see Input device access in Help."));
    EXPECT_FALSE(services().inputBlocker().hidAccess());
}

TEST_F(InputBlockerTest, TheBlockingLogNamesEachFlagTrueOrFalse) {
    struct Case {
        bool keyboard;
        bool trackpad;
        const char* logged;
    };
    const Case cases[] = {
        {true, false, "blocking built-in input (keyboard: true, trackpad: false)"},
        {false, true, "blocking built-in input (keyboard: false, trackpad: true)"},
        {true, true, "blocking built-in input (keyboard: true, trackpad: true)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        sim().log().clear();
        blocker().apply(c.keyboard, c.trackpad);
        const auto logged = sim().log().messages("input");
        EXPECT_EQ(std::count(logged.begin(), logged.end(), c.logged), 1);
        blocker().stop();
    }
}

TEST_F(InputBlockerTest, ApplyingNothingStops) {
    blocker().apply(true, true);
    ASSERT_TRUE(blocker().isBlockingTrackpad());
    blocker().apply(false, false);
    EXPECT_FALSE(blocker().isBlockingKeyboard() || blocker().isBlockingTrackpad());
    EXPECT_FALSE(input().tapInstalled());
    EXPECT_FALSE(services().inputBlocker().hidAccess());
}

TEST_F(InputBlockerTest, FollowsExternalDevicesAsTheyComeAndGo) {
    blocker().apply(true, true);
    EXPECT_TRUE(blocker().hasExternalKeyboard());
    sim().hidDevices().detach(externalKeyboard);
    EXPECT_FALSE(blocker().hasExternalKeyboard());
    EXPECT_TRUE(blocker().hasExternalPointer());
    sim().hidDevices().detach(mouse);
    blocker().refreshExternalDevices();
    EXPECT_FALSE(blocker().hasExternalPointer());
}

// Run under ThreadSanitizer by the tsan preset: values arrive on their own thread while the
// main thread filters.
TEST_F(InputBlockerTest, FiltersWhileTheInputThreadNotesValues) {
    blocker().apply(true, true);
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread inputThread([&] {
        do {
            input().sendValue(keyboard, 0x07);
            input().sendValue(touchpad, 0x01);
            ++sent;
        } while (!done.load());
    });
    for (int i = 0; i < 2000 || sent.load() < 100; ++i) {
        TapEvent event;
        event.type = kKeyDown;
        blocker().filter(event.type, &event);
    }
    done = true;
    inputThread.join();
    EXPECT_NE(input().send(externalKeyboard, kKeyDown), Verdict::passed)
        << "the thread's last value is within the window";
    loop().advance(1);
    EXPECT_EQ(input().send(externalKeyboard, kKeyDown), Verdict::passed);
}

}  // namespace
}  // namespace orvel
