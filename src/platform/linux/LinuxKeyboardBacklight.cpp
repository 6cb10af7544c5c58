#include "platform/linux/LinuxKeyboardBacklight.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "foundation/Log.h"
#include "platform/linux/SysfsAttribute.h"

namespace orvel {

namespace {

constexpr std::string_view kSuffix = "::kbd_backlight";

std::optional<long> readNumber(const std::string& path) {
    const auto text = readSysfsAttribute(path);
    if (!text) {
        return std::nullopt;
    }
    long value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

LinuxKeyboardBacklight::LinuxKeyboardBacklight(std::string sysRoot)
    : sysRoot_(std::move(sysRoot)) {}

const std::string& LinuxKeyboardBacklight::device() {
    if (device_) {
        return *device_;
    }
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysRoot_ + "/class/leds", error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) {
            found.push_back(entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    device_ = found.empty() ? std::string() : found.front();
    return *device_;
}

bool LinuxKeyboardBacklight::hasService() {
    return !device().empty();
}

std::optional<int> LinuxKeyboardBacklight::range() {
    if (device().empty()) {
        return std::nullopt;
    }
    const auto max = readNumber(device() + "/max_brightness");
    if (!max || *max <= 0 || *max > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(*max);
}

std::optional<double> LinuxKeyboardBacklight::registryValue() {
    const auto max = range();
    if (!max) {
        return std::nullopt;
    }
    const auto now = readNumber(device() + "/brightness");
    if (!now) {
        return std::nullopt;
    }
    return std::min(1.0, static_cast<double>(*now) / *max);
}

void LinuxKeyboardBacklight::setRegistryValue(double value, bool integer) {
    const auto max = range();
    if (!max) {
        return;
    }
    const double steps = integer ? value : std::round(std::clamp(value, 0.0, 1.0) * *max);
    const long clamped = std::clamp(static_cast<long>(steps), 0L, static_cast<long>(*max));
    const std::string text = std::to_string(clamped);
    const std::string path = device() + "/brightness";
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        Logger("backlight")
            .error("The keyboard backlight could not be written: " + path + ": " +
                   std::strerror(errno));
        return;
    }
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        Logger("backlight")
            .error("The keyboard backlight could not be written: " + path + ": " +
                   std::strerror(errno));
    }
    ::close(fd);
}

}  // namespace orvel
