#include "platform/linux/LinuxPowerSources.h"

#include "platform/linux/LinuxFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <linux/netlink.h>
#include <sys/socket.h>
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
constexpr const char* kUPower = "org.freedesktop.UPower";
constexpr const char* kUPowerPath = "/org/freedesktop/UPower";
constexpr const char* kUPowerDevice = "org.freedesktop.UPower.Device";
constexpr std::uint32_t kUPowerLinePower = 1;
constexpr std::uint32_t kUPowerUPS = 3;
constexpr std::uint32_t kUPowerCharging = 1;
constexpr std::uint32_t kUPowerDischarging = 2;
constexpr const char* kActiveProfile = "ActiveProfile";
constexpr const char* kPowerSaver = "power-saver";
// Long enough for everyone who looks at one change, short enough for a battery level that
// changes unannounced.
constexpr double kReadingReuseSeconds = 1.0;

std::optional<std::string> readAttribute(const std::string& folder, const char* name) {
    return readSysfsAttribute(folder + "/" + name);
}

// Percent of charge: `capacity`, else energy or charge now over full.
std::optional<int> percentCharged(const std::string& folder) {
    std::optional<double> percent = readSysfsNumber<double>(folder + "/capacity");
    for (auto [now, full] :
         {std::pair{"energy_now", "energy_full"}, {"charge_now", "charge_full"}}) {
        if (percent) {
            break;
        }
        const auto n = readSysfsNumber<double>(folder + "/" + now);
        const auto f = readSysfsNumber<double>(folder + "/" + full);
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

LinuxPowerSources::LinuxPowerSources(std::string sysRoot, std::shared_ptr<DBusConnection> systemBus,
                                     std::optional<UniqueFd> uevents)
    : root_(std::move(sysRoot)), bus_(std::move(systemBus)) {
    watchUevents(std::move(uevents));
    if (!bus_) {
        return;
    }
    for (const auto& daemon : kProfileDaemons) {
        daemons_.push_back(bus_->watchName(daemon.service));
        daemonWatches_.push_back(
            daemons_.back()->changed.subscribe([this](BusNameState) { followProfiles(); }));
    }
    followProfiles();
    upower_ = bus_->watchName(kUPower);
    upowerWatch_ = upower_->changed.subscribe([this](BusNameState) { followUPower(); });
    followUPower();
}

LinuxPowerSources::~LinuxPowerSources() = default;

std::optional<PowerSourcesSnapshot> LinuxPowerSources::snapshot() {
    const double now = RunLoop::hasMain() ? RunLoop::main().uptime() : 0.0;
    if (reading_ && now - readAt_ < kReadingReuseSeconds) {
        return *reading_;
    }
    auto fresh = read();
    if (RunLoop::hasMain()) {
        reading_ = fresh;
        readAt_ = now;
    }
    return fresh;
}

void LinuxPowerSources::watchUevents(std::optional<UniqueFd> socket) {
    if (!RunLoop::hasMain()) {
        return;
    }
    if (socket) {
        uevents_ = std::move(*socket);
        if (!uevents_) {
            return;
        }
    } else {
        uevents_.reset(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                NETLINK_KOBJECT_UEVENT));
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = 1;  // the kernel's own uevents
        int error = uevents_ ? 0 : errno;
        if (uevents_ &&
            ::bind(uevents_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            error = errno;
            uevents_.reset();
        }
        if (!uevents_) {
            log_.error(std::string("Could not follow the kernel's power supply events: ") +
                       std::strerror(error));
            return;
        }
    }
    ueventWatch_ = RunLoop::main().watchFd(uevents_.get(), kFdReadable, [this](unsigned events) {
        readUevents();
        if ((events & kFdHangUp) != 0) {
            ueventWatch_.cancel();
        }
    });
}

void LinuxPowerSources::readUevents() {
    bool powerSupply = false;
    char buffer[8192];
    for (;;) {
        const ssize_t length = ::recv(uevents_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (length < 0 && (errno == EINTR || errno == ENOBUFS)) {
            // Events were lost when the socket overflowed: any of them may have been ours.
            powerSupply = powerSupply || errno == ENOBUFS;
            continue;
        }
        if (length <= 0) {
            break;
        }
        // "action@devpath", then KEY=value fields, each ended by a NUL.
        const std::string_view message(buffer, static_cast<std::size_t>(length));
        for (std::size_t at = 0; at < message.size();) {
            const std::size_t end = std::min(message.find('\0', at), message.size());
            if (message.substr(at, end - at) == "SUBSYSTEM=power_supply") {
                powerSupply = true;
            }
            at = end + 1;
        }
    }
    if (powerSupply) {
        sourcesChanged();
    }
}

void LinuxPowerSources::sourcesChanged() {
    reading_.reset();
    if (announcing_ || !RunLoop::hasMain()) {
        return;
    }
    announcing_ = true;
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->announcing_ = false;
            self->powerStateDidChange.send();
        }
    });
}

