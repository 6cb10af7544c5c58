#include "settings/SettingsTransfer.h"

#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "foundation/Registry.h"
#include "support/OrvelTest.h"
#include "support/SettingsFixture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orvel {
namespace {

using namespace SettingsTransfer;

class SettingsTransferTest : public test::OrvelTest {
  protected:
    // A plain file holding these rules, drives, interval and preferences.
    static Data fileWith(std::vector<TriggerRule> rules, std::vector<DriveKeepAlive::Drive> drives,
                         std::int64_t interval, std::map<std::string, std::string> preferences) {
        ExportFile file;
        file.rules = std::move(rules);
        file.drives = std::move(drives);
        file.globalDriveInterval = interval;
        file.preferences = std::move(preferences);
        return *encodeFileWithKey(file, std::nullopt);
    }
    static Data filePreferences(std::map<std::string, std::string> preferences) {
        return fileWith({}, {}, 180, std::move(preferences));
    }
    Owners owners() { return services().settingsTransferOwners(); }
    std::vector<ActivityEntry> activity() {
        loop().drain();
        return services().activityLog().entries();
    }
};

TEST_F(SettingsTransferTest, ExportOfTheFixedStateIsTheGoldenPlainFile) {
    test::setGoldenState(services());
    auto bytes = exportData(owners(), std::nullopt);
    ASSERT_TRUE(bytes.ok()) << bytes.error().message;
    const Data golden = test::readSettingsData("plain.orvelconfig");
    if (golden != *bytes) {
        std::ofstream(test::settingsData("plain.orvelconfig.new"), std::ios::binary)
            << stringFromData(*bytes);
    }
    EXPECT_EQ(stringFromData(*bytes), stringFromData(golden))
        << "the export was written to plain.orvelconfig.new beside the golden file";
}

TEST_F(SettingsTransferTest, ExportWritesEveryListedKeyThatHasAValueAsText) {
    auto bytes = exportData(owners(), std::nullopt);
    ASSERT_TRUE(bytes.ok());
    auto file = decodeFile(*bytes, std::nullopt);
    ASSERT_TRUE(file.ok());
    // Registered defaults travel; the three keys nothing writes do not, nor the master switch
    // that the engine has never stored, nor anything unlisted.
    EXPECT_EQ(file->preferences.size(), 25u);
    EXPECT_EQ(file->preferences.at("showTimer"), "1");
    EXPECT_EQ(file->preferences.at("activateOnAC"), "0");
    EXPECT_EQ(file->preferences.at("customSeconds"), "5400");
    EXPECT_EQ(file->preferences.at("engine"), "assertions");
    EXPECT_FALSE(file->preferences.count("trigger.master"));
    EXPECT_FALSE(file->preferences.count("autoUnblock"));
    EXPECT_FALSE(file->preferences.count("showInDock"));

    services().triggerEngine().setMasterEnabled(false);
    sim().userDefaults().setString("dockMode", "left");
    sim().userDefaults().setDouble("loginItem", 2.5);
    sim().userDefaults().setData("autoUnblockNoExternal", Data{1, 2});
    const auto again = decodeFile(*exportData(owners(), std::nullopt), std::nullopt);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->preferences.at("trigger.master"), "0");
    EXPECT_EQ(again->preferences.at("dockMode"), "left");
    EXPECT_EQ(again->preferences.at("loginItem"), "2.5");
    EXPECT_FALSE(again->preferences.count("autoUnblockNoExternal"));
}

