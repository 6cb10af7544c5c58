#pragma once

#include <optional>
#include <string>

namespace orvel {

// The first line of a sysfs attribute, without trailing blanks; nothing when it cannot be read
// or is empty. Plain system calls and no allocation beyond the line: power and battery ticks
// read a handful of these every few seconds for as long as Orvel runs.
std::optional<std::string> readSysfsAttribute(const std::string& path);

}  // namespace orvel
