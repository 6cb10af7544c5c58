#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "core/DurationPreset.h"
#include "core/EngineKind.h"
#include "core/HotKeyStyle.h"
#include "core/SavedSession.h"
#include "foundation/Published.h"
#include "foundation/WeakRef.h"
#include "platform/UserDefaults.h"

namespace orvel {

class SystemInfo;

// That an imported settings file may set a setting, and to what: any value of its type (a switch
// either value, a choice any of its cases), a whole number only within the bounds.
struct Importable {
    std::int64_t min = std::numeric_limits<std::int64_t>::min();
    std::int64_t max = std::numeric_limits<std::int64_t>::max();
};
inline constexpr Importable kImportable{};

// The application's settings store. Every setting is an observable property; every assignment
// (changed or not) publishes the value, writes it to the user defaults at once and then runs the
// setting's action, if it has one. Main thread only.
class Preferences final : public ObservableObject, public WeakReferenceable {
  public:
    // What every stored setting offers the store: its key, its registered default, and a fresh
    // read of the stored value assigned to it; and to a settings import, which values it takes.
    class SettingBase {
      public:
        SettingBase(const SettingBase&) = delete;
        SettingBase& operator=(const SettingBase&) = delete;
        virtual ~SettingBase() = default;

        const std::string& key() const { return key_; }
        const DefaultsValue& registeredDefault() const { return registered_; }
        // Reads the stored value and assigns it (publishing, writing and running the action).
        virtual void reload() = 0;

        // Whether an imported settings file may set this setting at all.
        bool importable() const { return import_.has_value(); }
        // Whether an import may assign this value: importable, of the setting's type (a choice's
        // raw value as a string) and within its bounds.
        virtual bool acceptsImport(const DefaultsValue& value) const = 0;
        // Assigns a value that acceptsImport takes, as any assignment does; others are ignored.
        virtual void assignImport(const DefaultsValue& value) = 0;

      protected:
        SettingBase(std::string key, DefaultsValue registered, std::optional<Importable> import)
            : key_(std::move(key)), registered_(std::move(registered)), import_(import) {}

        const std::optional<Importable>& import() const { return import_; }

      private:
        std::string key_;
        DefaultsValue registered_;
        std::optional<Importable> import_;
    };

    // One stored setting, declared once with its key, its registered default and its reader.
    template <class T>
    class Setting final : public SettingBase {
      public:
        // Reads the stored value of the setting's key.
        using Reader = T (Preferences::*)(const std::string& key, const T& registered) const;

        const T& operator()() const { return value_(); }
        const T& get() const { return value_(); }
        Setting& operator=(T value) {
            set(std::move(value));
            return *this;
        }
        void set(T value) {
            value_.set(std::move(value));
            owner_.store(key(), value_());
            if (action_) {
                action_();
            }
        }
        // Called with each later value (not the current one).
        Subscription subscribe(std::function<void(const T&)> handler) const {
            return value_.subscribe(std::move(handler));
        }
        void reload() override { set((owner_.*reader_)(key(), registered_)); }

        bool acceptsImport(const DefaultsValue& value) const override {
            return importedValue(value).has_value();
        }
        void assignImport(const DefaultsValue& value) override {
            if (auto imported = importedValue(value)) {
                set(std::move(*imported));
            }
        }

      private:
        friend class Preferences;
        // Registers the default and reads the stored value at once: the settings are built in
        // table order, each from the defaults registered so far.
        Setting(Preferences& owner, std::string key, T registered,
                Reader reader = &Preferences::readStored<T>,
                std::optional<Importable> import = std::nullopt)
            : SettingBase(key, owner.registerSetting(*this, key, registered), import),
              owner_(owner),
              registered_(std::move(registered)),
              reader_(reader),
              value_(owner, (owner.*reader)(this->key(), registered_)) {}
        Setting(Preferences& owner, std::string key, T registered, Importable import)
            : Setting(owner, std::move(key), std::move(registered), &Preferences::readStored<T>,
                      import) {
            static_assert(!std::is_same_v<T, double>, "a settings import reads no fractions");
        }

        std::optional<T> importedValue(const DefaultsValue& value) const {
            if (!import()) {
                return std::nullopt;
            }
            if constexpr (std::is_same_v<T, bool>) {
                const auto* on = value.as<bool>();
                return on ? std::optional<T>(*on) : std::nullopt;
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                const auto* number = value.as<std::int64_t>();
                if (number && *number >= import()->min && *number <= import()->max) {
                    return *number;
                }
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, double>) {
                return std::nullopt;
            } else {
                const auto* raw = value.as<std::string>();
                return raw ? fromRaw<T>(*raw) : std::nullopt;
            }
        }

        Preferences& owner_;
        T registered_;
        Reader reader_;
        Published<T> value_;
        std::function<void()> action_;
    };

    // Each setting registers its default and reads its stored value as it is built.
    Preferences(UserDefaults& defaults, SystemInfo& systemInfo);

  private:
    UserDefaults& d_;  // first: the settings below read them as they are built
    SystemInfo& info_;

    // Every setting in table order, as declared below.
    std::vector<SettingBase*> settings_;