TEST_F(SettingsTransferTest, ImportSetsOnlyTheKeysItMayEachByItsType) {
    struct Case {
        const char* key;
        const char* text;
        std::optional<DefaultsValue> stored;  // nothing: the key is not written
    };
    const std::vector<Case> cases = {
        {"lowBattPct", "1", DefaultsValue(std::int64_t{1})},
        {"lowBattPct", "+35", DefaultsValue(std::int64_t{35})},
        {"lowBattPct", "100", DefaultsValue(std::int64_t{100})},
        {"lowBattPct", "101", std::nullopt},
        {"lowBattPct", "-1", std::nullopt},
        {"battRecoverPct", "0", DefaultsValue(std::int64_t{0})},
        {"customSeconds", "-60", DefaultsValue(std::int64_t{-60})},
        {"customSeconds", "1.5", std::nullopt},
        {"customSeconds", "", std::nullopt},
        {"customSeconds", "99999999999999999999", std::nullopt},
        {"customSeconds", "true", std::nullopt},
        {"showTimer", "0", DefaultsValue(false)},
        {"showTimer", "false", DefaultsValue(false)},
        {"activateOnAC", "true", DefaultsValue(true)},
        {"activateOnAC", "1", DefaultsValue(true)},
        {"activateOnAC", "yes", std::nullopt},
        {"activateOnAC", "TRUE", std::nullopt},
        {"defaultPreset", "h5", DefaultsValue("h5")},
        {"defaultPreset", "h6", std::nullopt},
        {"hotKeyStyle", "monitor", DefaultsValue("monitor")},
        {"engine", "Caffeinate", std::nullopt},
        {"blockKB", "1", std::nullopt},
        {"confirmedBlock", "1", std::nullopt},
        {"autoUnblockNoExternal", "0", std::nullopt},
        {"loginItem", "1", std::nullopt},
        {"dockMode", "1", std::nullopt},
        {"menuScale", "2", std::nullopt},
        {"settingsTabSelection", "3", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = \"" + c.text + "\"");
        auto& defaults = sim().userDefaults();
        defaults.removePersistentDomain();
        services().preferences().reload();
        defaults.removeObject(c.key);
        const auto before = defaults.persistentDomain();
        auto result = importData(owners(), filePreferences({{c.key, c.text}}), std::nullopt);
        ASSERT_TRUE(result.ok());
        // The file's drive interval of 180 s is taken too.
        EXPECT_EQ(result->settingsApplied, c.stored ? 2 : 1);
        auto after = defaults.persistentDomain();
        EXPECT_EQ(after.count(c.key) ? std::optional(after.at(c.key)) : std::nullopt, c.stored);
        // Nothing else among the preferences moved.
        for (const auto& [key, value] : before) {
            if (key != c.key && key.rfind("trigger.", 0) != 0 && key.rfind("drives.", 0) != 0) {
                EXPECT_EQ(after.count(key) ? std::optional(after.at(key)) : std::nullopt,
                          std::optional(value))
                    << key;
            }
        }
    }
}

TEST_F(SettingsTransferTest, AFileSetsEverySettingItMayCarryAndNothingElse) {
    struct Setting {
        const char* key;
        const char* text;
        DefaultsValue stored;
    };
    // A value other than its default for each such setting, bounds included.
    const std::vector<Setting> settings = {
        {"defaultPreset", "h2", "h2"},
        {"customSeconds", "2700", std::int64_t{2700}},
        {"engine", "caffeinate", "caffeinate"},
        {"hotKeyStyle", "carbon", "carbon"},
        {"showTimer", "0", false},
        {"restoreSession", "false", false},
        {"reassertOnWake", "0", false},
        {"activateOnAC", "1", true},
        {"notifyOnEnd", "0", false},
        {"noSaver", "1", true},
        {"kbBacklight", "true", true},
        {"displayOff", "1", true},
        {"tieDevices", "0", false},
        {"acAutoSeconds", "1800", std::int64_t{1800}},
        {"lowBattEnd", "1", true},
        {"lowBattPct", "0", std::int64_t{0}},
        {"battRecover", "1", true},
        {"battRecoverPct", "100", std::int64_t{100}},
        {"lpmEnd", "1", true},
        {"upsReact", "1", true},
        {"upsInverted", "1", true},
        {"deactivateOnBattery", "1", true},
        {"batteryOffAfter", "1", true},
        {"batteryOffValue", "3", std::int64_t{3}},
        {"batteryOffUnitHours", "1", true},
    };
    std::map<std::string, std::string> file = {
        {"autoUnblockNoExternal", "0"}, {"loginItem", "1"},      {"dockMode", "2"},
        {"autoUnblock", "0"},           {"showInDock", "1"},     {"menuBold", "1"},
        {"swapMenuButtons", "1"},       {"confirmedBlock", "1"}, {"blockTP", "1"},
    };
    DefaultsDictionary expected;
    for (const auto& setting : settings) {
        file[setting.key] = setting.text;
        expected[setting.key] = setting.stored;
    }
    ASSERT_TRUE(importData(owners(), filePreferences(file), std::nullopt).ok());
    loop().drain();
    auto stored = sim().userDefaults().persistentDomain();
    std::erase_if(stored, [](const auto& entry) {
        return entry.first.rfind("trigger.", 0) == 0 || entry.first.rfind("drives.", 0) == 0;
    });
    EXPECT_EQ(stored, expected);

    ASSERT_TRUE(importData(owners(),
                           filePreferences({{"battRecoverPct", "101"}, {"lowBattPct", "-1"}}),
                           std::nullopt)
                    .ok());
    EXPECT_EQ(services().preferences().battRecoverPct(), 100);
    EXPECT_EQ(services().preferences().lowBattPct(), 0);
}

