#include "automations/AppsSettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "automations/AppRuleEditor.h"
#include "automations/RuleTabTest.h"
#include "automations/RuleWrite.h"
#include "core/ActivityLog.h"
#include "menubar/AppWindows.h"
#include "platform/UserDefaults.h"
#include "triggers/TriggerEngine.h"
#include "ui/HeadlessHost.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

using ui::Inspector;

constexpr const char* kPending = "apps.pendingExpand";
const std::string kApplications = "/sim/applications/";

class AppsSettingsViewTest : public test::RuleTabTest<AppsSettingsView> {
  protected:
    void SetUp() override {
        RuleTabTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
        sim().powerSources().setOnAC(true);
        engine().start();
        AppWindows::current() = delegate.get();
        loop().drain();
        show();
        counting = engine().rules.subscribe([this](const auto&) { ++updates; });
    }
    void TearDown() override {
        pageHost.reset();
        page.reset();
        delegate.reset();
        RuleTabTest::TearDown();
    }
    std::shared_ptr<AppsSettingsView> makePage() override {
        return std::make_shared<AppsSettingsView>(engine(), controller(), sim().userDefaults(),
                                                  sim().workspace(), sim().network());
    }
    auto& defaults() { return sim().userDefaults(); }
    // The sub-tab goes off screen and comes back, as when another tab was chosen meanwhile.
    void reappear() {
        pageHost->setShown(false);
        pageHost->setShown(true);
    }
    // The texts between the rules' header and their caption.
    std::vector<std::string> ruleSectionTexts() {
        return textsBetween("App rules", "Windowed apps report launch and quit instantly");
    }
    static TriggerRule appRule(const std::string& name, bool enabled = true) {
        TriggerRule rule;
        rule.name = name;
        rule.source = TriggerSource::app;
        rule.enabled = enabled;
        rule.onAppear = TriggerAction::startSession;
        rule.onClear = TriggerAction::endSession;
        return rule;
    }
    // Adds the rule and opens its editor.
    TriggerRule open(TriggerRule rule) {
        engine().add(rule);
        page->expanded = {rule.id};
        return rule;
    }
    // An installed application's desktop entry, as the workspace reads it.
    void installEntry(const std::string& id, std::optional<std::string> name, bool noDisplay,
                      std::optional<std::string> displayName = std::nullopt) {
        PropertyDictionary info;
        info["CFBundleIdentifier"] = id;
        if (name) {
            info["CFBundleName"] = *name;
        }
        if (displayName) {
            info["CFBundleDisplayName"] = *displayName;
        }
        info["LSUIElement"] = noDisplay;
        sim().workspace().setBundle(kApplications + id + ".desktop", info);
    }
    // Clicks `button`, then "Other…" in the application chooser it opens (the window titled
    // `title`): what the scripted file panel answers is chosen.
    bool throughOther(const std::string& button, const std::string& title) {
        if (!view().click(button)) {
            return false;
        }
        loop().drain();
        ui::HeadlessWindow* chooser = host().window(title);
        if (chooser == nullptr || !chooser->isVisible() ||
            !chooser->inspect().click("Other\u2026")) {
            return false;
        }
        loop().drain();
        return true;
    }
    RunningApplication watch(const std::string& id, const std::string& name) {
        const RunningApplication app = sim().workspace().launch(id, name);
        controller().watchApp(app);
        loop().drain();
        return app;
    }

    std::unique_ptr<AppDelegate> delegate;
    int updates = 0;
    Subscription counting;
};

// The one-off section ---------------------------------------------------------------------------

