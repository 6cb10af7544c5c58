#include "platform/linux/LinuxKeyboardBacklight.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "foundation/Log.h"
#include "platform/linux/LinuxFiles.h"

namespace orvel {

namespace {

constexpr std::string_view kSuffix = "::kbd_backlight";
constexpr const char* kUPower = "org.freedesktop.UPower";
const DBusObject kKbdBacklight{kUPower, "/org/freedesktop/UPower/KbdBacklight",
                               "org.freedesktop.UPower.KbdBacklight"};
constexpr const char* kGetBrightness = "GetBrightness";
constexpr const char* kSetBrightness = "SetBrightness";
// What the two methods look like in the client's encoding: GetBrightness() -> i, SetBrightness(i).
constexpr std::string_view kReadEncoding = "i@:";
constexpr std::string_view kWriteEncoding = "v@:i";

std::string attribute(std::string_view tag, std::string_view name) {
    const std::string key = std::string(name) + "=\"";
    const auto start = tag.find(key);
    if (start == std::string_view::npos) {
        return {};
    }
    const auto from = start + key.size();
    const auto end = tag.find('"', from);
    return end == std::string_view::npos ? std::string()
                                         : std::string(tag.substr(from, end - from));
}

// The methods of `interface` in an introspection document, each as its reply's types (or "v"),
// "@:" and its arguments' types.
std::map<std::string, std::string, std::less<>> methodEncodings(std::string_view xml,
                                                                std::string_view interface) {
    std::map<std::string, std::string, std::less<>> found;
    const auto opening = xml.find("<interface name=\"" + std::string(interface) + "\"");
    if (opening == std::string_view::npos) {
        return found;
    }
    const std::string_view body = xml.substr(opening, xml.find("</interface>", opening) - opening);
    std::size_t at = 0;
    while ((at = body.find("<method ", at)) != std::string_view::npos) {
        const auto tagEnd = body.find('>', at);
        if (tagEnd == std::string_view::npos) {
            break;
        }
        const std::string_view tag = body.substr(at, tagEnd - at);
        std::string_view inner;
        if (!tag.ends_with('/')) {
            const auto close = body.find("</method>", tagEnd);
            inner = body.substr(tagEnd, close == std::string_view::npos ? 0 : close - tagEnd);
        }
        std::string in;
        std::string out;
        std::size_t arg = 0;
        while ((arg = inner.find("<arg ", arg)) != std::string_view::npos) {
            const auto argEnd = inner.find('>', arg);
            const std::string_view argTag = inner.substr(arg, argEnd - arg);
            (attribute(argTag, "direction") == "out" ? out : in) += attribute(argTag, "type");
            arg = argEnd;
        }
        found[attribute(tag, "name")] = (out.empty() ? "v" : out) + "@:" + in;
        at = tagEnd;
    }
    return found;
}

}  // namespace

LinuxKeyboardBacklight::LinuxKeyboardBacklight(std::string sysRoot,
                                               std::shared_ptr<DBusConnection> systemBus,
                                               std::string sessionID)
    : sysRoot_(std::move(sysRoot)),
      bus_(systemBus),
      logind_(std::move(systemBus), std::move(sessionID), "backlight") {
    logindRefusals_ =
        logind_.refused.subscribe([this](const std::string&) { writeRefused.send(); });
    if (!bus_) {
        return;
    }
    upower_ = bus_->watchName(kUPower);
    upowerWatch_ = upower_->changed.subscribe([this](BusNameState) { followUPower(); });
    followUPower();
}

void LinuxKeyboardBacklight::followUPower() {
    if (!upower_->isPresent()) {
        changed_.reset();
        introspection_.reset();
        maxQuery_.reset();
        levelQuery_.reset();
        clientWrite_.reset();
        encodings_.clear();
        clientMax_.reset();
        clientLevel_.reset();
        clientAsked_.reset();
        return;
    }
    if (changed_.isActive()) {
        return;
    }
    // The signal first, then the readings: no change between the two is lost.
    auto changed = bus_->matchSignal(kUPower, kKbdBacklight.path, kKbdBacklight.interface,
                                     "BrightnessChanged", [this](sd_bus_message* m) {
                                         std::int32_t value = 0;
                                         if (sd_bus_message_read(m, "i", &value) >= 0) {
                                             clientLevel_ = std::max(0, value);
                                             ++changesSeen_;
                                         }
                                     });
    if (!changed) {
        log_.error("Keyboard backlight changes from UPower will not be noticed: " +
                   changed.error().message);
        return;
    }
    changed_ = std::move(changed.value());
    readClient();
}

void LinuxKeyboardBacklight::readClient() {
    auto introspection = bus_->call(
        DBusObject{kUPower, kKbdBacklight.path, "org.freedesktop.DBus.Introspectable"},
        "Introspect", nullptr, [this](sd_bus_message* reply) {
            const char* xml = nullptr;
            if (const auto error = DBusConnection::errorOf(reply)) {
                log_.error("UPower's keyboard backlight could not be looked at: " + *error);
            } else if (sd_bus_message_read(reply, "s", &xml) >= 0) {
                encodings_ = methodEncodings(xml, kKbdBacklight.interface);
            }
            auto done = std::move(introspection_);
        });
    const auto readInt = [this](const char* method, std::optional<int>& into) {
        return bus_->call(
            kKbdBacklight, method, nullptr, [this, method, &into](sd_bus_message* reply) {
                std::int32_t value = 0;
                if (const auto error = DBusConnection::errorOf(reply)) {
                    log_.notice(std::string("UPower's keyboard backlight: ") + method + ": " +
                                *error);
                } else if (sd_bus_message_read(reply, "i", &value) >= 0 && value >= 0) {
                    into = value;
                }
            });
    };
    auto max = readInt("GetMaxBrightness", clientMax_);
    auto level = readInt(kGetBrightness, clientLevel_);
    if (!introspection || !max || !level) {
        log_.error("UPower's keyboard backlight could not be asked for: " +
                   (!introspection ? introspection.error().message
                    : !max         ? max.error().message
                                   : level.error().message));
        return;
    }
    introspection_ = std::move(introspection.value());
    maxQuery_ = std::move(max.value());
    levelQuery_ = std::move(level.value());
}

bool LinuxKeyboardBacklight::hasClient() {
    return encodings_.count(kGetBrightness) != 0 && clientMax_ && *clientMax_ > 0 && clientLevel_;
}

std::optional<std::string> LinuxKeyboardBacklight::clientMethodEncoding(std::string_view selector) {
    const char* method =
        selector == keyboard_backlight::kReadSelector ? kGetBrightness : kSetBrightness;
    const auto it = encodings_.find(method);
    return it == encodings_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::string LinuxKeyboardBacklight::expectedEncoding(std::string_view selector) {
    return std::string(selector == keyboard_backlight::kReadSelector ? kReadEncoding
                                                                     : kWriteEncoding);
}

double LinuxKeyboardBacklight::clientBrightness() {
    if (!hasClient()) {
        return 0;
    }
    return std::min(1.0, static_cast<double>(clientAsked_.value_or(*clientLevel_)) / *clientMax_);
}

bool LinuxKeyboardBacklight::clientSetBrightness(double level) {
    if (!hasClient()) {
        return false;
    }
    const int steps = static_cast<int>(std::lround(std::clamp(level, 0.0, 1.0) * *clientMax_));
    const std::uint64_t seen = changesSeen_;
    auto call = bus_->call(
        kKbdBacklight, kSetBrightness,
        [steps](sd_bus_message* m) { return sd_bus_message_append(m, "i", steps); },
        [this, steps, seen](sd_bus_message* reply) {
            const auto error = DBusConnection::errorOf(reply);
            auto done = std::move(clientWrite_);
            clientAsked_.reset();
            if (error) {
                log_.error("UPower did not set the keyboard backlight: " + *error);
                writeRefused.send();
            } else if (changesSeen_ == seen) {
                clientLevel_ = steps;
            }
        });
    if (!call) {
        log_.error("The keyboard backlight could not be set through UPower: " +
                   call.error().message);
        return false;
    }
    clientWrite_ = std::move(call.value());
    clientAsked_ = steps;
    return true;
}

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
        return hasClient() ? clientMax_ : std::nullopt;
    }
    // The device's range never changes: the half-second tick reads only its level.
    if (!ledMax_) {
        const auto max = readSysfsLevel(device() + "/max_brightness");
        if (!max || *max <= 0 || *max > INT32_MAX) {
            return std::nullopt;
        }
        ledMax_ = static_cast<int>(*max);
    }
    return ledMax_;
}

