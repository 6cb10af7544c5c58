#include "platform/linux/LinuxPowerAssertions.h"

#include <algorithm>

#include "foundation/RunLoop.h"

namespace orvel {

namespace {

constexpr const char* kWho = "Orvel";

enum Service { kLogind, kScreenSaver, kGnomeSession, kServiceCount };

struct ServiceInfo {
    DBusConnection::Bus bus;
    DBusObject object;
    const char* releaseMember;  // cookie services only
};

// The protocol: who offers which inhibitor, and how it is handed back.
const ServiceInfo kServices[kServiceCount] = {
    {DBusConnection::Bus::system,
     {"org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager"},
     nullptr},
    {DBusConnection::Bus::session,
     {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
     "UnInhibit"},
    {DBusConnection::Bus::session,
     {"org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager"},
     "Uninhibit"},
};
constexpr const char* kInhibit = "Inhibit";
constexpr const char* kSimulateUserActivity = "SimulateUserActivity";

// GNOME session manager inhibit flags.
constexpr std::uint32_t kGnomeSuspend = 4;
constexpr std::uint32_t kGnomeIdle = 8;

enum class Lock { logindIdle, logindSleep, screenSaver, gnomeIdle, gnomeSuspendAndIdle };

Service serviceOf(Lock lock) {
    switch (lock) {
        case Lock::logindIdle:
        case Lock::logindSleep:
            return kLogind;
        case Lock::screenSaver:
            return kScreenSaver;
        case Lock::gnomeIdle:
        case Lock::gnomeSuspendAndIdle:
            return kGnomeSession;
    }
    return kLogind;
}

struct Part {
    Lock lock;
    bool sufficient;  // keeps the machine awake for this type by itself
};

struct TypeInfo {
    std::string_view type;
    const char* purpose;  // completes "<name> session …"
    std::vector<Part> parts;
};

const std::vector<TypeInfo>& typeTable() {
    static const std::vector<TypeInfo> table = {
        {assertion_type::kPreventUserIdleDisplaySleep,
         "keeps the display awake",
         {{Lock::screenSaver, true}, {Lock::gnomeIdle, true}, {Lock::logindIdle, false}}},
        {assertion_type::kPreventUserIdleSystemSleep,
         "keeps the system from idle sleep",
         {{Lock::logindIdle, true}, {Lock::gnomeSuspendAndIdle, true}}},
        {assertion_type::kPreventSystemSleep,
         "keeps the system from sleeping",
         {{Lock::logindSleep, true}}},
        // No Linux service keeps disks spinning; the assertion is only recorded.
        {assertion_type::kPreventDiskIdle, "keeps the disks spinning", {}},
    };
    return table;
}

const TypeInfo* findType(std::string_view type) {
    for (const auto& info : typeTable()) {
        if (info.type == type) {
            return &info;
        }
    }
    return nullptr;
}

IOReturn codeForError(const std::string& name) {
    static const std::map<std::string, IOReturn, std::less<>> codes = {
        {"org.freedesktop.DBus.Error.AccessDenied", kIOReturnNotPermitted},
        {"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired", kIOReturnNotPermitted},
        {"org.freedesktop.DBus.Error.ServiceUnknown", kIOReturnUnsupported},
        {"org.freedesktop.DBus.Error.NameHasNoOwner", kIOReturnUnsupported},
        {"org.freedesktop.DBus.Error.UnknownMethod", kIOReturnUnsupported},
        {"org.freedesktop.DBus.Error.UnknownObject", kIOReturnUnsupported},
        {"org.freedesktop.DBus.Error.UnknownInterface", kIOReturnUnsupported},
        {"org.freedesktop.DBus.Error.NoReply", kIOReturnNotReady},
        {"org.freedesktop.DBus.Error.Timeout", kIOReturnNotReady},
        {"org.freedesktop.DBus.Error.Disconnected", kIOReturnNotReady},
    };
    const auto it = codes.find(name);
    return it != codes.end() ? it->second : kIOReturnError;
}

}  // namespace

struct LinuxPowerAssertions::Hold {
    Lock lock = Lock::logindIdle;
    bool sufficient = false;
    DBusSlot pending;  // the request, until its reply
    Inhibitor inhibitor;
    bool refused = false;

