#include "platform/UserDefaults.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace orvel {

namespace {

std::string_view trimLeading(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    return text;
}

// A text's truth as the platform reads it: "Y", "y", "T", "t" or a non-zero number at the start.
bool textAsBool(std::string_view text) {
    text = trimLeading(text);
    if (text.empty()) {
        return false;
    }
    const char first = text.front();
    if (first == 'Y' || first == 'y' || first == 'T' || first == 't') {
        return true;
    }
    if (first == '+' || first == '-') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.front() == '0') {
        text.remove_prefix(1);
    }
    return !text.empty() && text.front() >= '1' && text.front() <= '9';
}

std::int64_t saturatingInteger(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value < -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

// The number at the start of a text, as the platform reads it; 0 when there is none.
double textAsDouble(std::string_view text) {
    const std::string copy(trimLeading(text));
    return std::strtod(copy.c_str(), nullptr);
}

std::int64_t textAsInteger(std::string_view text) {
    const std::string copy(trimLeading(text));
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    return static_cast<std::int64_t>(value);
}

std::string numberText(double value) {
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<std::int64_t>(value));
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

}  // namespace

std::optional<DefaultsValue> UserDefaults::object(std::string_view key) const {
    if (auto stored = persistentValue(key)) {
        return stored;
    }
    return registeredValue(key);
}

bool UserDefaults::boolForKey(std::string_view key) const {
    const auto value = object(key);
    if (!value)
        return false;
    if (const auto* b = value->as<bool>())
        return *b;
    if (const auto* i = value->as<std::int64_t>())
        return *i != 0;
    if (const auto* d = value->as<double>())
        return *d != 0.0;
    if (const auto* s = value->as<std::string>())
        return textAsBool(*s);
    return false;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
    const auto value = object(key);
    if (!value)
        return 0;
    if (const auto* i = value->as<std::int64_t>())
        return *i;
    if (const auto* b = value->as<bool>())
        return *b ? 1 : 0;
    if (const auto* d = value->as<double>())
        return saturatingInteger(*d);
    if (const auto* s = value->as<std::string>())
        return textAsInteger(*s);
    return 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    const auto value = object(key);
    if (!value)
        return 0.0;
    if (const auto* d = value->as<double>())
        return *d;
    if (const auto* i = value->as<std::int64_t>())
        return static_cast<double>(*i);
    if (const auto* b = value->as<bool>())
        return *b ? 1.0 : 0.0;
    if (const auto* s = value->as<std::string>())
        return textAsDouble(*s);
    return 0.0;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    const auto value = object(key);
    if (!value)
        return std::nullopt;
    if (const auto* s = value->as<std::string>())
        return *s;
    if (const auto* i = value->as<std::int64_t>())
        return std::to_string(*i);
    if (const auto* b = value->as<bool>())
        return std::string(*b ? "1" : "0");
    if (const auto* d = value->as<double>())
        return numberText(*d);
    return std::nullopt;
}

std::optional<Data> UserDefaults::dataForKey(std::string_view key) const {
    auto value = object(key);
    if (value) {
        // Moved out of the copy object() made: a stored log or rule list runs to megabytes.
        if (auto* data = std::get_if<Data>(&value->storage))
            return std::move(*data);
    }
    return std::nullopt;
}

void MemoryUserDefaults::registerDefaults(const DefaultsDictionary& defaults) {
    for (const auto& [key, value] : defaults) {
        registered_[key] = value;
    }
}

std::optional<DefaultsValue> MemoryUserDefaults::persistentValue(std::string_view key) const {
    auto it = persistent_.find(key);
    return it == persistent_.end() ? std::nullopt : std::optional<DefaultsValue>(it->second);
}

std::optional<DefaultsValue> MemoryUserDefaults::registeredValue(std::string_view key) const {
    auto it = registered_.find(key);
    return it == registered_.end() ? std::nullopt : std::optional<DefaultsValue>(it->second);
}

void MemoryUserDefaults::setObject(std::string_view key, DefaultsValue value) {
    ++writes_;
    persistent_.insert_or_assign(std::string(key), std::move(value));
    changed.send(std::string(key));
}

void MemoryUserDefaults::removeObject(std::string_view key) {
    ++writes_;
    auto it = persistent_.find(key);
    if (it != persistent_.end()) {
        persistent_.erase(it);
    }
    changed.send(std::string(key));
}

void MemoryUserDefaults::removePersistentDomain() {
    ++writes_;
    persistent_.clear();
    changed.send(std::string());
}

}  // namespace orvel

namespace orvel {

DefaultsKeysObserver::DefaultsKeysObserver(UserDefaults& defaults, std::vector<std::string> keys)
    : keys_(std::move(keys)) {
    subscription_ = defaults.changed.subscribe([this](const std::string& key) {
        if (key.empty() || std::find(keys_.begin(), keys_.end(), key) != keys_.end()) {
            objectWillChange.send();
        }
    });
}

}  // namespace orvel