TEST_F(AppsSettingsViewTest, TheWatchingVariantNeedsAnActiveUntilAppQuitsSessionWithAName) {
    enum class Session { none, timed, untilQuitUnnamed, watching };
    struct Case {
        const char* what;
        Session session;
        bool watching;
    };
    const Case cases[] = {
        {"no session", Session::none, false},
        {"a session of another preset", Session::timed, false},
        {"until an app quits, no name", Session::untilQuitUnnamed, false},
        {"watching Editor", Session::watching, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        controller().stop(false);
        switch (c.session) {
            case Session::none:
                break;
            case Session::timed:
                controller().selectPreset(DurationPreset::h1);
                ASSERT_TRUE(controller().start());
                break;
            case Session::untilQuitUnnamed:
                controller().preset = DurationPreset::untilAppQuits;
                ASSERT_TRUE(controller().start());
                ASSERT_FALSE(controller().watchedAppName());
                break;
            case Session::watching:
                watch("org.example.Editor", "Editor");
                break;
        }
        loop().drain();
        Inspector v = view();
        EXPECT_TRUE(v.contains("Until an app quits (one-off)"));
        EXPECT_EQ(v.contains("Watching Editor"), c.watching);
        EXPECT_EQ(v.contains("The running session ends when Editor quits. It's a MANUAL session "
                             "\u2014 started by you \u2014 so rules never end it. Same watcher "
                             "underneath as app rules."),
                  c.watching);
        EXPECT_EQ(v.control("Change App\u2026").has_value(), c.watching);
        EXPECT_EQ(v.control("Make This a Rule\u2026").has_value(), c.watching);
        EXPECT_EQ(v.contains("Not running"), !c.watching);
        EXPECT_EQ(v.control("Choose App & Start\u2026").has_value(), !c.watching);
        EXPECT_EQ(v.contains("One-off: pick an app and stay awake until it quits \u2014 no rule "
                             "involved, same watcher underneath. Also in the menu: Duration "
                             "\u203A Until an app quits\u2026"),
                  !c.watching);
    }
}

TEST_F(AppsSettingsViewTest, TheSectionFollowsTheWatchedApplicationQuitting) {
    const RunningApplication editor = watch("org.example.Editor", "Editor");
    EXPECT_TRUE(view().contains("Watching Editor"));
    sim().workspace().quit(editor.processIdentifier);
    loop().drain();
    EXPECT_FALSE(view().contains("Watching Editor"));
    EXPECT_TRUE(view().contains("Not running"));
}

TEST_F(AppsSettingsViewTest, ChooseAppAndStartWatchesTheChosenApplication) {
    const std::string path = kApplications + "org.example.Editor.desktop";
    sim().workspace().install(path, "org.example.Editor", "Editor");
    host().scriptOpenPanel(std::vector<std::string>{path});
    ASSERT_TRUE(throughOther("Choose App & Start\u2026", "Stay awake until this app quits"));
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(view().contains("Watching Editor"));

    const std::string other = kApplications + "org.example.Viewer.desktop";
    sim().workspace().install(other, "org.example.Viewer", "Viewer");
    host().scriptOpenPanel(std::vector<std::string>{other});
    ASSERT_TRUE(throughOther("Change App\u2026", "Stay awake until this app quits"));
    EXPECT_TRUE(view().contains("Watching Viewer"));
    EXPECT_EQ(host().openPanelsShown().size(), 2u);
}

TEST_F(AppsSettingsViewTest, ALaunchThatFailsIsExplainedInAnAlertAndNothingStarts) {
    const std::string path = kApplications + "org.example.Editor.desktop";
    sim().workspace().install(path, "org.example.Editor", "Editor");
    sim().workspace().failNextOpenApplication("Editor did not start within 10 seconds.");
    host().scriptOpenPanel(std::vector<std::string>{path});
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    ASSERT_TRUE(throughOther("Choose App & Start\u2026", "Stay awake until this app quits"));
    ASSERT_EQ(host().alerts().size(), 1u);
    EXPECT_EQ(host().alerts().back()->content().informativeText,
              "Editor did not start within 10 seconds.");
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(view().contains("Not running"));
}

TEST_F(AppsSettingsViewTest, WithoutARunningApplicationTheOneOffButtonsDoNothing) {
    AppWindows::current() = nullptr;
    host().scriptOpenPanel(std::vector<std::string>{kApplications + "org.example.Editor.desktop"});
    ASSERT_TRUE(view().click("Choose App & Start\u2026"));
    watch("org.example.Editor", "Editor");
    ASSERT_TRUE(view().click("Change App\u2026"));
    ASSERT_TRUE(view().click("Make This a Rule\u2026"));
    loop().drain();
    EXPECT_TRUE(host().openPanelsShown().empty());
    EXPECT_TRUE(engine().rules().empty());
    EXPECT_FALSE(defaults().persistentValue(kPending));
    EXPECT_EQ(controller().watchedAppName(), "Editor");
}

// The rule list ---------------------------------------------------------------------------------

TEST_F(AppsSettingsViewTest, OnlyAppRulesAreListedInTheEnginesOrderAndWithoutRulesNoEmptyText) {
    TriggerRule other;
    other.name = "Headphones";
    other.source = TriggerSource::bluetooth;
    engine().add(other);
    EXPECT_EQ(ruleSectionTexts(), std::vector<std::string>{"Add Rule\u2026"});

    engine().add(appRule("Zed"));
    TriggerRule schedule = appRule("Nights");
    schedule.source = TriggerSource::schedule;
    engine().add(schedule);
    engine().add(appRule("Alpha", false));
    const auto texts = ruleSectionTexts();
    const auto at = [&](const std::string& text) {
        return std::find(texts.begin(), texts.end(), text) - texts.begin();
    };
    ASSERT_LT(at("Alpha"), static_cast<long>(texts.size()));
    EXPECT_LT(at("Zed"), at("Alpha")) << "the engine's order, disabled rules too";
    EXPECT_FALSE(view().contains("Headphones"));
    EXPECT_FALSE(view().contains("Nights"));
    EXPECT_EQ(page->appRules().size(), 2u);
}

TEST_F(AppsSettingsViewTest, TwoAddsMakeTwoOpenRulesThatWatchNothingYet) {
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(view().click("Add Rule\u2026"));
    }
    ASSERT_EQ(engine().rules().size(), 2u);
    std::set<UUID> ids;
    for (const TriggerRule& rule : engine().rules()) {
        EXPECT_EQ(rule.name, "New app rule");
        EXPECT_EQ(rule.source, TriggerSource::app);
        EXPECT_TRUE(rule.enabled);
        EXPECT_EQ(rule.onAppear, TriggerAction::startSession);
        EXPECT_EQ(rule.onClear, TriggerAction::endSession);
        EXPECT_EQ(rule.durationSeconds, 0);
        EXPECT_FALSE(rule.acOnly);
        EXPECT_FALSE(rule.appBundleID);
        EXPECT_FALSE(rule.appName);
        EXPECT_FALSE(rule.watchBackground);
        ids.insert(rule.id);
    }
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_EQ(page->expanded(), ids);
    const auto texts = view().texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Choose\u2026"), 2) << "both editors open";
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "CHOOSE AN APPLICATION"), 2)
        << "both rows say they wait for an application";
}

