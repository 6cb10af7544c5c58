#include "platform/linux/LinuxInputBlocking.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "foundation/FileIO.h"
#include "foundation/Log.h"
#include "platform/linux/LinuxPaths.h"

namespace orvel {

namespace {

std::string errnoText() {
    return std::strerror(errno);
}

bool isInputDeviceName(const std::string& name) {
    return name.size() > 5 && name.rfind("input", 0) == 0 &&
           std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Writes an `inhibited` attribute that inhibitedAttribute() has let through. The flags and the
// checks hold even if the tree changed since: no link is followed, a FIFO is not waited on, and
// only a regular file of the sysfs tree itself is written.
Result<void> writeAttribute(const std::string& path, const char* value,
                            const std::string& devices) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return Error{"Could not write " + path + ": " + errnoText()};
    }
    struct stat file {};
    struct stat tree {};
    if (::fstat(fd.get(), &file) != 0 || ::stat(devices.c_str(), &tree) != 0 ||
        !S_ISREG(file.st_mode) || file.st_dev != tree.st_dev) {
        return Error{"Did not write " + path + ": it is not an attribute in " + devices};
    }
    if (::write(fd.get(), value, std::strlen(value)) < 0) {
        return Error{"Could not write " + path + ": " + errnoText()};
    }
    return {};
}

// One line per silenced device, a sysfs path of a few dozen characters: hundreds of devices fit.
constexpr std::size_t kMaxRecordSize = 64 * 1024;

std::vector<std::string> readRecord(const std::string& path) {
    std::vector<std::string> lines;
    auto data = readFileIfPresent(path, kMaxRecordSize);
    if (!data) {
        Logger("input").error(data.error().message);
        return lines;
    }
    if (!*data) {
        return lines;
    }
    std::istringstream text(stringFromData(**data));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

void writeRecord(const std::string& path, const std::vector<std::string>& lines) {
    if (lines.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            Logger("input").error("Could not remove " + path + ": " + errnoText());
        }
        return;
    }
    std::string text;
    for (const auto& line : lines) {
        text += line + "\n";
    }
    if (auto written = writeFileAtomically(path, text); !written) {
        Logger("input").error(written.error().message);
    }
}

class LinuxInputHold final : public InputHold {
  public:
    LinuxInputHold(std::string record, std::string devices, std::vector<std::string> inhibited,
                   std::vector<UniqueFd> grabbed)
        : record_(std::move(record)),
          devices_(std::move(devices)),
          inhibited_(std::move(inhibited)) {
        if (!grabbed.empty()) {
            drain_ = std::make_unique<InputDrainThread>(std::move(grabbed));
        }
    }
    ~LinuxInputHold() override {
        drain_.reset();  // closing the descriptors ends the grabs
        for (const auto& path : inhibited_) {
            if (auto written = writeAttribute(path, "0", devices_); !written) {
                Logger("input").error(written.error().message);
            }
        }
        if (!inhibited_.empty()) {
            auto lines = readRecord(record_);
            std::erase_if(lines, [this](const std::string& line) {
                return std::find(inhibited_.begin(), inhibited_.end(), line) != inhibited_.end();
            });
            writeRecord(record_, lines);
        }
    }

  private:
    std::string record_;
    std::string devices_;
    std::vector<std::string> inhibited_;
    std::unique_ptr<InputDrainThread> drain_;
};

}  // namespace

LinuxInputBlocking::LinuxInputBlocking(LinuxHidDevices& devices, std::string runtimeDirectory,
                                       uid_t owner)
    : devices_(devices), runtime_(std::move(runtimeDirectory)), owner_(owner) {}

