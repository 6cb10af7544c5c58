// The Triggers sub-tab and a rule list drawn by the Qt host, checked through their widgets and
// written to PNG for a person to look at.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "QtUiTest.h"
#include "app/compose/Services.h"
#include "automations/ACOnlyToggle.h"
#include "automations/ActionPicker.h"
#include "automations/AutomationsAndTriggersView.h"
#include "automations/DurationPicker.h"
#include "automations/EditorFooter.h"
#include "automations/RuleRow.h"
#include "automations/TriggersSettingsView.h"
#include "core/Preferences.h"
#include "platform/Platform.h"
#include "triggers/TriggerEngine.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

constexpr const char* kHeadphones = "a4-83-e7-11-22-33";

class RuleList final : public ui::ViewComponent {
  public:
    explicit RuleList(TriggerEngine& engine) : engine_(engine) {}
    Published<std::set<UUID>> expanded{*this, {}};

    ui::View body() override {
        ExpandedRules open{[this] { return expanded(); },
                           [this](const std::set<UUID>& ids) { expanded = ids; }};
        RuleEditor editor = [this, open](const TriggerRule& rule) {
            TriggerEngine& engine = engine_;
            return ui::VStack(
                ui::HAlign::leading, 8,
                {DurationPicker{engine, rule}.body(),
                 ActionPicker{engine, "When it appears", rule, &TriggerRule::onAppear}.body(),
                 ActionPicker{engine, "When it clears", rule, &TriggerRule::onClear}.body(),
                 ACOnlyToggle{engine, rule}.body(), EditorFooter{engine, rule, open}.body()});
        };
        std::vector<ui::View> rows;
        for (const TriggerRule& rule : engine_.rules()) {
            rows.push_back(
                RuleRow{engine_, Platform::current().network(), rule, open, editor}.body().id(
                    rule.id.uuidString()));
        }
        return ui::Form({ui::Section(std::nullopt, std::move(rows))});
    }
    std::vector<ObservableObject*> observedObjects() override { return {&engine_, this}; }

  private:
    TriggerEngine& engine_;
};

class AutomationsPicturesTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        sim().bluetooth().pair(BluetoothDevice{kHeadphones, "Headphones", true});
    }
    void TearDown() override {
        window_.reset();
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }
    QWidget& show(std::shared_ptr<ui::ViewComponent> content, double width = 680,
                  double height = 620) {
        window_ = host().makeWindow();
        window_->setTitle("Automations & Triggers");
        window_->setContentSize(width, height);
        window_->setContent(std::move(content));
        window_->makeKeyAndOrderFront();
        settle();
        return *static_cast<ui::QtWindow&>(*window_).widget();
    }
    static bool visible(QWidget& window, const QString& text) {
        for (auto* label : window.findChildren<QLabel*>()) {
            if (label->text() == text && label->isVisibleTo(&window))
                return true;
        }
        for (auto* button : window.findChildren<QAbstractButton*>()) {
            if (button->text() == text && button->isVisibleTo(&window))
                return true;
        }
        return false;
    }
    // Waits for what a change asks to be drawn.
    bool shows(QWidget& window, const QString& text) {
        return waitUntil([&] { return visible(window, text); });
    }
    bool hides(QWidget& window, const QString& text) {
        return waitUntil([&] { return !visible(window, text); });
    }
    // One entry of each kind, the last without a detail.
    void logEveryKind() {
        using K = ActivityEntry::Kind;
        std::vector<ActivityEntry> entries;
        for (K kind : {K::started, K::ended, K::shielded, K::rearmed, K::simulated, K::info}) {
            entries.push_back(ActivityEntry::make(kind, "Headphones " + std::string(rawValue(kind)),
                                                  kind == K::info ? "" : "Started session — 1 h"));
        }
        services().activityLog().entries = entries;
    }
    static TriggerRule headphonesRule() {
        TriggerRule rule;
        rule.name = "Headphones";
        rule.btAddress = kHeadphones;
        rule.durationSeconds = 3600;
        return rule;
    }

  private:
    std::unique_ptr<ui::Window> window_;
};

