#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "foundation/Date.h"
#include "foundation/Result.h"
#include "foundation/UUID.h"

namespace orvel {

// JSON values keep their keys in insertion order, so records encode in their declared order.
using Json = nlohmann::ordered_json;

// Parses text without throwing; the error names the position of the fault.
Result<Json> parseJson(std::string_view text);
// Parses text as parseJson does, but of a top-level array keeps only the first `keep` elements
// (the others are read, never stored); `elements` gets how many the array held (0 for anything
// else).
Result<Json> parseJsonKeepingFirst(std::string_view text, std::size_t keep, std::size_t* elements);
// The text of a document: compact, or indented by `indent` spaces. A number that is not finite has
// no JSON spelling: such a document is refused (never written with null in its place), and the
// error names where the number is.
Result<std::string> dumpJson(const Json& json, int indent = -1);

// Writes an optional value: present as its JSON form, absent as no key at all (never null).
template <class T>
void putOptional(Json& object, std::string_view key, const std::optional<T>& value) {
    if (value) {
        object[std::string(key)] = *value;
    }
}

// Strict reading of one JSON object: required keys must be present with exactly the expected
// JSON type, whole numbers must fit their range, optional keys may be missing or null. The
// first fault is kept (later reads return defaults) and ends the decoding of the whole record.
class JsonReader {
  public:
    explicit JsonReader(const Json& json, std::string_view what = "value");

    bool ok() const { return !failed_; }
    const Error& error() const { return error_; }

    bool boolean(std::string_view key);
    std::optional<bool> optionalBoolean(std::string_view key);

    std::int64_t integer(std::string_view key,
                         std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                         std::int64_t max = std::numeric_limits<std::int64_t>::max());
    std::optional<std::int64_t> optionalInteger(
        std::string_view key, std::int64_t min = std::numeric_limits<std::int64_t>::min(),
        std::int64_t max = std::numeric_limits<std::int64_t>::max());

    double number(std::string_view key);
    std::optional<double> optionalNumber(std::string_view key);

    std::string string(std::string_view key);
    std::optional<std::string> optionalString(std::string_view key);

    // Seconds since 2001-01-01 00:00:00 UTC.
    Date date(std::string_view key);
    std::optional<Date> optionalDate(std::string_view key);

    UUID uuid(std::string_view key);
    std::optional<UUID> optionalUUID(std::string_view key);

    // The raw value of a key for nested records; nullptr (and a fault) when it is missing.
    const Json* required(std::string_view key);
    // The raw value, or nullptr when missing or null.
    const Json* optional(std::string_view key);

    // Records a fault of the caller's own (a nested record that did not decode, say).
    void fail(std::string message);

    // The decoded value, or the first fault.
    template <class T>
    Result<T> finish(T value) const {
        if (failed_) {
            return error_;
        }
        return value;
    }

  private:
    const Json* find(std::string_view key) const;
    // The value of a key when it has the JSON type `hasType` asks for; a fault otherwise.
    const Json* typed(std::string_view key, bool isRequired, bool (Json::*hasType)() const noexcept,
                      const char* typeText);
    std::optional<std::int64_t> toInteger(std::string_view key, const Json& value, std::int64_t min,
                                          std::int64_t max);

    const Json& json_;
    std::string what_;
    bool failed_ = false;
    Error error_;
};

}  // namespace orvel
