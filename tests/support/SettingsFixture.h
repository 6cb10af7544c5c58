#pragma once

#include <string>

#include "app/compose/Services.h"
#include "core/Preferences.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/FileIO.h"
#include "foundation/Iso8601.h"
#include "platform/Platform.h"
#include "settings/SettingsFile.h"
#include "triggers/TriggerEngine.h"

// The fixed machine state behind the golden settings files, and helpers shared by the settings
// tests.

namespace orvel::test {

inline std::string settingsData(const std::string& name) {
    return std::string(ORVEL_TEST_DATA) + "/settings/" + name;
}

inline Data readSettingsData(const std::string& name) {
    auto bytes = readFile(settingsData(name));
    return bytes ? *bytes : Data{};
}

inline Date isoDate(const char* text) {
    return *parseIso8601(text);
}

inline std::vector<TriggerRule> goldenRules() {
    TriggerRule oneShot;
    oneShot.id = *UUID::fromString("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    oneShot.name = "Dentist / checkup";
    oneShot.source = TriggerSource::schedule;
    oneShot.schedKind = "oneshot";
    oneShot.schedDate = isoDate("2026-12-08T09:00:00Z");
    oneShot.firedAt = isoDate("2026-12-01T08:30:15Z");
    oneShot.wakeMac = true;
    oneShot.durationSeconds = 3600;

    TriggerRule phones;
    phones.id = *UUID::fromString("0B5E7D32-1C4A-4E8B-9F10-2A3B4C5D6E7F");
    phones.name = "Studio phones";
    phones.source = TriggerSource::bluetooth;
    phones.btAddress = "AA:BB:CC:DD:EE:FF";
    phones.btName = "Studio Phones";
    phones.acOnly = true;

    TriggerRule office;
    office.id = *UUID::fromString("C0FFEE00-1234-4321-ABCD-0123456789AB");
    office.name = "Office Wi-Fi";
    office.source = TriggerSource::wifiSSID;
    office.matcher = NetworkMatcher::ssid("Home/Office");
    office.onClear = TriggerAction::nothing;
    return {oneShot, phones, office};
}

inline std::vector<DriveKeepAlive::Drive> goldenDrives() {
    DriveKeepAlive::Drive backup;
    backup.id = "1E2D3C4B-5A69-4788-9A0B-C1D2E3F40516";
    backup.name = "Backup";
    backup.path = "/media/user/Backup/Photos/2026/";
    backup.enabled = true;
    backup.lifecycle = DriveKeepAlive::Lifecycle::always;
    backup.intervalOverride = 600;
    backup.lastRead = isoDate("2026-12-07T21:15:00Z");

    DriveKeepAlive::Drive share;
    share.id = "/mnt/nas/media";
    share.name = "media";
    share.path = "/mnt/nas/media";
    share.isNetwork = true;
    share.remountURL = "smb://nas.local/share/media";
    share.enabled = true;
    return {backup, share};
}

// Every exported preference with a value other than its default, the three keys nothing writes
// included.
inline void setGoldenPreferences(Services& services) {
    auto& prefs = services.preferences();
    prefs.defaultPreset = DurationPreset::h2;
    prefs.customSeconds = 2700;
    prefs.hotKeyStyle = HotKeyStyle::carbon;
    prefs.showTimer = false;
    prefs.restoreSession = false;
    prefs.reassertOnWake = false;
    prefs.activateOnAC = true;
    prefs.notifyOnEnd = false;
    prefs.tieDevicesToSession = false;
    prefs.acAutoSeconds = 1800;
    prefs.lowBattEnd = true;
    prefs.lowBattPct = 15;
    prefs.battRecover = true;
    prefs.battRecoverPct = 60;
    prefs.lpmEnd = true;
    prefs.upsReact = true;
    prefs.upsInverted = true;
    prefs.deactivateOnBattery = true;
    prefs.batteryOffAfterEnabled = true;
    prefs.batteryOffValue = 3;
    prefs.batteryOffUnitHours = true;
    auto& defaults = Platform::current().userDefaults();
    defaults.setBool("autoUnblockNoExternal", false);
    defaults.setString("loginItem", "yes");
    defaults.setInteger("dockMode", 2);
}

inline void setGoldenState(Services& services) {
    setGoldenPreferences(services);
    auto& engine = services.triggerEngine();
    engine.replaceAll(goldenRules(),
                      {TriggerSource::schedule, TriggerSource::bluetooth, TriggerSource::wifiSSID,
                       TriggerSource::network, TriggerSource::app});
    engine.setMasterEnabled(false);
    auto& drives = services.driveKeepAlive();
    drives.drives = goldenDrives();
    drives.globalIntervalSeconds = 300;
}

}  // namespace orvel::test
