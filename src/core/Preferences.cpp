#include "core/Preferences.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "platform/SystemInfo.h"

namespace orvel {

namespace {

constexpr const char* kConfirmedOnKey = "confirmedOn";
constexpr const char* kSessionKey = "session";

}  // namespace

// Each setting registers its default and reads its stored value as it is built, in table order.
Preferences::Preferences(UserDefaults& defaults, SystemInfo& systemInfo)
    : d_(defaults), info_(systemInfo) {
    hasConfirmedBlocking.action_ = [this] {
        if (hasConfirmedBlocking()) {
            d_.setString(kConfirmedOnKey, machineIdentity(info_));
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

bool Preferences::readNothing(const std::string&, const bool& registered) const {
    return registered;
}

double Preferences::readMenuScale(const std::string& key, const double&) const {
    const double scale = d_.doubleForKey(key);
    // A stored text such as "nan" must not reach the layout.
    return std::isnan(scale) ? 1.0 : std::clamp(scale, 0.5, 2.0);
}

bool Preferences::readConfirmed(const std::string& key, const bool&) const {
    const auto confirmedOn = d_.stringForKey(kConfirmedOnKey);
    return d_.boolForKey(key) && confirmedOn && *confirmedOn == machineIdentity(info_);
}

std::int64_t Preferences::batteryOffSeconds() const {
    const std::int64_t value = std::max<std::int64_t>(batteryOffValue(), 1);
    const std::int64_t unit = batteryOffUnitHours() ? 3600 : 60;
    if (value > std::numeric_limits<std::int64_t>::max() / unit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return value * unit;
}

std::string Preferences::machineIdentity(SystemInfo& info) {
    const std::string uuid = info.platformUUID().value_or("unknown");
    return uuid + "-" + std::to_string(info.osMajorVersion());
}

std::function<void()> Preferences::beginPermissionRequest(Setting<bool>& blockingSwitch) {
    if (requestingPermissions) {
        return nullptr;  // the request in flight decides for the switch that started it
    }
    requestingPermissions = true;
    return [weakSelf = weakRef(*this), &blockingSwitch] {
        if (weakSelf.get() != nullptr) {
            blockingSwitch = false;
        }
    };
}

void Preferences::permissionRequestFinished(bool granted, WeakRef<Preferences> prefs,
                                            const std::function<void()>& revert) {
    if (Preferences* store = prefs.get()) {
        store->requestingPermissions = false;
    }
    if (!granted && revert) {
        revert();
    }
}

void Preferences::reload() {
    for (SettingBase* setting : settings_) {
        setting->reload();
    }
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
