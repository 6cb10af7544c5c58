#include "triggers/PowerTriggerCenter.h"

#include <algorithm>
#include <cmath>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "core/SessionControl.h"
#include "core/UserNotification.h"
#include "foundation/Localization.h"
#include "platform/PowerSources.h"
#include "platform/SystemInfo.h"

namespace orvel {

using namespace power_source;

PowerTriggerCenter::PowerTriggerCenter(PowerSources& sources, Notifications& notifications,
                                       const Preferences& prefs,
                                       std::function<OrvelController&()> controller,
                                       std::function<SessionControl&()> session)
    : lpmOn(*this, sources.isLowPowerModeEnabled()),
      sources_(sources),
      notifications_(notifications),
      prefs_(prefs),
      controller_(std::move(controller)),
      session_(std::move(session)) {}

namespace {

using Kind = ActivityEntry::Kind;

constexpr const char* kMacHold = "mac";
constexpr double kTickSeconds = 10.0;

void log(Kind kind, std::string title, std::string detail) {
    ActivityLog::add(ActivityEntry::make(kind, std::move(title), std::move(detail)));
}

// The holds as the reader reads them.
std::string joinedShown(const std::vector<PowerTriggerCenter::Hold>& holds) {
    std::string text;
    for (const auto& hold : holds) {
        text += (text.empty() ? "" : ", ") + (hold.shown.empty() ? hold.label : hold.shown);
    }
    return text;
}

std::string joinedLabels(const std::vector<PowerTriggerCenter::Hold>& holds) {
    std::string text;
    for (const auto& hold : holds) {
        text += (text.empty() ? "" : ", ") + hold.label;
    }
    return text;
}

const char* label(PowerTriggerCenter::SimulationKind kind) {
    using K = PowerTriggerCenter::SimulationKind;
    switch (kind) {
        case K::lowBattery:
            return textKey("Low battery");
        case K::batteryRecovery:
            return textKey("Battery recovery");
        case K::lowPowerModeOn:
            return textKey("Power Saver on");
        case K::lowPowerModeOff:
            return textKey("Power Saver off");
        case K::upsTakeover:
            return textKey("UPS takeover");
        case K::wallPowerReturns:
            return textKey("Wall power returns");
    }
    return "";
}

}  // namespace

void PowerTriggerCenter::start() {
    lastLowPower_ = sources_.isLowPowerModeEnabled();
    powerStateSubscription_ = sources_.powerStateDidChange.subscribe([weakSelf = weakRef(*this)] {
        auto* self = weakSelf.get();
        if (self == nullptr) {
            return;
        }
        const bool lowPower = self->sources_.isLowPowerModeEnabled();
        if (self->sources_.announcesChanges() && lowPower == self->lastLowPower_) {
            // A source changed, not Power Saver.
            self->evaluate();
        } else if (self->simulationActive()) {
            self->clearSimulation();
        } else {
            self->setLowPowerMode(lowPower);
        }
        self->lastLowPower_ = lowPower;
    });
    // A stale UPS mark would let wall power end a later manual session.
    sessionSubscription_ =
        controller_().isActive.subscribe([weakSelf = weakRef(*this)](bool active) {
            if (auto* self = weakSelf.get(); self != nullptr && !active) {
                self->upsStartedSession = false;
            }
        });
    if (!sources_.announcesChanges()) {
        ticker_ = RunLoop::main().every(kTickSeconds, [weakSelf = weakRef(*this)] {
            if (auto* self = weakSelf.get()) {
                self->evaluate();
            }
        });
    }
    // Without the tick a new floor would wait for the battery's next change, and a block or a
    // notice its setting no longer asks for (after a reset or an import) would stay.
    for (const auto* floor : {&prefs_.lowBattPct, &prefs_.battRecoverPct}) {
        settingSubscriptions_.push_back(floor->subscribe([this](std::int64_t) { evaluateSoon(); }));
    }
    for (const auto* rule :
         {&prefs_.lowBattEnd, &prefs_.lpmEnd, &prefs_.upsReact, &prefs_.upsInverted}) {
        settingSubscriptions_.push_back(rule->subscribe([this](bool) { evaluateSoon(); }));
    }
    started_ = true;
    started.send();
    evaluate();
}

void PowerTriggerCenter::evaluateSoon() {
    // A later turn: settings are stored and reloaded several at a time.
    if (evaluationQueued_) {
        return;
    }
    evaluationQueued_ = true;
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->evaluationQueued_ = false;
            self->evaluate();
        }
    });
}

