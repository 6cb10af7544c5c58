#include "platform/linux/LinuxDisplays.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "foundation/Log.h"
#include "platform/linux/SysfsAttribute.h"

namespace orvel {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBuiltInTypes[] = {"eDP", "LVDS", "DSI"};

std::uint32_t hashed(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

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

bool isBacklight(const fs::path& folder) {
    std::error_code error;
    return fs::exists(folder / "brightness", error) && fs::exists(folder / "max_brightness", error);
}

std::vector<fs::path> sortedEntries(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

LinuxDisplays::LinuxDisplays(std::string sysRoot, std::shared_ptr<DBusConnection> systemBus,
                             std::string sessionID)
    : sysRoot_(std::move(sysRoot)), logind_(std::move(systemBus), std::move(sessionID), "display") {
    refusals_ = logind_.refused.subscribe([this](const std::string& name) {
        if (const auto it = askedBy_.find(name); it != askedBy_.end()) {
            writeRefused.send(it->second);
        }
    });
}

std::vector<LinuxDisplays::Connector> LinuxDisplays::connectors() {
    std::vector<Connector> found;
    for (const auto& path : sortedEntries(sysRoot_ + "/class/drm")) {
        const std::string name = path.filename().string();
        // card0-eDP-1: a connector; card0 alone is the card.
        const auto dash = name.find('-');
        if (!name.starts_with("card") || dash == std::string::npos) {
            continue;
        }
        if (readSysfsAttribute((path / "status").string()) != "connected" ||
            readSysfsAttribute((path / "enabled").string()) != "enabled") {
            continue;
        }
        const std::string connector = name.substr(dash + 1);
        const bool builtIn =
            std::any_of(std::begin(kBuiltInTypes), std::end(kBuiltInTypes),
                        [&](std::string_view type) { return connector.starts_with(type); });
        found.push_back({{hashed(name), connector, builtIn, false}, path.string()});
    }
    return found;
}

std::vector<DisplayDescription> LinuxDisplays::onlineDisplays() {
    std::vector<DisplayDescription> online;
    for (auto& connector : connectors()) {
        online.push_back(std::move(connector.description));
    }
    return online;
}

std::optional<std::string> LinuxDisplays::backlightOf(std::uint32_t display) {
    const auto all = connectors();
    const auto it = std::find_if(all.begin(), all.end(),
                                 [&](const Connector& c) { return c.description.id == display; });
    if (it == all.end() || !it->description.isBuiltIn) {
        return std::nullopt;
    }
    for (const auto& path : sortedEntries(it->folder)) {
        if (isBacklight(path)) {
            return path.string();
        }
    }
    for (const std::string_view wanted : {"firmware", "platform"}) {
        for (const auto& path : sortedEntries(sysRoot_ + "/class/backlight")) {
            if (isBacklight(path) && readSysfsAttribute((path / "type").string()) == wanted) {
                return path.string();
            }
        }
    }
    return std::nullopt;
}

std::optional<double> LinuxDisplays::level(std::uint32_t display) {
    const auto folder = backlightOf(display);
    if (!folder) {
        return std::nullopt;
    }
    const auto max = readNumber(*folder + "/max_brightness");
    const auto asked = logind_.pending(fs::path(*folder).filename().string());
    const auto now = asked ? std::optional<long>(*asked) : readNumber(*folder + "/brightness");
    if (!max || !now || *max == 0) {
        return std::nullopt;
    }
    return std::min(1.0, static_cast<double>(*now) / *max);
}

bool LinuxDisplays::setLevel(std::uint32_t display, double level) {
    const auto folder = backlightOf(display);
    if (!folder) {
        return false;
    }
    const auto max = readNumber(*folder + "/max_brightness");
    if (!max || *max == 0) {
        return false;
    }
    const long steps = std::lround(std::clamp(level, 0.0, 1.0) * *max);
    const std::string text = std::to_string(steps);
    const std::string path = *folder + "/brightness";
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // Not this user's to write: logind writes it for the session's owner.
        const std::string name = fs::path(*folder).filename().string();
        askedBy_[name] = display;
        return logind_.set("backlight", name, static_cast<std::uint32_t>(steps));
    }
    bool written = false;
    if (fd >= 0) {
        written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
    }
    if (!written) {
        Logger("display").error("The display's backlight could not be written: " + path + ": " +
                                std::strerror(errno));
    }
    return written;
}

}  // namespace orvel
