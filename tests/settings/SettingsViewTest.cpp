#include "settings/SettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/AppDelegate.h"
#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "devices/HotKeyBackend.h"
#include "devices/InputBlocker.h"
#include "devices/PermissionPrimer.h"
#include "foundation/DateFormatting.h"
#include "foundation/Registry.h"
#include "help/EULAGate.h"
#include "platform/sim/SimVolumes.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticReport.h"
#include "reports/PermissionAudit.h"
#include "settings/TroubleshootingView.h"
#include "settings/UpdateCheckSection.h"
#include "support/Catalogues.h"
#include "support/SessionTest.h"
#include "support/SettingsFixture.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"
#include "ui/Inspector.h"

namespace orvel {
namespace {

using ui::HeadlessHost;
using ui::Inspector;

class SettingsViewTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        delegate.emplace(services());
        AppWindows::current() = &*delegate;
        sim().powerSources().setOnAC(true);
    }
    void TearDown() override {
        window.reset();
        view.reset();
        AppWindows::current() = nullptr;
        delegate.reset();
        SessionTest::TearDown();
    }
    // Opens the window as the application does: made once, shown again after closing.
    void open() {
        if (!window) {
            view = std::make_shared<SettingsView>(services().settingsServices());
            window = host().makeWindow();
            window->setContent(view);
        }
        window->makeKeyAndOrderFront();
        loop().drain();
    }
    Inspector shown() {
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window).inspect();
    }
    std::string page() { return shown().selection("General").value_or("none"); }
    MemoryUserDefaults& d() { return sim().userDefaults(); }
    void openOn(std::int64_t tab) {
        d().setInteger(SettingsView::kTabKey, tab);
        open();
    }

    std::optional<AppDelegate> delegate;
    std::shared_ptr<SettingsView> view;
    std::unique_ptr<ui::Window> window;
};

// The window ----------------------------------------------------------------------------------

TEST_F(SettingsViewTest, ATagNoPageCarriesShowsGeneralAndStaysStored) {
    open();
    EXPECT_EQ(page(), "0") << "absent key";
    for (std::int64_t stored : {5, 9, -1}) {
        d().setInteger(SettingsView::kTabKey, stored);
        EXPECT_EQ(page(), "0") << stored;
        EXPECT_EQ(d().integerForKey(SettingsView::kTabKey), stored);
    }
}

TEST_F(SettingsViewTest, PickingAPageStoresItsTagAndTheWindowReopensOnIt) {
    open();
    for (const char* tag : {"3", "6", "4", "2"}) {
        ASSERT_TRUE(shown().pick("General", tag)) << tag;
        EXPECT_EQ(d().integerForKey(SettingsView::kTabKey), std::atoll(tag));
    }
    window->close();
    loop().drain();
    open();
    EXPECT_EQ(page(), "2");
    window.reset();
    view.reset();
    open();
    EXPECT_EQ(page(), "2") << "a new view reads the stored page";
}

TEST_F(SettingsViewTest, OutsideWritesWhileOpenTurnToThatPageAndSubTab) {
    open();
    d().setInteger(SettingsView::kSubTabKey, 5);
    d().setInteger(SettingsView::kTabKey, 1);
    loop().drain();
    EXPECT_EQ(page(), "1");
    EXPECT_EQ(shown().selection("Triggers"), "5") << "the Apps sub-tab";
}

TEST_F(SettingsViewTest, AsksForItsSizeLimitsAndTagsPickerRowsWithRawValues) {
    open();
    const ui::View body = view->body();  // the node lives as long as its view
    const ui::Node& root = body.node();
    EXPECT_EQ(root.kind, ui::NodeKind::frame);
    EXPECT_EQ(root.frameValue.minWidth, 675);
    EXPECT_EQ(root.frameValue.maxWidth, 900);
    EXPECT_EQ(root.frameValue.minHeight, 280);
    EXPECT_FALSE(root.frameValue.maxHeight);
    const ui::View row = SettingsView::pickerLabel<HotKeyStyle>(
        HotKeyStyle::monitor, [](HotKeyStyle) { return std::string("Custom **shortcut**"); });
    EXPECT_EQ(row.node().tag, "monitor");
    EXPECT_TRUE(row.node().verbatim) << "the title is not looked up again";
}

// Permission refresh ---------------------------------------------------------------------------

TEST_F(SettingsViewTest, DevicesReadsPermissionsOnAppearanceAndEveryTwoSecondsWhileShown) {
    sim().powerSources().setBatteryPercent(80);
    openOn(SettingsView::kGeneralTab);
    const auto checks = [&] { return sim().permissions().checkCount(); };
    const std::size_t idle = checks();
    loop().advance(10);
    EXPECT_EQ(checks(), idle) << "other pages do not refresh";

    ASSERT_TRUE(shown().pick("General", "2"));
    loop().drain();
    const std::size_t perRead = checks() - idle;
    ASSERT_GT(perRead, 0u);
    EXPECT_FALSE(view->accessibilityGranted());
    sim().permissions().setAccessibility(true);
    loop().advance(2.0);
    EXPECT_EQ(checks(), idle + 2 * perRead);
    EXPECT_TRUE(view->accessibilityGranted()) << "a grant shows within two seconds";

    ASSERT_TRUE(shown().pick("General", "4"));
    loop().drain();
    const std::size_t left = checks();
    loop().advance(10);
    EXPECT_EQ(checks(), left) << "leaving the page stops the refresh";

    ASSERT_TRUE(shown().pick("General", "2"));
    loop().drain();
    window->close();
    loop().drain();
    const std::size_t closed = checks();
    loop().advance(10);
    EXPECT_EQ(checks(), closed) << "closing the window stops it";

    window.reset();
    view.reset();
    open();
    EXPECT_FALSE(SettingsView(services().settingsServices()).inputMonitoringGranted());
}

