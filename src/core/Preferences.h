#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/DurationPreset.h"
#include "core/EngineKind.h"
#include "core/HotKeyStyle.h"
#include "core/SavedSession.h"
#include "foundation/Published.h"
#include "foundation/WeakRef.h"
#include "platform/UserDefaults.h"

namespace orvel {

// The application's settings store. Every setting is an observable property; every assignment
// (changed or not) publishes the value, writes it to the user defaults at once and then runs the
// setting's action, if it has one. Main thread only.
class Preferences final : public ObservableObject, public WeakReferenceable {
  public:
    // One stored setting.
    template <class T>
    class Setting {
      public:
        Setting(const Setting&) = delete;
        Setting& operator=(const Setting&) = delete;

        const T& operator()() const { return value_(); }
        const T& get() const { return value_(); }
        Setting& operator=(T value) {
            set(std::move(value));
            return *this;
        }
        void set(T value) {
            value_.set(std::move(value));
            owner_.store(key_, value_());
            if (action_) {
                action_();
            }
        }
        // Called with each later value (not the current one).
        Subscription subscribe(std::function<void(const T&)> handler) {
            return value_.subscribe(std::move(handler));
        }
        const std::string& key() const { return key_; }

      private:
        friend class Preferences;
        Setting(Preferences& owner, std::string key, T initial)
            : owner_(owner), key_(std::move(key)), value_(owner, std::move(initial)) {}

        Preferences& owner_;
        std::string key_;
        Published<T> value_;
        std::function<void()> action_;
    };

    static Preferences& shared();

  private:
    UserDefaults& d_;  // first: the settings below read it as they are built

  public:
    Setting<EngineKind> engine;
    Setting<HotKeyStyle> hotKeyStyle;
    Setting<bool> showInDock;
    Setting<bool> showTimer;
    Setting<bool> restoreSession;
    Setting<bool> reassertOnWake;
    Setting<bool> notifyOnEnd;
    Setting<bool> activateOnAC;
    Setting<bool> deactivateOnBattery;
    Setting<bool> batteryOffAfterEnabled;
    Setting<std::int64_t> batteryOffValue;
    Setting<bool> batteryOffUnitHours;
    Setting<std::int64_t> acAutoSeconds;
    Setting<bool> lowBattEnd;
    Setting<std::int64_t> lowBattPct;
    Setting<bool> battRecover;
    Setting<std::int64_t> battRecoverPct;
    Setting<bool> lpmEnd;
    Setting<bool> upsReact;
    Setting<bool> upsInverted;
    Setting<std::int64_t> customSeconds;
    Setting<double> menuScale;
    Setting<bool> menuBold;
    Setting<bool> menuOpaque;
    Setting<bool> swapMenuButtons;
    Setting<bool> blockBuiltInKeyboard;
    Setting<bool> blockBuiltInTrackpad;
    // True while a permission request started by a blocking switch is in flight; not stored.
    bool requestingPermissions = false;
    Setting<bool> preventScreenSaver;
    Setting<bool> keyboardBacklightOff;
    Setting<bool> builtInDisplayOff;
    Setting<bool> hasConfirmedBlocking;
    Setting<bool> tieDevicesToSession;
    Setting<bool> autoUnblockNoExternal;
    Setting<DurationPreset> defaultPreset;

    // The on-battery delay in seconds: at least one unit of minutes or hours; saturates instead
    // of overflowing.
    std::int64_t batteryOffSeconds() const;

    // Re-reads every setting and assigns it (writing each key back and running each action).
    void reload();

    // The completion of a permission request made by a blocking switch.
    static void permissionRequestFinished(bool granted, WeakRef<Preferences> prefs,
                                          const std::function<void()>& revert);

    // The saved session under "session" (as JSON data); none removes it.
    void saveSession(const std::optional<SavedSession>& session);
    std::optional<SavedSession> loadSession() const;

    // The machine's platform identifier (or "unknown"), "-", and the major system version.
    static std::string machineIdentity();

    UserDefaults& defaults() const { return d_; }

  private:
    Preferences();

    void store(const std::string& key, bool value);
    void store(const std::string& key, std::int64_t value);
    void store(const std::string& key, double value);
    template <class E>
    void store(const std::string& key, E value) {
        d_.setString(key, std::string(rawValue(value)));
    }

    template <class E>
    E readEnum(const char* key, E fallback) const {
        return fromRaw<E>(d_.stringForKey(key).value_or("")).value_or(fallback);
    }
    bool readBool(const char* key) const { return d_.boolForKey(key); }
    std::int64_t readInteger(const char* key) const { return d_.integerForKey(key); }
    double readMenuScale() const;
    bool readConfirmed() const;

    void blockingGate(Setting<bool>& blockingSwitch);
};

}  // namespace orvel