InputHoldResult LinuxInputBlocking::silence(const std::vector<HidDevice>& devices) {
    InputHoldResult result;
    std::map<std::uint64_t, LinuxInputNode> nodes;
    for (auto& node : devices_.scan()) {
        nodes.emplace(node.device.id, std::move(node));
    }
    std::vector<std::string> inhibited;
    std::vector<UniqueFd> grabbed;
    std::optional<bool> recordIsSafe;
    for (const auto& device : devices) {
        auto it = nodes.find(device.id);
        if (it == nodes.end()) {
            result.failures.push_back({device.id, "the device is no longer attached"});
            continue;
        }
        const LinuxInputNode& node = it->second;
        if (::faccessat(AT_FDCWD, node.inhibited.c_str(), W_OK, AT_EACCESS) == 0) {
            if (!recordIsSafe) {
                recordIsSafe = recordFolderIsPrivate();
            }
            if (auto attribute = *recordIsSafe ? inhibit(node.inhibited) : std::nullopt) {
                inhibited.push_back(*attribute);
                result.held.push_back(device.id);
                continue;
            }
        }
        UniqueFd fd(::open(node.eventNode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd) {
            result.failures.push_back(
                {device.id, "could not open " + node.eventNode + ": " + errnoText()});
            continue;
        }
        if (::ioctl(fd.get(), EVIOCGRAB, 1) != 0) {
            result.failures.push_back(
                {device.id, "could not grab " + node.eventNode + ": " + errnoText()});
            continue;
        }
        grabbed.push_back(std::move(fd));
        result.held.push_back(device.id);
    }
    if (!result.held.empty()) {
        result.hold = std::make_unique<LinuxInputHold>(recordPath(), devicesFolder(),
                                                       std::move(inhibited), std::move(grabbed));
    }
    return result;
}

InputHoldResult LinuxInputBlocking::observe(const std::vector<HidDevice>& devices,
                                            InputValueCallback) {
    InputHoldResult result;
    for (const auto& device : devices) {
        result.failures.push_back({device.id, "devices are switched off, not watched, here"});
    }
    return result;
}

std::string LinuxInputBlocking::devicesFolder() const {
    std::error_code ec;
    const auto folder = std::filesystem::canonical(devices_.roots().sys + "/devices", ec);
    return ec ? devices_.roots().sys + "/devices" : folder.string();
}

std::optional<std::string> LinuxInputBlocking::inhibit(const std::string& path) {
    auto attribute = inhibitedAttribute(path);
    if (!attribute) {
        Logger("input").error("Not writing " + attribute.error().message +
                              "; grabbing the device instead.");
        return std::nullopt;
    }
    // Recorded first: a crash between the two steps must still find it at the next start.
    auto lines = readRecord(recordPath());
    lines.push_back(*attribute);
    writeRecord(recordPath(), lines);
    if (auto written = writeAttribute(*attribute, "1", devicesFolder()); !written) {
        Logger("input").error(written.error().message);
        lines.pop_back();
        writeRecord(recordPath(), lines);
        return std::nullopt;
    }
    return std::move(*attribute);
}

bool LinuxInputBlocking::recordFolderIsPrivate() const {
    if (auto made = LinuxPaths::makePrivateFolder(runtime_, owner_); !made) {
        Logger("input").error(made.error().message +
                              " Devices are not switched off through their attribute, and none "
                              "recorded there are switched back on.");
        return false;
    }
    return true;
}

Result<std::string> LinuxInputBlocking::inhibitedAttribute(const std::string& path) const {
    auto refuse = [&path](const std::string& why) { return Error{"\"" + path + "\": " + why}; };
    if (path.empty() || path.front() != '/') {
        return refuse("not an absolute path");
    }
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (ec) {
        return refuse("it cannot be resolved (" + ec.message() + ")");
    }
    const std::string devices = devicesFolder();
    const std::filesystem::path relative = resolved.lexically_relative(devices);
    std::vector<std::string> parts;
    for (const auto& part : relative) {
        parts.push_back(part.string());
    }
    const std::size_t n = parts.size();
    const bool named = n >= 4 && std::find(parts.begin(), parts.end(), "..") == parts.end() &&
                       parts[n - 1] == "inhibited" && isInputDeviceName(parts[n - 2]) &&
                       parts[n - 3] == "input";
    if (!named) {
        return refuse("it is not the inhibited attribute of an input device in " + devices);
    }
    struct stat info {};
    if (::lstat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return refuse("it is not a regular file");
    }
    return resolved.string();
}

void LinuxInputBlocking::releaseRecorded() {
    struct stat info {};
    if (::lstat(recordPath().c_str(), &info) != 0 || !recordFolderIsPrivate()) {
        return;
    }
    const auto lines = readRecord(recordPath());
    std::vector<std::string> kept;
    std::size_t given = 0;
    for (const auto& line : lines) {
        if (line.front() == '/' && ::lstat(line.c_str(), &info) != 0 && errno == ENOENT) {
            continue;  // a device unplugged since then has nothing left to give back
        }
        auto attribute = inhibitedAttribute(line);
        if (!attribute) {
            Logger("input").error("Ignored a line of " + recordPath() + ", " +
                                  attribute.error().message + ".");
            continue;
        }
        if (auto written = writeAttribute(*attribute, "0", devicesFolder()); !written) {
            Logger("input").error(written.error().message);
            kept.push_back(line);
            continue;
        }
        ++given;
    }
    if (given > 0) {
        Logger("input").notice("Gave back " + std::to_string(given) +
                               " input device(s) left switched off by an earlier run.");
    }
    writeRecord(recordPath(), kept);
}

struct InputDrainThread::State {
    std::vector<UniqueFd> fds;
    UniqueFd wake;
    std::atomic<std::uint64_t> drained{0};
    std::thread thread;
};

InputDrainThread::InputDrainThread(std::vector<UniqueFd> fds) : state_(std::make_unique<State>()) {
    state_->fds = std::move(fds);
    state_->wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    std::vector<pollfd> set;
    set.push_back({state_->wake.get(), POLLIN, 0});
    for (const auto& fd : state_->fds) {
        set.push_back({fd.get(), POLLIN, 0});
    }
    State* state = state_.get();
    state_->thread = std::thread([state, set]() mutable {
        char buffer[64 * sizeof(input_event)];
        for (;;) {
            if (::poll(set.data(), set.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (set[0].revents != 0) {
                return;
            }
            for (std::size_t i = 1; i < set.size(); ++i) {
                if ((set[i].revents & POLLIN) != 0) {
                    ssize_t n;
                    while ((n = ::read(set[i].fd, buffer, sizeof buffer)) > 0) {
                        state->drained.fetch_add(static_cast<std::uint64_t>(n),
                                                 std::memory_order_relaxed);
                    }
                    if (n < 0 && errno != EAGAIN && errno != EINTR) {
                        set[i].fd = -1;  // unplugged: nothing more will come
                    }
                } else if ((set[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                    set[i].fd = -1;
                }
            }
        }
    });
}

InputDrainThread::~InputDrainThread() {
    const std::uint64_t one = 1;
    if (state_->wake && ::write(state_->wake.get(), &one, sizeof one) < 0) {
        Logger("input").error("Could not wake the input thread: " + errnoText());
    }
    state_->thread.join();
}

std::uint64_t InputDrainThread::drainedBytes() const {
    return state_->drained.load(std::memory_order_relaxed);
}

}  // namespace orvel
