#include "support/SessionJournal.h"

#include "devices/DeviceState.h"
#include "drives/DriveKeepAlive.h"
#include "menubar/StatusItemController.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel::test {

SessionJournal::SessionJournal(Services& services) {
    subscriptions_.push_back(services.driveKeepAlive().sessionActive.subscribe(
        [this](const bool& on) { lines_.push_back(on ? "drives on" : "drives off"); }));
    subscriptions_.push_back(
        services.deviceState().reconciled.subscribe([this] { lines_.push_back("devices"); }));
    if (StatusItemController* item = StatusItemController::current()) {
        subscriptions_.push_back(item->refreshed.subscribe([this] { lines_.push_back("status"); }));
    }
    subscriptions_.push_back(services.triggerEngine().sessionEndReported.subscribe(
        [this](const std::optional<UUID>& owner, const bool& manual) {
            lines_.push_back(std::string("triggers ") + (owner ? "owned" : "unowned") +
                             (manual ? " manual" : " natural"));
        }));
    subscriptions_.push_back(services.powerCenter().noticeRefreshed.subscribe(
        [this] { lines_.push_back("power notice"); }));
}

std::vector<std::string> SessionJournal::take() {
    return std::exchange(lines_, {});
}

}  // namespace orvel::test