TEST_F(AppsSettingsViewTest, APendingExpandIsConsumedOnlyWhenItNamesAnId) {
    struct Case {
        const char* what;
        std::optional<std::string> stored;  // none: the key is absent
        bool opens;
        bool kept;
    };
    const TriggerRule rule = appRule("Editor");
    const Case cases[] = {
        {"absent", std::nullopt, false, false},
        {"not an id", std::string("not-a-uuid"), false, true},
        {"an existing rule", rule.id.uuidString(), true, false},
        {"an id of no rule", UUID().uuidString(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine().deleteAll();
        engine().add(rule);
        if (c.stored) {
            defaults().setString(kPending, *c.stored);
        } else {
            defaults().removeObject(kPending);
        }
        show();
        EXPECT_EQ(view().contains("Browse\u2026"), c.opens);
        EXPECT_EQ(defaults().stringForKey(kPending),
                  c.kept ? c.stored : std::optional<std::string>());
        // Once: closed again, it stays closed the next time the sub-tab comes on screen.
        page->expanded = {};
        reappear();
        EXPECT_FALSE(view().contains("Browse\u2026"));
        EXPECT_EQ(defaults().stringForKey(kPending),
                  c.kept ? c.stored : std::optional<std::string>());
    }
}

TEST_F(AppsSettingsViewTest, MakeThisARuleOnTheShownSubTabListsTheRuleClosedAndKeepsTheKey) {
    watch("org.example.Editor", "Editor");
    defaults().setInteger("atSubTab", 5);
    defaults().setInteger("settingsTabSelection", 1);
    delegate->openSettings();
    loop().drain();
    ASSERT_TRUE(delegate->settingsWindow);
    auto& window = static_cast<ui::HeadlessWindow&>(*delegate->settingsWindow);
    ASSERT_TRUE(window.inspect().click("Make This a Rule\u2026")) << window.inspect().lastFailure();
    loop().drain();
    ASSERT_EQ(engine().rules().size(), 1u);
    const TriggerRule rule = engine().rules().front();
    EXPECT_FALSE(rule.enabled);
    EXPECT_EQ(rule.name, "Editor");
    Inspector shown = window.inspect();
    EXPECT_TRUE(shown.contains("Editor"));
    EXPECT_FALSE(shown.contains("Browse\u2026")) << "listed closed";
    EXPECT_EQ(defaults().stringForKey(kPending), rule.id.uuidString());

    // The next time the sub-tab comes on screen its editor opens.
    show();
    EXPECT_TRUE(view().contains("Browse\u2026"));
    EXPECT_FALSE(defaults().persistentValue(kPending));
}

// The rule editor -------------------------------------------------------------------------------

TEST_F(AppsSettingsViewTest, ChoosingRunningApplicationsNamesTheRuleUnlessTheUserTypedAName) {
    sim().workspace().launch(std::string("org.example.Viewer"), std::string("viewer"));
    sim().workspace().launch(std::string("org.example.Editor"), std::string("Editor"));
    sim().workspace().launch(std::string("org.example.Agent"), std::string("Agent"),
                             ActivationPolicy::accessory);
    ASSERT_TRUE(view().click("Add Rule\u2026"));
    const UUID id = engine().rules().front().id;
    EXPECT_EQ(view().control("Application")->node->children.size(), 1u);
    EXPECT_TRUE(view().contains("Choose\u2026"));
    EXPECT_EQ(view().openMenu("Application"), (std::vector<std::string>{"Editor", "viewer"}))
        << "regular applications by name, ignoring case, as they are named";

    struct Step {
        const char* what;
        std::optional<std::string> typed;  // a name typed before choosing
        const char* item;
        const char* name;
        const char* bundleID;
    };
    const Step steps[] = {
        {"the default name follows A", std::nullopt, "Editor", "Editor", "org.example.Editor"},
        {"A's name follows B", std::nullopt, "viewer", "viewer", "org.example.Viewer"},
        {"a typed name stays", std::string(" at work"), "Editor", "viewer at work",
         "org.example.Editor"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.typed) {
            // A name set by hand, as an import or an earlier version could leave it.
            writeRule(engine(), id, [&](TriggerRule& r) { r.name += *s.typed; });
            loop().drain();
        }
        ASSERT_TRUE(view().chooseMenuItem("Application", s.item)) << view().lastFailure();
        loop().advance(1);
        const TriggerRule* stored = storedRule(id);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->name, s.name);
        EXPECT_EQ(stored->appName, s.item);
        EXPECT_EQ(stored->appBundleID, s.bundleID);
        EXPECT_FALSE(stored->watchBackground) << "regular applications leave it untouched";
        EXPECT_TRUE(view().contains(s.item)) << "the menu's title";
    }
}

TEST_F(AppsSettingsViewTest, RunningApplicationsAreAskedForOnlyWhenTheMenuOpens) {
    sim().workspace().launch(std::string("org.example.Editor"), std::string("Editor"));
    std::set<UUID> open;
    for (int i = 0; i < 10; ++i) {
        TriggerRule rule = appRule("Rule " + std::to_string(i));
        engine().add(rule);
        open.insert(rule.id);
    }
    page->expanded = open;
    view();
    const std::size_t before = sim().workspace().scans();
    for (int i = 0; i < 3; ++i) {
        pageHost->evaluate();
    }
    EXPECT_EQ(sim().workspace().scans(), before) << "rendering ten editors asks nothing";
    EXPECT_EQ(view().openMenu("Application"), std::vector<std::string>{"Editor"});
    EXPECT_GT(sim().workspace().scans(), before);
}

TEST_F(AppsSettingsViewTest, BrowseTakesAnInstalledEntryAndNeverTurnsBackgroundWatchingOff) {
    installEntry("org.example.Tray", std::string("Tray"), true, std::string("Plateau"));
    installEntry("org.example.Editor", std::string("Editor"), false);
    installEntry("org.example.Nameless", std::nullopt, false);
    const TriggerRule rule = open(appRule("New app rule"));

    struct Step {
        const char* what;
        std::optional<std::string> chosen;  // none: cancelled
        const char* name;
        std::optional<std::string> bundleID;
        bool background;
    };
    const Step steps[] = {
        {"cancelled: nothing", std::nullopt, "New app rule", std::nullopt, false},
        {"an entry that does not open: nothing", kApplications + "missing.desktop", "New app rule",
         std::nullopt, false},
        {"a hidden entry not running: watching on, its own-language name",
         kApplications + "org.example.Tray.desktop", "Plateau", std::string("org.example.Tray"),
         true},
        {"a regular one afterwards: watching stays on",
         kApplications + "org.example.Editor.desktop", "Editor", std::string("org.example.Editor"),
         true},
        {"no name: the file's", kApplications + "org.example.Nameless.desktop",
         "org.example.Nameless", std::string("org.example.Nameless"), true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.chosen) {
            host().scriptOpenPanel(std::vector<std::string>{*s.chosen});
        } else {
            host().scriptOpenPanel(std::nullopt);
        }
        const int before = updates;
        ASSERT_TRUE(throughOther("Browse\u2026", "Choose an Application"));
        EXPECT_EQ(updates - before, s.bundleID ? 1 : 0);
        const TriggerRule* stored = storedRule(rule.id);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->name, s.name);
        EXPECT_EQ(stored->appBundleID, s.bundleID ? s.bundleID : stored->appBundleID);
        EXPECT_EQ(stored->watchBackground.value_or(false), s.background);
    }
    const ui::OpenPanelOptions& panel = host().openPanelsShown().back();
    EXPECT_EQ(panel.title, "");
    EXPECT_EQ(panel.prompt, "");
    EXPECT_EQ(panel.allowedExtensions, std::vector<std::string>{"desktop"});
    EXPECT_EQ(panel.directory, "/sim/applications");
    EXPECT_FALSE(panel.allowsMultipleSelection);
    EXPECT_FALSE(panel.canChooseDirectories);
}

