#include "core/Preferences.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "devices/DeviceState.h"
#include "devices/PermissionPrimer.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"
#include "platform/Platform.h"
#include "platform/SystemInfo.h"

namespace orvel {

namespace {

constexpr const char* kConfirmedOnKey = "confirmedOn";
constexpr const char* kSessionKey = "session";

UserDefaults& withRegisteredDefaults(UserDefaults& d) {
    d.registerDefaults(DefaultsDictionary{
        {"engine", "assertions"},
        {"hotKeyStyle", "off"},
        {"showInDock", false},
        {"showTimer", true},
        {"restoreSession", true},
        {"reassertOnWake", true},
        {"notifyOnEnd", true},
        {"activateOnAC", false},
        {"deactivateOnBattery", false},
        {"batteryOffAfter", false},
        {"batteryOffValue", 10},
        {"batteryOffUnitHours", false},
        {"acAutoSeconds", 0},
        {"lowBattEnd", false},
        {"lowBattPct", 20},
        {"battRecover", false},
        {"battRecoverPct", 50},
        {"lpmEnd", false},
        {"upsReact", false},
        {"upsInverted", false},
        {"customSeconds", 5400},
        {"menuScale", 1.0},
        {"menuBold", false},
        {"menuOpaque", false},
        {"swapMenuButtons", false},
        {"blockKB", false},
        {"blockTP", false},
        {"noSaver", false},
        {"kbBacklight", false},
        {"displayOff", false},
        {"confirmedBlock", false},
        {"tieDevices", true},
        {"autoUnblock", true},
        {"defaultPreset", "indefinite"},
    });
    return d;
}

}  // namespace

Preferences& Preferences::shared() {
    return ORVEL_SHARED_INSTANCE(Preferences);
}

// The blocking switches are not read: both start off at every launch.
Preferences::Preferences()
    : d_(withRegisteredDefaults(Platform::current().userDefaults())),
      engine(*this, "engine", readEnum("engine", EngineKind::assertions)),
      hotKeyStyle(*this, "hotKeyStyle", readEnum("hotKeyStyle", HotKeyStyle::off)),
      showInDock(*this, "showInDock", readBool("showInDock")),
      showTimer(*this, "showTimer", readBool("showTimer")),
      restoreSession(*this, "restoreSession", readBool("restoreSession")),
      reassertOnWake(*this, "reassertOnWake", readBool("reassertOnWake")),
      notifyOnEnd(*this, "notifyOnEnd", readBool("notifyOnEnd")),
      activateOnAC(*this, "activateOnAC", readBool("activateOnAC")),
      deactivateOnBattery(*this, "deactivateOnBattery", readBool("deactivateOnBattery")),
      batteryOffAfterEnabled(*this, "batteryOffAfter", readBool("batteryOffAfter")),
      batteryOffValue(*this, "batteryOffValue", readInteger("batteryOffValue")),
      batteryOffUnitHours(*this, "batteryOffUnitHours", readBool("batteryOffUnitHours")),
      acAutoSeconds(*this, "acAutoSeconds", readInteger("acAutoSeconds")),
      lowBattEnd(*this, "lowBattEnd", readBool("lowBattEnd")),
      lowBattPct(*this, "lowBattPct", readInteger("lowBattPct")),
      battRecover(*this, "battRecover", readBool("battRecover")),
      battRecoverPct(*this, "battRecoverPct", readInteger("battRecoverPct")),
      lpmEnd(*this, "lpmEnd", readBool("lpmEnd")),
      upsReact(*this, "upsReact", readBool("upsReact")),
      upsInverted(*this, "upsInverted", readBool("upsInverted")),
      customSeconds(*this, "customSeconds", readInteger("customSeconds")),
      menuScale(*this, "menuScale", readMenuScale()),
      menuBold(*this, "menuBold", readBool("menuBold")),
      menuOpaque(*this, "menuOpaque", readBool("menuOpaque")),
      swapMenuButtons(*this, "swapMenuButtons", readBool("swapMenuButtons")),
      blockBuiltInKeyboard(*this, "blockKB", false),
      blockBuiltInTrackpad(*this, "blockTP", false),
      preventScreenSaver(*this, "noSaver", readBool("noSaver")),
      keyboardBacklightOff(*this, "kbBacklight", readBool("kbBacklight")),
      builtInDisplayOff(*this, "displayOff", readBool("displayOff")),
      hasConfirmedBlocking(*this, "confirmedBlock", readConfirmed()),
      tieDevicesToSession(*this, "tieDevices", readBool("tieDevices")),
      autoUnblockNoExternal(*this, "autoUnblock", readBool("autoUnblock")),
      defaultPreset(*this, "defaultPreset", readEnum("defaultPreset", DurationPreset::indefinite)) {
    const auto reconcile = [] { DeviceState::shared().reconcile(); };
    preventScreenSaver.action_ = reconcile;
    keyboardBacklightOff.action_ = reconcile;
    builtInDisplayOff.action_ = reconcile;
    blockBuiltInKeyboard.action_ = [this] { blockingGate(blockBuiltInKeyboard); };
    blockBuiltInTrackpad.action_ = [this] { blockingGate(blockBuiltInTrackpad); };
    hasConfirmedBlocking.action_ = [this] {
        if (hasConfirmedBlocking()) {
            d_.setString(kConfirmedOnKey, machineIdentity());
        }
    };
}

void Preferences::store(const std::string& key, bool value) {
    d_.setBool(key, value);
}

void Preferences::store(const std::string& key, std::int64_t value) {
    d_.setInteger(key, value);
}

void Preferences::store(const std::string& key, double value) {
    d_.setDouble(key, value);
}

double Preferences::readMenuScale() const {
    const double scale = d_.doubleForKey("menuScale");
    // A stored text such as "nan" must not reach the layout.
    return std::isnan(scale) ? 1.0 : std::clamp(scale, 0.5, 2.0);
}

bool Preferences::readConfirmed() const {
    const auto confirmedOn = d_.stringForKey(kConfirmedOnKey);
    return d_.boolForKey("confirmedBlock") && confirmedOn && *confirmedOn == machineIdentity();
}

std::int64_t Preferences::batteryOffSeconds() const {
    const std::int64_t value = std::max<std::int64_t>(batteryOffValue(), 1);
    const std::int64_t unit = batteryOffUnitHours() ? 3600 : 60;
    if (value > std::numeric_limits<std::int64_t>::max() / unit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return value * unit;
}

std::string Preferences::machineIdentity() {
    SystemInfo& info = Platform::current().systemInfo();
    const std::string uuid = info.platformUUID().value_or("unknown");
    return uuid + "-" + std::to_string(info.osMajorVersion());
}

void Preferences::blockingGate(Setting<bool>& blockingSwitch) {
    if (!blockingSwitch()) {
        DeviceState::shared().reconcile();
        return;
    }
    if (requestingPermissions) {
        return;  // the request in flight decides for the switch that started it
    }
    requestingPermissions = true;
    WeakRef<Preferences> weakSelf = weakRef(*this);
    std::function<void()> revert = [weakSelf, &blockingSwitch] {
        if (weakSelf.get() != nullptr) {
            blockingSwitch = false;
        }
    };
    RunLoop::main().async(
        [weakSelf, revert] { PermissionPrimer::explainIfNeeded(weakSelf, revert); });
}

void Preferences::permissionRequestFinished(bool granted, WeakRef<Preferences> prefs,
                                            const std::function<void()>& revert) {
    if (Preferences* store = prefs.get()) {
        store->requestingPermissions = false;
    }
    if (granted) {
        DeviceState::shared().reconcile();
    } else if (revert) {
        revert();
    }
}

void Preferences::reload() {
    engine = readEnum("engine", EngineKind::assertions);
    hotKeyStyle = readEnum("hotKeyStyle", HotKeyStyle::off);
    showInDock = readBool("showInDock");
    showTimer = readBool("showTimer");
    restoreSession = readBool("restoreSession");
    reassertOnWake = readBool("reassertOnWake");
    notifyOnEnd = readBool("notifyOnEnd");
    activateOnAC = readBool("activateOnAC");
    deactivateOnBattery = readBool("deactivateOnBattery");
    batteryOffAfterEnabled = readBool("batteryOffAfter");
    batteryOffValue = readInteger("batteryOffValue");
    batteryOffUnitHours = readBool("batteryOffUnitHours");
    acAutoSeconds = readInteger("acAutoSeconds");
    lowBattEnd = readBool("lowBattEnd");
    lowBattPct = readInteger("lowBattPct");
    battRecover = readBool("battRecover");
    battRecoverPct = readInteger("battRecoverPct");
    lpmEnd = readBool("lpmEnd");
    upsReact = readBool("upsReact");
    upsInverted = readBool("upsInverted");
    customSeconds = readInteger("customSeconds");
    menuScale = readMenuScale();
    menuBold = readBool("menuBold");
    menuOpaque = readBool("menuOpaque");
    swapMenuButtons = readBool("swapMenuButtons");
    blockBuiltInKeyboard = false;
    blockBuiltInTrackpad = false;
    preventScreenSaver = readBool("noSaver");
    keyboardBacklightOff = readBool("kbBacklight");
    builtInDisplayOff = readBool("displayOff");
    hasConfirmedBlocking = readConfirmed();
    tieDevicesToSession = readBool("tieDevices");
    autoUnblockNoExternal = readBool("autoUnblock");
    defaultPreset = readEnum("defaultPreset", DurationPreset::indefinite);
}

void Preferences::saveSession(const std::optional<SavedSession>& session) {
    if (!session) {
        d_.removeObject(kSessionKey);
        return;
    }
    auto text = dumpJson(session->toJson());
    if (!text) {
        // An old record would come back at the next launch as if it were this one.
        d_.removeObject(kSessionKey);
        Logger("preferences").error("The session was not saved: " + text.error().message);
        return;
    }
    d_.setData(kSessionKey, dataFromString(*text));
}

std::optional<SavedSession> Preferences::loadSession() const {
    const auto data = d_.dataForKey(kSessionKey);
    if (!data) {
        return std::nullopt;
    }
    auto json = parseJson(stringFromData(*data));
    if (!json) {
        Logger("preferences")
            .error("The saved session is not JSON and was ignored: " + json.error().message);
        return std::nullopt;
    }
    auto session = SavedSession::fromJson(*json);
    if (!session) {
        Logger("preferences").error("The saved session was ignored: " + session.error().message);
        return std::nullopt;
    }
    return session.value();
}

}  // namespace orvel
