#pragma once

#include <systemd/sd-bus.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// Writes the values of one sd-bus message in order. The first failure sticks and every later
// step does nothing, so a message is built without a check after each value; `result()` is that
// failure (a negative errno) or not negative. Threading: as the message's.

namespace orvel {

class DBusWriter {
  public:
    // A value that travels in a variant: a string, a boolean or a 32-bit integer.
    using Value = std::variant<std::string, bool, std::int32_t>;
    // A dictionary of named values, a{sv}, in the order written.
    using Dict = std::vector<std::pair<const char*, Value>>;

    explicit DBusWriter(sd_bus_message* message) : message_(message) {}

    // Values as sd_bus_message_append takes them (`types` is their signature).
    template <typename... Values>
    DBusWriter& append(const char* types, Values... values) {
        if (result_ >= 0) {
            result_ = sd_bus_message_append(message_, types, values...);
        }
        return *this;
    }
    DBusWriter& string(const std::string& text) { return append("s", text.c_str()); }
    // An array of a fixed-size type ('y', 'i', …) from `size` bytes.
    DBusWriter& array(char type, const void* data, std::size_t size) {
        if (result_ >= 0) {
            result_ = sd_bus_message_append_array(message_, type, data, size);
        }
        return *this;
    }
    // A container of `type` ('a', 'r', 'v', 'e') holding `contents`, filled by `fill(*this)`.
    template <typename Fill>
    DBusWriter& container(char type, const char* contents, Fill&& fill) {
        if (result_ >= 0) {
            result_ = sd_bus_message_open_container(message_, type, contents);
        }
        fill(*this);
        if (result_ >= 0) {
            result_ = sd_bus_message_close_container(message_);
        }
        return *this;
    }
    DBusWriter& variant(const Value& value) {
        if (const auto* text = std::get_if<std::string>(&value)) {
            return append("v", "s", text->c_str());
        }
        if (const auto* flag = std::get_if<bool>(&value)) {
            return append("v", "b", int(*flag));
        }
        return append("v", "i", std::get<std::int32_t>(value));
    }
    DBusWriter& dict(const Dict& entries) {
        return container('a', "{sv}", [&entries](DBusWriter& w) {
            for (const auto& [name, value] : entries) {
                w.container('e', "sv", [&](DBusWriter& e) { e.append("s", name).variant(value); });
            }
        });
    }

    int result() const { return result_; }

  private:
    sd_bus_message* message_;
    int result_ = 0;
};

}  // namespace orvel