// General ----------------------------------------------------------------------------------------

TEST_F(SettingsViewTest, CustomLengthAndMenuScaleFollowTheirRules) {
    const std::pair<std::int64_t, const char*> lengths[] = {
        {0, "Not set"},      {59, "0 min"},        {3600, "1 h"},    {3659, "1 h"},
        {3660, "1 h 1 min"}, {5400, "1 h 30 min"}, {2700, "45 min"}, {-5, "Not set"},
    };
    for (const auto& [seconds, text] : lengths) {
        EXPECT_EQ(SettingsView::customLengthText(seconds), text) << seconds;
    }
    struct Step {
        double from;
        bool up;
        double to;
    };
    const Step steps[] = {{0.5, true, 0.55},  {1.97, true, 2.0}, {0.52, false, 0.5},
                          {1.03, true, 1.08}, {2.0, true, 2.0},  {1.0, false, 0.95}};
    for (const auto& s : steps) {
        EXPECT_DOUBLE_EQ(SettingsView::steppedMenuScale(s.from, s.up), s.to) << s.from;
    }
    setCurrentLocaleIdentifier("en_US");
    EXPECT_EQ(SettingsView::menuScaleText(1.0), "100%");
    setCurrentLocaleIdentifier("de_DE");
    EXPECT_EQ(SettingsView::menuScaleText(1.0), "100 %");
    setCurrentLocaleIdentifier(std::nullopt);
}

TEST_F(SettingsViewTest, SizeButtonsStepTheScaleAndStopAtTheEnds) {
    setCurrentLocaleIdentifier("en_US");
    prefs().menuScale = 0.5;
    open();
    auto ui = shown();
    EXPECT_FALSE(ui.isEnabled(*ui.control("Decrease menu text size")));
    ASSERT_TRUE(ui.click("Increase menu text size"));
    EXPECT_DOUBLE_EQ(prefs().menuScale(), 0.55);
    EXPECT_TRUE(shown().contains("55%"));
    prefs().menuScale = 2.0;
    ui = shown();
    EXPECT_FALSE(ui.isEnabled(*ui.control("Increase menu text size")));
    setCurrentLocaleIdentifier(std::nullopt);
}

TEST_F(SettingsViewTest, CustomLengthRowShowsOnlyForTheCustomPreset) {
    open();
    for (DurationPreset preset : allCases<DurationPreset>()) {
        ASSERT_TRUE(shown().pick("Default duration:", std::string(rawValue(preset))));
        EXPECT_EQ(prefs().defaultPreset(), preset);
        EXPECT_EQ(shown().contains("Custom length"), preset == DurationPreset::custom);
    }
}

TEST_F(SettingsViewTest, DockAndTimerChoicesReachTheApplication) {
    open();
    ASSERT_TRUE(shown().pick("Appears as:", "true"));
    EXPECT_EQ(host().application().activationPolicy(), ActivationPolicy::regular);
    ASSERT_TRUE(shown().pick("Appears as:", "false"));
    EXPECT_EQ(host().application().activationPolicy(), ActivationPolicy::accessory);
    const auto refreshes = statusItem().refreshCount();
    ASSERT_TRUE(shown().setToggle("Show remaining time next to the icon", false));
    EXPECT_FALSE(prefs().showTimer());
    EXPECT_GT(statusItem().refreshCount(), refreshes);
}

TEST_F(SettingsViewTest, TheRestoreCaptionSaysWhatARestoredTimedSessionDoes) {
    controller().selectPreset(DurationPreset::h2);
    controller().start();
    loop().advance(1800);
    restartProcess();
    loop().drain();
    ASSERT_TRUE(controller().isActive());
    ASSERT_EQ(controller().secondsRemaining(), 7200) << "a fresh countdown, not the rest";
    open();
    EXPECT_TRUE(shown().contains(
        "Flags, duration and on/off state come back exactly as they were. A session that had a "
        "timer running comes back on with its full duration again \u2014 the countdown starts "
        "over."));
}

