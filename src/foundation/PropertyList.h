#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "foundation/Data.h"
#include "foundation/Date.h"

namespace orvel {

struct PropertyValue;
using PropertyArray = std::vector<PropertyValue>;
using PropertyDictionary = std::map<std::string, PropertyValue, std::less<>>;

// A typed value of a property list: stored settings, power-source descriptions, device
// properties.
struct PropertyValue {
    using Storage = std::variant<bool, std::int64_t, double, std::string, Data, Date, PropertyArray,
                                 PropertyDictionary>;
    Storage storage;

    PropertyValue() : storage(false) {}
    PropertyValue(bool v) : storage(v) {}
    PropertyValue(int v) : storage(std::int64_t{v}) {}
    PropertyValue(std::int64_t v) : storage(v) {}
    PropertyValue(double v) : storage(v) {}
    PropertyValue(std::string v) : storage(std::move(v)) {}
    PropertyValue(const char* v) : storage(std::string(v)) {}
    PropertyValue(Data v) : storage(std::move(v)) {}
    PropertyValue(Date v) : storage(v) {}
    PropertyValue(PropertyArray v) : storage(std::move(v)) {}
    PropertyValue(PropertyDictionary v) : storage(std::move(v)) {}

    template <class T>
    const T* as() const {
        return std::get_if<T>(&storage);
    }
    bool operator==(const PropertyValue& other) const { return storage == other.storage; }
};

// The value of a key of a dictionary when it has type T; nullptr otherwise.
template <class T>
const T* propertyAs(const PropertyDictionary& dictionary, std::string_view key) {
    auto it = dictionary.find(key);
    return it == dictionary.end() ? nullptr : it->second.as<T>();
}

}  // namespace orvel
