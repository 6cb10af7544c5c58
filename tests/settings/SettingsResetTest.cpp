#include "settings/SettingsReset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "devices/DeviceState.h"
#include "devices/PermissionPrimer.h"
#include "drives/DriveKeepAlive.h"
#include "platform/sim/SimProcesses.h"
#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

constexpr const char* kUnaffected = "permission grants unaffected";
const LaunchRequest kRemoveRule{"/usr/bin/pkexec", {"/opt/orvel/orvel-input-access", "--remove"}};

// The RESET block in a window of its own.
class ResetBlock final : public ui::ViewComponent {
  public:
    explicit ResetBlock(Services& services) : services_(services) {}
    ui::View body() override {
        return ResetSection(services_.resetOwners(), [this] { ++cleared; });
    }
    int cleared = 0;

  private:
    Services& services_;
};

class SettingsResetTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        services().triggerEngine().start();
        block_ = std::make_shared<ResetBlock>(services());
        window_ = host().makeWindow();
        window_->setContent(block_);
        window_->makeKeyAndOrderFront();
        loop().drain();
    }
    // The window goes before the host it belongs to.
    void TearDown() override {
        window_.reset();
        SessionTest::TearDown();
    }
    bool clickReset() {
        auto inspector = static_cast<ui::HeadlessWindow&>(*window_).inspect();
        const bool clicked = inspector.click("Reset All Settings\u2026");
        loop().drain();
        return clicked;
    }
    void addRules(int count) {
        for (int i = 0; i < count; ++i) {
            TriggerRule rule;
            rule.name = "Rule " + std::to_string(i);
            services().triggerEngine().add(rule);
        }
    }
    std::vector<std::string> alertMessages() {
        std::vector<std::string> messages;
        for (const auto& alert : host().alerts()) {
            messages.push_back(alert->content().messageText);
        }
        return messages;
    }
    // The newest entry of the log once the loop has turned.
    ActivityEntry newestEntry() {
        loop().drain();
        const auto& entries = services().activityLog().entries();
        return entries.empty() ? ActivityEntry{} : entries.front();
    }
    static ui::AlertScript resetWithCheckbox(bool on) {
        return [on](ui::HeadlessAlert& alert) {
            alert.setCheckbox(on);
            return std::optional<int>(ui::kAlertFirstButtonReturn);
        };
    }

    std::shared_ptr<ResetBlock> block_;
    std::unique_ptr<ui::Window> window_;
};

TEST_F(SettingsResetTest, ExportFirstThenCancellingLeavesTheDomainByteIdentical) {
    addRules(2);
    prefs().showTimer = false;
    loop().drain();
    const auto before = sim().userDefaults().persistentDomain();
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertSecondButtonReturn));
    host().scriptSavePanel(std::nullopt);
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertThirdButtonReturn));
    ASSERT_TRUE(clickReset());
    EXPECT_EQ(host().savePanelsShown().size(), 1u);
    EXPECT_EQ(alertMessages(), (std::vector<std::string>{"Reset all settings? (1 of 2)",
                                                         "Reset all settings? (1 of 2)"}));
    EXPECT_EQ(sim().userDefaults().persistentDomain(), before);
    EXPECT_EQ(services().triggerEngine().rules().size(), 2u);
}

TEST_F(SettingsResetTest, OnlyResetEverythingActsAndItsCheckboxStartsOff) {
    addRules(3);
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertSecondButtonReturn));  // Cancel
    ASSERT_TRUE(clickReset());
    ASSERT_EQ(host().alerts().size(), 2u);
    const auto& second = host().alerts()[1]->content();
    EXPECT_EQ(second.style, ui::AlertStyle::critical);
    ASSERT_TRUE(second.checkbox.has_value());
    EXPECT_FALSE(second.checkbox->second);
    EXPECT_EQ(second.buttons, (std::vector<std::string>{"Reset Everything", "Cancel"}));
    EXPECT_EQ(services().triggerEngine().rules().size(), 3u);

    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    ASSERT_TRUE(clickReset());
    const auto entry = newestEntry();
    EXPECT_EQ(entry.title, "All settings reset");
    EXPECT_EQ(entry.detail,
              std::string("Defaults restored \u00b7 3 rules deleted \u00b7 ") + kUnaffected);
    EXPECT_TRUE(services().triggerEngine().rules().empty());
    EXPECT_EQ(block_->cleared, 1);
    EXPECT_TRUE(sim().processes().children().empty());
}