TEST_F(SettingsViewTest, ShortcutPickerRegistersTheStyleAndRepickingRegistersNothing) {
    sim().permissions().setAccessibility(true);
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    open();
    struct Case {
        const char* pick;
        std::size_t hotKeys, monitors;
        bool offCaption;
    };
    const Case cases[] = {{"carbon", 1, 0, false}, {"off", 0, 0, true}, {"monitor", 0, 2, false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(shown().pick("Global shortcut:", c.pick)) << c.pick;
        EXPECT_EQ(sim().hotKeys().registeredIds().size(), c.hotKeys) << c.pick;
        EXPECT_EQ(sim().hotKeys().monitorCount(), c.monitors) << c.pick;
        EXPECT_EQ(shown().contains("No global shortcut is registered. Orvel asks for no "
                                   "permissions at launch; turning a shortcut on grabs the key "
                                   "system-wide (an X11 key grab, or on Wayland the desktop's "
                                   "shortcut portal, which may ask you to confirm the keys)."),
                  c.offCaption);
    }
    // Without the permissions the monitor style is kept, warns and falls back to the hot key;
    // picking it again registers nothing.
    ASSERT_TRUE(shown().pick("Global shortcut:", "carbon"));
    sim().permissions().setAccessibility(false);
    ASSERT_TRUE(shown().pick("Global shortcut:", "monitor"));
    EXPECT_EQ(prefs().hotKeyStyle(), HotKeyStyle::monitor);
    EXPECT_EQ(sim().hotKeys().registeredIds().size(), 1u);
    EXPECT_TRUE(
        shown().contains("Orvel needs input device access and control for this option: Orvel's "
                         "udev rule or membership of the input group. See Input device access "
                         "in Help."));
    const HotKeyBackend* before = delegate->hotKey.get();
    ASSERT_TRUE(shown().pick("Global shortcut:", "monitor"));
    EXPECT_EQ(delegate->hotKey.get(), before);
}

TEST_F(SettingsViewTest, TheShortcutRowSaysWhatTheDesktopBoundOrWhyNothingIs) {
    open();
    const std::string bound =
        "The desktop runs the shortcut on Ctrl+Alt+Super+C; its keyboard settings can change it.";
    const std::string refused = "This desktop offers no global shortcuts here.";
    ASSERT_TRUE(shown().pick("Global shortcut:", "carbon"));
    EXPECT_FALSE(shown().contains(bound));
    // The desktop answers after the pick; the row follows it.
    sim().hotKeys().setBoundTrigger("Ctrl+Alt+Super+C");
    EXPECT_TRUE(shown().contains(bound));
    ASSERT_TRUE(shown().pick("Global shortcut:", "off"));
    EXPECT_FALSE(shown().contains(bound));

    sim().hotKeys().setBoundTrigger(std::nullopt);
    sim().hotKeys().setUnavailable(refused);
    ASSERT_TRUE(shown().pick("Global shortcut:", "carbon"));
    EXPECT_TRUE(shown().contains(refused));
    EXPECT_TRUE(sim().hotKeys().registeredIds().empty()) << "nothing is registered";
}

TEST_F(SettingsViewTest, ARefusedLoginItemChangeSpringsBackNextTurn) {
    open();
    sim().loginItems().failNext("not allowed");
    auto* viewHost = static_cast<ui::HeadlessWindow&>(*window).viewHost();
    const auto evaluations = viewHost->evaluationCount();
    ASSERT_TRUE(shown().setToggle("Launch Orvel at login", true));
    loop().drain();
    EXPECT_GT(viewHost->evaluationCount(), evaluations) << "redrawn from the real state";
    EXPECT_EQ(shown().toggleValue("Launch Orvel at login"), false);
    ASSERT_TRUE(shown().setToggle("Launch Orvel at login", true));
    EXPECT_EQ(shown().toggleValue("Launch Orvel at login"), true);
}

// Update schedule and agreement ----------------------------------------------------------------

TEST_F(SettingsViewTest, TheScheduleLoadsWithTheOlderKeyAsFallbackAndWritesNothing) {
    struct Case {
        std::optional<std::string> stored;
        std::optional<bool> weekly;
        UpdateSchedule expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, UpdateSchedule::off},
        {std::nullopt, true, UpdateSchedule::weekly},
        {"monthly", true, UpdateSchedule::monthly},
        {"Weekly", std::nullopt, UpdateSchedule::off},
        {"biweekly", false, UpdateSchedule::biweekly},
    };
    for (const auto& c : cases) {
        d().removePersistentDomain();
        if (c.stored) {
            d().setString(update_schedule::kKey, *c.stored);
        }
        if (c.weekly) {
            d().setBool(update_schedule::kLegacyKey, *c.weekly);
        }
        const auto writes = d().writeCount();
        EXPECT_EQ(update_schedule::load(d()), c.expected);
        EXPECT_EQ(d().writeCount(), writes);
        EXPECT_EQ(d().persistentValue(update_schedule::kKey).has_value(), c.stored.has_value());
    }
    update_schedule::save(d(), UpdateSchedule::biweekly);
    EXPECT_EQ(d().stringForKey(update_schedule::kKey), "biweekly");
    EXPECT_EQ(update_schedule::load(d()), UpdateSchedule::biweekly);
}

TEST_F(SettingsViewTest, UpdateControlsAreDisabledAndStartNothing) {
    open();
    auto ui = shown();
    EXPECT_FALSE(ui.isEnabled(*ui.control("Check for Updates\u2026")));
    EXPECT_FALSE(ui.isEnabled(*ui.control("Check in the background:")));
    EXPECT_FALSE(ui.click("Check for Updates\u2026"));
    EXPECT_TRUE(
        ui.contains("Orvel is updated with your system's packages; About shows the installed "
                    "version."));
    EXPECT_FALSE(ui.pick("Check in the background:", "weekly"));
    EXPECT_FALSE(d().persistentValue(update_schedule::kKey)) << "nothing stored";
}

