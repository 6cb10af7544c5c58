#include "platform/linux/LinuxSystemInfo.h"

#include <errno.h>

#include <cctype>
#include <fstream>

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

SystemInfo::Version LinuxSystemInfo::osVersion() {
    std::ifstream in(root_ + "/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VERSION_ID=", 0) != 0) {
            continue;
        }
        std::string value = line.substr(11);
        if (!value.empty() && (value.front() == '"' || value.front() == '\'')) {
            value = value.substr(1);
        }
        int numbers[3] = {0, 0, 0};
        std::size_t i = 0;
        for (int& number : numbers) {
            std::size_t digits = 0;
            for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i]));
                 ++i, ++digits) {
                number = number * 10 + (value[i] - '0');
                if (number > 100000) {
                    return {};
                }
            }
            if (digits == 0 || i >= value.size() || value[i] != '.') {
                break;
            }
            ++i;
        }
        return Version{numbers[0], numbers[1], numbers[2]};
    }
    return {};
}

int LinuxSystemInfo::osMajorVersion() {
    std::ifstream in(root_ + "/etc/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VERSION_ID=", 0) != 0) {
            continue;
        }
        std::string value = line.substr(11);
        if (!value.empty() && (value.front() == '"' || value.front() == '\'')) {
            value = value.substr(1);
        }
        int major = 0;
        std::size_t i = 0;
        for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i) {
            major = major * 10 + (value[i] - '0');
            if (major > 100000) {
                return 0;
            }
        }
        return i > 0 ? major : 0;
    }
    return 0;
}

std::string LinuxSystemInfo::processName() {
    return program_invocation_short_name;
}

}  // namespace orvel
