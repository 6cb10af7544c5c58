#include "platform/linux/LinuxSystemInfo.h"

#include <errno.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "foundation/Data.h"
#include "foundation/FileIO.h"

namespace orvel {

LinuxSystemInfo::LinuxSystemInfo(std::string root) : root_(std::move(root)) {
    if (!root_.empty() && root_.back() == '/') {
        root_.pop_back();
    }
}

std::optional<std::string> LinuxSystemInfo::platformUUID() {
    std::ifstream in(root_ + "/etc/machine-id");
    std::string id;
    if (!(in >> id) || id.size() != 32) {
        return std::nullopt;
    }
    std::string text;
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(id[i]))) {
            return std::nullopt;
        }
        if (i == 8 || i == 12 || i == 16 || i == 20) {
            text += '-';
        }
        text += static_cast<char>(std::toupper(static_cast<unsigned char>(id[i])));
    }
    return text;
}

namespace {

// The text of /etc/os-release; empty when it cannot be read.
std::string osRelease(const std::string& root) {
    // A few dozen short assignments.
    constexpr std::size_t kMaxOsReleaseSize = 64 * 1024;
    auto file = readFileIfPresent(root + "/etc/os-release", kMaxOsReleaseSize);
    return file && file.value() ? stringFromData(*file.value()) : std::string();
}

// The first `parts` dotted numbers of VERSION_ID ("22.04" gives 22.4.0); what is missing is 0,
// and all of them are 0 when there is none or one is absurdly large.
SystemInfo::Version releaseNumbers(const std::string& root, int parts) {
    const auto value = LinuxSystemInfo::assignmentValue(osRelease(root), "VERSION_ID");
    if (!value) {
        return {};
    }
    int numbers[3] = {0, 0, 0};
    std::size_t i = 0;
    for (int n = 0; n < parts && n < 3; ++n) {
        std::size_t digits = 0;
        for (; i < value->size() && std::isdigit(static_cast<unsigned char>((*value)[i]));
             ++i, ++digits) {
            numbers[n] = numbers[n] * 10 + ((*value)[i] - '0');
            if (numbers[n] > 100000) {
                return {};
            }
        }
        if (digits == 0 || i >= value->size() || (*value)[i] != '.') {
            break;
        }
        ++i;
    }
    return SystemInfo::Version{numbers[0], numbers[1], numbers[2]};
}

}  // namespace

SystemInfo::Version LinuxSystemInfo::osVersion() {
    return releaseNumbers(root_, 3);
}

int LinuxSystemInfo::osMajorVersion() {
    return releaseNumbers(root_, 1).major;
}

std::string LinuxSystemInfo::osName() {
    const std::string text = osRelease(root_);
    if (auto pretty = assignmentValue(text, "PRETTY_NAME"); pretty && !pretty->empty()) {
        return *pretty;
    }
    auto name = assignmentValue(text, "NAME");
    if (!name || name->empty()) {
        return "Linux";
    }
    if (auto version = assignmentValue(text, "VERSION"); version && !version->empty()) {
        *name += " " + *version;
    }
    return *name;
}

std::string LinuxSystemInfo::kernelRelease() {
    utsname names{};
    if (uname(&names) != 0) {
        return "unknown";
    }
    return names.release;
}

std::string LinuxSystemInfo::processName() {
    return program_invocation_short_name;
}

namespace {

// The first line of a DMI attribute without surrounding blanks; nothing when unreadable or empty.
std::optional<std::string> dmiValue(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) {
        return std::nullopt;
    }
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

struct Account {
    std::string gecos;
    std::string name;
    std::string home;
};

Account currentAccount() {
    Account account;
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        account.gecos = found->pw_gecos ? found->pw_gecos : "";
        account.name = found->pw_name ? found->pw_name : "";
        account.home = found->pw_dir ? found->pw_dir : "";
    }
    if (account.home.empty()) {
        const char* home = std::getenv("HOME");
        account.home = home ? home : "/";
    }
    if (account.name.empty()) {
        const char* user = std::getenv("USER");
        account.name = user ? user : std::to_string(getuid());
    }
    return account;
}

}  // namespace

std::optional<std::string> LinuxSystemInfo::hardwareModel() {
    return dmiValue(root_ + "/sys/class/dmi/id/product_name");
}

std::optional<int> LinuxSystemInfo::chassisType() {
    const auto text = dmiValue(root_ + "/sys/class/dmi/id/chassis_type");
    if (!text || text->size() > 3) {
        return std::nullopt;
    }
    int type = 0;
    for (char c : *text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        type = type * 10 + (c - '0');
    }
    return type;
}

SystemInfo::WindowSystem LinuxSystemInfo::windowSystem() {
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (isSet("WAYLAND_DISPLAY")) {
        return WindowSystem::wayland;
    }
    return isSet("DISPLAY") ? WindowSystem::x11 : WindowSystem::none;
}

std::string LinuxSystemInfo::architecture() {
    utsname names{};
    if (uname(&names) != 0) {
        return "unknown";
    }
    return names.machine;
}

std::string LinuxSystemInfo::fullNameFromGecos(std::string_view gecos) {
    return std::string(gecos.substr(0, gecos.find(',')));
}

std::string LinuxSystemInfo::fullUserName() {
    return fullNameFromGecos(currentAccount().gecos);
}

std::string LinuxSystemInfo::userName() {
    return currentAccount().name;
}

std::string LinuxSystemInfo::homeDirectory() {
    return currentAccount().home;
}

std::optional<std::string> LinuxSystemInfo::assignmentValue(std::string_view text,
                                                            std::string_view key) {
    std::optional<std::string> value;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != '=') {
            continue;
        }
        line.remove_prefix(key.size() + 1);
        while (!line.empty() &&
               (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        std::string unquoted;
        char quote = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (quote != 0 && c == quote) {
                quote = 0;
            } else if (c == '\\' && quote != '\'' && i + 1 < line.size()) {
                unquoted += line[++i];
            } else {
                unquoted += c;
            }
        }
        value = std::move(unquoted);  // the last assignment wins, as in the shell
    }
    return value;
}

std::optional<std::string> LinuxSystemInfo::localizedHostName() {
    // A handful of short assignments (the pretty name, an icon, a location).
    constexpr std::size_t kMaxMachineInfoSize = 64 * 1024;
    if (auto file = readFileIfPresent(root_ + "/etc/machine-info", kMaxMachineInfoSize);
        file && file.value()) {
        if (auto pretty = assignmentValue(stringFromData(*file.value()), "PRETTY_HOSTNAME");
            pretty && !pretty->empty()) {
            return pretty;
        }
    }
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

}  // namespace orvel