TEST_F(SettingsViewTest, AgreementRowReadsTheRecordOrSaysNotYet) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    setCurrentLocaleIdentifier("en_US");
    const std::string path = services().licenseAgreement().assentFileURL();
    EULAGate::AssentRecord record;
    record.version = "1.0-draft";
    record.timestamp = Date::fromUnix(1796738400);  // 2026-12-08 14:00 UTC
    const std::string valid = dumpJson(record.toJson()).value();
    const std::string fields = R"({"version":"1.0-draft"})";
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, "Not yet"},
        {valid.substr(0, valid.size() / 2), "Not yet"},
        {"[1, 2]", "Not yet"},
        {fields, "Not yet"},
        {valid, "v1.0-draft on Dec 8, 2026 at 9:00 AM"},
    };
    for (const auto& [content, expected] : cases) {
        std::filesystem::remove(path);
        if (content) {
            std::ofstream(path) << *content;
        }
        EXPECT_EQ(AgreementRow::agreedText(services().licenseAgreement()), expected)
            << content.value_or("(missing)");
    }
    {
        // The words around the version and the date are the reader's.
        const test::ScopedLanguage german(ORVEL_LOCALE, "de");
        EXPECT_EQ(AgreementRow::agreedText(services().licenseAgreement()),
                  "v1.0-draft am Dec 8, 2026 at 9:00 AM");
    }
    setCurrentLocaleIdentifier(std::nullopt);
    setenv("TZ", "UTC", 1);
    tzset();
}

// Devices ---------------------------------------------------------------------------------------

