#include "support/PropertyValuePrinter.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace orvel {

void PrintTo(const PropertyValue& value, std::ostream* out) {
    if (const auto* on = value.as<bool>()) {
        *out << "bool " << (*on ? "true" : "false");
    } else if (const auto* number = value.as<std::int64_t>()) {
        *out << "integer " << *number;
    } else if (const auto* real = value.as<double>()) {
        *out << "double " << ::testing::PrintToString(*real);
    } else if (const auto* text = value.as<std::string>()) {
        *out << "string " << ::testing::PrintToString(*text);
    } else if (const auto* bytes = value.as<Data>()) {
        *out << "data {";
        for (std::size_t i = 0; i < bytes->size(); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", (*bytes)[i]);
            *out << (i == 0 ? "" : " ") << hex;
        }
        *out << "}";
    } else if (const auto* date = value.as<Date>()) {
        *out << "date " << ::testing::PrintToString(date->secondsSinceReferenceDate) << " s";
    } else if (const auto* array = value.as<PropertyArray>()) {
        *out << "array [";
        for (std::size_t i = 0; i < array->size(); ++i) {
            *out << (i == 0 ? "" : ", ");
            PrintTo((*array)[i], out);
        }
        *out << "]";
    } else if (const auto* dictionary = value.as<PropertyDictionary>()) {
        *out << "dictionary {";
        const char* separator = "";
        for (const auto& [key, item] : *dictionary) {
            *out << separator << ::testing::PrintToString(key) << ": ";
            PrintTo(item, out);
            separator = ", ";
        }
        *out << "}";
    }
}

}  // namespace orvel
