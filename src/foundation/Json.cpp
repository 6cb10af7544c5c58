#include "foundation/Json.h"

#include <cmath>

namespace orvel {

Result<Json> parseJson(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception& e) {
        return Error{e.what()};
    }
}

Result<Json> parseJsonKeepingFirst(std::string_view text, std::size_t keep, std::size_t* elements) {
    *elements = 0;
    bool array = false;
    // Depth 0 is the document, depth 1 an element of a top-level array.
    const auto callback = [&](int depth, Json::parse_event_t event, Json&) {
        const bool starts = event == Json::parse_event_t::object_start ||
                            event == Json::parse_event_t::array_start ||
                            event == Json::parse_event_t::value;
        if (depth == 0 && event == Json::parse_event_t::array_start) {
            array = true;
        } else if (depth == 1 && array && starts) {
            return ++*elements <= keep;
        }
        return true;
    };
    try {
        return Json::parse(text.begin(), text.end(), callback);
    } catch (const Json::exception& e) {
        return Error{e.what()};
    }
}

namespace {

// The JSON pointer of the first number that is not finite, if any.
std::optional<std::string> firstNonFinite(const Json& json, const std::string& path) {
    if (json.is_number_float()) {
        if (!std::isfinite(json.get<double>())) {
            return path.empty() ? std::string("/") : path;
        }
    } else if (json.is_object()) {
        for (auto it = json.begin(); it != json.end(); ++it) {
            if (auto found = firstNonFinite(it.value(), path + "/" + it.key())) {
                return found;
            }
        }
    } else if (json.is_array()) {
        for (std::size_t i = 0; i < json.size(); ++i) {
            if (auto found = firstNonFinite(json[i], path + "/" + std::to_string(i))) {
                return found;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

Result<std::string> dumpJson(const Json& json, int indent) {
    if (auto where = firstNonFinite(json, "")) {
        return Error{"The value at " + *where + " is not a finite number."};
    }
    // Invalid UTF-8 in a string is replaced rather than thrown on.
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

JsonReader::JsonReader(const Json& json, std::string_view what) : json_(json), what_(what) {
    if (!json_.is_object()) {
        fail("is not a JSON object");
    }
}

void JsonReader::fail(std::string message) {
    if (!failed_) {
        failed_ = true;
        error_ = Error{what_ + ": " + std::move(message)};
    }
}

const Json* JsonReader::find(std::string_view key) const {
    if (failed_ || !json_.is_object()) {
        return nullptr;
    }
    auto it = json_.find(std::string(key));
    return it == json_.end() ? nullptr : &*it;
}

const Json* JsonReader::required(std::string_view key) {
    const Json* value = find(key);
    if (value == nullptr) {
        fail("missing key \"" + std::string(key) + "\"");
    }
    return failed_ ? nullptr : value;
}

const Json* JsonReader::optional(std::string_view key) {
    const Json* value = find(key);
    return value == nullptr || value->is_null() ? nullptr : value;
}

const Json* JsonReader::typed(std::string_view key, bool isRequired,
                              bool (Json::*hasType)() const noexcept, const char* typeText) {
    const Json* value = isRequired ? required(key) : optional(key);
    if (value != nullptr && !(value->*hasType)()) {
        fail("\"" + std::string(key) + "\" is not " + typeText);
        return nullptr;
    }
    return value;
}

bool JsonReader::boolean(std::string_view key) {
    const Json* value = typed(key, true, &Json::is_boolean, "true or false");
    return value != nullptr && value->get<bool>();
}

std::optional<bool> JsonReader::optionalBoolean(std::string_view key) {
    const Json* value = typed(key, false, &Json::is_boolean, "true or false");
    return value != nullptr ? std::optional<bool>(value->get<bool>()) : std::nullopt;
}

std::optional<std::int64_t> JsonReader::toInteger(std::string_view key, const Json& value,
                                                  std::int64_t min, std::int64_t max) {
    std::optional<std::int64_t> result;
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            result = static_cast<std::int64_t>(u);
        } else {
            fail("\"" + std::string(key) + "\" is out of range");
            return std::nullopt;
        }
    } else if (value.is_number_integer()) {
        result = value.get<std::int64_t>();
    } else if (value.is_number_float()) {
        // A whole number written with a fraction part (60.0) reads as that whole number.
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0) {
            result = static_cast<std::int64_t>(d);
        } else if (std::isfinite(d) && d == std::trunc(d)) {
            fail("\"" + std::string(key) + "\" is out of range");
            return std::nullopt;
        }
    }
    if (!result) {
        fail("\"" + std::string(key) + "\" is not a whole number");
        return std::nullopt;
    }
    if (*result < min || *result > max) {
        fail("\"" + std::string(key) + "\" is out of range");
        return std::nullopt;
    }
    return result;
}

std::int64_t JsonReader::integer(std::string_view key, std::int64_t min, std::int64_t max) {
    const Json* value = required(key);
    if (value == nullptr) {
        return 0;
    }
    return toInteger(key, *value, min, max).value_or(0);
}

std::optional<std::int64_t> JsonReader::optionalInteger(std::string_view key, std::int64_t min,
                                                        std::int64_t max) {
    const Json* value = optional(key);
    if (value == nullptr) {
        return std::nullopt;
    }
    return toInteger(key, *value, min, max);
}

double JsonReader::number(std::string_view key) {
    const Json* value = typed(key, true, &Json::is_number, "a number");
    return value != nullptr ? value->get<double>() : 0.0;
}

std::optional<double> JsonReader::optionalNumber(std::string_view key) {
    const Json* value = typed(key, false, &Json::is_number, "a number");
    return value != nullptr ? std::optional<double>(value->get<double>()) : std::nullopt;
}

std::string JsonReader::string(std::string_view key) {
    const Json* value = typed(key, true, &Json::is_string, "a text");
    return value != nullptr ? value->get<std::string>() : std::string();
}

std::optional<std::string> JsonReader::optionalString(std::string_view key) {
    const Json* value = typed(key, false, &Json::is_string, "a text");
    return value != nullptr ? std::optional<std::string>(value->get<std::string>()) : std::nullopt;
}

Date JsonReader::date(std::string_view key) {
    return Date{number(key)};
}

std::optional<Date> JsonReader::optionalDate(std::string_view key) {
    auto seconds = optionalNumber(key);
    return seconds ? std::optional<Date>(Date{*seconds}) : std::nullopt;
}

UUID JsonReader::uuid(std::string_view key) {
    const std::string text = string(key);
    if (failed_) {
        return {};
    }
    auto id = UUID::fromString(text);
    if (!id) {
        fail("\"" + std::string(key) + "\" is not a UUID");
        return {};
    }
    return *id;
}

std::optional<UUID> JsonReader::optionalUUID(std::string_view key) {
    auto text = optionalString(key);
    if (!text) {
        return std::nullopt;
    }
    auto id = UUID::fromString(*text);
    if (!id) {
        fail("\"" + std::string(key) + "\" is not a UUID");
    }
    return id;
}

}  // namespace orvel
