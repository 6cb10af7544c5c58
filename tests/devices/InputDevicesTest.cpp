#include "devices/InputBlocker.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/UiTest.h"

namespace orvel {
namespace {

using ui::HeadlessHost;

HidDevice device(std::optional<std::string> product, std::optional<std::string> transport,
                 std::optional<bool> builtIn, std::optional<std::int64_t> vendor,
                 std::vector<HidUsage> usages = {}) {
    HidDevice d;
    d.product = std::move(product);
    d.transport = std::move(transport);
    d.builtIn = builtIn;
    d.vendorId = vendor;
    d.usages = std::move(usages);
    return d;
}

class InputDevicesTest : public test::UiTest {};

TEST_F(InputDevicesTest, ClassifiesBuiltInByTransportThenPropertyThenVendor) {
    struct Case {
        const char* name;
        HidDevice device;
        bool internal;
    };
    const Case cases[] = {
        {"bluetooth keyboard claiming built in", device("Keyboard", "Bluetooth", true, 76), false},
        {"BLE in any case", device("Keyboard", "BLE", true, 1452), false},
        {"built-in property", device("AT Keyboard", "i8042", true, 1), true},
        {"other vendor over SPI", device("Keyboard", "SPI", std::nullopt, 1133), false},
        {"maker over SPI", device("Keyboard", "SPI", std::nullopt, 1452), true},
        {"maker over FIFO", device("Trackpad", "FIFO", std::nullopt, 76), true},
        {"maker over USB", device("Magic Keyboard", "USB", false, 1452), false},
        {"maker over USB named internal",
         device("Apple Internal Keyboard / Trackpad", "USB", std::nullopt, 1452), true},
        {"named internal in capitals", device("INTERNAL TRACKPAD", "USB", std::nullopt, 76), true},
        {"named internal, other vendor", device("Internal Keyboard", "USB", std::nullopt, 1133),
         false},
        {"nothing known", device(std::nullopt, std::nullopt, std::nullopt, std::nullopt), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(InputBlocker::isInternal(c.device), c.internal);
    }
}

TEST_F(InputDevicesTest, DescribesADeviceOnOneLine) {
    struct Case {
        HidDevice device;
        const char* line;
    };
    const Case cases[] = {
        {device("AT Keyboard", "i8042", true, 1),
         "AT Keyboard \u00b7 i8042 \u00b7 BuiltIn yes \u00b7 vendor 0x0001"},
        {device("MX Master", "Bluetooth", false, 0x46d),
         "MX Master \u00b7 Bluetooth \u00b7 BuiltIn no \u00b7 vendor 0x046D"},
        {device(std::nullopt, std::nullopt, std::nullopt, std::nullopt),
         "unnamed device \u00b7 unknown bus \u00b7 BuiltIn no \u00b7 vendor 0x0000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InputBlocker::deviceDescription(c.device), c.line);
    }
}

TEST_F(InputDevicesTest, ListsNoDeviceWhileTheHidAccessFlagIsDown) {
    sim().hidDevices().attach(device("AT Keyboard", "i8042", true, 1, {hid_usage::kKeyboard}));
    EXPECT_TRUE(services().inputBlocker().currentHIDDevices().empty());
    EXPECT_FALSE(services().inputBlocker().externalPointerAttached());
    EXPECT_TRUE(services().inputBlocker().internalDeviceNames().empty());
    EXPECT_EQ(sim().hidDevices().enumerationCount(), 0u) << "the platform is not asked";
    {
        InputBlocker::HidAccessScope outer(services().inputBlocker());
        EXPECT_EQ(services().inputBlocker().currentHIDDevices().size(), 1u);
        { InputBlocker::HidAccessScope inner(services().inputBlocker()); }
        EXPECT_TRUE(services().inputBlocker().hidAccess())
            << "an inner scope puts back the raised flag";
    }
    EXPECT_FALSE(services().inputBlocker().hidAccess());
}

TEST_F(InputDevicesTest, NamesBuiltInInputDevicesAndFindsExternalOnesAsTheyComeAndGo) {
    auto& hid = sim().hidDevices();
    hid.attach(device("Touchpad", "I2C", true, 0x6cb, {hid_usage::kTouchPad}));
    hid.attach(device("AT Keyboard", "i8042", true, 1, {hid_usage::kKeyboard}));
    hid.attach(device("Power Button", "Host", true, 0));  // no input usage
    hid.attach(device(std::nullopt, "i8042", true, 1, {hid_usage::kPointer}));
    InputBlocker::HidAccessScope access(services().inputBlocker());

    EXPECT_EQ(services().inputBlocker().internalDeviceNames(),
              (std::vector<std::string>{"AT Keyboard", "Touchpad", "unnamed device"}));
    EXPECT_FALSE(services().inputBlocker().externalKeyboardAttached());
    EXPECT_FALSE(services().inputBlocker().externalPointerAttached());

    const auto mouse = hid.attach(device("USB Mouse", "USB", false, 0x46d, {hid_usage::kMouse}));
    EXPECT_FALSE(services().inputBlocker().externalKeyboardAttached());
    EXPECT_TRUE(services().inputBlocker().externalPointerAttached());

    const auto keyboard =
        hid.attach(device("Keyboard", "Bluetooth", true, 76, {hid_usage::kKeyboard}));
    EXPECT_TRUE(services().inputBlocker().externalKeyboardAttached());

    hid.detach(keyboard);
    hid.detach(mouse);
    EXPECT_FALSE(services().inputBlocker().externalKeyboardAttached());
    EXPECT_FALSE(services().inputBlocker().externalPointerAttached());
}

TEST_F(InputDevicesTest, ProbesBothPermissionsIntoTheCache) {
    struct Case {
        const char* name;
        ListenEventAccess access;
        std::optional<bool> preflight;
        bool handsOutDevices;
        bool accessibility;
        std::uint16_t status;
        std::vector<std::string> missing;
    };
    const Case cases[] = {
        {"both granted", ListenEventAccess::granted, std::nullopt, true, true, 0x0101, {}},
        {"none granted",
         ListenEventAccess::denied,
         std::nullopt,
         true,
         false,
         0x0000,
         {"Input device access", "Input device control"}},
        {"undecided counts as not granted",
         ListenEventAccess::undecided,
         std::nullopt,
         true,
         true,
         0x0100,
         {"Input device access"}},
        {"checks disagree, devices handed out",
         ListenEventAccess::denied,
         true,
         true,
         false,
         0x0001,
         {"Input device control"}},
        {"checks disagree, no device handed out",
         ListenEventAccess::denied,
         true,
         false,
         true,
         0x0100,
         {"Input device access"}},
    };
    sim().hidDevices().attach(device("AT Keyboard", "i8042", true, 1, {hid_usage::kKeyboard}));
    EXPECT_TRUE(services().inputBlocker().missingPermissions().empty()) << "never checked";
    EXPECT_FALSE(services().inputBlocker().cachedPermissions());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim().permissions().setListenEvent(c.access);
        sim().permissions().setPreflight(c.preflight);
        sim().permissions().setAccessibility(c.accessibility);
        sim().hidDevices().setHandsOutDevices(c.handsOutDevices);
        EXPECT_EQ(services().inputBlocker().permissionStatus(), c.status);
        EXPECT_EQ(services().inputBlocker().missingPermissions(), c.missing);
        EXPECT_FALSE(services().inputBlocker().hidAccess()) << "the probe puts the flag back";
    }
}

TEST_F(InputDevicesTest, RequestsInputMonitoringByPromptWhileUndecidedElseLeadsToSettings) {
    struct Case {
        const char* name;
        ListenEventAccess access;
        bool grantsOnRequest;
        std::optional<int> answer;  // none: no alert expected
        bool granted;
        std::vector<std::string> opened;
    };
    const std::string pane = "orvel-sim:permissions/input-monitoring";
    const Case cases[] = {
        {"undecided, allowed", ListenEventAccess::undecided, true, std::nullopt, true, {}},
        {"undecided, refused", ListenEventAccess::undecided, false, std::nullopt, false, {}},
        {"already granted", ListenEventAccess::granted, false, std::nullopt, true, {}},
        {"denied, open settings",
         ListenEventAccess::denied,
         false,
         ui::kAlertFirstButtonReturn,
         false,
         {pane}},
        {"denied, cancel",
         ListenEventAccess::denied,
         false,
         ui::kAlertSecondButtonReturn,
         false,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto alertsBefore = host().alerts().size();
        const auto urlsBefore = sim().workspace().openedURLs().size();
        const auto promptsBefore = sim().permissions().listenEventRequests();
        sim().permissions().setListenEvent(c.access);
        sim().permissions().setGrantsOnRequest(c.grantsOnRequest);
        if (c.answer) {
            host().scriptAlert(HeadlessHost::answer(*c.answer));
        }
        EXPECT_EQ(services().inputBlocker().requestInputMonitoring(), c.granted);
        EXPECT_EQ(sim().permissions().listenEventRequests() - promptsBefore,
                  c.access == ListenEventAccess::undecided ? 1u : 0u);
        ASSERT_EQ(host().alerts().size() - alertsBefore, c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(host().alerts().back()->content().messageText,
                      "Give Orvel input device access");
        }
        const auto& urls = sim().workspace().openedURLs();
        EXPECT_EQ(std::vector<std::string>(urls.begin() + urlsBefore, urls.end()), c.opened);
    }
    EXPECT_EQ(host().unscriptedAlerts(), 0);
}

TEST_F(InputDevicesTest, RequestsAccessibilityAndOpensItsSettingsOnlyWhenStillRefused) {
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    EXPECT_FALSE(services().inputBlocker().requestAccessibility());
    EXPECT_EQ(sim().workspace().openedURLs(),
              (std::vector<std::string>{"orvel-sim:permissions/accessibility"}));
    EXPECT_EQ(services().inputBlocker().missingPermissions(),
              (std::vector<std::string>{"Input device control"}));

    sim().permissions().setGrantsOnRequest(true);
    EXPECT_TRUE(services().inputBlocker().requestAccessibility());
    EXPECT_EQ(sim().workspace().openedURLs().size(), 1u);
    EXPECT_EQ(sim().permissions().accessibilityRequests(), 2u);
}

TEST_F(InputDevicesTest, StopLowersTheHidAccessFlagAScopeRaised) {
    std::optional<InputBlocker::HidAccessScope> scope;
    scope.emplace(services().inputBlocker());
    services().inputBlocker().stop();
    EXPECT_FALSE(services().inputBlocker().hidAccess());
}

}  // namespace
}  // namespace orvel