  public:
    // The settings, in table order: key, registered default and, where the stored value is not
    // simply read, the reader; or what an imported settings file may set it to, where it may.
    Setting<EngineKind> engine{*this, "engine", EngineKind::assertions, kImportable};
    Setting<HotKeyStyle> hotKeyStyle{*this, "hotKeyStyle", HotKeyStyle::off, kImportable};
    Setting<bool> showInDock{*this, "showInDock", false};
    Setting<bool> showTimer{*this, "showTimer", true, kImportable};
    Setting<bool> restoreSession{*this, "restoreSession", true, kImportable};
    Setting<bool> reassertOnWake{*this, "reassertOnWake", true, kImportable};
    Setting<bool> notifyOnEnd{*this, "notifyOnEnd", true, kImportable};
    Setting<bool> activateOnAC{*this, "activateOnAC", false, kImportable};
    Setting<bool> deactivateOnBattery{*this, "deactivateOnBattery", false, kImportable};
    Setting<bool> batteryOffAfterEnabled{*this, "batteryOffAfter", false, kImportable};
    Setting<std::int64_t> batteryOffValue{*this, "batteryOffValue", 10, kImportable};
    Setting<bool> batteryOffUnitHours{*this, "batteryOffUnitHours", false, kImportable};
    Setting<std::int64_t> acAutoSeconds{*this, "acAutoSeconds", 0, kImportable};
    Setting<bool> lowBattEnd{*this, "lowBattEnd", false, kImportable};
    Setting<std::int64_t> lowBattPct{*this, "lowBattPct", 20, Importable{0, 100}};
    Setting<bool> battRecover{*this, "battRecover", false, kImportable};
    Setting<std::int64_t> battRecoverPct{*this, "battRecoverPct", 50, Importable{0, 100}};
    Setting<bool> lpmEnd{*this, "lpmEnd", false, kImportable};
    Setting<bool> upsReact{*this, "upsReact", false, kImportable};
    Setting<bool> upsInverted{*this, "upsInverted", false, kImportable};
    Setting<std::int64_t> customSeconds{*this, "customSeconds", 5400, kImportable};
    Setting<double> menuScale{*this, "menuScale", 1.0, &Preferences::readMenuScale};
    Setting<bool> menuBold{*this, "menuBold", false};
    Setting<bool> menuOpaque{*this, "menuOpaque", false};
    Setting<bool> swapMenuButtons{*this, "swapMenuButtons", false};
    // Never read: both blocking switches start off at every launch.
    Setting<bool> blockBuiltInKeyboard{*this, "blockKB", false, &Preferences::readNothing};
    Setting<bool> blockBuiltInTrackpad{*this, "blockTP", false, &Preferences::readNothing};
    // True while a permission request started by a blocking switch is in flight; not stored.
    bool requestingPermissions = false;
    Setting<bool> preventScreenSaver{*this, "noSaver", false, kImportable};
    Setting<bool> keyboardBacklightOff{*this, "kbBacklight", false, kImportable};
    Setting<bool> builtInDisplayOff{*this, "displayOff", false, kImportable};
    // Holds only on the machine and system version that confirmed it.
    Setting<bool> hasConfirmedBlocking{*this, "confirmedBlock", false, &Preferences::readConfirmed};
    Setting<bool> tieDevicesToSession{*this, "tieDevices", true, kImportable};
    Setting<bool> autoUnblockNoExternal{*this, "autoUnblock", true};
    Setting<DurationPreset> defaultPreset{*this, "defaultPreset", DurationPreset::indefinite,
                                          kImportable};

    const std::vector<SettingBase*>& settings() const { return settings_; }

    // The on-battery delay in seconds: at least one unit of minutes or hours; saturates instead
    // of overflowing.
    std::int64_t batteryOffSeconds() const;

    // Re-reads every setting and assigns it (writing each key back and running each action).
    void reload();

    // A blocking switch was turned on: starts the permission request for it unless one is in
    // flight. Returns what turns that switch back off on a refusal; none while another request
    // decides.
    std::function<void()> beginPermissionRequest(Setting<bool>& blockingSwitch);
    // The completion of a permission request made by a blocking switch.
    static void permissionRequestFinished(bool granted, WeakRef<Preferences> prefs,
                                          const std::function<void()>& revert);

    // The saved session under "session" (as JSON data); none removes it.
    void saveSession(const std::optional<SavedSession>& session);
    std::optional<SavedSession> loadSession() const;

    // The machine's platform identifier (or "unknown"), "-", and the major system version.
    static std::string machineIdentity(SystemInfo& info);

    UserDefaults& defaults() const { return d_; }

  private:
    void store(const std::string& key, bool value);
    void store(const std::string& key, std::int64_t value);
    void store(const std::string& key, double value);
    template <class E>
    void store(const std::string& key, E value) {
        d_.setString(key, std::string(rawValue(value)));
    }

    template <class T>
    DefaultsValue registerSetting(SettingBase& setting, const std::string& key,
                                  const T& registered) {
        DefaultsValue value = defaultsValue(registered);
        d_.registerDefaults(DefaultsDictionary{{key, value}});
        settings_.push_back(&setting);
        return value;
    }
    static DefaultsValue defaultsValue(bool value) { return value; }
    static DefaultsValue defaultsValue(std::int64_t value) { return value; }
    static DefaultsValue defaultsValue(double value) { return value; }
    template <class E>
    static DefaultsValue defaultsValue(E value) {
        return std::string(rawValue(value));
    }

    // The readers: the platform's conversions; a text that names no case reads as the default.
    template <class T>
    T readStored(const std::string& key, const T& registered) const {
        if constexpr (std::is_same_v<T, bool>) {
            (void)registered;
            return d_.boolForKey(key);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
            (void)registered;
            return d_.integerForKey(key);
        } else if constexpr (std::is_same_v<T, double>) {
            (void)registered;
            return d_.doubleForKey(key);
        } else {
            return fromRaw<T>(d_.stringForKey(key).value_or("")).value_or(registered);
        }
    }
    bool readNothing(const std::string& key, const bool& registered) const;
    double readMenuScale(const std::string& key, const double& registered) const;
    bool readConfirmed(const std::string& key, const bool& registered) const;
};

}  // namespace orvel
