#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Json.h"
#include "foundation/Localization.h"

namespace orvel {

// One case of a small closed set stored by its raw string, with an optional user-visible label
// (a localisation key that is also the English text).
template <class E>
struct EnumCase {
    E value;
    std::string_view raw;
    std::string_view label = {};
};

// Specialise with `static constexpr std::array<EnumCase<E>, N> cases` in declaration order.
template <class E>
struct EnumTraits;

template <class E>
constexpr std::string_view rawValue(E value) {
    for (const auto& c : EnumTraits<E>::cases) {
        if (c.value == value) {
            return c.raw;
        }
    }
    return {};
}

// Exact, case-sensitive match; nothing when no raw string matches.
template <class E>
constexpr std::optional<E> fromRaw(std::string_view raw) {
    for (const auto& c : EnumTraits<E>::cases) {
        if (c.raw == raw) {
            return c.value;
        }
    }
    return std::nullopt;
}

template <class E>
constexpr auto allCases() {
    std::array<E, EnumTraits<E>::cases.size()> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = EnumTraits<E>::cases[i].value;
    }
    return values;
}

// The localised label of a case.
template <class E>
std::string label(E value) {
    for (const auto& c : EnumTraits<E>::cases) {
        if (c.value == value) {
            return localized(c.label);
        }
    }
    return {};
}

// JSON form: the raw string.
template <class E>
Json enumToJson(E value) {
    return Json(std::string(rawValue(value)));
}

template <class E>
Result<E> enumFromJson(const Json& json, std::string_view what) {
    if (!json.is_string()) {
        return Error{std::string(what) + ": not a text"};
    }
    auto value = fromRaw<E>(json.get<std::string>());
    if (!value) {
        return Error{std::string(what) + ": \"" + json.get<std::string>() +
                     "\" is not a known value"};
    }
    return *value;
}

}  // namespace orvel
