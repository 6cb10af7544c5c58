#include "triggers/AppTriggerSource.h"

#include <gtest/gtest.h>

#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"

namespace orvel {
namespace {

using Notice = SimWorkspace::Notice;
using test::activity;

// Rules run only on AC power while the machine is on battery, so every event the source
// reports leaves one activity line with its title and starts nothing.
class AppTriggerSourceTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        sim().powerSources().setOnAC(false);
        services().triggerEngine().start();
        loop().drain();
    }

    AppTriggerSource& source() { return services().appSource(); }
    SimWorkspace& workspace() { return sim().workspace(); }

    static TriggerRule appRule(const char* name, const char* bundleID, bool background = false) {
        TriggerRule rule = test::makeRule(TriggerSource::app, name);
        rule.appBundleID = bundleID;
        rule.appName = name;
        rule.acOnly = true;
        if (background) {
            rule.watchBackground = true;
        }
        return rule;
    }

    // The titles of the events reported to the engine so far, oldest first.
    std::vector<std::string> events() {
        loop().drain();  // the log takes entries on the next turn
        std::vector<std::string> titles;
        for (const auto& line : activity(services().activityLog())) {
            const auto first = line.find('|');
            const auto second = line.find('|', first + 1);
            if (line.substr(second + 1) == test::kIgnoredOffAC) {
                titles.push_back(line.substr(first + 1, second - first - 1));
            }
        }
        return titles;
    }
};

using Events = std::vector<std::string>;

TEST_F(AppTriggerSourceTest, InstallingRulesRecordsTheRunningAppSilentlyAndReportsItsLaterQuit) {
    auto editor = workspace().launch("org.example.Editor", "Editor");
    services().triggerEngine().add(appRule("Editor", "org.example.Editor"));
    EXPECT_EQ(events(), Events{});
    EXPECT_EQ(source().runningState, (std::map<std::string, bool>{{"org.example.Editor", true}}));
    workspace().quit(editor.processIdentifier);
    EXPECT_EQ(events(), Events{"Editor quit"});
    workspace().launch("org.example.Editor", "Editor");
    EXPECT_EQ(events(), (Events{"Editor quit", "Editor launched"}));
}

TEST_F(AppTriggerSourceTest, NotificationAndPollOfOneLaunchReportAsTheyArrive) {
    struct Case {
        const char* what;
        bool notifiedFirst;
        Events afterFirst;
        Events afterBoth;
    };
    const Case cases[] = {
        {"notification first: the poll finds nothing new",
         true,
         {"Editor launched"},
         {"Editor launched"}},
        {"poll first: the notification still reports its edge",
         false,
         {"Editor launched"},
         {"Editor launched", "Editor launched"}},
    };
    for (const auto& c : cases) {
        services().activityLog().clear();
        services().triggerEngine().deleteAll();
        services().triggerEngine().add(appRule("Editor", "org.example.Editor", true));
        ASSERT_TRUE(source().isPolling()) << c.what;
        auto app = workspace().launch("org.example.Editor", "Editor", ActivationPolicy::regular,
                                      Notice::silent);
        if (c.notifiedFirst) {
            workspace().didLaunchApplication.send(app);
            EXPECT_EQ(events(), c.afterFirst) << c.what;
            loop().advance(AppTriggerSource::kPollInterval);
        } else {
            loop().advance(AppTriggerSource::kPollInterval);
            EXPECT_EQ(events(), c.afterFirst) << c.what;
            workspace().didLaunchApplication.send(app);
        }
        EXPECT_EQ(events(), c.afterBoth) << c.what;
        workspace().quit(app.processIdentifier, Notice::silent);
    }
}