// Whatever the chooser lists, the rule takes: its name and id as listed.
TEST_F(AppsSettingsViewTest, EveryApplicationTheChooserListsFillsTheRule) {
    sim().workspace().install(kApplications + "org.example.Editor.desktop", "org.example.Editor",
                              "Editor");
    sim().workspace().install(kApplications + "org.example.Mail.desktop", "org.example.Mail",
                              "Mail");
    sim().workspace().launch(std::string("org.example.Mail"), std::string("Mail"),
                             ActivationPolicy::regular, kApplications + "org.example.Mail.desktop");
    const TriggerRule rule = open(appRule("New app rule"));
    const struct {
        const char* row;
        const char* name;
        const char* id;
    } picks[] = {
        {"Mail Running", "Mail", "org.example.Mail"},
        {"Editor", "Editor", "org.example.Editor"},
    };
    for (const auto& pick : picks) {
        SCOPED_TRACE(pick.row);
        ASSERT_TRUE(view().click("Browse\u2026"));
        loop().drain();
        ui::HeadlessWindow* chooser = host().window("Choose an Application");
        ASSERT_TRUE(chooser && chooser->isVisible());
        EXPECT_EQ(chooser->inspect().listRows(),
                  (std::vector<std::string>{"Mail Running", "Editor"}));
        ASSERT_TRUE(chooser->inspect().selectRow(pick.row));
        loop().drain();
        ASSERT_TRUE(chooser->inspect().click("Choose"));
        loop().drain();
        EXPECT_FALSE(chooser->isVisible());
        const TriggerRule* stored = storedRule(rule.id);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->appName, pick.name);
        EXPECT_EQ(stored->appBundleID, pick.id);
        EXPECT_EQ(stored->name, pick.name);
    }
    EXPECT_TRUE(host().openPanelsShown().empty());
}

