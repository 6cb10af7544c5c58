#include "platform/linux/LinuxInputAccess.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "foundation/FileIO.h"
#include "foundation/Log.h"
#include "foundation/Numbers.h"
#include "platform/Processes.h"

namespace orvel {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> readLine(const std::string& path) {
    auto data = readFileIfPresent(path);
    if (!data || !*data) {
        return std::nullopt;
    }
    std::string text = stringFromData(**data);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::optional<unsigned> readHex(const std::string& path) {
    auto text = readLine(path);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    return parseNumber<unsigned>(*text, 16);
}

// The E: properties of a udev database entry.
std::map<std::string, std::string> udevProperties(const std::string& path) {
    std::map<std::string, std::string> properties;
    auto data = readFileIfPresent(path);
    if (!data || !*data) {
        return properties;
    }
    std::istringstream lines(stringFromData(**data));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("E:", 0) != 0) {
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            properties[line.substr(2, eq - 2)] = line.substr(eq + 1);
        }
    }
    return properties;
}

bool isSet(const std::map<std::string, std::string>& properties, const char* key) {
    auto it = properties.find(key);
    return it != properties.end() && it->second == "1";
}

bool isInternalIntegration(const std::map<std::string, std::string>& properties) {
    for (const char* key : {"ID_INTEGRATION", "ID_INPUT_TOUCHPAD_INTEGRATION"}) {
        if (auto it = properties.find(key); it != properties.end() && it->second == "internal") {
            return true;
        }
    }
    return false;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Keys that report a button or switch of the machine, not typing: udev may still call them
// keyboards.
bool isSystemControl(const std::string& name, const std::map<std::string, std::string>& props) {
    return isSet(props, "ID_INPUT_SWITCH") || contains(name, "Power Button") ||
           contains(name, "Sleep Button") || contains(name, "Lid Switch") ||
           contains(name, "Video Bus");
}

}  // namespace

LinuxHidDevices::LinuxHidDevices(LinuxInputRoots roots) : roots_(std::move(roots)) {
    inotify_ = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    const std::string folder = roots_.dev + "/input";
    if (!inotify_ ||
        ::inotify_add_watch(inotify_.get(), folder.c_str(), IN_CREATE | IN_DELETE) < 0) {
        Logger("input").notice("Input devices coming and going are not followed: " +
                               std::string(std::strerror(errno)));
        return;
    }
    watch_ = RunLoop::main().watchFd(inotify_.get(), kFdReadable, [this](unsigned) {
        alignas(inotify_event) char buffer[4096];
        while (::read(inotify_.get(), buffer, sizeof buffer) > 0) {
        }
        devicesChanged.send();
    });
}

std::optional<std::string> LinuxHidDevices::busName(unsigned busType) {
    switch (busType) {
        case 0x01:
            return "PCI";
        case 0x03:
            return "USB";
        case 0x05:
            return "Bluetooth";
        case 0x06:
            return "Virtual";
        case 0x10:
            return "Parallel";
        case 0x11:
            return "i8042";
        case 0x13:
            return "Gameport";
        case 0x18:
            return "I2C";
        case 0x19:
            return "Host";
        case 0x1C:
            return "SPI";
        case 0x1D:
            return "RMI";
        case 0x1F:
            return "Intel ISHTP";
        default:
            return std::nullopt;
    }
}

std::vector<HidDevice> LinuxHidDevices::attachedDevices() {
    std::vector<HidDevice> devices;
    for (auto& node : scan()) {
        devices.push_back(std::move(node.device));
    }
    return devices;
}