    bool isPending() const { return pending.isActive(); }
};

struct LinuxPowerAssertions::Assertion {
    AssertionID id = 0;
    std::string type;
    std::string reason;
    std::vector<std::unique_ptr<Hold>> holds;
    bool released = false;
    bool refusalReported = false;
};

LinuxPowerAssertions::LinuxPowerAssertions(std::shared_ptr<DBusConnection> systemBus,
                                           std::shared_ptr<DBusConnection> sessionBus)
    : system_(std::move(systemBus)), session_(std::move(sessionBus)) {
    for (const auto& service : kServices) {
        auto& bus = service.bus == DBusConnection::Bus::system ? system_ : session_;
        services_.push_back(bus ? bus->watchName(service.object.service) : nullptr);
    }
}

LinuxPowerAssertions::~LinuxPowerAssertions() {
    live_.clear();
    draining_.clear();
    // The hand-backs just queued reach the services even if the process ends next.
    for (const auto& bus : {system_, session_}) {
        if (bus) {
            bus->flush();
        }
    }
}

BusNameState LinuxPowerAssertions::stateOf(int service) const {
    const auto& name = services_[static_cast<std::size_t>(service)];
    return name ? name->state() : BusNameState::absent;
}

bool LinuxPowerAssertions::present(int service) const {
    return stateOf(service) == BusNameState::present;
}

AssertionCreation LinuxPowerAssertions::createWithName(std::string_view type, std::uint32_t,
                                                       std::string_view name) {
    const TypeInfo* info = findType(type);
    if (info == nullptr) {
        log_.error("Unknown power assertion type " + std::string(type) + ".");
        return {kIOReturnBadArgument, 0};
    }
    auto assertion = std::make_unique<Assertion>();
    assertion->type = std::string(type);
    assertion->reason = std::string(name) + " session " + info->purpose;

    bool anyPresent = false;
    bool anyUnknown = false;
    for (const Part& part : info->parts) {
        if (!part.sufficient) {
            continue;
        }
        const BusNameState state = stateOf(serviceOf(part.lock));
        anyPresent = anyPresent || state == BusNameState::present;
        anyUnknown = anyUnknown || state == BusNameState::unknown;
    }
    if (!info->parts.empty() && !anyPresent) {
        log_.error("Cannot take " + std::string(type) + ": " +
                   (anyUnknown ? "its services have not answered yet."
                               : "no service for it is available on this system."));
        return {anyUnknown ? kIOReturnNotReady : kIOReturnUnsupported, 0};
    }

    assertion->id = nextID_++;
    for (const Part& part : info->parts) {
        if (present(serviceOf(part.lock))) {
            auto hold = std::make_unique<Hold>();
            hold->lock = part.lock;
            hold->sufficient = part.sufficient;
            assertion->holds.push_back(std::move(hold));
            request(*assertion, *assertion->holds.back());
        }
    }
    const bool anySent = std::any_of(assertion->holds.begin(), assertion->holds.end(),
                                     [](const auto& h) { return h->sufficient && h->isPending(); });
    if (!info->parts.empty() && !anySent) {
        assertion->released = true;
        draining_.push_back(std::move(assertion));
        dropIfDone(*draining_.back());
        return {kIOReturnError, 0};
    }
    const AssertionID id = assertion->id;
    live_.emplace(id, std::move(assertion));
    return {kIOReturnSuccess, id};
}

void LinuxPowerAssertions::request(Assertion& assertion, Hold& hold) {
    const Service service = serviceOf(hold.lock);
    const ServiceInfo& info = kServices[service];
    auto& bus = info.bus == DBusConnection::Bus::system ? system_ : session_;
    const std::string& reason = assertion.reason;
    DBusConnection::Append append;
    switch (hold.lock) {
        case Lock::logindIdle:
        case Lock::logindSleep: {
            const char* what = hold.lock == Lock::logindIdle ? "idle" : "sleep";
            append = [what, &reason](sd_bus_message* m) {
                return sd_bus_message_append(m, "ssss", what, kWho, reason.c_str(), "block");
            };
            break;
        }
        case Lock::screenSaver:
            append = [&reason](sd_bus_message* m) {
                return sd_bus_message_append(m, "ss", kWho, reason.c_str());
            };
            break;
        case Lock::gnomeIdle:
        case Lock::gnomeSuspendAndIdle: {
            const std::uint32_t flags =
                hold.lock == Lock::gnomeIdle ? kGnomeIdle : kGnomeSuspend | kGnomeIdle;
            append = [flags, &reason](sd_bus_message* m) {
                return sd_bus_message_append(m, "susu", kWho, 0u, reason.c_str(), flags);
            };
            break;
        }
    }
    // Both live in an Assertion this backend owns, and the slot dies with them.
    Assertion* a = &assertion;
    Hold* h = &hold;
    auto sent = bus->call(info.object, kInhibit, append,
                          [this, a, h](sd_bus_message* reply) { answered(*a, *h, reply); });
    if (sent) {
        hold.pending = std::move(sent.value());
    } else {
        hold.refused = true;
        log_.error(sent.error().message);
    }
}

void LinuxPowerAssertions::answered(Assertion& assertion, Hold& hold, sd_bus_message* reply) {
    hold.pending.reset();
    const Service service = serviceOf(hold.lock);
    Inhibitor granted;
    std::optional<std::string> error;
    if (service == kLogind) {
        auto lock = Inhibitor::lockFromReply(reply);
        if (lock) {
            granted = Inhibitor(std::move(lock.value()));
        } else {
            error = lock.error().message;
        }
    } else {
        auto cookie = Inhibitor::cookieFromReply(reply);
        if (cookie) {
            const ServiceInfo& info = kServices[service];
            granted = Inhibitor(session_, info.object, info.releaseMember, cookie.value());
        } else {
            error = cookie.error().message;
        }
    }
    if (assertion.released) {
        granted.reset();        // released meanwhile: hand it back at once
        dropIfDone(assertion);  // may destroy the assertion and this hold
        return;
    }
    if (error) {
        hold.refused = true;
        log_.error(std::string(kServices[service].object.service) + " refused " + assertion.type +
                   ": " + *error);
        reportIfEmpty(assertion, codeForError(DBusConnection::errorName(reply)));
        return;
    }
    hold.inhibitor = std::move(granted);
}

void LinuxPowerAssertions::reportIfEmpty(Assertion& assertion, IOReturn code) {
    const bool keepsAwake = std::any_of(
        assertion.holds.begin(), assertion.holds.end(),
        [](const auto& h) { return h->sufficient && (h->isPending() || h->inhibitor.isHeld()); });
    if (keepsAwake || assertion.refusalReported) {
        return;
    }
    assertion.refusalReported = true;
    // Sent from the loop, not from inside the bus's dispatch: subscribers may release at once.
    std::weak_ptr<int> alive = alive_;
    const AssertionID id = assertion.id;
    RunLoop::main().async([this, alive, id, code] {
        if (alive.lock() && live_.count(id) > 0) {
            assertionRefused.send(id, code);
        }
    });
}

void LinuxPowerAssertions::dropIfDone(Assertion& assertion) {
    const bool waiting = std::any_of(assertion.holds.begin(), assertion.holds.end(),
                                     [](const auto& h) { return h->isPending(); });
    if (!waiting) {
        std::erase_if(draining_, [&](const auto& a) { return a.get() == &assertion; });
    }
}

IOReturn LinuxPowerAssertions::release(AssertionID id) {
    auto it = live_.find(id);
    if (it == live_.end()) {
        return kIOReturnNotFound;
    }
    std::unique_ptr<Assertion> assertion = std::move(it->second);
    live_.erase(it);
    assertion->released = true;
    bool waiting = false;
    for (auto& hold : assertion->holds) {
        hold->inhibitor.reset();
        waiting = waiting || hold->isPending();
    }
    if (waiting) {
        draining_.push_back(std::move(assertion));
    }
    return kIOReturnSuccess;
}

IOReturn LinuxPowerAssertions::declareUserActivity(std::string_view, int, AssertionID& id) {
    switch (stateOf(kScreenSaver)) {
        case BusNameState::unknown:
            return kIOReturnNotReady;
        case BusNameState::absent:
            return kIOReturnUnsupported;
        case BusNameState::present:
            break;
    }
    auto sent = session_->send(kServices[kScreenSaver].object, kSimulateUserActivity, nullptr);
    if (!sent) {
        log_.error(sent.error().message);
        return kIOReturnError;
    }
    if (id == 0) {
        id = nextID_++;
    }
    return kIOReturnSuccess;
}

std::optional<std::map<std::string, std::int64_t>> LinuxPowerAssertions::status() {
    std::map<std::string, std::int64_t> counts;
    for (const auto& [_, assertion] : live_) {
        if (!assertion->refusalReported) {
            ++counts[assertion->type];
        }
    }
    return counts;
}

std::size_t LinuxPowerAssertions::pendingReplies() const {
    std::size_t count = 0;
    auto add = [&](const Assertion& a) {
        count += static_cast<std::size_t>(std::count_if(
            a.holds.begin(), a.holds.end(), [](const auto& h) { return h->isPending(); }));
    };
    for (const auto& [_, a] : live_) {
        add(*a);
    }
    for (const auto& a : draining_) {
        add(*a);
    }
    return count;
}

}  // namespace orvel
