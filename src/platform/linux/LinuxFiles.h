#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Numbers.h"

// Reading the kernel's small text files and listing folders. Threading: any thread.

namespace orvel {

// The first line of a sysfs attribute, without trailing blanks; nothing when it cannot be read
// or is empty. Plain system calls and no allocation beyond the line: power and battery ticks
// read a handful of these every few seconds for as long as Orvel runs.
std::optional<std::string> readSysfsAttribute(const std::string& path);

// A sysfs attribute that holds one number (parseNumber's rules); nothing otherwise.
template <class T>
std::optional<T> readSysfsNumber(const std::string& path) {
    const auto text = readSysfsAttribute(path);
    return text ? parseNumber<T>(*text) : std::nullopt;
}

// A brightness or its maximum: a whole number, zero or more.
std::optional<long> readSysfsLevel(const std::string& path);

// The names in a folder, "." and ".." left out, in the file system's order.
struct FolderNames {
    bool opened = false;
    std::vector<std::string> names;
    // errno: why the folder could not be opened, or why reading it stopped before its end (the
    // names read until then are kept); 0 when all of it was read.
    int error = 0;
};
FolderNames listFolder(const std::string& path);

}  // namespace orvel
