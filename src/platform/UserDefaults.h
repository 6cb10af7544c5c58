#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "foundation/PropertyList.h"
#include "foundation/Published.h"
#include "foundation/Signal.h"

// The application's user defaults: a registered domain (defaults given at every start, never
// stored) under a persistent domain (what the user set). Threading: main thread only.

namespace orvel {

using DefaultsValue = PropertyValue;
using DefaultsArray = PropertyArray;
using DefaultsDictionary = PropertyDictionary;

class UserDefaults {
  public:
    virtual ~UserDefaults() = default;

    // Replaces the registered values of these keys for the life of the process.
    virtual void registerDefaults(const DefaultsDictionary& defaults) = 0;
    virtual std::optional<DefaultsValue> persistentValue(std::string_view key) const = 0;
    virtual std::optional<DefaultsValue> registeredValue(std::string_view key) const = 0;
    virtual void setObject(std::string_view key, DefaultsValue value) = 0;
    virtual void removeObject(std::string_view key) = 0;
    // Removes every stored value of the application (registered values stay).
    virtual void removePersistentDomain() = 0;
    virtual DefaultsDictionary persistentDomain() const = 0;
    // Waits until every change so far is stored.
    virtual void synchronize() {}

    // Sent on the main thread after each set or removal, with its key ("" when the whole
    // domain was removed).
    Signal<std::string> changed;

    // The stored value, else the registered one.
    std::optional<DefaultsValue> object(std::string_view key) const;

    // Typed reads with the platform's conversions: numbers and numeric texts convert, anything
    // else reads as false, 0, 0.0 or nothing.
    bool boolForKey(std::string_view key) const;
    std::int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<Data> dataForKey(std::string_view key) const;

    void setBool(std::string_view key, bool value) { setObject(key, DefaultsValue(value)); }
    void setInteger(std::string_view key, std::int64_t value) {
        setObject(key, DefaultsValue(value));
    }
    void setDouble(std::string_view key, double value) { setObject(key, DefaultsValue(value)); }
    void setString(std::string_view key, std::string value) {
        setObject(key, DefaultsValue(std::move(value)));
    }
    void setData(std::string_view key, Data value) {
        setObject(key, DefaultsValue(std::move(value)));
    }
};

// Both domains in memory: the simulated machine's defaults, and the working copy of the file
// store.
class MemoryUserDefaults : public UserDefaults {
  public:
    void registerDefaults(const DefaultsDictionary& defaults) override;
    std::optional<DefaultsValue> persistentValue(std::string_view key) const override;
    std::optional<DefaultsValue> registeredValue(std::string_view key) const override;
    void setObject(std::string_view key, DefaultsValue value) override;
    void removeObject(std::string_view key) override;
    void removePersistentDomain() override;
    DefaultsDictionary persistentDomain() const override { return persistent_; }

    // For tests and benchmarks: how many writes (sets and removals) have been made.
    std::uint64_t writeCount() const { return writes_; }
    void replacePersistentDomain(DefaultsDictionary domain) { persistent_ = std::move(domain); }

  private:
    DefaultsDictionary registered_;
    DefaultsDictionary persistent_;
    std::uint64_t writes_ = 0;
};

// Announces changes of some user-defaults keys as an observable object, so that a view that
// shows a stored value follows writes made by anyone. Main thread only.
class DefaultsKeysObserver final : public ObservableObject {
  public:
    DefaultsKeysObserver(UserDefaults& defaults, std::vector<std::string> keys);

  private:
    std::vector<std::string> keys_;
    Subscription subscription_;
};

}  // namespace orvel
