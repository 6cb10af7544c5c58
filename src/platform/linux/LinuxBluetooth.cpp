#include "platform/linux/LinuxBluetooth.h"

#include "platform/linux/LinuxFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace orvel {

namespace {

constexpr const char* kBluez = "org.bluez";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kBattery = "org.bluez.Battery1";
const DBusObject kRoot{kBluez, "/", kObjectManager};

// The Bluetooth address inside a power supply's name ("hid-aa:bb:cc:dd:ee:ff-battery"), in
// BlueZ's form.
std::optional<std::string> addressIn(const std::string& name) {
    constexpr std::size_t kLength = 17;
    for (std::size_t start = 0; start + kLength <= name.size(); ++start) {
        bool ok = true;
        for (std::size_t i = 0; i < kLength && ok; ++i) {
            const char c = name[start + i];
            ok = i % 3 == 2 ? c == ':' : std::isxdigit(static_cast<unsigned char>(c)) != 0;
        }
        if (ok) {
            std::string address = name.substr(start, kLength);
            for (char& c : address) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            return address;
        }
    }
    return std::nullopt;
}

// Reads an a{sv} of one interface into the object; properties of other types are passed over.
void readProperties(sd_bus_message* m, std::string_view interface, auto& object) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
        return;
    }
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        const char* contents = nullptr;
        char type = 0;
        if (sd_bus_message_read(m, "s", &key) < 0 ||
            sd_bus_message_peek_type(m, &type, &contents) < 0 || contents == nullptr) {
            sd_bus_message_exit_container(m);
            continue;
        }
        const std::string_view k(key);
        const std::string_view signature(contents);
        bool read = false;
        if (interface == kDevice && signature == "s" &&
            (k == "Address" || k == "Name" || k == "Alias")) {
            const char* value = nullptr;
            if (sd_bus_message_read(m, "v", "s", &value) >= 0) {
                read = true;
                if (k == "Address") {
                    object.address = value;
                } else if (k == "Name") {
                    object.name = value;
                } else {
                    object.alias = value;
                }
            }
        } else if (interface == kDevice && signature == "b" &&
                   (k == "Paired" || k == "Connected")) {
            int value = 0;
            if (sd_bus_message_read(m, "v", "b", &value) >= 0) {
                read = true;
                (k == "Paired" ? object.paired : object.connected) = value != 0;
            }
        } else if (interface == kBattery && signature == "y" && k == "Percentage") {
            std::uint8_t value = 0;
            if (sd_bus_message_read(m, "v", "y", &value) >= 0) {
                read = true;
                object.battery = value;
            }
        }
        if (!read) {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

// Reads an a{sa{sv}} of interfaces into the object.
void readInterfaces(sd_bus_message* m, auto& object) {
    if (sd_bus_message_enter_container(m, 'a', "{sa{sv}}") < 0) {
        return;
    }
    while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) >= 0) {
            const std::string_view name(interface);
            object.adapter = object.adapter || name == kAdapter;
            object.device = object.device || name == kDevice;
            if (name == kDevice || name == kBattery) {
                readProperties(m, name, object);
            } else {
                sd_bus_message_skip(m, "a{sv}");
            }
        }
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
}

}  // namespace

LinuxBluetooth::LinuxBluetooth(std::shared_ptr<DBusConnection> systemBus, std::string sysRoot)
    : bus_(std::move(systemBus)), sysRoot_(std::move(sysRoot)) {
    if (!bus_) {
        return;
    }
    daemon_ = bus_->watchName(kBluez);
    daemonWatch_ = daemon_->changed.subscribe([this](BusNameState) { followDaemon(); });
    // BlueZ replaced without a gap: its objects are new, read them again.
    ownerWatch_ = daemon_->ownerChanged.subscribe([this](const std::string&) {
        if (loaded_ || query_.isActive()) {
            added_.reset();
            query_.reset();
            forget();
            loaded_ = false;
            followDaemon();
        }
    });
    followDaemon();
}

LinuxBluetooth::~LinuxBluetooth() = default;

bool LinuxBluetooth::isSettled() const {
    return !bus_ || !bus_->isOpen() || loaded_ ||
           (daemon_ && daemon_->state() == BusNameState::absent);
}

bool LinuxBluetooth::hasAdapter() const {
    for (const auto& [path, object] : objects_) {
        if (object.adapter) {
            return true;
        }
    }
    return false;
}

BluetoothAuthorization LinuxBluetooth::authorization() {
    return hasAdapter() ? BluetoothAuthorization::allowedAlways
                        : BluetoothAuthorization::restricted;
}

void LinuxBluetooth::requestAuthorization() {
    if (bus_ && daemon_ && daemon_->isPresent() && !query_.isActive()) {
        readObjects();
    }
}