void PowerTriggerCenter::readPowerState() {
    const auto snapshot = sources_.snapshot();
    if (!snapshot) {
        return;
    }
    bool upsFound = false;
    for (const auto& source : snapshot->sources) {
        const auto* type = propertyAs<std::string>(source, kType);
        if (source.empty() || type == nullptr) {
            continue;
        }
        if (*type == kUPS) {
            upsFound = true;
        } else if (*type == kInternalBattery) {
            const auto* current = propertyAs<std::int64_t>(source, kCurrentCapacity);
            const auto* max = propertyAs<std::int64_t>(source, kMaxCapacity);
            if (current == nullptr || max == nullptr || *max < 1) {
                continue;
            }
            macBatteryPercent = static_cast<std::int64_t>(
                std::round(static_cast<double>(*current) / static_cast<double>(*max) * 100.0));
        }
    }
    if (simUPS) {
        return;
    }
    if (upsPresent() != upsFound) {
        upsPresent = upsFound;
    }
    const bool nowOnUPS = snapshot->providingPowerSourceType == kUPSPower;
    if (nowOnUPS != onUPS) {
        onUPS = nowOnUPS;
        upsTransition(nowOnUPS);
    }
}

std::optional<std::int64_t> PowerTriggerCenter::currentPercent() const {
    return simBattery ? simBattery : macBatteryPercent();
}

bool PowerTriggerCenter::hasHold(const std::string& id) const {
    return std::any_of(holds().begin(), holds().end(), [&](const Hold& h) { return h.id == id; });
}

void PowerTriggerCenter::evaluate() {
    readPowerState();
    syncBlockReason();
    const bool realOnAC = isOnACPower();
    if (simulationActive() && lastRealOnAC && *lastRealOnAC != realOnAC) {
        clearSimulation();
    }
    lastRealOnAC = realOnAC;

    // The controller's on-battery turn-off holds the session back without a floor: wall power
    // is what it waits for.
    if (realOnAC && !macTripped && hasHold(kMacHold)) {
        releaseHold(kMacHold, localized("Wall power returned"));
    }
    if (prefs_.lowBattEnd()) {
        const auto percent = currentPercent();
        const bool skip = !percent || (!simBattery && realOnAC);
        if (!skip && *percent <= prefs_.lowBattPct() && !macTripped) {
            macTripped = true;
            endForBattery(prefs_.battRecover(),
                          localizedFormat("Battery dropped below %lld%%", {prefs_.lowBattPct()}));
            if (prefs_.battRecover()) {
                addHold(kMacHold, "Computer battery", localized("Computer battery"));
            }
        }
    }
    if (macTripped) {
        const auto percent = currentPercent();
        const std::int64_t target =
            std::max<std::int64_t>(prefs_.lowBattPct() + 1, prefs_.battRecoverPct());
        if (percent && *percent >= target) {
            macTripped = false;
            releaseHold(kMacHold, localizedFormat("Computer battery recovered above %lld%%",
                                                  {prefs_.battRecoverPct()}));
        }
    }
    refreshNotice();
}

