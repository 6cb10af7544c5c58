#include "platform/linux/DBusConnection.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvel {

namespace {

const DBusObject kBusDaemon{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus"};

struct HandlerBox {
    DBusConnection::MessageHandler handler;
    std::string watched;  // a match's signals, in words
};

int dispatch(sd_bus_message* message, void* userdata, sd_bus_error*) {
    // A copy: the handler may end its own registration, which frees the box.
    auto handler = static_cast<HandlerBox*>(userdata)->handler;
    if (handler) {
        handler(message);
    }
    return 0;  // other matches see the message too
}

// A connection that ends fails every call still waiting; that says nothing new.
bool connectionEnded(sd_bus_message* reply) {
    return sd_bus_is_open(sd_bus_message_get_bus(reply)) <= 0;
}

// Without this, sd-bus answers a match the bus refuses by closing the whole connection.
int matchInstalled(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    const auto* box = static_cast<HandlerBox*>(userdata);
    const auto error = DBusConnection::errorOf(reply);
    if (error && !connectionEnded(reply)) {
        Logger("dbus").error("The bus refused to pass on " + box->watched + ": " + *error);
    }
    return 0;
}

void destroyBox(void* userdata) {
    delete static_cast<HandlerBox*>(userdata);
}

// Hands the box to the slot, which frees it when the slot goes.
DBusSlot adopt(sd_bus_slot* slot, HandlerBox* box) {
    sd_bus_slot_set_userdata(slot, box);
    sd_bus_slot_set_destroy_callback(slot, destroyBox);
    return DBusSlot(slot);
}

std::string describe(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

// An exported interface and the sd-bus table made from it; the table points into the strings.
struct ObjectBox {
    DBusInterface interface;
    std::vector<sd_bus_vtable> table;
};

int answerMethod(sd_bus_message* call, void* userdata, sd_bus_error*) {
    const auto* box = static_cast<ObjectBox*>(userdata);
    const char* member = sd_bus_message_get_member(call);
    for (const auto& method : box->interface.methods) {
        if (member == nullptr || method.name != member) {
            continue;
        }
        // A copy: the handler may end the export, which frees the box.
        auto handler = method.handler;
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(call, &reply);
        if (r >= 0 && handler) {
            r = handler(call, reply);
        }
        if (r >= 0) {
            r = sd_bus_send(nullptr, reply, nullptr);
        }
        sd_bus_message_unref(reply);
        return r < 0 ? r : 1;
    }
    return -EBADRQC;
}

int readProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                 void* userdata, sd_bus_error*) {
    const auto* box = static_cast<ObjectBox*>(userdata);
    for (const auto& entry : box->interface.properties) {
        if (entry.name == property) {
            return entry.read ? entry.read(reply) : -ENOENT;
        }
    }
    return -ENOENT;
}

void destroyObjectBox(void* userdata) {
    delete static_cast<ObjectBox*>(userdata);
}

Result<sd_bus_message*> newCall(sd_bus* bus, const DBusObject& object, const char* member,
                                const DBusConnection::Append& append) {
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_method_call(bus, &message, object.service, object.path,
                                           object.interface, member);
    if (r >= 0 && append) {
        r = append(message);
    }
    if (r < 0) {
        sd_bus_message_unref(message);
        return Error{std::string("Could not build the call ") + object.interface + "." + member +
                     ": " + describe(r)};
    }
    return message;
}

}  // namespace

// DBusSlot ------------------------------------------------------------------------------------

DBusSlot& DBusSlot::operator=(DBusSlot&& other) noexcept {
    if (this != &other) {
        reset();
        slot_ = std::exchange(other.slot_, nullptr);
    }
    return *this;
}

void DBusSlot::reset() {
    if (auto* slot = std::exchange(slot_, nullptr)) {
        sd_bus_slot_unref(slot);
    }
}

// BusName -------------------------------------------------------------------------------------

BusNameState BusName::state() const {
    if (hasOwner_.value_or(false) || activatable_.value_or(false)) {
        return BusNameState::present;
    }
    if (hasOwner_ && activatable_) {
        return BusNameState::absent;
    }
    return BusNameState::unknown;
}

void BusName::update(std::optional<bool> hasOwner, std::optional<bool> activatable,
                     std::optional<std::string> owner) {
    const BusNameState before = state();
    if (hasOwner) {
        hasOwner_ = hasOwner;
        if (!*hasOwner) {
            owner = std::string();
        }
    }
    if (activatable) {
        activatable_ = activatable;
    }
    const bool newOwner = owner && *owner != owner_;
    if (newOwner) {
        owner_ = std::move(*owner);
    }
    const BusNameState after = state();
    if (after != before) {
        changed.send(after);
    }
    if (newOwner) {
        ownerChanged.send(owner_);
    }
}

// DBusConnection ------------------------------------------------------------------------------

Result<std::shared_ptr<DBusConnection>> DBusConnection::open(Bus bus) {
    sd_bus* raw = nullptr;
    const int r = bus == Bus::system ? sd_bus_open_system(&raw) : sd_bus_open_user(&raw);
    const char* name = bus == Bus::system ? "system bus" : "session bus";
    if (r < 0) {
        return Error{std::string("The ") + name + " is not available on this system (" +
                     describe(r) + ")."};
    }
    std::shared_ptr<DBusConnection> connection(new DBusConnection(raw, name));
    connection->attach();
    return connection;
}

Result<std::shared_ptr<DBusConnection>> DBusConnection::openAddress(const std::string& address,
                                                                    std::string description) {
    sd_bus* raw = nullptr;
    int r = sd_bus_new(&raw);
    if (r >= 0) {
        r = sd_bus_set_address(raw, address.c_str());
    }
    if (r >= 0) {
        r = sd_bus_set_bus_client(raw, 1);
    }
    if (r >= 0) {
        r = sd_bus_start(raw);
    }
    if (r < 0) {
        sd_bus_unref(raw);
        return Error{"The " + description + " is not available (" + describe(r) + ")."};
    }
    std::shared_ptr<DBusConnection> connection(new DBusConnection(raw, std::move(description)));
    connection->attach();
    return connection;
}

DBusConnection::DBusConnection(sd_bus* bus, std::string description)
    : bus_(bus), description_(std::move(description)) {}

DBusConnection::~DBusConnection() {
    watch_.cancel();
    timer_.cancel();
    activatableQuery_.reset();
    // Whatever is queued (an UnInhibit, say) still reaches the bus before the socket closes.
    sd_bus_flush_close_unref(bus_);
}

void DBusConnection::attach() {
    const int fd = sd_bus_get_fd(bus_);
    if (fd < 0) {
        closed(fd);
        return;
    }
    watch_ = RunLoop::main().watchFd(fd, kFdReadable, [this](unsigned) { process(); });
    reschedule();
}

void DBusConnection::process() {
    if (!isOpen() || processing_) {
        return;
    }
    // A handler may drop the last owner of this connection; it lives until processing ends.
    auto self = shared_from_this();
    processing_ = true;
    int r = 0;
    do {
        r = sd_bus_process(bus_, nullptr);
    } while (r > 0);
    processing_ = false;
    if (r < 0 || !sd_bus_is_open(bus_)) {
        closed(r < 0 ? r : -ECONNRESET);
        return;
    }
    reschedule();
}

void DBusConnection::reschedule() {
    if (!isOpen()) {
        return;
    }
    const int events = sd_bus_get_events(bus_);
    if (events < 0) {
        closed(events);
        return;
    }
    unsigned wanted = 0;
    if (events & POLLIN) {
        wanted |= kFdReadable;
    }
    if (events & POLLOUT) {
        wanted |= kFdWritable;
    }
    watch_.setEvents(wanted);

    std::uint64_t deadline = UINT64_MAX;
    if (sd_bus_get_timeout(bus_, &deadline) <= 0 || deadline == UINT64_MAX) {
        timer_.cancel();
        timerDeadline_ = 0;
        return;
    }
    if (timer_.isValid() && deadline == timerDeadline_) {
        return;
    }
    // sd-bus states its deadline on CLOCK_MONOTONIC; only the distance to it goes to the loop.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t nowUsec = static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
                                  static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
    const double delay = deadline > nowUsec ? static_cast<double>(deadline - nowUsec) / 1e6 : 0.0;
    timerDeadline_ = deadline;
    timer_ = RunLoop::main().after(
        delay, [this] { process(); }, TimerMode::Common);
}

void DBusConnection::closed(int error) {
    if (!open_) {
        return;
    }
    open_ = false;
    watch_.cancel();
    timer_.cancel();
    log_.error("The " + description_ + " connection was lost (" + describe(error) + ").");
    activatable_ = std::set<std::string>{};
    for (auto& [_, weak] : names_) {
        if (auto name = weak.lock()) {
            name->update(false, false);
        }
    }
}

Result<sd_bus_slot*> DBusConnection::startCall(const DBusObject& object, const char* member,
                                               const Append& append, MessageHandler onReply) {
    if (!isOpen()) {
        return Error{"The " + description_ + " is not available."};
    }
    auto message = newCall(bus_, object, member, append);
    if (!message) {
        return message.error();
    }
    auto* box = new HandlerBox{std::move(onReply)};
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_call_async(bus_, &slot, *message, dispatch, box, 0);
    sd_bus_message_unref(*message);
    if (r < 0) {
        delete box;
        return Error{std::string("Could not call ") + object.interface + "." + member + " on the " +
                     description_ + ": " + describe(r)};
    }
    sd_bus_slot_set_destroy_callback(slot, destroyBox);
    reschedule();
    return slot;
}

Result<DBusSlot> DBusConnection::call(const DBusObject& object, const char* member,
                                      const Append& append, MessageHandler onReply) {
    auto slot = startCall(object, member, append, std::move(onReply));
    if (!slot) {
        return slot.error();
    }
    return DBusSlot(slot.value());
}

Result<void> DBusConnection::callDetached(const DBusObject& object, const char* member,
                                          const Append& append, MessageHandler onReply) {
    auto slot = startCall(object, member, append, std::move(onReply));
    if (!slot) {
        return slot.error();
    }
    // The bus keeps the slot until the reply has been handled or the connection ends.
    sd_bus_slot_set_floating(slot.value(), 1);
    sd_bus_slot_unref(slot.value());
    return {};
}

Result<void> DBusConnection::send(const DBusObject& object, const char* member,
                                  const Append& append) {
    if (!isOpen()) {
        return Error{"The " + description_ + " is not available."};
    }
    auto message = newCall(bus_, object, member, append);
    if (!message) {
        return message.error();
    }
    sd_bus_message_set_expect_reply(*message, 0);
    const int r = sd_bus_send(bus_, *message, nullptr);
    sd_bus_message_unref(*message);
    if (r < 0) {
        return Error{std::string("Could not call ") + object.interface + "." + member + " on the " +
                     description_ + ": " + describe(r)};
    }
    reschedule();
    return {};
}

Result<DBusSlot> DBusConnection::matchSignal(const char* sender, const char* path,
                                             const char* interface, const char* member,
                                             MessageHandler handler) {
    if (!isOpen()) {
        return Error{"The " + description_ + " is not available."};
    }
    std::string watched =
        std::string("the signal ") + (interface ? interface : "*") + "." + (member ? member : "*");
    if (sender != nullptr) {
        watched += std::string(" from ") + sender;
    }
    watched += " on the " + description_;
    auto* box = new HandlerBox{std::move(handler), watched};
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_match_signal_async(bus_, &slot, sender, path, interface, member, dispatch,
                                            matchInstalled, box);
    if (r < 0) {
        delete box;
        return Error{"Could not watch " + watched + ": " + describe(r)};
    }
    DBusSlot owned = adopt(slot, box);
    reschedule();
    return owned;
}

Result<DBusSlot> DBusConnection::exportObject(const std::string& path, DBusInterface interface) {
    if (!isOpen()) {
        return Error{"The " + description_ + " is not available."};
    }
    auto* box = new ObjectBox{std::move(interface), {}};
    auto& table = box->table;
    table.push_back(SD_BUS_VTABLE_START(0));
    for (const auto& method : box->interface.methods) {
        table.push_back(SD_BUS_METHOD(method.name.c_str(), method.inSignature.c_str(),
                                      method.outSignature.c_str(), answerMethod,
                                      SD_BUS_VTABLE_UNPRIVILEGED));
    }
    for (const auto& property : box->interface.properties) {
        table.push_back(
            SD_BUS_PROPERTY(property.name.c_str(), property.signature.c_str(), readProperty, 0, 0));
    }
    for (const auto& member : box->interface.emits) {
        table.push_back(SD_BUS_SIGNAL(member.name.c_str(), member.signature.c_str(), 0));
    }
    table.push_back(SD_BUS_VTABLE_END);
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_add_object_vtable(bus_, &slot, path.c_str(), box->interface.name.c_str(),
                                           table.data(), box);
    if (r < 0) {
        const std::string name = box->interface.name;
        delete box;
        return Error{"Could not serve " + name + " at " + path + " on the " + description_ + ": " +
                     describe(r)};
    }
    sd_bus_slot_set_destroy_callback(slot, destroyObjectBox);
    return DBusSlot(slot);
}

Result<void> DBusConnection::emitSignal(const std::string& path, const std::string& interface,
                                        const char* member, const Append& append) {
    if (!isOpen()) {
        return Error{"The " + description_ + " is not available."};
    }
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_signal(bus_, &message, path.c_str(), interface.c_str(), member);
    if (r >= 0 && append) {
        r = append(message);
    }
    if (r >= 0) {
        r = sd_bus_send(bus_, message, nullptr);
    }
    sd_bus_message_unref(message);
    if (r < 0) {
        return Error{"Could not send the signal " + interface + "." + member + " on the " +
                     description_ + ": " + describe(r)};
    }
    reschedule();
    return {};
}

Result<DBusSlot> DBusConnection::requestName(
    const std::string& name, std::function<void(std::optional<std::string> error)> onReply) {
    return call(
        kBusDaemon, "RequestName",
        [name](sd_bus_message* m) { return sd_bus_message_append(m, "su", name.c_str(), 4u); },
        [name, onReply = std::move(onReply)](sd_bus_message* reply) {
            // 1: now the owner; 4: already the owner. 2 and 3 mean someone else has it.
            std::uint32_t answer = 0;
            std::optional<std::string> error = errorOf(reply);
            if (!error && sd_bus_message_read(reply, "u", &answer) >= 0 && answer != 1 &&
                answer != 4) {
                error = "the name " + name + " belongs to another program";
            }
            if (onReply) {
                onReply(error);
            }
        });
}

Result<void> DBusConnection::releaseName(const std::string& name) {
    return send(kBusDaemon, "ReleaseName",
                [name](sd_bus_message* m) { return sd_bus_message_append(m, "s", name.c_str()); });
}

std::string DBusConnection::uniqueName() const {
    const char* unique = nullptr;
    if (!isOpen() || sd_bus_get_unique_name(bus_, &unique) < 0 || unique == nullptr) {
        return {};
    }
    return unique;
}

std::shared_ptr<BusName> DBusConnection::watchName(const std::string& name) {
    if (auto it = names_.find(name); it != names_.end()) {
        if (auto existing = it->second.lock()) {
            return existing;
        }
    }
    auto watched = std::make_shared<BusName>(name);
    names_[name] = watched;
    if (!isOpen()) {
        watched->update(false, false);
        return watched;
    }
    startWatching(*watched);
    return watched;
}

void DBusConnection::startWatching(BusName& name) {
    // The match goes out before the query, so the bus reports every change after the answer.
    BusName* target = &name;  // the slots belong to the name: they never outlive it
    const std::string match =
        "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
        name.name() + "'";
    auto* box = new HandlerBox{
        [target](sd_bus_message* m) {
            const char* changedName = nullptr;
            const char* oldOwner = nullptr;
            const char* newOwner = nullptr;
            if (sd_bus_message_read(m, "sss", &changedName, &oldOwner, &newOwner) >= 0) {
                const std::string owner = newOwner != nullptr ? newOwner : "";
                target->update(!owner.empty(), std::nullopt, owner);
            }
        },
        "the owner changes of " + name.name() + " on the " + description_};
    sd_bus_slot* slot = nullptr;
    const int r = sd_bus_add_match_async(bus_, &slot, match.c_str(), dispatch, matchInstalled, box);
    if (r < 0) {
        log_.error("Could not watch " + box->watched + ": " + describe(r));
        delete box;
    } else {
        name.match_ = adopt(slot, box);
    }

    auto query = call(
        kBusDaemon, "GetNameOwner",
        [target](sd_bus_message* m) {
            return sd_bus_message_append(m, "s", target->name().c_str());
        },
        [this, target](sd_bus_message* reply) {
            // Any error means nobody serves it now; only NameHasNoOwner says so plainly.
            const auto error = errorOf(reply);
            if (error && errorName(reply) != "org.freedesktop.DBus.Error.NameHasNoOwner" &&
                !connectionEnded(reply)) {
                log_.error("Could not ask the " + description_ + " who owns " + target->name() +
                           ": " + *error);
            }
            const char* owner = nullptr;
            if (!error && sd_bus_message_read(reply, "s", &owner) > 0 && owner != nullptr) {
                target->update(true, std::nullopt, std::string(owner));
            } else {
                target->update(false, std::nullopt);
            }
            target->query_.reset();
        });
    if (query) {
        name.query_ = std::move(query.value());
    } else {
        log_.error(query.error().message);
        name.update(false, std::nullopt);
    }

    if (activatable_) {
        name.update(std::nullopt, activatable_->count(name.name()) > 0);
    } else {
        queryActivatable();
    }
}

void DBusConnection::queryActivatable() {
    if (activatableQuery_.isActive()) {
        return;
    }
    auto query = call(kBusDaemon, "ListActivatableNames", nullptr, [this](sd_bus_message* reply) {
        std::set<std::string> names;
        char** list = nullptr;
        if (auto error = errorOf(reply)) {
            if (!connectionEnded(reply)) {
                log_.error("Could not learn which services the " + description_ +
                           " starts on demand: " + *error);
            }
        } else if (sd_bus_message_read_strv(reply, &list) >= 0 && list != nullptr) {
            for (char** n = list; *n != nullptr; ++n) {
                names.insert(*n);
                std::free(*n);
            }
            std::free(list);
        }
        activatable_ = std::move(names);
        for (auto& [key, weak] : names_) {
            if (auto name = weak.lock()) {
                name->update(std::nullopt, activatable_->count(key) > 0);
            }
        }
        activatableQuery_.reset();
    });
    if (query) {
        activatableQuery_ = std::move(query.value());
    } else {
        log_.error(query.error().message);
        activatable_ = std::set<std::string>{};
    }
}

bool DBusConnection::namesKnown() const {
    for (const auto& [_, weak] : names_) {
        if (auto name = weak.lock(); name && name->state() == BusNameState::unknown) {
            return false;
        }
    }
    return true;
}

void DBusConnection::flush() {
    if (isOpen()) {
        sd_bus_flush(bus_);
    }
}

std::optional<std::string> DBusConnection::errorOf(sd_bus_message* reply) {
    if (!sd_bus_message_is_method_error(reply, nullptr)) {
        return std::nullopt;
    }
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    std::string text = error && error->name ? error->name : "org.freedesktop.DBus.Error.Failed";
    if (error && error->message) {
        text += ": ";
        text += error->message;
    }
    return text;
}

std::string DBusConnection::errorName(sd_bus_message* reply) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    return error && error->name ? error->name : "";
}

}  // namespace orvel