void LinuxBluetooth::readObjects() {
    auto query = bus_->call(kRoot, "GetManagedObjects", nullptr,
                            [this](sd_bus_message* reply) { loaded(reply); });
    if (query) {
        query_ = std::move(query.value());
    } else {
        log_.error("Could not ask BlueZ for its devices: " + query.error().message);
    }
}

BluetoothDevice LinuxBluetooth::deviceOf(const Object& object) {
    return BluetoothDevice{object.address, object.name ? object.name : object.alias,
                           object.connected};
}

std::vector<BluetoothDevice> LinuxBluetooth::pairedDevices() {
    std::vector<BluetoothDevice> devices;
    for (const auto& [path, object] : objects_) {
        if (object.device && object.paired && !object.address.empty()) {
            devices.push_back(deviceOf(object));
        }
    }
    return devices;
}

std::optional<BluetoothDevice> LinuxBluetooth::device(std::string_view address) {
    for (const auto& [path, object] : objects_) {
        if (object.device && object.address == address) {
            return deviceOf(object);
        }
    }
    return std::nullopt;
}

std::optional<BluetoothRegistration> LinuxBluetooth::registerForConnects(DeviceHandler handler) {
    if (!bus_) {
        return std::nullopt;
    }
    connects_.emplace(++lastToken_, std::move(handler));
    return lastToken_;
}

std::optional<BluetoothRegistration> LinuxBluetooth::registerForDisconnect(std::string_view address,
                                                                           DeviceHandler handler) {
    if (!bus_ || !device(address)) {
        return std::nullopt;
    }
    disconnects_.emplace(++lastToken_, Watch{std::string(address), std::move(handler)});
    return lastToken_;
}

void LinuxBluetooth::unregister(BluetoothRegistration registration) {
    connects_.erase(registration);
    disconnects_.erase(registration);
}

std::vector<BluetoothBatteryLevel> LinuxBluetooth::batteryLevels() {
    std::vector<BluetoothBatteryLevel> levels;
    const std::string folder = sysRoot_ + "/class/power_supply";
    std::vector<std::string> names = listFolder(folder).names;
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const auto address = addressIn(name);
        if (name[0] == '.' || !address ||
            readSysfsAttribute(folder + "/" + name + "/scope") != "Device") {
            continue;
        }
        const auto percent = readSysfsNumber<long>(folder + "/" + name + "/capacity");
        if (percent && *percent >= 0 && *percent <= 100) {
            levels.push_back({*address, *percent});
        }
    }
    // BlueZ's own reading comes last: it is the newer one for the same device.
    for (const auto& [path, object] : objects_) {
        if (object.device && object.battery && !object.address.empty()) {
            levels.push_back({object.address, *object.battery});
        }
    }
    return levels;
}

void LinuxBluetooth::followDaemon() {
    if (!daemon_->isPresent()) {
        added_.reset();
        removed_.reset();
        properties_.reset();
        query_.reset();
        forget();
        loaded_ = false;
        if (daemon_->state() == BusNameState::absent && !saidAbsent_) {
            saidAbsent_ = true;
            log_.notice("BlueZ does not run on this system; Bluetooth rules do not run.");
        }
        return;
    }
    if (added_.isActive() || query_.isActive() || loaded_) {
        return;
    }
    // Signals first, then the read: nothing between the two is lost.
    auto match = [this](const char* path, const char* interface, const char* member,
                        void (LinuxBluetooth::*handler)(sd_bus_message*), DBusSlot& slot) {
        auto result =
            bus_->matchSignal(kBluez, path, interface, member,
                              [this, handler](sd_bus_message* m) { (this->*handler)(m); });
        if (result) {
            slot = std::move(result.value());
        } else {
            log_.error(std::string("Bluetooth changes will not be noticed: ") +
                       result.error().message);
        }
    };
    match("/", kObjectManager, "InterfacesAdded", &LinuxBluetooth::interfacesAdded, added_);
    match("/", kObjectManager, "InterfacesRemoved", &LinuxBluetooth::interfacesRemoved, removed_);
    match(nullptr, kProperties, "PropertiesChanged", &LinuxBluetooth::propertiesChanged,
          properties_);
    readObjects();
}