TEST_F(AppTriggerSourceTest, OnlyAnEnabledBackgroundRuleOrABackgroundOneOffKeepsThePoll) {
    workspace().launch("org.example.Sync", "Sync", ActivationPolicy::accessory, Notice::silent);
    struct Case {
        const char* what;
        bool enabled;
        bool background;
        const char* oneOff;
        bool polls;
    };
    const Case cases[] = {
        {"an enabled background rule", true, true, nullptr, true},
        {"a disabled background rule", false, true, nullptr, false},
        {"an enabled rule of notifications only", true, false, nullptr, false},
        {"a one-off of a background application", true, false, "org.example.Sync", true},
        {"a one-off of an application not running", true, false, "org.example.Gone", false},
    };
    for (const auto& c : cases) {
        TriggerRule rule = appRule("Sync", "org.example.Sync", c.background);
        rule.enabled = c.enabled;
        source().setRules({rule});
        if (c.oneOff != nullptr) {
            source().watchOneOff(c.oneOff);
        }
        EXPECT_EQ(source().isPolling(), c.polls) << c.what;
        EXPECT_TRUE(source().isObserving()) << c.what;
        source().clearOneOff();
        source().clearRules();
        EXPECT_FALSE(source().isPolling()) << c.what;
        EXPECT_FALSE(source().isObserving()) << c.what;
        EXPECT_TRUE(source().runningState.empty()) << c.what;
    }
}