int occurrences(const std::vector<std::string>& texts, const std::string& text) {
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

TEST_F(SettingsViewTest, ADesktopDisablesWhatItCannotBlockAndSaysWhy) {
    sim().powerSources().removeBatteries();
    sim().systemInfo().setChassisType(3);  // desktop
    sim().displays().removeDisplay(1);
    openOn(SettingsView::kDevicesTab);
    auto ui = shown();
    for (const char* control :
         {"Disable the built-in keyboard", "Disable the built-in trackpad",
          "Turn off the keyboard backlight",
          "Release automatically if no external keyboard or mouse is connected", "Scan", "Check",
          "Enable", "Darken the built-in display"}) {
        ASSERT_TRUE(ui.control(control)) << control;
        EXPECT_FALSE(ui.isEnabled(*ui.control(control))) << control;
    }
    const auto texts = ui.texts();
    EXPECT_EQ(occurrences(texts, "Disabled \u2014 no built-in keyboard/trackpad on this computer"),
              2);
    EXPECT_EQ(
        occurrences(texts, "Disabled \u2014 no built-in keyboard or trackpad on this computer"), 2);
    EXPECT_FALSE(ui.contains("Right now"));
    EXPECT_TRUE(
        ui.contains("These safety nets exist for the built-in input block, which this "
                    "computer doesn't have."));
    EXPECT_TRUE(ui.contains("This computer has no built-in display."));
    EXPECT_TRUE(ui.isEnabled(*ui.control("Prevent the screen saver from starting")));
}

TEST_F(SettingsViewTest, ALaptopWithItsLidClosedCanStillDarkenTheDisplay) {
    sim().displays().setOnline(1, false);
    openOn(SettingsView::kDevicesTab);
    auto ui = shown();
    EXPECT_TRUE(ui.isEnabled(*ui.control("Darken the built-in display")));
    EXPECT_FALSE(ui.contains("This computer has no built-in display."));
    EXPECT_TRUE(ui.contains("Right now"));
}

TEST_F(SettingsViewTest, OnlyAMissingPermissionOffersEnableAndTheRelaunchNote) {
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    sim().permissions().setAccessibility(false);
    openOn(SettingsView::kDevicesTab);
    auto texts = shown().texts();
    EXPECT_EQ(occurrences(texts, "Enable"), 1);
    EXPECT_EQ(occurrences(texts, "Granted"), 1);
    EXPECT_EQ(occurrences(texts, "Not granted"), 1);
    const std::string note =
        "Both are required. Enable installs Orvel's udev rule (an administrator's password is "
        "asked for); membership of the input group also grants both. See Input device access "
        "in Help.";
    EXPECT_EQ(occurrences(texts, note), 1);
    sim().permissions().setAccessibility(true);
    loop().advance(SettingsView::kPermissionRefreshInterval);
    texts = shown().texts();
    EXPECT_EQ(occurrences(texts, "Enable"), 0);
    EXPECT_EQ(occurrences(texts, note), 0);
}

TEST_F(SettingsViewTest, AScanListsInputDevicesSortedAndLeavesTheHidFlagAsItWas) {
    openOn(SettingsView::kDevicesTab);
    sim().hidDevices().setHandsOutDevices(true);
    ASSERT_TRUE(shown().click("Scan"));
    EXPECT_TRUE(shown().contains("No keyboards or pointing devices found."));
    EXPECT_TRUE(shown().control("Rescan"));
    sim().hidDevices().attach(HidDevice{0, "Zeta Mouse", "USB", false, 0x46d, {hid_usage::kMouse}});
    sim().hidDevices().attach(HidDevice{0, "Power Button", "Host", true, 0, {{0x01, 0x80}}});
    sim().hidDevices().attach(
        HidDevice{0, "Apple Internal Keyboard", "SPI", true, 0x5ac, {hid_usage::kKeyboard}});
    for (bool blocking : {false, true}) {
        std::optional<InputBlocker::HidAccessScope> running;
        if (blocking) {
            running.emplace(services().inputBlocker());
        }
        ASSERT_TRUE(shown().click("Rescan"));
        EXPECT_EQ(services().inputBlocker().hidAccess(), blocking);
        const auto& lines = *view->scannedDevices();
        ASSERT_EQ(lines.size(), 2u) << "the power button is not an input device";
        EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
        EXPECT_NE(lines[0].find("Apple Internal Keyboard"), std::string::npos);
    }
}

TEST_F(SettingsViewTest, AScanShowsBuiltInDevicesFirstEachOnALineOfItsOwn) {
    openOn(SettingsView::kDevicesTab);
    sim().hidDevices().setHandsOutDevices(true);
    for (const auto& device : {
             HidDevice{0, "USB Optical Mouse", "USB", false, 0x46d, {hid_usage::kMouse}},
             HidDevice{0,
                       "Apple Internal Keyboard / Trackpad",
                       "SPI",
                       true,
                       0x5ac,
                       {hid_usage::kKeyboard, hid_usage::kTouchPad}},
             HidDevice{0, "Apple Magic Keyboard", "Bluetooth", false, 0x4c, {hid_usage::kKeyboard}},
             HidDevice{0, "AT Translated Set 2 keyboard", "i8042", true, 1, {hid_usage::kKeyboard}},
         }) {
        sim().hidDevices().attach(device);
    }
    ASSERT_TRUE(shown().click("Scan"));
    const std::vector<std::string> expected = {
        "INTERNAL \u2014 AT Translated Set 2 keyboard \u00b7 i8042 \u00b7 BuiltIn yes \u00b7 "
        "vendor "
        "0x0001",
        "INTERNAL \u2014 Apple Internal Keyboard / Trackpad \u00b7 SPI \u00b7 BuiltIn yes \u00b7 "
        "vendor 0x05AC",
        "external \u2014 Apple Magic Keyboard \u00b7 Bluetooth \u00b7 BuiltIn no \u00b7 vendor "
        "0x004C",
        "external \u2014 USB Optical Mouse \u00b7 USB \u00b7 BuiltIn no \u00b7 vendor 0x046D",
    };
    std::vector<std::string> shownLines;
    for (const auto& text : shown().texts()) {
        if (text.find(" \u00b7 BuiltIn ") != std::string::npos) {
            shownLines.push_back(text);
        }
    }
    EXPECT_EQ(shownLines, expected);
}

// Advanced --------------------------------------------------------------------------------------

TEST_F(SettingsViewTest, TheEngineRadioStoresTheRawValueAndSwapsTheCaption) {
    openOn(SettingsView::kAdvancedTab);
    ASSERT_TRUE(shown().pick("Engine:", "caffeinate"));
    EXPECT_EQ(d().stringForKey("engine"), "caffeinate");
    const auto captionStarts = [&](const std::string& start) {
        const auto texts = shown().texts();
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::string& t) { return t.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(captionStarts("Orvel launches its own caffeinate"));
    ASSERT_TRUE(shown().pick("Engine:", "assertions"));
    EXPECT_EQ(d().stringForKey("engine"), "assertions");
    EXPECT_TRUE(captionStarts("Orvel holds logind inhibitor locks"));
    EXPECT_FALSE(captionStarts("Orvel launches"));

    // Chosen without Orvel's caffeinate there, the page says what runs instead.
    const std::string missing =
        "Orvel's caffeinate is not at /usr/bin/caffeinate, so sessions "
        "run on logind inhibitor locks instead.";
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    EXPECT_FALSE(shown().contains(missing));
    ASSERT_TRUE(shown().pick("Engine:", "caffeinate"));
    EXPECT_TRUE(shown().contains(missing));
    ASSERT_TRUE(shown().pick("Engine:", "assertions"));
    EXPECT_FALSE(shown().contains(missing));
}

TEST_F(SettingsViewTest, TheEquivalentCommandNamesOrvelsOwnCaffeinateAndFollowsTheOptions) {
    // Another program, or none, may stand at the usual path: the command names the one that runs.
    sim().processes().setStandIn("/usr/bin/caffeinate", "/opt/orvel/libexec/caffeinate");
    SleepOptions none;
    controller().options = none;
    openOn(SettingsView::kAdvancedTab);
    EXPECT_TRUE(shown().contains("/opt/orvel/libexec/caffeinate"));
    EXPECT_FALSE(shown().contains("/usr/bin/caffeinate"));
    SleepOptions displayAndIdle;
    displayAndIdle.preventDisplaySleep = true;
    displayAndIdle.preventIdleSleep = true;
    controller().options = displayAndIdle;
    controller().preset = DurationPreset::h1;
    controller().start();
    EXPECT_TRUE(shown().contains("/opt/orvel/libexec/caffeinate -di -t 3600"));
}

TEST_F(SettingsViewTest, TheTransferButtonsSayBesideThemWhatTheLastExportOrImportDid) {
    test::setGoldenState(services());
    const std::string file = scratch() + "/moved.orvelconfig";
    std::filesystem::create_directories(scratch());
    ASSERT_TRUE(writeFileAtomically(scratch() + "/notes.txt", dataFromString("notes")).ok());
    openOn(SettingsView::kAdvancedTab);
    const auto line = [&](const std::string& text) -> std::optional<ui::ForegroundStyle> {
        auto found = shown().find(text);
        return found ? std::optional(found->node->foreground) : std::nullopt;
    };
    const ui::ForegroundStyle secondary(ui::Hierarchy::secondary);
    const ui::ForegroundStyle orange(ui::Color::orange());

    host().scriptSavePanel(file);
    ASSERT_TRUE(shown().click("Export Settings\u2026"));
    EXPECT_EQ(line("Saved to " + file + "."), secondary);

    // The headphones of one rule are not paired here; of the two drives only one is listed.
    services().triggerEngine().deleteAll();
    ASSERT_EQ(services().driveKeepAlive().drives().size(), 1u);
    host().scriptOpenPanel(std::vector<std::string>{file});
    ASSERT_TRUE(shown().click("Import\u2026"));
    EXPECT_EQ(services().triggerEngine().rules().size(), 3u);
    const std::string imported =
        "Imported 3 rules, 1 drive and 27 settings. 1 rule is off: its Bluetooth device is not "
        "paired with this computer.";
    EXPECT_EQ(line(imported), secondary) << shown().dump();
    EXPECT_TRUE(host().alerts().empty()) << "success shows no alert";

    // The alert stays, and the line keeps its reason after it is answered.
    host().scriptOpenPanel(std::vector<std::string>{scratch() + "/notes.txt"});
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    ASSERT_TRUE(shown().click("Import\u2026"));
    EXPECT_EQ(line("Nothing was imported. This is not an Orvel settings file."), orange);
    EXPECT_FALSE(line(imported));

    host().scriptOpenPanel(std::nullopt);
    ASSERT_TRUE(shown().click("Import\u2026"));
    EXPECT_FALSE(line("Nothing was imported. This is not an Orvel settings file."))
        << "a cancelled panel leaves no old news";
    EXPECT_EQ(host().unscriptedAlerts(), 0);
}

TEST_F(SettingsViewTest, DeletingAllRulesAsksTwiceAndOnlyDeleteAllDeletes) {
    struct Case {
        const char* name;
        int rules;
        std::vector<int> answers;
        bool deleted;
    };
    const Case cases[] = {
        {"cancel at the first", 2, {ui::kAlertSecondButtonReturn}, false},
        {"cancel at the second",
         2,
         {ui::kAlertFirstButtonReturn, ui::kAlertSecondButtonReturn},
         false},
        {"delete all", 2, {ui::kAlertFirstButtonReturn, ui::kAlertFirstButtonReturn}, true},
        {"no rules still deletes",
         0,
         {ui::kAlertFirstButtonReturn, ui::kAlertFirstButtonReturn},
         true},
    };
    openOn(SettingsView::kAdvancedTab);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TriggerEngine& engine = services().triggerEngine();
        engine.replaceAll({}, {});
        for (int i = 0; i < c.rules; ++i) {
            engine.add(test::makeRule(TriggerSource::bluetooth, "Rule " + std::to_string(i)));
        }
        const std::size_t shownBefore = host().alerts().size();
        for (int answer : c.answers) {
            host().scriptAlert(HeadlessHost::answer(answer));
        }
        ASSERT_TRUE(shown().click("Delete All Rules\u2026"));
        loop().drain();
        const auto& alerts = host().alerts();
        ASSERT_EQ(alerts.size() - shownBefore, c.answers.size());
        EXPECT_EQ(alerts[shownBefore]->content().messageText, "Delete all rules? (1 of 2)");
        if (c.answers.size() == 2) {
            EXPECT_EQ(alerts.back()->content().messageText,
                      "Really delete all " + std::to_string(c.rules) + " rules?");
            EXPECT_EQ(alerts.back()->content().style, ui::AlertStyle::critical);
        }
        EXPECT_EQ(engine.rules().empty(), c.deleted || c.rules == 0);
        EXPECT_EQ(!services().activityLog().entries().empty() &&
                      services().activityLog().entries().front().title == "All rules deleted",
                  c.deleted);
        services().activityLog().entries = {};
    }
}

TEST_F(SettingsViewTest, ASimulatedPowerEventShowsUntilClearedAndOutlivesTheWindow) {
    openOn(SettingsView::kAdvancedTab);
    const std::string status =
        "Simulation active \u2014 Clear or a real power transition restores truth";
    auto ui = shown();
    EXPECT_FALSE(ui.isEnabled(*ui.control("Clear Simulation")));
    EXPECT_FALSE(ui.contains(status));
    for (const char* event : {"Low Battery", "Recovery", "Power Saver On", "Power Saver Off",
                              "UPS Takeover", "Wall Power Returns"}) {
        SCOPED_TRACE(event);
        ASSERT_TRUE(shown().click(event));
        loop().drain();
        ui = shown();
        EXPECT_TRUE(ui.isEnabled(*ui.control("Clear Simulation")));
        EXPECT_TRUE(ui.contains(status));
        ASSERT_FALSE(services().activityLog().entries().empty());
        EXPECT_EQ(services().activityLog().entries().front().title.rfind("Simulated: ", 0), 0u);
    }
    window->close();
    loop().drain();
    EXPECT_TRUE(services().powerCenter().simulationActive()) << "closing keeps it";
    open();
    ASSERT_TRUE(shown().click("Clear Simulation"));
    loop().drain();
    ui = shown();
    EXPECT_FALSE(ui.isEnabled(*ui.control("Clear Simulation")));
    EXPECT_FALSE(ui.contains(status));
    EXPECT_EQ(services().activityLog().entries().front().title, "Simulation cleared");
}

// Conflict notes --------------------------------------------------------------------------------

TEST_F(SettingsViewTest, TheShortcutNoteShowsOnBothPagesExactlyWhileBothSettingsClash) {
    const std::string onGeneral = "Conflicts with \u201cDisable the built-in keyboard\u201d";
    const std::string onDevices = "Conflicts with \u201cGlobal shortcut\u201d";
    const struct {
        HotKeyStyle style;
        bool blockKeyboard;
        bool shown;
    } cases[] = {{HotKeyStyle::off, false, false},
                 {HotKeyStyle::off, true, false},
                 {HotKeyStyle::carbon, false, false},
                 {HotKeyStyle::carbon, true, true},
                 {HotKeyStyle::monitor, true, true}};
    // Explained before, so blocking asks nothing and stays on while its request polls.
    d().setBool(PermissionPrimer::kExplainedKey, true);
    openOn(SettingsView::kGeneralTab);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.style)) + (c.blockKeyboard ? " blocked" : ""));
        prefs().hotKeyStyle = c.style;
        prefs().blockBuiltInKeyboard = c.blockKeyboard;
        ASSERT_TRUE(shown().pick("General", "0"));
        auto texts = shown().texts();
        EXPECT_EQ(std::ranges::any_of(
                      texts, [&](const std::string& t) { return t.starts_with(onGeneral); }),
                  c.shown);
        EXPECT_FALSE(shown().contains(onDevices)) << "the other side's wording";
        ASSERT_TRUE(shown().pick("General", "2"));
        texts = shown().texts();
        EXPECT_EQ(std::ranges::any_of(
                      texts, [&](const std::string& t) { return t.starts_with(onDevices); }),
                  c.shown);
    }
}