std::string osVersionString(SystemInfo& system) {
    const auto v = system.osVersion();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

std::optional<std::string> PowerTriggerCenter::blockReason() const {
    if (prefs_.lpmEnd() && lpmOn()) {
        return std::string(kLowPowerModeReason);
    }
    return std::nullopt;
}

void PowerTriggerCenter::syncBlockReason() {
    auto reason = blockReason();
    OrvelController& controller = controller_();
    if (reason == controller.powerBlockReason()) {
        return;
    }
    session_().setPowerBlockReason(std::move(reason));
}

bool PowerTriggerCenter::endForBattery(bool resumable, const std::string& shown) {
    OrvelController& controller = controller_();
    if (!controller.isActive()) {
        return false;
    }
    if (resumable) {
        // The deadline, not the ticking counter: a session in its last second has nothing left
        // to resume, and must not come back without an end.
        if (const auto& deadline = controller.deadline()) {
            const double left = deadline->timeIntervalSince(RunLoop::main().now());
            if (left >= 1.0) {
                pending = Pending{static_cast<std::int64_t>(left)};
            } else {
                pending.reset();
            }
        } else {
            pending = Pending{std::nullopt};
        }
    }
    controller.endForSafety();
    log(Kind::ended, shown, localized("Ended session \u2014 Battery/Power safety trigger"));
    notifyUser(notifications_, localized("Orvel ended"), shown + ".");
    return true;
}

void PowerTriggerCenter::keepForResume(std::optional<std::int64_t> remaining) {
    pending = Pending{remaining};
    addHold(kMacHold, "Computer battery", localized("Computer battery"));
}

void PowerTriggerCenter::sessionStarted() {
    pending.reset();
    refreshNotice();
}

void PowerTriggerCenter::sessionStopped(const SessionEnd& end) {
    if (end.manual) {
        pending.reset();
    }
    refreshNotice();
}

void PowerTriggerCenter::addHold(const std::string& id, const std::string& label,
                                 const std::string& shown) {
    if (hasHold(id)) {
        return;
    }
    auto list = holds();
    list.push_back(Hold{id, label, shown == label ? std::string() : shown});
    holds = std::move(list);
    // Holds come from the Bluetooth poll and the controller too, between power changes.
    refreshNotice();
}

void PowerTriggerCenter::releaseHold(const std::string& id, const std::string& text) {
    if (!hasHold(id)) {
        return;
    }
    auto list = holds();
    std::erase_if(list, [&](const Hold& h) { return h.id == id; });
    holds = list;
    log(Kind::info, text,
        list.empty() ? "" : localizedFormat("Still waiting for: %@", {joinedShown(list)}));
    resume();
    refreshNotice();
}

void PowerTriggerCenter::resume() {
    if (!holds().empty() || !pending) {
        return;
    }
    if (blockReason()) {
        return;
    }
    OrvelController& controller = controller_();
    if (controller.isActive()) {
        return;
    }
    const Pending kept = *pending;
    const std::optional<std::int64_t> remaining = kept.remaining;
    pending.reset();
    session_().startForSeconds(remaining);
    if (!controller.isActive()) {
        pending = kept;
        log(Kind::info, localized("Orvel re-enabled \u2014 battery recovered"),
            localized("Ignored \u2014 the session could not start"));
        return;
    }
    const std::string duration =
        !remaining ? localized("Indefinitely")
                   : localizedFormat("with %lld min remaining",
                                     {std::int64_t{*remaining > 59 ? *remaining / 60 : 1}});
    log(Kind::started, localized("Orvel re-enabled \u2014 battery recovered"),
        localizedFormat("Resumed the battery-ended session \u2014 %@", {duration}));
    notifyUser(notifications_, localized("Orvel re-enabled"),
               localized("Battery recovered \u2014 the session resumed."));
}

void PowerTriggerCenter::upsTransition(bool nowOnUPS) {
    if (!prefs_.upsReact()) {
        return;
    }
    OrvelController& controller = controller_();
    if (!nowOnUPS) {
        if (!prefs_.upsInverted() && upsStartedSession && controller.isActive()) {
            endForBattery(false, localized("Wall power returned"));
        }
        upsStartedSession = false;
        return;
    }
    if (prefs_.upsInverted()) {
        if (controller.isActive()) {
            endForBattery(false, localized("UPS became the power source"));
        }
        return;
    }
    if (controller.isActive()) {
        return;
    }
    if (macTripped || !holds().empty()) {
        log(Kind::info, localized("UPS became the power source"),
            localized("Ignored \u2014 a battery floor is tripped; Symmetric resumes after "
                      "recovery"));
        return;
    }
    SessionRequest request;
    request.end = SessionRequest::End::never;
    if (!controller.start(request) || !controller.isActive()) {
        log(Kind::info, localized("UPS became the power source"),
            localized("Ignored \u2014 the session could not start"));
        return;
    }
    upsStartedSession = true;
    log(Kind::started, localized("UPS became the power source"),
        localized("Started session \u2014 Indefinitely \u00b7 Battery/Power"));
    notifyUser(notifications_, localized("Orvel started"),
               localized("UPS became the power source."));
}

void PowerTriggerCenter::setLowPowerMode(bool on) {
    lpmOn = on;
    syncBlockReason();
    if (on) {
        if (prefs_.lpmEnd() && controller_().isActive()) {
            endForBattery(false, localized("Power Saver turned on"));
        }
    } else {
        resume();
        controller_().checkACAutoStart();
    }
    refreshNotice();
}

void PowerTriggerCenter::simulate(SimulationKind kind) {
    simulationActive = true;
    log(Kind::info, localizedFormat("Simulated: %@", {localized(label(kind))}),
        localized("Troubleshooting \u2014 drives the real engine"));
    switch (kind) {
        case SimulationKind::lowBattery:
            simBattery = std::max<std::int64_t>(prefs_.lowBattPct() - 5, 1);
            evaluate();
            break;
        case SimulationKind::batteryRecovery:
            simBattery = std::min<std::int64_t>(
                std::max<std::int64_t>(prefs_.lowBattPct() + 1, prefs_.battRecoverPct()) + 5, 100);
            evaluate();
            break;
        case SimulationKind::lowPowerModeOn:
            setLowPowerMode(true);
            break;
        case SimulationKind::lowPowerModeOff:
            lpmOn = false;
            syncBlockReason();
            resume();
            controller_().checkACAutoStart();
            break;
        case SimulationKind::upsTakeover:
            simUPS = true;
            upsPresent = true;
            if (!onUPS) {
                onUPS = true;
                upsTransition(true);
            }
            break;
        case SimulationKind::wallPowerReturns:
            if (onUPS) {
                onUPS = false;
                upsTransition(false);
            }
            simUPS = false;
            break;
    }
    refreshNotice();
}

void PowerTriggerCenter::clearSimulation() {
    if (!simulationActive()) {
        return;
    }
    simulationActive = false;
    simBattery.reset();
    simUPS = false;
    setLowPowerMode(sources_.isLowPowerModeEnabled());
    evaluate();
    log(Kind::info, localized("Simulation cleared"), localized("Real power state re-read"));
}

std::vector<std::string> PowerTriggerCenter::reportLines() const {
    std::vector<std::string> lines;
    if (auto reason = blockReason()) {
        lines.push_back(*reason);
    }
    if (pending && !holds().empty()) {
        lines.push_back("Resume pending \u2014 waiting for: " + joinedLabels(holds()));
    }
    if (macTripped && prefs_.upsReact() && !prefs_.upsInverted()) {
        lines.push_back("Battery floor tripped \u2014 UPS Symmetric may not start a session");
    }
    if (simulationActive()) {
        lines.push_back("Power simulation active (Troubleshooting)");
    }
    return lines;
}

void PowerTriggerCenter::refreshNotice() {
    noticeRefreshed.send();
    const auto& list = holds();
    const bool macHold =
        std::any_of(list.begin(), list.end(), [](const Hold& h) { return h.id == "mac"; });

    std::optional<Notice> next;
    if (auto reason = blockReason()) {
        next = Notice{localized(*reason), 3};
    } else if (pending && !list.empty() && macHold) {
        const std::int64_t above = prefs_.battRecoverPct();
        const auto more = static_cast<std::int64_t>(list.size()) - 1;
        const auto percent = currentPercent();
        std::string text;
        if (percent && more > 0) {
            text = localizedFormat(
                "Waiting: battery above %1$lld%% \u2014 now %2$lld%% (+%3$lld more)",
                {above, std::int64_t{*percent}, more});
        } else if (percent) {
            text = localizedFormat("Waiting: battery above %1$lld%% \u2014 now %2$lld%%",
                                   {above, std::int64_t{*percent}});
        } else if (more > 0) {
            text = localizedFormat("Waiting: battery above %1$lld%% (+%2$lld more)", {above, more});
        } else {
            text = localizedFormat("Waiting: battery above %lld%%", {above});
        }
        next = Notice{text, 3};
    } else if (pending && list.size() == 1) {
        const Hold& hold = list.front();
        next = Notice{localizedFormat("Waiting to re-enable: %@",
                                      {hold.shown.empty() ? hold.label : hold.shown}),
                      1};
    } else if (pending && list.size() >= 2) {
        const auto count = static_cast<std::int64_t>(list.size());
        next =
            Notice{localizedPlural("Waiting to re-enable: %lld device battery",
                                   "Waiting to re-enable: %lld device batteries", count, {count}),
                   1};
    } else if (macTripped && prefs_.upsReact() && !prefs_.upsInverted() && onUPS) {
        next = Notice{localized("Battery floor is holding UPS Symmetric back"), 3};
    }
    if (next != notice()) {
        notice = std::move(next);
    }
}

}  // namespace orvel
