#include "platform/linux/CompositorDisplaySleep.h"

#include <cstdint>

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

constexpr const char* kPowerOff = "output * power off";
constexpr const char* kDpmsOff = "output * dpms off";  // sway 1.7 and older
constexpr double kSwayAnswerSeconds = 5.0;

}  // namespace

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
    if (SwayRequest::isSocket(swaySocket_)) {
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
    const std::string asked = command;
    auto sent = SwayRequest::send(
        swaySocket_, SwayRequest::kRunCommand, asked, kSwayAnswerSeconds,
        [this, asked, fallBack](Result<std::string> answer) {
            sway_.reset();  // ends this request and its captures: only locals are used below
            const bool refused = answer && !SwayRequest::succeeded(*answer);
            if (refused && fallBack) {
                sendToSway(kDpmsOff, false);
            } else if (answer && !refused) {
                log_.info("sway put every display to sleep (\"" + asked + "\").");
            } else {
                log_.error("sway did not sleep the displays (\"" + asked +
                           "\"): " + (answer ? *answer : answer.error().message));
            }
        });
    if (!sent) {
        log_.error("sway could not be asked to sleep the displays: " + sent.error().message);
        return;
    }
    sway_ = std::move(*sent);
}

}  // namespace orvel