// Drives ----------------------------------------------------------------------------------------

TEST_F(SettingsViewTest, TheDrivesPageListsTheKeptDrivesAndChecksTheMountedShare) {
    VolumeInfo share;
    share.name = "Team";
    share.local = false;
    share.browsable = true;
    share.path = "/mnt/team";
    share.mountSource = "//nas/team";
    sim().volumes().setVolumes({share});
    openOn(SettingsView::kDrivesTab);
    EXPECT_TRUE(shown().contains("Keep-alive interval"));
    EXPECT_TRUE(shown().contains("Not checked"));
    EXPECT_TRUE(shown().contains("Team")) << "the start-up scan offers the mounted share";

    sim().volumes().setListing(share.path, SimVolumes::Listing::refused);
    ASSERT_TRUE(shown().click("Check Access"));
    EXPECT_TRUE(shown().contains("Not granted"));
    sim().volumes().setListing(share.path, SimVolumes::Listing::listed);
    ASSERT_TRUE(shown().click("Check Again"));
    EXPECT_TRUE(shown().contains("Granted"));

    // A share that never answers holds the check for the audit's bound, not longer.
    sim().volumes().setListing(share.path, SimVolumes::Listing::hangs);
    const Date pressed = loop().now();
    ASSERT_TRUE(shown().click("Check Again"));
    EXPECT_TRUE(shown().contains("Volume not responding"));
    EXPECT_LE(loop().now().timeIntervalSince(pressed), PermissionAudit::kVolumeWait);
    sim().volumes().releaseHungListings(true);
    loop().drain();

    // A check is of the moment it was made: the page comes back unchecked, as it first opened.
    ASSERT_TRUE(shown().pick("General", "0"));
    ASSERT_TRUE(shown().pick("General", "3"));
    EXPECT_TRUE(shown().contains("Not checked"));
    EXPECT_TRUE(shown().contains("Check Access"));
    EXPECT_FALSE(shown().contains("Volume not responding"));
}

