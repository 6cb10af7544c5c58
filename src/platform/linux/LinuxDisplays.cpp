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
#include "foundation/RunLoop.h"
#include "platform/linux/LinuxFiles.h"

namespace orvel {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBuiltInTypes[] = {"eDP", "LVDS", "DSI"};
// Connectors come and go rarely; the ticks that read the panel's level come twice a second.
constexpr double kRescanSeconds = 3.0;

std::uint32_t hashed(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash == 0 ? 1 : hash;
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
                             std::string sessionID, std::shared_ptr<DBusConnection> sessionBus,
                             std::string swaySocket, std::string waylandDisplay)
    : sysRoot_(std::move(sysRoot)),
      logind_(std::move(systemBus), std::move(sessionID), "display"),
      compositor_(std::move(sessionBus), std::move(swaySocket), std::move(waylandDisplay)) {
    refusals_ = logind_.refused.subscribe([this](const std::string& name) {
        if (const auto it = askedBy_.find(name); it != askedBy_.end()) {
            writeRefused.send(it->second);
        }
    });
}

const std::vector<LinuxDisplays::Connector>& LinuxDisplays::connectors() {
    const double now = RunLoop::main().uptime();
    if (scannedAt_ && now - *scannedAt_ < kRescanSeconds && now >= *scannedAt_) {
        return connectors_;
    }
    scannedAt_ = now;
    connectors_.clear();
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
        connectors_.push_back({{hashed(name), connector, builtIn, false},
                               path.string(),
                               builtIn ? findBacklight(path.string()) : std::nullopt});
    }
    return connectors_;
}

std::optional<LinuxDisplays::Panel> LinuxDisplays::findBacklight(
    const std::string& connectorFolder) const {
    std::optional<fs::path> found;
    for (const auto& path : sortedEntries(connectorFolder)) {
        if (isBacklight(path)) {
            found = path;
            break;
        }
    }
    for (const std::string_view wanted : {"firmware", "platform"}) {
        for (const auto& path : sortedEntries(sysRoot_ + "/class/backlight")) {
            if (found) {
                break;
            }
            if (isBacklight(path) && readSysfsAttribute((path / "type").string()) == wanted) {
                found = path;
            }
        }
    }
    if (!found) {
        return std::nullopt;
    }
    const auto max = readSysfsLevel((*found / "max_brightness").string());
    if (!max || *max == 0) {
        return std::nullopt;
    }
    return Panel{found->string(), found->filename().string(), *max};
}

std::vector<DisplayDescription> LinuxDisplays::onlineDisplays() {
    std::vector<DisplayDescription> online;
    for (const auto& connector : connectors()) {
        online.push_back(connector.description);
    }
    return online;
}

const LinuxDisplays::Panel* LinuxDisplays::panelOf(std::uint32_t display) {
    for (const auto& connector : connectors()) {
        if (connector.description.id == display) {
            return connector.backlight ? &*connector.backlight : nullptr;
        }
    }
    return nullptr;
}

std::optional<std::string> LinuxDisplays::backlightOf(std::uint32_t display) {
    const Panel* panel = panelOf(display);
    return panel ? std::optional<std::string>(panel->folder) : std::nullopt;
}

std::optional<double> LinuxDisplays::level(std::uint32_t display) {
    const Panel* panel = panelOf(display);
    if (!panel) {
        return std::nullopt;
    }
    const auto asked = logind_.pending(panel->name);
    const auto now =
        asked ? std::optional<long>(*asked) : readSysfsLevel(panel->folder + "/brightness");
    if (!now) {
        return std::nullopt;
    }
    return std::min(1.0, static_cast<double>(*now) / panel->max);
}

bool LinuxDisplays::setLevel(std::uint32_t display, double level) {
    const Panel* found = panelOf(display);
    if (!found) {
        return false;
    }
    const Panel panel = *found;
    const long steps = std::lround(std::clamp(level, 0.0, 1.0) * panel.max);
    const std::string text = std::to_string(steps);
    const std::string path = panel.folder + "/brightness";
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // Not this user's to write: logind writes it for the session's owner.
        askedBy_[panel.name] = display;
        return logind_.set("backlight", panel.name, static_cast<std::uint32_t>(steps));
    }
    bool written = false;
    int error = errno;
    if (fd >= 0) {
        written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        error = errno;
        ::close(fd);
    }
    if (!written) {
        Logger("display").error("The display's backlight could not be written: " + path + ": " +
                                std::strerror(error));
        refresh();  // the device may have gone with its display
    }
    return written;
}

}  // namespace orvel
