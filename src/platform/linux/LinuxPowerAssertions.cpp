#include "platform/linux/LinuxPowerAssertions.h"

#include "foundation/Localization.h"
#include "foundation/RunLoop.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace orvel {

namespace {

constexpr const char* kWho = "Orvel";

enum Service { kLogind, kScreenSaver, kGnomeSession, kServiceCount };

struct ServiceInfo {
    DBusConnection::Bus bus;
    DBusObject object;
    const char* releaseMember;  // cookie services only
    const char* spoken;         // the service in words
};

// The protocol: who offers which inhibitor, and how it is handed back.
const ServiceInfo kServices[kServiceCount] = {
    {DBusConnection::Bus::system,
     {"org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager"},
     nullptr,
     "logind"},
    {DBusConnection::Bus::session,
     {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
     "UnInhibit",
     textKey("the screen saver")},
    {DBusConnection::Bus::session,
     {"org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager"},
     "Uninhibit",
     textKey("GNOME's session manager")},
};
constexpr const char* kInhibit = "Inhibit";
constexpr const char* kSimulateUserActivity = "SimulateUserActivity";
constexpr const char* kListInhibitors = "ListInhibitors";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kPropertiesChanged = "PropertiesChanged";
constexpr std::string_view kBlockInhibited = "BlockInhibited";

// What another process's blocking logind lock keeps awake, by the kinds it lists.
const std::pair<std::string_view, std::string_view> kLockKinds[] = {
    {"sleep", assertion_type::kPreventSystemSleep},
    {"idle", assertion_type::kPreventUserIdleSystemSleep},
};

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

enum class Role {
    sufficient,  // keeps the machine awake for this type by itself
    // Sufficient only on a desktop that offers none of the sufficient ones: the lesser hold it
    // honours is better than none.
    fallback,
};

struct Part {
    Lock lock;
    Role role;
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
         // wlroots compositors and bare X sessions offer no screen-saver inhibit, but their idle
         // daemons (swayidle, xss-lock, xidlehook) read logind's idle lock.
         {{Lock::screenSaver, Role::sufficient},
          {Lock::gnomeIdle, Role::sufficient},
          {Lock::logindIdle, Role::fallback}}},
        {assertion_type::kPreventUserIdleSystemSleep,
         "keeps the system from idle sleep",
         {{Lock::logindIdle, Role::sufficient}, {Lock::gnomeSuspendAndIdle, Role::sufficient}}},
        {assertion_type::kPreventSystemSleep,
         "keeps the system from sleeping",
         {{Lock::logindSleep, Role::sufficient}}},
        // No Linux service keeps disks spinning: the disk keeper's reads do, without a lock.
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

bool isBlocking(std::string_view mode) {
    return mode == "block" || mode == "block-weak";
}

// Whether a colon-separated list of kinds ("sleep:idle") holds `kind`.
bool listsKind(std::string_view what, std::string_view kind) {
    while (!what.empty()) {
        const std::size_t colon = what.find(':');
        if (what.substr(0, colon) == kind) {
            return true;
        }
        what = colon == std::string_view::npos ? std::string_view() : what.substr(colon + 1);
    }
    return false;
}

// Other processes' blocking locks per type, from a ListInhibitors reply; nothing when it does
// not read.
std::optional<std::map<std::string, std::int64_t>> othersFromListing(sd_bus_message* reply,
                                                                     std::uint32_t self) {
    if (sd_bus_message_enter_container(reply, 'a', "(ssssuu)") < 0) {
        return std::nullopt;
    }
    std::map<std::string, std::int64_t> counts;
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    std::uint32_t uid = 0, pid = 0;
    int r = 0;
    while ((r = sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid)) > 0) {
        if (pid == self || !isBlocking(mode)) {
            continue;
        }
        for (const auto& [kind, type] : kLockKinds) {
            if (listsKind(what, kind)) {
                ++counts[std::string(type)];
            }
        }
    }
    if (r < 0) {
        return std::nullopt;
    }
    return counts;
}

// Whether logind's PropertiesChanged names BlockInhibited, changed or invalidated.
bool mentionsBlockInhibited(sd_bus_message* m, const char* managerInterface) {
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0 ||
        std::string_view(interface) != managerInterface ||
        sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
        return false;
    }
    bool mentioned = false;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) >= 0 && key == kBlockInhibited) {
            mentioned = true;
        }
        sd_bus_message_skip(m, "v");
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    char** invalidated = nullptr;
    if (sd_bus_message_read_strv(m, &invalidated) >= 0 && invalidated != nullptr) {
        for (char** name = invalidated; *name != nullptr; ++name) {
            mentioned = mentioned || *name == kBlockInhibited;
            std::free(*name);
        }
        std::free(invalidated);
    }
    return mentioned;
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
    // Asked for or granted, as far as this process knows.
    bool isActive() const { return isPending() || inhibitor.isHeld(); }
};