TEST_F(SettingsViewTest, AResetTakesBackTheDockIconAndTheShortcutOfTheOldSettings) {
    prefs().showInDock = true;
    prefs().hotKeyStyle = HotKeyStyle::carbon;
    delegate->applyActivationPolicy();
    delegate->applyHotKeyStyle();
    ASSERT_EQ(host().application().activationPolicy(), ActivationPolicy::regular);
    ASSERT_EQ(sim().hotKeys().registeredIds().size(), 1u);

    openOn(SettingsView::kTroubleshootingTab);
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    ASSERT_TRUE(shown().click("Reset All Settings\u2026"));
    EXPECT_EQ(prefs().hotKeyStyle(), HotKeyStyle::off);
    EXPECT_EQ(host().application().activationPolicy(), ActivationPolicy::accessory);
    EXPECT_TRUE(sim().hotKeys().registeredIds().empty());
    EXPECT_EQ(sim().hotKeys().handlerCount(), 0u);
    EXPECT_FALSE(delegate->hotKey);
}

// Troubleshooting -------------------------------------------------------------------------------

TEST_F(SettingsViewTest, TroubleshootingScrollsAndNamesTheKernelsArchitecture) {
    sim().systemInfo().setArchitecture("aarch64");
    openOn(SettingsView::kTroubleshootingTab);
    EXPECT_EQ(page(), "6");
    EXPECT_TRUE(shown().contains("aarch64"));
    EXPECT_TRUE(shown().contains("KNOWN LIMITS"));
    EXPECT_TRUE(shown().control("Reset All Settings\u2026"));
    EXPECT_TRUE(shown().scrollToEnd("RESET")) << "the page sits in a scroll view";
}