TEST_F(SettingsTransferTest, ImportedValuesTakeEffectAtOnce) {
    auto& controller = services().controller();
    ASSERT_EQ(controller.engineKind(), EngineKind::assertions);
    auto& engine = services().triggerEngine();
    ASSERT_TRUE(engine.masterEnabled());
    ASSERT_TRUE(
        importData(owners(),
                   filePreferences(
                       {{"engine", "caffeinate"}, {"lowBattPct", "1"}, {"trigger.master", "0"}}),
                   std::nullopt)
            .ok());
    EXPECT_EQ(controller.engineKind(), EngineKind::caffeinate);
    EXPECT_EQ(services().preferences().lowBattPct(), 1);
    EXPECT_FALSE(engine.masterEnabled());
    // The engine's next save keeps the imported switch.
    engine.save();
    EXPECT_EQ(sim().userDefaults().persistentValue(TriggerEngine::kMasterKey),
              DefaultsValue(false));
}

TEST_F(SettingsTransferTest, BluetoothRulesForDevicesThisMachineHasNotPairedArriveDisabled) {
    sim().bluetooth().pair({"AA:BB:CC:DD:EE:FF", "Phones", false});
    auto bt = [](std::optional<std::string> address, bool enabled, bool unavailable) {
        TriggerRule rule;
        rule.name = "bt";
        rule.source = TriggerSource::bluetooth;
        rule.btAddress = std::move(address);
        rule.enabled = enabled;
        rule.unavailableHere = unavailable;
        return rule;
    };
    TriggerRule wifi;
    wifi.name = "wifi";
    wifi.source = TriggerSource::wifiSSID;
    wifi.matcher = NetworkMatcher::ssid("Cafe");
    struct Case {
        const char* name;
        TriggerRule rule;
        bool enabled;
        bool unavailable;
    };
    const std::vector<Case> cases = {
        {"paired, same text", bt("AA:BB:CC:DD:EE:FF", true, false), true, false},
        {"paired, lower case and dashes", bt("aa-bb-cc-dd-ee-ff", true, false), true, false},
        {"not paired", bt("11:22:33:44:55:66", true, false), false, true},
        {"no address", bt(std::nullopt, true, false), true, false},
        {"marked in the file, paired here", bt("AA:BB:CC:DD:EE:FF", true, true), true, true},
        {"disabled in the file", bt("AA:BB:CC:DD:EE:FF", false, false), false, false},
        {"another source", wifi, true, false},
    };
    std::vector<TriggerRule> rules;
    for (const auto& c : cases) {
        rules.push_back(c.rule);
    }
    auto result = importData(owners(), fileWith(rules, {}, 180, {}), std::nullopt);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(*result, (ImportResult{7, 1, 0, 1}));
    const auto installed = services().triggerEngine().rules();
    ASSERT_EQ(installed.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(installed[i].id, cases[i].rule.id);
        EXPECT_EQ(installed[i].enabled, cases[i].enabled);
        EXPECT_EQ(installed[i].unavailableHere, cases[i].unavailable);
    }
}

TEST_F(SettingsTransferTest, ImportReplacesEveryRuleAndSummarisesInTheActivityLog) {
    TriggerRule mine;
    mine.name = "only here";
    mine.source = TriggerSource::app;
    services().triggerEngine().add(mine);
    struct Case {
        int rules;
        int unpaired;
        const char* detail;
    };
    const std::vector<Case> cases = {
        {3, 1, "3 rules \u00B7 1 unavailable on this computer"},
        {1, 0, "1 rule"},
        {0, 0, "0 rules"},
        {2, 2, "2 rules \u00B7 2 unavailable on this computer"},
    };
    for (const auto& c : cases) {
        std::vector<TriggerRule> rules;
        for (int i = 0; i < c.rules; ++i) {
            TriggerRule rule;
            rule.name = "r" + std::to_string(i);
            rule.source = i < c.unpaired ? TriggerSource::bluetooth : TriggerSource::schedule;
            if (i < c.unpaired) {
                rule.btAddress = "01:02:03:04:05:0" + std::to_string(i);
            }
            rules.push_back(rule);
        }
        ASSERT_TRUE(importData(owners(), fileWith(rules, {}, 180, {}), std::nullopt).ok());
        EXPECT_EQ(services().triggerEngine().rules().size(), static_cast<std::size_t>(c.rules));
        const auto entries = activity();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.front().title, "Settings imported");
        EXPECT_EQ(entries.front().detail, c.detail);
        EXPECT_EQ(entries.front().kind, ActivityEntry::Kind::info);
    }
}

TEST(ImportReport, CountsEachKindInTheRightNumber) {
    struct Case {
        ImportResult result;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{4, 0, 2, 12}, "Imported 4 rules, 2 drives and 12 settings."},
        {{1, 0, 1, 1}, "Imported 1 rule, 1 drive and 1 setting."},
        {{0, 0, 0, 0}, "Imported 0 rules, 0 drives and 0 settings."},
        {{3, 1, 0, 5},
         "Imported 3 rules, 0 drives and 5 settings. 1 rule is off: its Bluetooth device is not "
         "paired with this computer."},
        {{2, 2, 0, 1},
         "Imported 2 rules, 0 drives and 1 setting. 2 rules are off: their Bluetooth devices are "
         "not paired with this computer."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(importReport(c.result), c.text);
    }
}

