#include <gtest/gtest.h>

#include <functional>

#include "app/compose/Services.h"
#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "settings/SettingsReset.h"
#include "settings/SettingsTransfer.h"
#include "support/Catalogues.h"
#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"

namespace orvel {
namespace {

using ActivityLanguageTest = test::SessionTest;

// Entries are written in the language the user reads when they happen, by every service that
// records one.
TEST_F(ActivityLanguageTest, EntriesAreRecordedInTheUserLanguage) {
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    TriggerEngine& engine = services().triggerEngine();
    engine.start();
    TriggerRule rule = test::makeRule(TriggerSource::bluetooth, "Schreibtisch");
    rule.btAddress = "a4-83-e7-11-22-33";
    rule.btName = "Kopfhörer";
    rule.durationSeconds = 3600;
    engine.add(rule);
    const struct {
        const char* name;
        std::function<void()> act;
        std::string newest;  // "kind|title|detail"
    } cases[] = {
        {"a trigger firing", [&] { engine.handle(rule.id, true, false); },
         "started|Kopfhörer verbunden|Sitzung gestartet \u2014 1 h \u00B7 Bluetooth, Rang 2"},
        {"a pause", [&] { engine.pause(3600); }, "info|Auslöser pausiert|Pausiert für 1 Stunde"},
        {"a settings import",
         [&] {
             SettingsTransfer::ExportFile file;
             file.rules = {rule};
             ASSERT_TRUE(SettingsTransfer::importData(
                             services().settingsTransferOwners(),
                             *SettingsTransfer::encodeFileWithKey(file, std::nullopt), std::nullopt)
                             .ok());
         },
         "info|Einstellungen importiert|1 Regel \u00B7 1 auf diesem Computer nicht verfügbar"},
        {"a settings reset", [&] { ASSERT_TRUE(services().settingsReset().perform(false)); },
         "info|Alle Einstellungen zurückgesetzt|Standardwerte wiederhergestellt \u00B7 1 Regel "
         "gelöscht \u00B7 Zugriffsrechte unverändert"},
        {"a controller error",
         [&] {
             controller().stop(false);
             prefs().engine = EngineKind::caffeinate;
             ASSERT_TRUE(controller().start());
             sim().processes().lastChild()->exit(2);
         },
         "ended|caffeinate ist fehlgeschlagen: mit Status 2 beendet|Sitzung beendet \u2014 "
         "caffeinate-Verfahren"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.act();
        loop().drain();
        const auto lines = test::activity(services().activityLog());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.newest);
    }
}

}  // namespace
}  // namespace orvel
