#include "platform/linux/CompositorDisplaySleep.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace orvel {

namespace {

const DBusObject kMutterProperties{"org.gnome.Mutter.DisplayConfig",
                                   "/org/gnome/Mutter/DisplayConfig",
                                   "org.freedesktop.DBus.Properties"};
constexpr const char* kMutterInterface = "org.gnome.Mutter.DisplayConfig";
constexpr std::int32_t kPowerSaveOff = 3;
constexpr const char* kKdePowerName = "org.kde.Solid.PowerManagement";
const DBusObject kKdeShortcuts{"org.kde.kglobalaccel", "/component/org_kde_powerdevil",
                               "org.kde.kglobalaccel.Component"};
constexpr const char* kTurnOffScreen = "Turn Off Screen";

// i3's IPC framing, which sway speaks: magic, payload length and message type in native order.
constexpr char kIpcMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::uint32_t kRunCommand = 0;
constexpr std::size_t kIpcHeader = sizeof kIpcMagic + 2 * sizeof(std::uint32_t);
constexpr const char* kPowerOff = "output * power off";
constexpr const char* kDpmsOff = "output * dpms off";  // sway 1.7 and older
constexpr double kSwayAnswerSeconds = 5.0;

bool isSocket(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

// One command on its own connection, until sway has answered or the time is up.
struct CompositorDisplaySleep::SwayCommand {
    UniqueFd socket;
    std::string answer;
    FdWatch watch;
    Timer limit;
};

CompositorDisplaySleep::CompositorDisplaySleep(std::shared_ptr<DBusConnection> sessionBus,
                                               std::string swaySocket, std::string waylandDisplay)
    : bus_(std::move(sessionBus)),
      swaySocket_(std::move(swaySocket)),
      wlroots_(std::move(waylandDisplay)) {
    if (bus_) {
        mutter_ = bus_->watchName(kMutterProperties.service);
        kdePower_ = bus_->watchName(kKdePowerName);
        kdeShortcuts_ = bus_->watchName(kKdeShortcuts.service);
    }
}

CompositorDisplaySleep::~CompositorDisplaySleep() = default;

CompositorSleep CompositorDisplaySleep::route() const {
    if (isSocket(swaySocket_)) {
        return CompositorSleep::sway;
    }
    if (mutter_ && mutter_->isPresent()) {
        return CompositorSleep::gnome;
    }
    if (kdePower_ && kdePower_->isPresent() && kdeShortcuts_ && kdeShortcuts_->isPresent()) {
        return CompositorSleep::kde;
    }
    if (wlroots_.offered()) {
        return CompositorSleep::wlroots;
    }
    return CompositorSleep::none;
}

void CompositorDisplaySleep::sleepAll() {
    switch (route()) {
        case CompositorSleep::sway:
            sendToSway(kPowerOff, true);
            return;
        case CompositorSleep::gnome:
            callBus(
                kMutterProperties, "Set",
                [](sd_bus_message* m) {
                    return sd_bus_message_append(m, "ssv", kMutterInterface, "PowerSaveMode", "i",
                                                 kPowerSaveOff);
                },
                "GNOME's display configuration");
            return;
        case CompositorSleep::kde:
            callBus(
                kKdeShortcuts, "invokeShortcut",
                [](sd_bus_message* m) { return sd_bus_message_append(m, "s", kTurnOffScreen); },
                "KDE's power management");
            return;
        case CompositorSleep::wlroots:
            wlroots_.sleepAll();
            return;
        case CompositorSleep::none:
            log_.notice("This Wayland compositor offers no known way to sleep the displays.");
            return;
    }
}

void CompositorDisplaySleep::callBus(const DBusObject& object, const char* member,
                                     const DBusConnection::Append& append,
                                     const std::string& what) {
    auto sent =
        bus_->callDetached(object, member, append, [log = log_, what](sd_bus_message* reply) {
            if (auto error = DBusConnection::errorOf(reply)) {
                log.error(what + " did not sleep the displays: " + *error);
            }
        });
    if (!sent) {
        log_.error(what + " could not be asked to sleep the displays: " + sent.error().message);
    }
}

void CompositorDisplaySleep::sendToSway(const char* command, bool fallBack) {
    auto fail = [this](const std::string& why) {
        log_.error("sway could not be asked to sleep the displays: " + why);
    };
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd || swaySocket_.size() >= sizeof address.sun_path) {
        fail(fd ? "its socket path is too long" : std::strerror(errno));
        return;
    }
    std::memcpy(address.sun_path, swaySocket_.c_str(), swaySocket_.size() + 1);
    // A local socket accepts a short message at once, so only the answer is waited for.
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        fail(swaySocket_ + ": " + std::strerror(errno));
        return;
    }
    const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(command));
    std::string message(kIpcMagic, sizeof kIpcMagic);
    message.append(reinterpret_cast<const char*>(&length), sizeof length);
    message.append(reinterpret_cast<const char*>(&kRunCommand), sizeof kRunCommand);
    message += command;
    if (::send(fd.get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(message.size())) {
        fail(std::strerror(errno));
        return;
    }
    auto pending = std::make_unique<SwayCommand>();
    pending->socket = std::move(fd);
    SwayCommand* raw = pending.get();
    const std::string sent = command;
    pending->watch = RunLoop::main().watchFd(
        raw->socket.get(), kFdReadable, [this, raw, sent, fallBack](unsigned) {
            char buffer[4096];
            const ssize_t got = ::recv(raw->socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
                return;
            }
            if (got > 0) {
                raw->answer.append(buffer, static_cast<std::size_t>(got));
                std::uint32_t answerLength = 0;
                if (raw->answer.size() < kIpcHeader) {
                    return;
                }
                std::memcpy(&answerLength, raw->answer.data() + sizeof kIpcMagic,
                            sizeof answerLength);
                if (raw->answer.size() < kIpcHeader + answerLength) {
                    return;
                }
            }
            const std::string payload =
                raw->answer.size() > kIpcHeader ? raw->answer.substr(kIpcHeader) : "";
            const bool refused = payload.find("\"success\":false") != std::string::npos ||
                                 payload.find("\"success\": false") != std::string::npos;
            const std::string asked = sent;
            const bool retry = refused && fallBack;
            sway_.reset();  // ends this watch and its captures: only locals are used below
            if (retry) {
                sendToSway(kDpmsOff, false);
            } else if (!refused && !payload.empty()) {
                log_.info("sway put every display to sleep (\"" + asked + "\").");
            } else {
                log_.error("sway did not sleep the displays (\"" + asked + "\"): " +
                           (payload.empty() ? std::string("it closed the connection unanswered")
                                            : payload));
            }
        });
    pending->limit = RunLoop::main().after(kSwayAnswerSeconds, [this] {
        sway_.reset();
        log_.error("sway did not answer the request to sleep the displays.");
    });
    sway_ = std::move(pending);
}

}  // namespace orvel