TEST_F(SettingsTransferTest, DrivesApplyOnlyToDrivesThisMachineListsWithinTheIntervalRange) {
    auto& keepAlive = services().driveKeepAlive();
    auto here = test::goldenDrives();
    here[0].name = "Old name";
    here[0].intervalOverride = std::nullopt;
    keepAlive.drives = {here[0]};
    keepAlive.globalIntervalSeconds = 120;

    auto incoming = test::goldenDrives();
    incoming[0].offline = true;
    DriveKeepAlive::Drive stranger = incoming[1];
    stranger.id = "NOT-HERE";
    incoming.push_back(stranger);

    struct Case {
        std::int64_t interval;
        std::int64_t override;
        std::int64_t expectedInterval;
        std::optional<std::int64_t> expectedOverride;
    };
    const std::vector<Case> cases = {
        {300, 600, 300, 600},
        {15, 15, 15, 15},
        {86400, 86400, 86400, 86400},
        {14, 14, 86400, std::nullopt},
        {86401, 90000, 86400, std::nullopt},
        {-5, 0, 86400, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval);
        incoming[0].intervalOverride = c.override;
        auto result = importData(owners(), fileWith({}, incoming, c.interval, {}), std::nullopt);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result->drivesApplied, 1);
        EXPECT_EQ(result->settingsApplied, c.expectedInterval == c.interval ? 1 : 0);
        const auto drives = keepAlive.drives();
        ASSERT_EQ(drives.size(), 1u);
        EXPECT_EQ(drives[0].name, "Backup");
        EXPECT_FALSE(drives[0].offline);
        EXPECT_FALSE(drives[0].lastRead.has_value());
        EXPECT_EQ(drives[0].intervalOverride, c.expectedOverride);
        EXPECT_EQ(keepAlive.globalIntervalSeconds(), c.expectedInterval);
    }
}

TEST_F(SettingsTransferTest, OnAnEmptyDriveListNoDriveOfTheFileIsTaken) {
    auto& keepAlive = services().driveKeepAlive();
    keepAlive.drives = {};
    auto result = importData(owners(), fileWith({}, test::goldenDrives(), 180, {}), std::nullopt);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->drivesApplied, 0);
    EXPECT_TRUE(keepAlive.drives().empty());
}

TEST_F(SettingsTransferTest, AFileThatDoesNotReadChangesNothingAtAll) {
    test::setGoldenState(services());
    loop().drain();
    const Data sealed = test::readSettingsData("sealed-v1.orvelconfig");
    struct Case {
        const char* name;
        Data bytes;
        std::optional<std::string> passphrase;
        ImportError error;
    };
    const std::vector<Case> cases = {
        {"no passphrase", sealed, std::nullopt, ImportError::needsPassphrase},
        {"empty passphrase", sealed, std::string(), ImportError::needsPassphrase},
        {"wrong passphrase", sealed, std::string("wrong"), ImportError::wrongPassphrase},
        {"not JSON", dataFromString("{\"format\": \"orvel-settings\""), std::nullopt,
         ImportError::badFormat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = sim().userDefaults().persistentDomain();
        const auto rules = services().triggerEngine().rules();
        const auto entries = activity();
        auto result = importData(owners(), c.bytes, c.passphrase);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error(), c.error);
        EXPECT_EQ(activity(), entries);
        EXPECT_EQ(sim().userDefaults().persistentDomain(), before);
        EXPECT_EQ(services().triggerEngine().rules(), rules);
    }
}

TEST_F(SettingsTransferTest, TheGoldenFileImportsBackToTheSameState) {
    test::setGoldenState(services());
    sim().bluetooth().pair({"AA:BB:CC:DD:EE:FF", "Phones", false});
    auto bytes = exportData(owners(), std::nullopt);
    ASSERT_TRUE(bytes.ok());
    const auto before = sim().userDefaults().persistentDomain();
    services().triggerEngine().deleteAll();
    services().preferences().lowBattPct = 50;
    ASSERT_TRUE(importData(owners(), *bytes, std::nullopt).ok());
    EXPECT_EQ(services().triggerEngine().rules(), test::goldenRules());
    // Every value reads as before (values that were only registered are now stored); the drives
    // come back without their last read.
    auto after = sim().userDefaults().persistentDomain();
    after.insert(before.begin(), before.end());
    after.erase(DriveKeepAlive::kListKey);
    for (const auto& [key, value] : after) {
        EXPECT_EQ(sim().userDefaults().object(key), std::optional(value)) << key;
    }
}

}  // namespace
}  // namespace orvel
