#include "platform/linux/LinuxPowerSources.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace orvel {

using namespace power_source;

namespace {

// power-profiles-daemon, newest name first.
const DBusObject kProfileDaemons[] = {
    {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles",
     "org.freedesktop.UPower.PowerProfiles"},
    {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles", "net.hadess.PowerProfiles"},
};
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kActiveProfile = "ActiveProfile";
constexpr const char* kPowerSaver = "power-saver";

// The first line of a sysfs attribute, without trailing blanks. Plain system calls: the power
// tick reads a handful of these every few seconds for as long as Orvel runs.
std::optional<std::string> readAttribute(const std::string& folder, const char* name) {
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char buffer[256];
    ssize_t length;
    do {
        length = ::read(fd, buffer, sizeof buffer);
    } while (length < 0 && errno == EINTR);
    ::close(fd);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string line(buffer, static_cast<std::size_t>(length));
    if (const auto end = line.find('\n'); end != std::string::npos) {
        line.resize(end);
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

std::optional<double> readNumber(const std::string& folder, const char* name) {
    const auto text = readAttribute(folder, name);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Percent of charge: `capacity`, else energy or charge now over full.
std::optional<int> percentCharged(const std::string& folder) {
    std::optional<double> percent = readNumber(folder, "capacity");
    for (auto [now, full] :
         {std::pair{"energy_now", "energy_full"}, {"charge_now", "charge_full"}}) {
        if (percent) {
            break;
        }
        const auto n = readNumber(folder, now);
        const auto f = readNumber(folder, full);
        if (n && f && *f > 0) {
            percent = *n * 100.0 / *f;
        }
    }
    if (!percent) {
        return std::nullopt;
    }
    return static_cast<int>(std::lround(std::clamp(*percent, 0.0, 100.0)));
}

struct Supply {
    std::string name;
    std::string type;
    bool online = true;
    std::string status;
    std::optional<int> percent;
};

}  // namespace

LinuxPowerSources::LinuxPowerSources(std::string sysRoot, std::shared_ptr<DBusConnection> systemBus)
    : root_(std::move(sysRoot)), bus_(std::move(systemBus)) {
    if (!bus_) {
        return;
    }
    for (const auto& daemon : kProfileDaemons) {
        daemons_.push_back(bus_->watchName(daemon.service));
        daemonWatches_.push_back(
            daemons_.back()->changed.subscribe([this](BusNameState) { followProfiles(); }));
    }
    followProfiles();
}

LinuxPowerSources::~LinuxPowerSources() = default;

std::optional<PowerSourcesSnapshot> LinuxPowerSources::snapshot() {
    const std::string folder = root_ + "/class/power_supply";
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        return std::nullopt;
    }
    std::vector<Supply> supplies;
    std::map<std::string, SupplyKind> seen;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        const std::string path = folder + "/" + name;
        // A supply's type and scope never change while it is listed: read them once.
        auto known = kinds_.find(name);
        SupplyKind kind = known != kinds_.end()
                              ? known->second
                              : SupplyKind{readAttribute(path, "type").value_or(""),
                                           readAttribute(path, "scope") == "Device"};
        seen.emplace(name, kind);
        // A peripheral's battery says nothing about the machine.
        if (kind.type == "Battery" && kind.deviceScope) {
            continue;
        }
        // Only what the supply's kind makes use of is read: the tick runs every few seconds.
        const bool stores = kind.type == "Battery" || kind.type == "UPS";
        const bool feeds = kind.type == "Mains" || kind.type == "USB" || kind.type == "UPS";
        if (!stores && !feeds) {
            continue;
        }
        if (stores && readAttribute(path, "present") == "0") {
            continue;
        }
        Supply supply;
        supply.name = name;
        supply.type = kind.type;
        if (feeds) {
            supply.online = readAttribute(path, "online").value_or("1") != "0";
        }
        if (stores) {
            supply.status = readAttribute(path, "status").value_or("");
            supply.percent = percentCharged(path);
        }
        supplies.push_back(std::move(supply));
    }
    ::closedir(listing);
    kinds_ = std::move(seen);
    std::sort(supplies.begin(), supplies.end(),
              [](const Supply& a, const Supply& b) { return a.name < b.name; });

    bool mainsOnline = false;
    bool batteryOnExternalPower = false;
    bool hasBattery = false;
    bool upsPowering = false;
    for (const auto& s : supplies) {
        if ((s.type == "Mains" || s.type == "USB") && s.online) {
            mainsOnline = true;
        } else if (s.type == "Battery") {
            hasBattery = true;
            batteryOnExternalPower = batteryOnExternalPower || s.status == "Charging" ||
                                     s.status == "Full" || s.status == "Not charging";
        } else if (s.type == "UPS" && s.online && s.status == "Discharging") {
            upsPowering = true;
        }
    }
    const bool onExternalPower = mainsOnline || batteryOnExternalPower;

    PowerSourcesSnapshot result;
    for (const auto& s : supplies) {
        if (s.type != "Battery" && s.type != "UPS") {
            continue;
        }
        const bool isUPS = s.type == "UPS";
        PropertyDictionary description{
            {kType, isUPS ? kUPS : kInternalBattery},
            {kName, s.name},
            {kIsCharging, s.status == "Charging"},
        };
        const bool onAC = isUPS ? s.status != "Discharging" : onExternalPower;
        description.emplace(kPowerSourceState, onAC ? kACPower : kBatteryPower);
        if (s.percent) {
            description.emplace(kCurrentCapacity, *s.percent);
            description.emplace(kMaxCapacity, 100);
        }
        result.sources.push_back(std::move(description));
    }
    if (upsPowering && !mainsOnline) {
        result.providingPowerSourceType = kUPSPower;
    } else if (onExternalPower || !hasBattery) {
        // A machine without a battery of its own runs on mains, listed or not.
        result.providingPowerSourceType = kACPower;
    } else {
        result.providingPowerSourceType = kBatteryPower;
    }
    return result;
}

void LinuxPowerSources::followProfiles() {
    int present = -1;
    for (std::size_t i = 0; i < daemons_.size(); ++i) {
        if (daemons_[i]->isPresent()) {
            present = static_cast<int>(i);
            break;
        }
    }
    if (present == followed_) {
        return;
    }
    followed_ = present;
    changes_.reset();
    query_.reset();
    if (present < 0) {
        setProfile("");
        return;
    }
    const DBusObject& daemon = kProfileDaemons[present];
    const std::string interface = daemon.interface;
    auto changes = bus_->matchSignal(daemon.service, daemon.path, kProperties, "PropertiesChanged",
                                     [this, interface](sd_bus_message* m) {
                                         const char* changedInterface = nullptr;
                                         if (sd_bus_message_read(m, "s", &changedInterface) < 0 ||
                                             interface != changedInterface ||
                                             sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
                                             return;
                                         }
                                         while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
                                             const char* key = nullptr;
                                             const char* value = nullptr;
                                             if (sd_bus_message_read(m, "s", &key) >= 0 &&
                                                 std::string_view(key) == kActiveProfile &&
                                                 sd_bus_message_read(m, "v", "s", &value) >= 0) {
                                                 setProfile(value);
                                             } else {
                                                 sd_bus_message_skip(m, "v");
                                             }
                                             sd_bus_message_exit_container(m);
                                         }
                                     });
    if (changes) {
        changes_ = std::move(changes.value());
    } else {
        log_.error("Low Power Mode changes will not be noticed: " + changes.error().message);
    }
    auto query = bus_->call(
        DBusObject{daemon.service, daemon.path, kProperties}, "Get",
        [&daemon](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", daemon.interface, kActiveProfile);
        },
        [this](sd_bus_message* reply) {
            const char* value = nullptr;
            if (auto error = DBusConnection::errorOf(reply)) {
                log_.error("Could not read the power profile: " + *error);
            } else if (sd_bus_message_read(reply, "v", "s", &value) >= 0) {
                setProfile(value);
            }
            query_.reset();
        });
    if (query) {
        query_ = std::move(query.value());
    } else {
        log_.error("Could not ask for the power profile: " + query.error().message);
    }
}

void LinuxPowerSources::setProfile(const std::string& profile) {
    const bool lowPower = profile == kPowerSaver;
    if (lowPower != lowPower_) {
        lowPower_ = lowPower;
        powerStateDidChange.send();
    }
}

}  // namespace orvel