void LinuxBluetooth::loaded(sd_bus_message* reply) {
    query_.reset();
    if (auto error = DBusConnection::errorOf(reply)) {
        log_.error("Could not read BlueZ's devices: " + *error);
        return;
    }
    std::map<std::string, Object> objects;
    if (sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}") >= 0) {
        while (sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}") > 0) {
            const char* path = nullptr;
            if (sd_bus_message_read(reply, "o", &path) >= 0) {
                readInterfaces(reply, objects[path]);
            }
            sd_bus_message_exit_container(reply);
        }
        sd_bus_message_exit_container(reply);
    }
    if (!loaded_) {
        // Devices connected already are a state, not an event.
        objects_ = std::move(objects);
        loaded_ = true;
        changed(Object{}, Object{});
        return;
    }
    // A second read: whatever it finds different was missed, and is told as it would have been.
    std::map<std::string, Object> before = std::exchange(objects_, std::move(objects));
    for (const auto& [path, object] : objects_) {
        before.try_emplace(path);
    }
    for (const auto& [path, old] : before) {
        const auto now = objects_.find(path);
        changed(old, now == objects_.end() ? Object{} : now->second);
    }
    changed(Object{}, Object{});
}

void LinuxBluetooth::interfacesAdded(sd_bus_message* m) {
    const char* path = nullptr;
    if (!loaded_ || sd_bus_message_read(m, "o", &path) < 0) {
        return;
    }
    Object& object = objects_[path];
    const Object before = object;
    readInterfaces(m, object);
    changed(before, object);
}

void LinuxBluetooth::interfacesRemoved(sd_bus_message* m) {
    const char* path = nullptr;
    if (!loaded_ || sd_bus_message_read(m, "o", &path) < 0) {
        return;
    }
    auto found = objects_.find(path);
    if (found == objects_.end()) {
        return;
    }
    const Object before = found->second;
    Object& object = found->second;
    if (sd_bus_message_enter_container(m, 'a', "s") >= 0) {
        const char* interface = nullptr;
        while (sd_bus_message_read(m, "s", &interface) > 0) {
            const std::string_view name(interface);
            if (name == kAdapter) {
                object.adapter = false;
            } else if (name == kDevice) {
                object.device = false;
                object.connected = false;
            } else if (name == kBattery) {
                object.battery.reset();
            }
        }
        sd_bus_message_exit_container(m);
    }
    const Object after = object;
    if (!after.adapter && !after.device) {
        objects_.erase(found);
    }
    changed(before, after);
}

void LinuxBluetooth::propertiesChanged(sd_bus_message* m) {
    const char* interface = nullptr;
    const char* path = sd_bus_message_get_path(m);
    if (!loaded_ || path == nullptr || sd_bus_message_read(m, "s", &interface) < 0) {
        return;
    }
    const std::string_view name(interface);
    auto found = objects_.find(path);
    if (found == objects_.end() || (name != kDevice && name != kBattery)) {
        return;
    }
    Object& object = found->second;
    const Object before = object;
    readProperties(m, name, object);
    if (sd_bus_message_enter_container(m, 'a', "s") >= 0) {
        const char* property = nullptr;
        while (sd_bus_message_read(m, "s", &property) > 0) {
            if (name == kBattery && std::string_view(property) == "Percentage") {
                object.battery.reset();
            }
        }
        sd_bus_message_exit_container(m);
    }
    changed(before, object);
}

void LinuxBluetooth::forget() {
    std::map<std::string, Object> gone;
    gone.swap(objects_);
    for (const auto& [path, object] : gone) {
        Object after = object;
        after.adapter = after.device = after.connected = false;
        changed(object, after);
    }
}

void LinuxBluetooth::changed(const Object& before, const Object& after) {
    if (after.device && after.connected && !before.connected && !after.address.empty()) {
        deliver(deviceOf(after), true);
    } else if (before.device && before.connected && !after.connected && !before.address.empty()) {
        Object gone = after;
        gone.address = before.address;
        deliver(deviceOf(gone), false);
    }
    const bool allowed = hasAdapter();
    if (allowed != lastAllowed_) {
        lastAllowed_ = allowed;
        log_.notice(allowed ? "A Bluetooth adapter is present; Bluetooth rules can run."
                            : "No Bluetooth adapter is present; Bluetooth rules do not run.");
        authorizationChanged.send();
    }
}

void LinuxBluetooth::deliver(const BluetoothDevice& device, bool connected) {
    // Handlers may register and unregister: call those live now, if still live.
    std::vector<BluetoothRegistration> tokens;
    if (connected) {
        for (const auto& [token, handler] : connects_) {
            tokens.push_back(token);
        }
    } else {
        for (const auto& [token, watch] : disconnects_) {
            if (watch.address == device.address) {
                tokens.push_back(token);
            }
        }
    }
    for (const auto token : tokens) {
        if (connected) {
            if (auto it = connects_.find(token); it != connects_.end()) {
                auto handler = it->second;
                handler(device);
            }
        } else if (auto it = disconnects_.find(token); it != disconnects_.end()) {
            auto handler = it->second.handler;
            handler(device);
        }
    }
}

}  // namespace orvel