struct LinuxPowerAssertions::Assertion {
    AssertionID id = 0;
    std::string type;
    std::string reason;
    std::vector<std::unique_ptr<Hold>> holds;
    bool released = false;
    bool refusalReported = false;

    // Something keeps the machine awake for it, or nothing ever could (disk idle).
    bool keepsAwake() const {
        return holds.empty() || std::any_of(holds.begin(), holds.end(), [](const auto& h) {
                   return h->sufficient && h->isActive();
               });
    }
};

LinuxPowerAssertions::LinuxPowerAssertions(std::shared_ptr<DBusConnection> systemBus,
                                           std::shared_ptr<DBusConnection> sessionBus,
                                           std::unique_ptr<DiskSpinKeeper> disks)
    : system_(std::move(systemBus)),
      session_(std::move(sessionBus)),
      disks_(std::move(disks)),
      pid_(static_cast<std::uint32_t>(::getpid())) {
    if (disks_) {
        // The keeper lives as long as this object, so its handler never outlives it.
        disks_->setUnkeptHandler([this] { shortfallChanged.send(); });
    }
    for (int service = 0; service < kServiceCount; ++service) {
        const ServiceInfo& info = kServices[service];
        auto& bus = info.bus == DBusConnection::Bus::system ? system_ : session_;
        auto name = bus ? bus->watchName(info.object.service) : nullptr;
        owners_.push_back(name ? name->owner() : std::string());
        stopped_.push_back(false);
        if (name) {
            ownerWatches_.push_back(name->ownerChanged.subscribe(
                [this, service](const std::string&) { ownerChanged(service); }));
            // Sent from the loop, once the owner's change has been followed too.
            ownerWatches_.push_back(name->changed.subscribe([this](BusNameState) {
                RunLoop::main().async([this, alive = weakRef(*this)] {
                    if (alive) {
                        shortfallChanged.send();
                    }
                });
            }));
        }
        services_.push_back(std::move(name));
    }
    if (const auto& logind = services_[kLogind]) {
        logindPresence_ = logind->changed.subscribe([this](BusNameState) { followLogind(); });
        followLogind();
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

bool LinuxPowerAssertions::onlyFallbackOffered(std::string_view type) const {
    const TypeInfo* info = findType(type);
    if (info == nullptr) {
        return false;
    }
    bool anyFallback = false;
    for (const Part& part : info->parts) {
        const Service service = serviceOf(part.lock);
        if (part.role == Role::fallback) {
            anyFallback = true;
        } else if (stateOf(service) != BusNameState::absent || stopped_[service]) {
            return false;
        }
    }
    return anyFallback;
}

std::vector<std::string> LinuxPowerAssertions::unkeptDisks() const {
    return disks_ ? disks_->unkeptDisks() : std::vector<std::string>{};
}

std::optional<std::string> LinuxPowerAssertions::shortfall(std::string_view type) const {
    if (!onlyFallbackOffered(type)) {
        return std::nullopt;
    }
    switch (stateOf(kLogind)) {
        case BusNameState::unknown:
            return std::nullopt;
        case BusNameState::present:
            break;
        case BusNameState::absent:
            if (!stopped_[kLogind]) {
                return localized(
                    "Cannot be held here: this desktop offers no screen-saver inhibit and "
                    "logind is not running.");
            }
            break;
    }
    return localized(
        "This desktop offers no screen-saver inhibit: held through logind's idle lock only, "
        "which swayidle and other idle daemons honour.");
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

    const bool lesser = onlyFallbackOffered(type);
    const auto counts = [lesser](const Part& part) {
        return part.role == Role::sufficient || lesser;
    };
    bool anyPresent = false;
    bool anyUnknown = false;
    // A service that stopped is on this system and expected back: the assertion waits for it.
    bool anyStopped = false;
    for (const Part& part : info->parts) {
        if (!counts(part)) {
            continue;
        }
        const Service service = serviceOf(part.lock);
        const BusNameState state = stateOf(service);
        anyPresent = anyPresent || state == BusNameState::present;
        anyUnknown = anyUnknown || state == BusNameState::unknown;
        anyStopped = anyStopped || stopped_[service];
    }
    if (!info->parts.empty() && !anyPresent && !anyStopped) {
        log_.error("Cannot take " + std::string(type) + ": " +
                   (anyUnknown ? "its services have not answered yet."
                               : "no service for it is available on this system."));
        return {anyUnknown ? kIOReturnNotReady : kIOReturnUnsupported, 0};
    }

    assertion->id = nextID_++;
    // A service that is not there now is asked when it comes.
    for (const Part& part : info->parts) {
        auto hold = std::make_unique<Hold>();
        hold->lock = part.lock;
        hold->sufficient = counts(part);
        assertion->holds.push_back(std::move(hold));
        if (present(serviceOf(part.lock))) {
            request(*assertion, *assertion->holds.back());
        }
    }
    const bool anySent = std::any_of(assertion->holds.begin(), assertion->holds.end(),
                                     [](const auto& h) { return h->sufficient && h->isPending(); });
    if (!info->parts.empty() && !anySent && !anyStopped) {
        assertion->released = true;
        draining_.push_back(std::move(assertion));
        dropIfDone(*draining_.back());
        return {kIOReturnError, 0};
    }
    if (!anySent && anyStopped) {
        log_.notice(std::string(type) + " waits for its service to return.");
    }
    if (lesser) {
        log_.notice(std::string(type) + " is held through logind's idle lock only: " +
                    "this desktop offers no screen-saver inhibit.");
    }
    const AssertionID id = assertion->id;
    if (disks_ && type == assertion_type::kPreventDiskIdle) {
        disks_->hold();
    }
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
    if (assertion.keepsAwake() || assertion.refusalReported) {
        return;
    }
    assertion.refusalReported = true;
    // Sent from the loop, not from inside the bus's dispatch: subscribers may release at once.
    const auto alive = weakRef(*this);
    const AssertionID id = assertion.id;
    RunLoop::main().async([this, alive, id, code] {
        if (alive && live_.count(id) > 0) {
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
    if (disks_ && assertion->type == assertion_type::kPreventDiskIdle) {
        disks_->release();
    }
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
    auto counts = ownStatus();
    switch (stateOf(kLogind)) {
        case BusNameState::absent:
            return counts;  // no process holds a logind lock, and nothing else can be listed
        case BusNameState::unknown:
            return std::nullopt;
        case BusNameState::present:
            break;
    }
    if (!others_) {
        return std::nullopt;
    }
    for (const auto& [type, holders] : *others_) {
        counts[type] += holders;
    }
    return counts;
}

std::map<std::string, std::int64_t> LinuxPowerAssertions::ownStatus() const {
    std::map<std::string, std::int64_t> counts;
    for (const auto& [_, assertion] : live_) {
        if (!assertion->refusalReported && assertion->keepsAwake()) {
            ++counts[assertion->type];
        }
    }
    return counts;
}

std::vector<std::string> LinuxPowerAssertions::stoppedServices(std::string_view type) const {
    std::vector<std::string> names;
    if (const TypeInfo* info = findType(type)) {
        for (const Part& part : info->parts) {
            const Service service = serviceOf(part.lock);
            const std::string spoken = localized(kServices[service].spoken);
            if (stopped_[service] && std::find(names.begin(), names.end(), spoken) == names.end()) {
                names.push_back(spoken);
            }
        }
    }
    return names;
}

// The locks a service held, or was asked for, end with the connection that owned its name: they
// are dropped here and asked of the next owner, so a restarted service holds them again.
void LinuxPowerAssertions::ownerChanged(int service) {
    const auto index = static_cast<std::size_t>(service);
    const std::string owner = services_[index]->owner();
    const std::string previous = std::exchange(owners_[index], owner);
    const char* busName = kServices[service].object.service;
    std::size_t lost = 0;
    if (!previous.empty()) {
        auto drop = [service](Assertion& a) {
            std::size_t count = 0;
            for (auto& hold : a.holds) {
                if (serviceOf(hold->lock) == service && hold->isActive()) {
                    hold->pending.reset();
                    hold->inhibitor.forget();
                    ++count;
                }
            }
            return count;
        };
        for (auto& [_, assertion] : live_) {
            lost += drop(*assertion);
        }
        for (auto& assertion : draining_) {
            drop(*assertion);
        }
        std::erase_if(draining_, [](const auto& a) {
            return std::none_of(a->holds.begin(), a->holds.end(),
                                [](const auto& h) { return h->isPending(); });
        });
    }
    const bool wasStopped = stopped_[index];
    if (owner.empty()) {
        stopped_[index] = !previous.empty() || wasStopped;
        if (lost > 0) {
            log_.notice(std::string(busName) + " stopped; " + std::to_string(lost) +
                        " of Orvel's locks are gone until it returns.");
        }
    } else {
        stopped_[index] = false;
        std::size_t asked = 0;
        for (auto& [_, assertion] : live_) {
            if (assertion->refusalReported) {
                continue;
            }
            bool unsent = false;
            for (auto& hold : assertion->holds) {
                if (serviceOf(hold->lock) == service && !hold->isActive() && !hold->refused) {
                    request(*assertion, *hold);
                    unsent = unsent || hold->refused;
                    ++asked;
                }
            }
            if (unsent) {
                reportIfEmpty(*assertion, kIOReturnError);
            }
        }
        if (asked > 0) {
            log_.notice(std::string(busName) + " returned; " + std::to_string(asked) +
                        " of Orvel's locks were asked for again.");
        }
    }
    if (service == kLogind) {
        // Other programs' locks ended with the old logind, and its answers with it.
        if (!previous.empty()) {
            listing_.reset();
            relist_ = false;
            others_.reset();
        }
        if (!owner.empty() && inhibitorChanges_.isActive() && !listing_.isActive()) {
            listInhibitors();
        }
    }
    if (wasStopped != stopped_[index]) {
        const auto alive = weakRef(*this);
        RunLoop::main().async([this, alive] {
            if (alive) {
                servicesChanged.send();
            }
        });
    }
}

void LinuxPowerAssertions::followLogind() {
    if (!present(kLogind)) {
        inhibitorChanges_.reset();
        listing_.reset();
        relist_ = false;
        others_.reset();
        return;
    }
    if (inhibitorChanges_.isActive()) {
        return;
    }
    // The match goes out before the listing, so every change after the listing is announced.
    const DBusObject& logind = kServices[kLogind].object;
    auto changes =
        system_->matchSignal(logind.service, logind.path, kProperties, kPropertiesChanged,
                             [this, interface = logind.interface](sd_bus_message* m) {
                                 if (mentionsBlockInhibited(m, interface)) {
                                     listInhibitors();
                                 }
                             });
    if (changes) {
        inhibitorChanges_ = std::move(changes.value());
    } else {
        log_.error(changes.error().message);
    }
    listInhibitors();
}

void LinuxPowerAssertions::listInhibitors() {
    if (listing_.isActive()) {
        relist_ = true;  // this one may have been answered before the change
        return;
    }
    auto sent = system_->call(kServices[kLogind].object, kListInhibitors, nullptr,
                              [this](sd_bus_message* reply) { listed(reply); });
    if (!sent) {
        log_.error("Cannot tell who keeps the system awake: " + sent.error().message);
        others_.reset();
        return;
    }
    listing_ = std::move(sent.value());
}

void LinuxPowerAssertions::listed(sd_bus_message* reply) {
    listing_.reset();
    if (auto error = DBusConnection::errorOf(reply)) {
        // A connection that ends fails its calls; that line is logged already.
        if (sd_bus_is_open(sd_bus_message_get_bus(reply)) > 0) {
            log_.error("logind would not list who keeps the system awake: " + *error);
        }
        others_.reset();
    } else if (auto others = othersFromListing(reply, pid_)) {
        others_ = std::move(others);
    } else {
        log_.error("logind's list of who keeps the system awake could not be read.");
        others_.reset();
    }
    if (std::exchange(relist_, false)) {
        listInhibitors();
    }
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