std::optional<PowerSourcesSnapshot> LinuxPowerSources::read() {
    const std::string folder = root_ + "/class/power_supply";
    const FolderNames listing = listFolder(folder);
    if (!listing.opened) {
        return std::nullopt;
    }
    std::vector<Supply> supplies;
    std::map<std::string, SupplyKind> seen;
    for (const std::string& name : listing.names) {
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
    // UPower's line power counts only for the UPS: the kernel's supplies decide the rest.
    bool upsMainsOnline = mainsOnline;
    std::vector<std::pair<std::string, const UPowerDevice*>> upowerUPS;
    for (const auto& [path, device] : upowerDevices_) {
        if ((device.type == kUPowerLinePower || (device.type == 0 && device.online)) &&
            device.online.value_or(false)) {
            upsMainsOnline = true;
        }
        const bool listed = std::any_of(supplies.begin(), supplies.end(), [&](const Supply& s) {
            return s.name == device.nativePath;
        });
        if (device.type == kUPowerUPS && device.powerSupply.value_or(true) && !listed) {
            upowerUPS.emplace_back(path, &device);
            upsPowering = upsPowering || device.state == kUPowerDischarging;
        }
    }

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
    for (const auto& [path, ups] : upowerUPS) {
        PropertyDictionary description{
            {kType, kUPS},
            {kName, !ups->model.empty() ? ups->model : path.substr(path.rfind('/') + 1)},
            {kIsCharging, ups->state == kUPowerCharging},
            {kPowerSourceState, ups->state == kUPowerDischarging ? kBatteryPower : kACPower},
        };
        if (ups->percentage) {
            description.emplace(
                kCurrentCapacity,
                static_cast<int>(std::lround(std::clamp(*ups->percentage, 0.0, 100.0))));
            description.emplace(kMaxCapacity, 100);
        }
        result.sources.push_back(std::move(description));
    }
    if (upsPowering && !upsMainsOnline) {
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
        log_.error("Power Saver changes will not be noticed: " + changes.error().message);
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

void LinuxPowerSources::followUPower() {
    if (!upower_->isPresent()) {
        upowerAdded_.reset();
        upowerRemoved_.reset();
        upowerChanged_.reset();
        upowerQuery_.reset();
        upowerReads_.clear();
        if (!upowerDevices_.empty()) {
            upowerDevices_.clear();
            sourcesChanged();
        }
        return;
    }
    if (upowerAdded_.isActive()) {
        return;
    }
    // Signals first, then the listing: nothing between the two is lost.
    const auto devicePath = [](sd_bus_message* m) -> std::optional<std::string> {
        const char* path = nullptr;
        if (sd_bus_message_read(m, "o", &path) < 0) {
            return std::nullopt;
        }
        return std::string(path);
    };
    auto added = bus_->matchSignal(kUPower, kUPowerPath, kUPower, "DeviceAdded",
                                   [this, devicePath](sd_bus_message* m) {
                                       if (auto path = devicePath(m)) {
                                           readUPowerDevice(*path);
                                       }
                                   });
    auto removed = bus_->matchSignal(kUPower, kUPowerPath, kUPower, "DeviceRemoved",
                                     [this, devicePath](sd_bus_message* m) {
                                         if (auto path = devicePath(m)) {
                                             upowerReads_.erase(*path);
                                             upowerDevices_.erase(*path);
                                             sourcesChanged();
                                         }
                                     });
    auto changed = bus_->matchSignal(
        kUPower, nullptr, kProperties, "PropertiesChanged", [this](sd_bus_message* m) {
            const char* interface = nullptr;
            const char* path = sd_bus_message_get_path(m);
            if (path == nullptr || sd_bus_message_read(m, "s", &interface) < 0) {
                return;
            }
            if (std::string_view(interface) == kUPower) {
                sourcesChanged();  // OnBattery
                return;
            }
            if (std::string_view(interface) != kUPowerDevice) {
                return;
            }
            if (auto found = upowerDevices_.find(path); found != upowerDevices_.end()) {
                readUPowerProperties(m, found->second);
                sourcesChanged();
            }
        });
    if (!added || !removed || !changed) {
        const std::string why = !added     ? added.error().message
                                : !removed ? removed.error().message
                                           : changed.error().message;
        log_.error("UPS changes from UPower will not be noticed: " + why);
    }
    if (added) {
        upowerAdded_ = std::move(added.value());
    }
    if (removed) {
        upowerRemoved_ = std::move(removed.value());
    }
    if (changed) {
        upowerChanged_ = std::move(changed.value());
    }
    auto query = bus_->call(DBusObject{kUPower, kUPowerPath, kUPower}, "EnumerateDevices", nullptr,
                            [this](sd_bus_message* reply) {
                                upowerQuery_.reset();
                                if (auto error = DBusConnection::errorOf(reply)) {
                                    log_.error("Could not list UPower's devices: " + *error);
                                    return;
                                }
                                if (sd_bus_message_enter_container(reply, 'a', "o") < 0) {
                                    return;
                                }
                                const char* path = nullptr;
                                while (sd_bus_message_read(reply, "o", &path) > 0) {
                                    readUPowerDevice(path);
                                }
                                sd_bus_message_exit_container(reply);
                            });
    if (query) {
        upowerQuery_ = std::move(query.value());
    } else {
        log_.error("Could not ask UPower for its devices: " + query.error().message);
    }
}

void LinuxPowerSources::readUPowerDevice(const std::string& path) {
    auto read = bus_->call(
        DBusObject{kUPower, path.c_str(), kProperties}, "GetAll",
        [](sd_bus_message* m) { return sd_bus_message_append(m, "s", kUPowerDevice); },
        [this, path](sd_bus_message* reply) {
            if (auto error = DBusConnection::errorOf(reply)) {
                log_.error("Could not read the UPower device " + path + ": " + *error);
            } else {
                UPowerDevice device;
                readUPowerProperties(reply, device);
                upowerDevices_[path] = device;
                sourcesChanged();
            }
            upowerReads_.erase(path);
        });
    if (read) {
        upowerReads_[path] = std::move(read.value());
    } else {
        log_.error("Could not ask for the UPower device " + path + ": " + read.error().message);
    }
}

void LinuxPowerSources::readUPowerProperties(sd_bus_message* m, UPowerDevice& device) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
        return;
    }
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        const char* contents = nullptr;
        char type = 0;
        bool read = false;
        if (sd_bus_message_read(m, "s", &key) >= 0 &&
            sd_bus_message_peek_type(m, &type, &contents) >= 0 && contents != nullptr) {
            const std::string_view k(key);
            const std::string_view signature(contents);
            if ((k == "Type" || k == "State") && signature == "u") {
                read = sd_bus_message_read(m, "v", "u",
                                           k == "Type" ? &device.type : &device.state) >= 0;
            } else if (k == "Percentage" && signature == "d") {
                double value = 0;
                read = sd_bus_message_read(m, "v", "d", &value) >= 0;
                if (read && std::isfinite(value)) {
                    device.percentage = value;
                }
            } else if ((k == "Online" || k == "PowerSupply") && signature == "b") {
                int value = 0;
                read = sd_bus_message_read(m, "v", "b", &value) >= 0;
                (k == "Online" ? device.online : device.powerSupply) = value != 0;
            } else if ((k == "Model" || k == "NativePath") && signature == "s") {
                const char* value = nullptr;
                read = sd_bus_message_read(m, "v", "s", &value) >= 0;
                if (read) {
                    (k == "Model" ? device.model : device.nativePath) = value;
                }
            }
        }
        if (!read) {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

void LinuxPowerSources::setProfile(const std::string& profile) {
    const bool lowPower = profile == kPowerSaver;
    if (lowPower != lowPower_) {
        lowPower_ = lowPower;
        powerStateDidChange.send();
    }
}

}  // namespace orvel