std::vector<LinuxInputNode> LinuxHidDevices::scan() {
    std::vector<LinuxInputNode> nodes;
    const fs::path classDir = fs::path(roots_.sys) / "class" / "input";
    std::error_code ec;
    fs::directory_iterator it(classDir, ec);
    if (ec) {
        Logger("input").error("Could not list " + classDir.string() + ": " + ec.message());
        return nodes;
    }
    std::error_code virtualEc;
    const fs::path virtualRoot =
        fs::weakly_canonical(fs::path(roots_.sys) / "devices" / "virtual", virtualEc);
    std::set<std::string> seen;
    for (const auto& entry : it) {
        const std::string eventName = entry.path().filename().string();
        if (eventName.rfind("event", 0) != 0) {
            continue;
        }
        const fs::path parent = entry.path() / "device";
        std::error_code canonicalEc;
        const fs::path inputDir = fs::canonical(parent, canonicalEc);
        if (canonicalEc) {
            continue;  // gone while we looked
        }
        const std::string inputName = inputDir.filename().string();
        LinuxInputNode node;
        node.eventNode = roots_.dev + "/input/" + eventName;
        node.inhibited = (inputDir / "inhibited").string();
        HidDevice& device = node.device;
        const auto name = readLine((parent / "name").string());
        device.product = name;
        if (auto vendor = readHex((parent / "id" / "vendor").string())) {
            device.vendorId = *vendor;
        }
        const auto busType = readHex((parent / "id" / "bustype").string());
        if (busType) {
            device.transport = busName(*busType);
        }
        const auto dev = readLine((entry.path() / "dev").string()).value_or("");
        const auto props = udevProperties(roots_.udevData + "/c" + dev);
        const std::string product = name.value_or("");
        const bool isVirtual =
            !virtualEc && inputDir.string().rfind(virtualRoot.string() + "/", 0) == 0;
        const bool internalBus =
            busType && (*busType == 0x11 || *busType == 0x18 || *busType == 0x19 ||
                        *busType == 0x1C || *busType == 0x1D);
        device.builtIn = !isVirtual && (internalBus || isInternalIntegration(props));
        if (isSet(props, "ID_INPUT_KEYBOARD") && !isSystemControl(product, props)) {
            device.usages.push_back(hid_usage::kKeyboard);
        }
        if (isSet(props, "ID_INPUT_TOUCHPAD")) {
            device.usages.push_back(hid_usage::kTouchPad);
        }
        if (isSet(props, "ID_INPUT_MOUSE")) {
            device.usages.push_back(hid_usage::kMouse);
        }
        if (isSet(props, "ID_INPUT_POINTINGSTICK")) {
            device.usages.push_back(hid_usage::kPointer);
        }
        auto [id, inserted] = ids_.try_emplace(inputName, nextId_);
        if (inserted) {
            ++nextId_;
        }
        device.id = id->second;
        seen.insert(inputName);
        nodes.push_back(std::move(node));
    }
    std::erase_if(ids_, [&seen](const auto& entry) { return seen.count(entry.first) == 0; });
    std::sort(nodes.begin(), nodes.end(), [](const LinuxInputNode& a, const LinuxInputNode& b) {
        return a.device.id < b.device.id;
    });
    return nodes;
}

LinuxPermissions::LinuxPermissions(LinuxHidDevices& devices, Processes& processes,
                                   std::string installer, std::string guidePage)
    : devices_(devices),
      processes_(processes),
      installer_(std::move(installer)),
      guidePage_(std::move(guidePage)) {}

std::vector<LinuxInputNode> LinuxPermissions::builtInNodes() {
    std::vector<LinuxInputNode> nodes;
    for (auto& node : devices_.scan()) {
        if (node.device.builtIn == true && node.device.isInputDevice()) {
            nodes.push_back(std::move(node));
        }
    }
    return nodes;
}

bool LinuxPermissions::preflightListenEvent() {
    const auto nodes = builtInNodes();
    return std::all_of(nodes.begin(), nodes.end(), [](const LinuxInputNode& node) {
        return ::faccessat(AT_FDCWD, node.eventNode.c_str(), R_OK, AT_EACCESS) == 0;
    });
}

bool LinuxPermissions::canRequest() {
    const std::string rule = devices_.roots().udevRules + "/" + kRuleName;
    return !requested_ && ::faccessat(AT_FDCWD, rule.c_str(), F_OK, 0) != 0 &&
           processes_.isExecutableFile("/usr/bin/pkexec") &&
           processes_.isExecutableFile(installer_);
}

ListenEventAccess LinuxPermissions::checkListenEventAccess() {
    if (preflightListenEvent()) {
        return ListenEventAccess::granted;
    }
    return canRequest() ? ListenEventAccess::undecided : ListenEventAccess::denied;
}

bool LinuxPermissions::isAccessibilityTrusted() {
    const auto nodes = builtInNodes();
    return std::all_of(nodes.begin(), nodes.end(), [](const LinuxInputNode& node) {
        return ::faccessat(AT_FDCWD, node.inhibited.c_str(), W_OK, AT_EACCESS) == 0 ||
               ::faccessat(AT_FDCWD, node.eventNode.c_str(), R_OK, AT_EACCESS) == 0;
    });
}

void LinuxPermissions::request() {
    if (!canRequest()) {
        return;
    }
    requested_ = true;
    // The desktop's polkit dialog is the prompt; the checks see the grant once udev has applied
    // the rule.
    auto child = processes_.launch({"/usr/bin/pkexec", {installer_}}, [](int status) {
        if (status != 0) {
            Logger("permissions")
                .notice("Installing the input rule ended with status " + std::to_string(status) +
                        ".");
        }
    });
    if (!child) {
        Logger("permissions").error("Could not ask for input access: " + child.error().message);
    }
}

std::optional<LaunchRequest> LinuxPermissions::grantClearingCommand() {
    const std::string rule = devices_.roots().udevRules + "/" + kRuleName;
    if (::faccessat(AT_FDCWD, rule.c_str(), F_OK, 0) != 0) {
        return std::nullopt;
    }
    return LaunchRequest{"/usr/bin/pkexec", {installer_, "--remove"}};
}

void LinuxPermissions::requestListenEventAccess() {
    request();
}

bool LinuxPermissions::requestAccessibility() {
    if (isAccessibilityTrusted()) {
        return true;
    }
    request();
    return false;
}

std::optional<std::string> LinuxPermissions::settingsURL(bool) {
    if (guidePage_.empty()) {
        return std::nullopt;
    }
    return "file://" + guidePage_;
}

}  // namespace orvel