TEST_F(SettingsResetTest, ClearingTheGrantsRunsWithoutBlockingAndReportsHowItEnded) {
    enum class End { exit, timeout, noLaunch, nothingInstalled };
    const struct {
        End end;
        int status;
        std::string tail;
    } cases[] = {
        {End::exit, 0, "permission grants cleared \u2014 Orvel's udev rule is removed"},
        {End::exit, 1, "FAILED (removing Orvel's udev rule failed (exit 1))"},
        {End::exit, 126, "FAILED (the administrator's password was not given (exit 126))"},
        {End::exit, 127, "FAILED (not authorized to remove Orvel's udev rule (exit 127))"},
        {End::timeout, 0, "FAILED (no answer within 120 s)"},
        {End::noLaunch, 0, "FAILED (could not start: No such file or directory)"},
        {End::nothingInstalled, 0, "permission grants cleared \u2014 Orvel's udev rule is removed"},
    };
    SettingsReset& reset = services().settingsReset();
    sim().processes().setExecutable(kRemoveRule.executable, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail);
        sim().permissions().setGrantClearingCommand(
            c.end == End::nothingInstalled ? std::nullopt : std::optional(kRemoveRule));
        if (c.end == End::noLaunch) {
            sim().processes().failNextLaunch("No such file or directory");
        }
        const std::size_t childrenBefore = sim().processes().children().size();
        std::optional<std::string> summary;
        auto done = reset.finished.subscribe([&](const std::string& text) { summary = text; });
        ASSERT_TRUE(reset.perform(true));
        loop().drain();
        // Everything but the result happened without waiting for the child.
        EXPECT_EQ(sim().userDefaults().integerForKey(SettingsReset::kTabSelectionKey), 6);
        if (c.end == End::exit || c.end == End::timeout) {
            ASSERT_EQ(sim().processes().children().size(), childrenBefore + 1);
            auto child = sim().processes().lastChild();
            EXPECT_EQ(child->request().arguments, kRemoveRule.arguments);
            EXPECT_FALSE(summary.has_value());
            EXPECT_FALSE(reset.perform(false)) << "one reset at a time";
            if (c.end == End::exit) {
                child->exit(c.status);
            } else {
                loop().advance(SettingsReset::kClearingTimeout - 1);
                EXPECT_FALSE(summary.has_value());
                loop().advance(1);
                EXPECT_TRUE(child->wasTerminated());
            }
            loop().drain();
        } else {
            EXPECT_EQ(sim().processes().children().size(), childrenBefore);
        }
        ASSERT_TRUE(summary.has_value());
        EXPECT_NE(summary->find(c.tail), std::string::npos) << *summary;
        EXPECT_EQ(newestEntry().detail, *summary);
        EXPECT_FALSE(reset.running());
    }
}

TEST_F(SettingsResetTest, LeavesDefaultsNoRulesNoDrivesAndNothingSilenced) {
    addRules(1);
    services().triggerEngine().pause(std::nullopt);
    services().triggerEngine().setMasterEnabled(false);
    DriveKeepAlive::Drive drive;
    drive.id = "disk-1";
    drive.name = "Archive";
    services().driveKeepAlive();
    loop().drain();
    services().driveKeepAlive().drives = {drive};
    services().driveKeepAlive().globalIntervalSeconds = 600;
    prefs().tieDevicesToSession = false;
    prefs().preventScreenSaver = true;
    prefs().keyboardBacklightOff = true;
    prefs().builtInDisplayOff = true;
    sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    controller().start();
    loop().drain();
    ASSERT_TRUE(controller().isActive());
    bool lastReconcileHeldNothing = false;
    auto watch = services().deviceState().reconciled.subscribe([&] {
        lastReconcileHeldNothing = !prefs().preventScreenSaver() &&
                                   !prefs().keyboardBacklightOff() &&
                                   !prefs().builtInDisplayOff() && !prefs().blockBuiltInKeyboard();
    });

    ASSERT_TRUE(services().settingsReset().perform(false));
    // Until the rescan merges and saves, the domain holds only what reload wrote and the tab.
    std::set<std::string> allowed = {SettingsReset::kTabSelectionKey};
    for (const auto* setting : prefs().settings()) {
        allowed.insert(setting->key());
    }
    for (const auto& [key, value] : sim().userDefaults().persistentDomain()) {
        EXPECT_TRUE(allowed.contains(key)) << key;
    }
    loop().drain();

    EXPECT_FALSE(controller().isActive());
    EXPECT_FALSE(services().triggerEngine().isPaused());
    EXPECT_TRUE(services().triggerEngine().masterEnabled());
    EXPECT_TRUE(services().triggerEngine().rules().empty());
    EXPECT_TRUE(services().driveKeepAlive().drives().empty());
    EXPECT_EQ(services().driveKeepAlive().globalIntervalSeconds(), 180);
    EXPECT_TRUE(lastReconcileHeldNothing);
    EXPECT_TRUE(prefs().tieDevicesToSession());
    EXPECT_FALSE(sim().userDefaults().persistentValue(PermissionPrimer::kExplainedKey));
    // The log holds what the reset's own steps recorded, then the result, newest first.
    const auto& entries = services().activityLog().entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries.front().title, "All settings reset");
    std::vector<std::string> titles;
    for (const auto& entry : entries) {
        titles.push_back(entry.title);
    }
    EXPECT_NE(std::find(titles.begin(), titles.end(), "All rules deleted"), titles.end());
    EXPECT_NE(std::find(titles.begin(), titles.end(), "Triggers resumed"), titles.end());
}

}  // namespace
}  // namespace orvel