TEST_F(AppsSettingsViewTest, AnEntryWithoutAnIdChangesNothing) {
    PropertyDictionary info;
    info["CFBundleName"] = std::string("Broken");
    info["LSUIElement"] = true;
    sim().workspace().setBundle(kApplications + "broken.desktop", info);
    info["CFBundleIdentifier"] = std::string();
    sim().workspace().setBundle(kApplications + "empty-id.desktop", info);
    const TriggerRule rule = open(appRule("New app rule"));
    updates = 0;
    for (const char* file : {"broken.desktop", "empty-id.desktop"}) {
        SCOPED_TRACE(file);
        host().scriptOpenPanel(std::vector<std::string>{kApplications + file});
        ASSERT_TRUE(throughOther("Browse\u2026", "Choose an Application"));
        EXPECT_EQ(updates, 0);
        EXPECT_EQ(*storedRule(rule.id), rule);
    }
}

TEST_F(AppsSettingsViewTest, TheDurationShowsOnlyForStartSessionAndTheToggleStoresFalse) {
    const TriggerRule rule = open(appRule("Editor"));
    const struct {
        const char* action;
        bool duration;
    } cases[] = {{"endSession", false}, {"nothing", false}, {"startSession", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        ASSERT_TRUE(view().pick("On launch", c.action)) << view().lastFailure();
        EXPECT_EQ(view().contains("Session duration"), c.duration);
        EXPECT_EQ(storedRule(rule.id)->onClear, TriggerAction::endSession);
    }
    ASSERT_TRUE(view().pick("On quit", "nothing"));
    EXPECT_EQ(storedRule(rule.id)->onClear, TriggerAction::nothing);
    EXPECT_EQ(storedRule(rule.id)->onAppear, TriggerAction::startSession);

    EXPECT_EQ(view().toggleValue("Watch background processes"), false);
    ASSERT_TRUE(view().setToggle("Watch background processes", true));
    EXPECT_EQ(storedRule(rule.id)->watchBackground, true);
    ASSERT_TRUE(view().setToggle("Watch background processes", false));
    EXPECT_EQ(storedRule(rule.id)->watchBackground, std::optional<bool>(false));
}

TEST_F(AppsSettingsViewTest, CreatedEditedTestedAndDeletedThroughTheControls) {
    sim().workspace().launch(std::string("org.example.Editor"), std::string("Editor"));
    ASSERT_TRUE(view().click("Add Rule\u2026"));
    ASSERT_TRUE(view().chooseMenuItem("Application", "Editor"));
    ASSERT_TRUE(view().pick("Session duration", "3600")) << view().lastFailure();
    ASSERT_TRUE(view().setToggle("Only while on AC power", true));
    const TriggerRule rule = engine().rules().front();
    EXPECT_EQ(rule.name, "Editor");
    EXPECT_EQ(rule.durationSeconds, 3600);
    EXPECT_TRUE(rule.acOnly);
    ASSERT_TRUE(view().click("Test"));
    loop().drain();
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(services().activityLog().entries().back().title, "Test \u2014 Editor");
    ASSERT_TRUE(view().click("Collapse"));
    EXPECT_FALSE(view().contains("Browse\u2026"));
    ASSERT_TRUE(view().click("Editor"));
    ASSERT_TRUE(view().click("Delete Rule"));
    EXPECT_TRUE(engine().rules().empty());
    EXPECT_FALSE(view().contains("Editor"));
}

}  // namespace
}  // namespace orvel