std::optional<double> LinuxKeyboardBacklight::registryValue() {
    if (device().empty()) {
        return std::nullopt;
    }
    const auto max = range();
    if (!max) {
        return std::nullopt;
    }
    const auto asked = logind_.pending(std::filesystem::path(device()).filename().string());
    const auto now = asked ? std::optional<long>(*asked) : readSysfsLevel(device() + "/brightness");
    if (!now) {
        return std::nullopt;
    }
    return std::min(1.0, static_cast<double>(*now) / *max);
}

void LinuxKeyboardBacklight::setRegistryValue(double value, bool integer) {
    if (device().empty()) {
        return;
    }
    const auto max = range();
    if (!max) {
        return;
    }
    const double steps = integer ? value : std::round(std::clamp(value, 0.0, 1.0) * *max);
    const long clamped = std::clamp(static_cast<long>(steps), 0L, static_cast<long>(*max));
    const std::string text = std::to_string(clamped);
    const std::string path = device() + "/brightness";
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // Not this user's to write: logind writes it for the session's owner.
        logind_.set("leds", std::filesystem::path(device()).filename().string(),
                    static_cast<std::uint32_t>(clamped));
        return;
    }
    if (fd < 0) {
        log_.error("The keyboard backlight could not be written: " + path + ": " +
                   std::strerror(errno));
        return;
    }
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        log_.error("The keyboard backlight could not be written: " + path + ": " +
                   std::strerror(errno));
    }
    ::close(fd);
}

}  // namespace orvel