TEST_F(AppTriggerSourceTest, TheBackgroundPollReportsLaunchAndQuitWithinOneInterval) {
    services().triggerEngine().add(appRule("Sync", "org.example.Sync", true));
    auto sync =
        workspace().launch("org.example.Sync", "Sync", ActivationPolicy::accessory, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    EXPECT_EQ(events(), Events{"Sync launched"});
    workspace().quit(sync.processIdentifier, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    EXPECT_EQ(events(), (Events{"Sync launched", "Sync quit"}));
}

TEST_F(AppTriggerSourceTest, ABackgroundOneOffEndsTheSessionOnlyOnceSeenRunning) {
    auto sync =
        workspace().launch("org.example.Sync", "Sync", ActivationPolicy::accessory, Notice::silent);
    controller().watchApp(sync);
    ASSERT_TRUE(controller().isActive());
    ASSERT_TRUE(source().oneOffIsBackground);
    workspace().quit(sync.processIdentifier, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    EXPECT_FALSE(controller().isActive()) << "seen running, then gone";
    EXPECT_FALSE(source().oneOffBundleID);

    // Restored for an application that is not running now (its state unknown) and known to be
    // a background one: its absence is no quit.
    source().watchOneOff("org.example.Sync");
    source().runningState.erase("org.example.Sync");
    source().oneOffIsBackground = true;
    source().updatePolling();
    loop().advance(10 * AppTriggerSource::kPollInterval);
    EXPECT_EQ(source().oneOffBundleID, "org.example.Sync");
    workspace().launch("org.example.Sync", "Sync", ActivationPolicy::accessory, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    EXPECT_EQ(source().oneOffBundleID, "org.example.Sync");
}

TEST_F(AppTriggerSourceTest, ClearingRulesKeepsTheOneOffWatchAndOnlyItsState) {
    workspace().launch("org.example.Sync", "Sync", ActivationPolicy::accessory, Notice::silent);
    workspace().launch("org.example.Editor", "Editor");
    services().triggerEngine().add(appRule("Editor", "org.example.Editor", true));
    source().watchOneOff("org.example.Sync");
    services().triggerEngine().deleteAll();
    EXPECT_FALSE(source().active);
    EXPECT_TRUE(source().isObserving());
    EXPECT_TRUE(source().isPolling()) << "the one-off application runs in the background";
    EXPECT_EQ(source().runningState, (std::map<std::string, bool>{{"org.example.Sync", true}}));
    source().clearOneOff();
    EXPECT_FALSE(source().isObserving());
    EXPECT_FALSE(source().isPolling());
    EXPECT_TRUE(source().runningState.empty());
}

// A background application: no process watch of the controller's own ends the session first.
TEST_F(AppTriggerSourceTest, TheOneOffQuitClearsTheWatchBeforeTheSessionEnds) {
    auto render = workspace().launch("org.example.Render", "Render", ActivationPolicy::accessory,
                                     Notice::silent);
    controller().watchApp(render);
    std::optional<std::optional<std::string>> watchAtEnd;
    auto sub = controller().isActive.subscribe([&](const bool& active) {
        if (!active && !watchAtEnd) {
            watchAtEnd = source().oneOffBundleID;
        }
    });
    workspace().quit(render.processIdentifier, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    ASSERT_TRUE(watchAtEnd.has_value());
    EXPECT_EQ(*watchAtEnd, std::nullopt);
    EXPECT_FALSE(source().isObserving());
}

// Two instances of one application: launches are reported each time, but the application has
// quit only when its last instance has.
TEST_F(AppTriggerSourceTest, AQuitCountsOnlyWhenTheLastInstanceEnds) {
    services().triggerEngine().add(appRule("Editor", "org.example.Editor"));
    auto first = workspace().launch("org.example.Editor", "Editor");
    auto second = workspace().launch("org.example.Editor", "Editor");
    EXPECT_EQ(events(), (Events{"Editor launched", "Editor launched"}));
    workspace().quit(first.processIdentifier);
    EXPECT_EQ(events(), (Events{"Editor launched", "Editor launched"}));
    EXPECT_EQ(source().runningState.at("org.example.Editor"), true);
    workspace().quit(second.processIdentifier);
    EXPECT_EQ(events(), (Events{"Editor launched", "Editor launched", "Editor quit"}));

    auto render = workspace().launch("org.example.Render", "Render");
    auto again = workspace().launch("org.example.Render", "Render");
    source().watchOneOff("org.example.Render");
    workspace().quit(render.processIdentifier);
    EXPECT_EQ(source().oneOffBundleID, "org.example.Render") << "another instance still runs";
    workspace().quit(again.processIdentifier);
    EXPECT_FALSE(source().oneOffBundleID);
}

TEST_F(AppTriggerSourceTest, TwoBackgroundRulesOfOneApplicationEachGetThePollsChange) {
    TriggerRule start = appRule("Sync", "org.example.Sync", true);
    TriggerRule other = appRule("Sync again", "org.example.Sync", true);
    other.appName = "Sync again";
    services().triggerEngine().add(start);
    services().triggerEngine().add(other);
    workspace().launch("org.example.Sync", "Sync", ActivationPolicy::accessory, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    EXPECT_EQ(events(), (Events{"Sync launched", "Sync again launched"}));
}

// An application goes by every entry that runs its program: a rule made with another one than
// the process is credited to fires on its launch and quit, notified or polled; the workspace is
// asked to tell launches of the rules' and the one-off's applications only.
TEST_F(AppTriggerSourceTest, ARuleFiresForAnApplicationKnownByItsIdentifierAmongOthers) {
    services().triggerEngine().add(appRule("Mousepad", "org.xfce.mousepad"));
    services().triggerEngine().add(appRule("Sync", "org.example.Sync", true));
    source().watchOneOff("org.example.Render");
    using Ids = std::set<std::string>;
    EXPECT_EQ(workspace().launchInterest(),
              (Ids{"org.example.Render", "org.example.Sync", "org.xfce.mousepad"}));
    RunningApplication settings{0, "org.xfce.mousepad-settings", "Text Editor Settings"};
    settings.otherBundleIdentifiers = {"org.xfce.mousepad"};
    RunningApplication helper{0, "org.example.Sync-helper", "Sync", ActivationPolicy::accessory};
    helper.otherBundleIdentifiers = {"org.example.Sync"};
    settings = workspace().launch(settings);
    helper = workspace().launch(helper, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    EXPECT_EQ(events(), (Events{"Mousepad launched", "Sync launched"}));
    workspace().quit(settings.processIdentifier);
    workspace().quit(helper.processIdentifier, Notice::silent);
    loop().advance(AppTriggerSource::kPollInterval);
    EXPECT_EQ(events(),
              (Events{"Mousepad launched", "Sync launched", "Mousepad quit", "Sync quit"}));
    source().clearOneOff();
    EXPECT_EQ(workspace().launchInterest(), (Ids{"org.example.Sync", "org.xfce.mousepad"}));
}

TEST_F(AppTriggerSourceTest, InfoListFlagsReadBooleansOneAndTrueText) {
    struct Case {
        const char* what;
        std::optional<PropertyValue> value;
        bool flag;
    };
    const Case cases[] = {
        {"Boolean true", PropertyValue(true), true},
        {"Boolean false", PropertyValue(false), false},
        {"the number 1", PropertyValue(1), true},
        {"the number 1.0", PropertyValue(1.0), true},
        {"the number 0", PropertyValue(0), false},
        {"the number 2", PropertyValue(2), false},
        {"the text 1", PropertyValue("1"), true},
        {"the text TRUE", PropertyValue("TRUE"), true},
        {"the text True", PropertyValue("True"), true},
        {"the text yes", PropertyValue("yes"), false},
        {"the text true with a space", PropertyValue("true "), false},
        {"a list", PropertyValue(PropertyArray{PropertyValue(true)}), false},
        {"a missing key", std::nullopt, false},
    };
    for (const auto& c : cases) {
        ApplicationBundle bundle{"/apps/x.desktop", {}};
        if (c.value) {
            bundle.info["LSUIElement"] = *c.value;
        }
        EXPECT_EQ(AppTriggerSource::infoPlistFlag("LSUIElement", bundle), c.flag) << c.what;
    }
}

TEST_F(AppTriggerSourceTest, BackgroundApplicationsAreKnownByARunningInstanceElseByTheirBundle) {
    workspace().launch("org.example.Tray", "Tray", ActivationPolicy::accessory, Notice::silent);
    workspace().launch("org.example.Editor", "Editor");
    workspace().setBundle("/apps/agent.desktop", PropertyDictionary{{"LSUIElement", "1"}});
    workspace().setBundle("/apps/daemon", PropertyDictionary{{"LSBackgroundOnly", true}});
    workspace().setBundle("/apps/plain.desktop", PropertyDictionary{{"LSUIElement", false}});
    workspace().setBundle("/apps/editor.desktop", PropertyDictionary{{"LSUIElement", true}});
    struct Case {
        const char* bundleID;
        std::optional<std::string> url;
        bool background;
    };
    const Case cases[] = {
        {"org.example.Tray", std::nullopt, true},
        {"org.example.Editor", std::string("/apps/editor.desktop"), false},  // running wins
        {"org.example.Agent", std::nullopt, false},
        {"org.example.Agent", std::string("/apps/agent.desktop"), true},
        {"org.example.Daemon", std::string("/apps/daemon"), true},
        {"org.example.Plain", std::string("/apps/plain.desktop"), false},
        {"org.example.Gone", std::string("/apps/missing.desktop"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppTriggerSource::isBackgroundApp(workspace(), c.bundleID, c.url), c.background)
            << c.bundleID << " " << c.url.value_or("(no URL)");
    }
}

TEST_F(AppTriggerSourceTest, RunningAppsListsOrdinaryApplicationsByNameIgnoringCase) {
    workspace().launch("org.example.Beta", "Beta");
    workspace().launch("org.example.Tray", "Tray", ActivationPolicy::accessory);
    workspace().launch("org.example.Daemon", "Daemon", ActivationPolicy::prohibited);
    workspace().launch(std::nullopt, "No identifier");
    workspace().launch("org.example.alpha", "alpha");
    workspace().launch("org.example.Nameless", std::nullopt);
    workspace().launch("org.example.Beta", "Beta");
    using Apps = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(AppTriggerSource::runningApps(workspace()),
              (Apps{{"alpha", "org.example.alpha"},
                    {"Beta", "org.example.Beta"},
                    {"Beta", "org.example.Beta"},
                    {"org.example.Nameless", "org.example.Nameless"}}));
}

}  // namespace
}  // namespace orvel