TEST_F(SettingsViewTest, CopyReportCopiesTheRealReportWithTheSettingsConflicts) {
    sim().hidDevices().setHandsOutDevices(true);
    sim().hidDevices().attach(
        HidDevice{0, "Alex Example's Mouse", "USB", false, 0x46d, {hid_usage::kMouse}});
    openOn(SettingsView::kTroubleshootingTab);
    ASSERT_TRUE(shown().click("Copy Report"));
    const std::string copied = host().pasteboard().string().value_or("");
    EXPECT_EQ(copied, view->troubleshooting().diagnosticText());
    EXPECT_EQ(copied.rfind("ORVEL DIAGNOSTIC REPORT\n", 0), 0u) << copied.substr(0, 80);
    EXPECT_TRUE(copied.ends_with("\n\n" + services().conflictsReport().text()));
    EXPECT_EQ(copied.find(services().conflictsReport().text()),
              copied.rfind(services().conflictsReport().text()))
        << "one conflicts section";
    EXPECT_NE(copied.find("Alex Example"), std::string::npos);
    EXPECT_TRUE(shown().contains("Copied to clipboard"));
    EXPECT_FALSE(services().inputBlocker().hidAccess()) << "the flag is put back";

    ASSERT_TRUE(shown().setToggle("Obfuscate names", true));
    ASSERT_TRUE(shown().click("Copy Report"));
    const std::string redacted = host().pasteboard().string().value_or("");
    EXPECT_EQ(redacted, view->troubleshooting().diagnosticText());
    EXPECT_EQ(redacted.find("Alex Example"), std::string::npos);
    EXPECT_NE(redacted.find("id-"), std::string::npos);
}

TEST_F(SettingsViewTest, RunSelfTestJoinsTheSelfTestTheAuditAndTheConflicts) {
    openOn(SettingsView::kTroubleshootingTab);
    for (bool blocking : {false, true}) {
        SCOPED_TRACE(blocking ? "blocking" : "not blocking");
        std::optional<InputBlocker::HidAccessScope> running;
        if (blocking) {
            running.emplace(services().inputBlocker());
        }
        ASSERT_TRUE(shown().click("Run Self-Test"));
        const std::string copied = host().pasteboard().string().value_or("");
        EXPECT_EQ(copied, view->troubleshooting().diagnosticText());
        EXPECT_EQ(copied.rfind("ORVEL SELF-TEST\n", 0), 0u) << copied.substr(0, 80);
        EXPECT_TRUE(copied.ends_with("\n\n" + services().permissionAudit().reportSections() +
                                     "\n\n" + services().conflictsReport().text()));
        EXPECT_EQ(copied.find(services().conflictsReport().text()),
                  copied.rfind(services().conflictsReport().text()));
        EXPECT_EQ(services().inputBlocker().hidAccess(), blocking);
    }
}

TEST_F(SettingsViewTest, AResetFromTroubleshootingForgetsTheScanAndTheTextAndStaysThere) {
    openOn(SettingsView::kDevicesTab);
    ASSERT_TRUE(shown().click("Scan"));
    ASSERT_TRUE(view->scannedDevices().has_value());
    ASSERT_TRUE(shown().pick("General", "6"));
    ASSERT_TRUE(shown().click("Copy Report"));
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    ASSERT_TRUE(shown().click("Reset All Settings\u2026"));
    EXPECT_FALSE(view->scannedDevices().has_value());
    EXPECT_TRUE(view->troubleshooting().diagnosticText().empty());
    EXPECT_EQ(page(), "6");
    ASSERT_TRUE(shown().pick("General", "2"));
    EXPECT_TRUE(shown().control("Scan")) << "the page offers a first scan again";
}

}  // namespace
}  // namespace orvel
