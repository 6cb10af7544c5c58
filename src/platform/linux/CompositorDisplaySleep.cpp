#include "platform/linux/CompositorDisplaySleep.h"

#include <cstdint>

#include "foundation/Json.h"

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

void CompositorDisplaySleep::sleepAll(DisplaySleepDone done) {
    // Always heard later, on the loop, whichever way the request went.
    DisplaySleepDone later = [done = std::move(done)](const DisplaySleepOutcome& outcome) {
        RunLoop::main().async([done, outcome] {
            if (done) {
                done(outcome);
            }
        });
    };
    switch (route()) {
        case CompositorSleep::sway:
            sendToSway(kPowerOff, true, std::move(later));
            return;
        case CompositorSleep::gnome:
            callBus(
                kMutterProperties, "Set",
                [](sd_bus_message* m) {
                    return sd_bus_message_append(m, "ssv", kMutterInterface, "PowerSaveMode", "i",
                                                 kPowerSaveOff);
                },
                "GNOME's display configuration", std::move(later));
            return;
        case CompositorSleep::kde:
            callBus(
                kKdeShortcuts, "invokeShortcut",
                [](sd_bus_message* m) { return sd_bus_message_append(m, "s", kTurnOffScreen); },
                "KDE's power management", std::move(later));
            return;
        case CompositorSleep::wlroots:
            wlroots_.sleepAll(std::move(later));
            return;
        case CompositorSleep::none:
            log_.notice("This Wayland compositor offers no known way to sleep the displays.");
            later({{}, true});
            return;
    }
}

std::optional<std::vector<std::string>> CompositorDisplaySleep::swayOutputsOn(
    std::string_view answer) {
    auto outputs = parseJson(answer);
    if (!outputs || !outputs->is_array()) {
        return std::nullopt;
    }
    // A member of that type, else nothing: sway writes some as null.
    auto flag = [](const Json& node, const char* key) -> std::optional<bool> {
        const auto it = node.find(key);
        return it != node.end() && it->is_boolean() ? std::optional(it->get<bool>()) : std::nullopt;
    };
    std::vector<std::string> on;
    for (const Json& output : *outputs) {
        if (!output.is_object() || flag(output, "active") == false) {
            continue;
        }
        if (flag(output, "power").value_or(flag(output, "dpms").value_or(false))) {
            const auto name = output.find("name");
            on.push_back(name != output.end() && name->is_string() ? name->get<std::string>()
                                                                   : "an output");
        }
    }
    return on;
}

void CompositorDisplaySleep::callBus(const DBusObject& object, const char* member,
                                     const DBusConnection::Append& append, const std::string& what,
                                     DisplaySleepDone done) {
    auto sent =
        bus_->callDetached(object, member, append, [log = log_, what, done](sd_bus_message* reply) {
            if (auto error = DBusConnection::errorOf(reply)) {
                log.error(what + " did not sleep the displays: " + *error);
                done({{}, true});
            } else {
                done({});
            }
        });
    if (!sent) {
        log_.error(what + " could not be asked to sleep the displays: " + sent.error().message);
        done({{}, true});
    }
}

void CompositorDisplaySleep::sendToSway(const char* command, bool fallBack, DisplaySleepDone done) {
    const std::string asked = command;
    auto sent = SwayRequest::send(
        swaySocket_, SwayRequest::kRunCommand, asked, kSwayAnswerSeconds,
        [this, asked, fallBack, done](Result<std::string> answer) {
            sway_.reset();  // ends this request and its captures: only copies are used below
            const DisplaySleepDone copy = done;
            const bool refused = answer && !SwayRequest::succeeded(*answer);
            if (refused && fallBack) {
                sendToSway(kDpmsOff, false, copy);
            } else if (answer && !refused) {
                readBackFromSway(asked, copy);
            } else {
                log_.error("sway did not sleep the displays (\"" + asked +
                           "\"): " + (answer ? *answer : answer.error().message));
                copy({{}, true});
            }
        });
    if (!sent) {
        log_.error("sway could not be asked to sleep the displays: " + sent.error().message);
        done({{}, true});
        return;
    }
    sway_ = std::move(*sent);
}

void CompositorDisplaySleep::readBackFromSway(const std::string& asked, DisplaySleepDone done) {
    auto sent = SwayRequest::send(
        swaySocket_, SwayRequest::kGetOutputs, "", kSwayAnswerSeconds,
        [this, asked, done](Result<std::string> answer) {
            sway_.reset();
            const DisplaySleepDone copy = done;
            const auto on = answer ? swayOutputsOn(*answer) : std::nullopt;
            if (!on) {
                log_.notice("sway took \"" + asked +
                            "\", but did not tell whether its outputs went off: " +
                            (answer ? std::string("its answer is no list of outputs")
                                    : answer.error().message));
                copy({});
            } else if (on->empty()) {
                log_.info("sway put every display to sleep (\"" + asked + "\").");
                copy({});
            } else {
                std::string names;
                for (const auto& name : *on) {
                    names += (names.empty() ? "" : ", ") + name;
                }
                log_.error("sway took \"" + asked + "\", but did not switch every output off: " +
                           names + (on->size() == 1 ? " is" : " are") + " still on.");
                copy({*on, false});
            }
        });
    if (!sent) {
        log_.notice("sway took \"" + asked +
                    "\", but could not be asked whether its outputs "
                    "went off: " +
                    sent.error().message);
        done({});
        return;
    }
    sway_ = std::move(*sent);
}

}  // namespace orvel
