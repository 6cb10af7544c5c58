#include "platform/linux/LinuxNotifications.h"

#include <list>
#include <map>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace orvel {

namespace {

const DBusObject kNotifications{"org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                "org.freedesktop.Notifications"};
constexpr const char* kNotify = "Notify";
constexpr const char* kAppName = "Orvel";
constexpr std::int32_t kDefaultExpiry = -1;

}  // namespace

// Main-thread state; add() reaches it from other threads only through the loop, holding it
// weakly.
struct LinuxNotifications::State {
    std::shared_ptr<DBusConnection> bus;
    std::shared_ptr<BusName> service;
    Subscription serviceWatch;
    std::vector<std::function<void(bool)>> waiting;  // completions until the answer is known
    std::vector<NotificationRequest> queued;         // requests until the answer is known
    std::map<std::string, std::uint32_t> shown;      // identifier → the server's id
    std::list<DBusSlot> posting;
    bool unavailableReported = false;
    Logger log{"notifications"};

    bool available() const { return service && service->isPresent(); }

    void reportUnavailable() {
        if (!unavailableReported) {
            unavailableReported = true;
            log.notice(
                "Notifications are not available on this system (no notification service "
                "on the session bus).");
        }
    }

    void answerWaiting() {
        if (service && service->state() == BusNameState::unknown) {
            return;
        }
        const bool granted = available();
        if (!granted && !waiting.empty()) {
            reportUnavailable();
        }
        for (auto& completion : std::exchange(waiting, {})) {
            RunLoop::main().async([completion, granted] { completion(granted); });
        }
        for (const auto& request : std::exchange(queued, {})) {
            post(request);
        }
    }

    void post(const NotificationRequest& request) {
        if (service && service->state() == BusNameState::unknown) {
            queued.push_back(request);
            return;
        }
        if (!available()) {
            reportUnavailable();
            return;
        }
        const auto previous = shown.find(request.identifier);
        const std::uint32_t replaces = previous != shown.end() ? previous->second : 0;
        posting.emplace_back();
        auto slot = std::prev(posting.end());
        const std::string identifier = request.identifier;
        auto sent = bus->call(
            kNotifications, kNotify,
            [&](sd_bus_message* m) {
                return sd_bus_message_append(m, "susssasa{sv}i", kAppName, replaces, "",
                                             request.title.c_str(), request.body.c_str(), 0, 0,
                                             kDefaultExpiry);
            },
            [this, slot, identifier](sd_bus_message* reply) {
                std::uint32_t id = 0;
                if (auto error = DBusConnection::errorOf(reply)) {
                    log.error("The notification was not shown: " + *error);
                } else if (sd_bus_message_read(reply, "u", &id) > 0 && !identifier.empty()) {
                    shown[identifier] = id;
                }
                posting.erase(slot);
            });
        if (sent) {
            *slot = std::move(sent.value());
        } else {
            posting.erase(slot);
            log.error(sent.error().message);
        }
    }
};

LinuxNotifications::LinuxNotifications(std::shared_ptr<DBusConnection> sessionBus)
    : state_(std::make_shared<State>()) {
    state_->bus = std::move(sessionBus);
    if (state_->bus) {
        state_->service = state_->bus->watchName(kNotifications.service);
        State* state = state_.get();
        state_->serviceWatch =
            state_->service->changed.subscribe([state](BusNameState) { state->answerWaiting(); });
    }
}

LinuxNotifications::~LinuxNotifications() = default;

void LinuxNotifications::requestAuthorization(unsigned,
                                              std::function<void(bool granted)> completion) {
    if (!completion) {
        return;
    }
    state_->waiting.push_back(std::move(completion));
    state_->answerWaiting();
}

void LinuxNotifications::authorizationStatus(
    std::function<void(NotificationAuthorization)> completion) {
    if (!completion) {
        return;
    }
    state_->waiting.push_back([completion = std::move(completion)](bool granted) {
        completion(granted ? NotificationAuthorization::authorized
                           : NotificationAuthorization::unknown);
    });
    state_->answerWaiting();
}

void LinuxNotifications::add(const NotificationRequest& request) {
    std::weak_ptr<State> weak = state_;
    RunLoop::main().async([weak, request] {
        if (auto state = weak.lock()) {
            state->post(request);
        }
    });
}

}  // namespace orvel