TEST_F(AutomationsPicturesTest, TheTriggersPageFreshBusyAndPaused) {
    QWidget& page = show(std::make_shared<TriggersSettingsView>(
        services().triggerEngine(), services().activityLog(), services().preferences()));
    ASSERT_TRUE(shows(page, "ALWAYS FIRST"));
    ASSERT_TRUE(shows(page, "No trigger activity yet."));
    savePng(page, "triggers-fresh");

    Preferences& prefs = services().preferences();
    prefs.lowBattEnd = true;
    prefs.deactivateOnBattery = true;
    prefs.lpmEnd = true;
    prefs.upsReact = true;
    services().triggerEngine().add(headphonesRule());
    logEveryKind();
    ASSERT_TRUE(shows(page, "\u25CF holding \u2014 Headphones"));
    ASSERT_TRUE(shows(page, "Headphones rearmed"));
    savePng(page, "triggers-busy");

    services().triggerEngine().pause(std::nullopt);
    ASSERT_TRUE(shows(page, "Resume"));
    savePng(page, "triggers-paused");
}

TEST_F(AutomationsPicturesTest, TheWholeTabOnTriggersFreshBusyPausedAndOnAStrayValue) {
    MemoryUserDefaults& d = sim().userDefaults();
    auto tab = std::make_shared<AutomationsAndTriggersView>(
        ui::Binding<std::int64_t>{
            [&d] { return d.integerForKey(AutomationsAndTriggersView::kSubTabKey); },
            [&d](const std::int64_t& tag) {
                d.setInteger(AutomationsAndTriggersView::kSubTabKey, tag);
            }},
        services().automationServices());
    // The Settings window's content size.
    QWidget& window = show(tab, 900, 560);
    ASSERT_TRUE(shows(window, "Re-apply after waking from sleep"));
    ASSERT_TRUE(shows(window, "No trigger activity yet."));
    savePng(window, "automations-fresh");

    services().preferences().lowBattEnd = true;
    services().preferences().upsReact = true;
    services().triggerEngine().add(headphonesRule());
    logEveryKind();
    ASSERT_TRUE(shows(window, "\u25CF holding \u2014 Headphones"));
    savePng(window, "automations-busy");

    services().triggerEngine().pause(std::nullopt);
    ASSERT_TRUE(shows(window, "Resume"));
    savePng(window, "automations-paused");

    d.setInteger(AutomationsAndTriggersView::kSubTabKey, 7);
    ASSERT_TRUE(hides(window, "Resume"));
    ASSERT_TRUE(hides(window, "ALWAYS FIRST"));
    EXPECT_TRUE(visible(window, "Re-apply after waking from sleep"));
    savePng(window, "automations-stray-value");
}

TEST_F(AutomationsPicturesTest, ARuleListWithEveryBadgeAndOneRowOpen) {
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    TriggerRule holding = headphonesRule();
    TriggerRule away = headphonesRule();
    away.name = "Old keyboard";
    away.unavailableHere = true;
    away.matcher = NetworkMatcher::ssid("Office");
    TriggerRule cafe;
    cafe.source = TriggerSource::wifiSSID;
    cafe.name = "Cafe";
    cafe.matcher = NetworkMatcher::ssid("Cafe");
    cafe.durationSeconds = 5400;
    TriggerRule noDevice;
    noDevice.name = "New device rule";
    TriggerRule noApp;
    noApp.source = TriggerSource::app;
    noApp.name = "New app rule";
    // Open all day, so it is open as it is taken up and has started nothing.
    TriggerRule allDay;
    allDay.source = TriggerSource::schedule;
    allDay.name = "All day";
    allDay.schedStartMin = 0;
    allDay.schedEndMin = 0;
    for (const auto& rule : {holding, away, cafe, noDevice, noApp, allDay}) {
        services().triggerEngine().add(rule);
    }
    auto list = std::make_shared<RuleList>(services().triggerEngine());
    list->expanded = {cafe.id};
    QWidget& window = show(list);
    for (const char* text :
         {"HOLDING", "UNAVAILABLE ON THIS COMPUTER", "NEEDS LOCATION", "CHOOSE A DEVICE",
          "CHOOSE AN APPLICATION", "STARTS AT NEXT OPENING", "Delete Rule"}) {
        EXPECT_TRUE(shows(window, text)) << text;
    }
    savePng(window, "rule-list");
}

}  // namespace
}  // namespace orvel
