#include "triggers/WakeHelperClient.h"

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/HelperConnection.h"
#include "platform/HelperService.h"

namespace orvel {

namespace {

const Logger& log() {
    static const Logger logger("helper");
    return logger;
}

WakeHelperClient::State stateFor(int status) {
    switch (status) {
        case helper_service_status::kEnabled:
            return WakeHelperClient::State::active;
        case helper_service_status::kRequiresApproval:
            return WakeHelperClient::State::requiresApproval;
        case helper_service_status::kNotFound:
            return WakeHelperClient::State::missingFromBundle;
        default:
            return WakeHelperClient::State::notInstalled;
    }
}

}  // namespace

WakeHelperClient::WakeHelperClient(HelperService& service, HelperConnection& connection)
    : service_(service), connection_(connection) {
    refresh();
}

WakeHelperClient::~WakeHelperClient() = default;

void WakeHelperClient::refresh() {
    const State now = stateFor(service_.status());
    if (now != state()) {
        state = now;
    }
}

void WakeHelperClient::install() {
    clearLastError();
    service_.registerService([weak = weakRef(*this)](Result<void> result) {
        WakeHelperClient* self = weak.get();
        if (self == nullptr) {
            return;
        }
        self->registrationAnswered(result);
        if (self->state() == State::requiresApproval) {
            log().notice("the wake helper awaits an administrator's approval");
        }
        if (self->state() == State::active) {
            self->sync(self->lastSynced);
        }
    });
}

void WakeHelperClient::uninstall() {
    clearLastError();
    refresh();
    if (state() == State::active) {
        // The wakes asked for so far are cleared before the helper goes.
        send({}, [this] { unregister(); });
    } else {
        unregister();
    }
}

void WakeHelperClient::unregister() {
    service_.unregisterService([weak = weakRef(*this)](Result<void> result) {
        if (WakeHelperClient* self = weak.get()) {
            self->registrationAnswered(result);
        }
    });
}

void WakeHelperClient::registrationAnswered(const Result<void>& result) {
    if (!result.ok()) {
        setLastError([message = result.error().message] { return message; });
    }
    refresh();
}

void WakeHelperClient::sync(const std::vector<Date>& dates) {
    send(dates, nullptr);
}

void WakeHelperClient::send(const std::vector<Date>& dates, std::function<void()> then) {
    const int id = nextRequest_++;
    if (then) {
        continuations_.emplace(id, std::move(then));
    }
    auto request = connection_.send(dates, [weak = weakRef(*this), id](Result<std::int32_t> reply) {
        if (WakeHelperClient* self = weak.get()) {
            self->received(id, reply);
        }
    });
    inFlight_.emplace(id, std::move(request));
}

void WakeHelperClient::received(int request, const Result<std::int32_t>& reply) {
    inFlight_.erase(request);
    if (!reply.ok()) {
        recordUnreachable(reply.error().message);
    } else if (reply.value() != 0) {
        const std::int64_t code = reply.value();
        setLastError([code] {
            return localizedFormat("helper could not schedule a wake (code %lld)", {code});
        });
        log().error(lastErrorInEnglish_.value_or(""));
    }
    if (auto continuation = continuations_.extract(request)) {
        continuation.mapped()();
    }
}

void WakeHelperClient::recordUnreachable(const std::string& description) {
    setLastError(
        [&description] { return localizedFormat("helper unreachable: %@", {description}); });
}

void WakeHelperClient::setLastError(const std::function<std::string()>& words) {
    lastErrorInEnglish_ = inEnglish(words);
    lastError = words();
}

void WakeHelperClient::clearLastError() {
    lastErrorInEnglish_.reset();
    lastError = std::nullopt;
}

std::string WakeHelperClient::statusLine() const {
    std::string line = "wake helper: " + label(state());
    if (lastErrorInEnglish_) {
        line += " \u00B7 last error: " + *lastErrorInEnglish_;
    }
    line += " \u00B7 next wakes queued: " + std::to_string(lastSynced.size());
    return line;
}

}  // namespace orvel
