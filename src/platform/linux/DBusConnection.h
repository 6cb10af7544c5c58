#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/Result.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"

// A D-Bus connection through sd-bus, driven by the main run loop: the bus's descriptor is an fd
// watch, its next deadline a run-loop timer, and each wake-up processes messages until sd-bus
// has none left. Calls are asynchronous only. Threading: main thread only; replies and signals
// are delivered on the main thread.

namespace orvel {

// Where a method lives: the service's bus name, the object path and the interface.
struct DBusObject {
    const char* service;
    const char* path;
    const char* interface;
};

// A registration with sd-bus: a pending call or a signal match. Destroying it (or reset())
// cancels it; the handler is never called afterwards, and a reply that comes later is dropped
// by sd-bus together with anything it carried (descriptors in it are closed).
class [[nodiscard]] DBusSlot {
  public:
    DBusSlot() = default;
    explicit DBusSlot(sd_bus_slot* slot) : slot_(slot) {}
    DBusSlot(DBusSlot&& other) noexcept : slot_(std::exchange(other.slot_, nullptr)) {}
    DBusSlot& operator=(DBusSlot&& other) noexcept;
    DBusSlot(const DBusSlot&) = delete;
    DBusSlot& operator=(const DBusSlot&) = delete;
    ~DBusSlot() { reset(); }

    void reset();
    bool isActive() const { return slot_ != nullptr; }

  private:
    sd_bus_slot* slot_ = nullptr;
};

// An interface that this process serves on an exported object. Property values and method
// replies are appended in the protocol's own types; sd-bus answers org.freedesktop.DBus.Properties
// (Get, GetAll) and Introspect from this description.
struct DBusInterface {
    struct Method {
        std::string name;
        std::string inSignature;
        std::string outSignature;
        // Reads the call's arguments and appends the reply's values; a negative errno fails the
        // call with that error.
        std::function<int(sd_bus_message* call, sd_bus_message* reply)> handler;
    };
    struct Property {
        std::string name;
        std::string signature;
        // Appends the value (of `signature`) to the reply.
        std::function<int(sd_bus_message* reply)> read;
    };
    struct SignalMember {
        std::string name;
        std::string signature;
    };

    std::string name;
    std::vector<Method> methods;
    std::vector<Property> properties;
    std::vector<SignalMember> emits;
};

enum class BusNameState { unknown, present, absent };

// Whether a well-known name is served on the bus: it has an owner now, or the bus can start
// one on demand. Unknown until the bus has answered the first queries.
class BusName {
  public:
    explicit BusName(std::string name) : name_(std::move(name)) {}
    BusName(const BusName&) = delete;
    BusName& operator=(const BusName&) = delete;

    const std::string& name() const { return name_; }
    BusNameState state() const;
    bool isPresent() const { return state() == BusNameState::present; }

    // The connection that owns the name now (empty while nobody does, or before the answer).
    const std::string& owner() const { return owner_; }

    // Sent on the main thread whenever state() changes.
    Signal<BusNameState> changed;
    // Sent after `changed` whenever owner() changes, also from one owner straight to another
    // (a service replaced without a gap, which leaves state() present throughout).
    Signal<std::string> ownerChanged;

  private:
    friend class DBusConnection;
    void update(std::optional<bool> hasOwner, std::optional<bool> activatable,
                std::optional<std::string> owner = std::nullopt);

    std::string name_;
    std::string owner_;
    std::optional<bool> hasOwner_;
    std::optional<bool> activatable_;
    DBusSlot match_;
    DBusSlot query_;
};

class DBusConnection : public std::enable_shared_from_this<DBusConnection> {
  public:
    enum class Bus { system, session };

    using Append = std::function<int(sd_bus_message* call)>;
    using MessageHandler = std::function<void(sd_bus_message* message)>;

    // Connects to the system bus or the user's session bus (the addresses come from
    // DBUS_SYSTEM_BUS_ADDRESS / DBUS_SESSION_BUS_ADDRESS when set). The error says why in words.
    static Result<std::shared_ptr<DBusConnection>> open(Bus bus);
    // Connects to a bus at an address ("unix:path=…"); `description` names it in messages.
    static Result<std::shared_ptr<DBusConnection>> openAddress(const std::string& address,
                                                               std::string description);
    ~DBusConnection();
    DBusConnection(const DBusConnection&) = delete;
    DBusConnection& operator=(const DBusConnection&) = delete;

    const std::string& description() const { return description_; }
    // False once the bus has gone away: calls then fail at once and every name is absent.
    bool isOpen() const { return bus_ != nullptr && open_; }

    // Sends a method call; `onReply` later receives the reply or an error reply (also for a
    // timeout or a lost connection). `append` adds the arguments and returns a negative errno
    // on failure. Fails at once when the call cannot be sent.
    Result<DBusSlot> call(const DBusObject& object, const char* member, const Append& append,
                          MessageHandler onReply);
    // Sends a method call whose reply goes to `onReply` however soon its caller is gone, for as
    // long as the connection lives (hand-backs whose failure must still be told).
    Result<void> callDetached(const DBusObject& object, const char* member, const Append& append,
                              MessageHandler onReply);
    // Sends a method call whose reply nobody waits for.
    Result<void> send(const DBusObject& object, const char* member, const Append& append);
    // Calls `handler` for each matching signal; a null argument matches anything. A match the
    // bus refuses later is logged, and the connection goes on without it.
    Result<DBusSlot> matchSignal(const char* sender, const char* path, const char* interface,
                                 const char* member, MessageHandler handler);

    // Serves `interface` on the object at `path` until the slot goes.
    Result<DBusSlot> exportObject(const std::string& path, DBusInterface interface);
    // Sends a signal from an object of this process.
    Result<void> emitSignal(const std::string& path, const std::string& interface,
                            const char* member, const Append& append);
    // Asks the bus for a well-known name (without queueing behind another owner); `onReply` gets
    // nothing once the name is ours, else the error in words. The name is held until
    // releaseName() or the connection ends.
    Result<DBusSlot> requestName(const std::string& name,
                                 std::function<void(std::optional<std::string> error)> onReply);
    Result<void> releaseName(const std::string& name);
    // This connection's own name on the bus (empty once it is gone).
    std::string uniqueName() const;

    // The name's presence, shared by everyone who watches the same name on this connection.
    std::shared_ptr<BusName> watchName(const std::string& name);
    // Whether every watched name's state is known (or the connection is gone).
    bool namesKnown() const;

    // Writes everything queued to the socket (used before the process exits).
    void flush();

    // The error a reply carries, as "<error name>: <message>"; nothing for a method return.
    static std::optional<std::string> errorOf(sd_bus_message* reply);
    static std::string errorName(sd_bus_message* reply);

  private:
    DBusConnection(sd_bus* bus, std::string description);
    void attach();
    Result<sd_bus_slot*> startCall(const DBusObject& object, const char* member,
                                   const Append& append, MessageHandler onReply);
    void process();
    void reschedule();
    void closed(int error);
    void queryActivatable();
    void startWatching(BusName& name);

    sd_bus* bus_ = nullptr;
    std::string description_;
    bool open_ = true;
    bool processing_ = false;
    FdWatch watch_;
    Timer timer_;
    std::uint64_t timerDeadline_ = 0;
    std::map<std::string, std::weak_ptr<BusName>> names_;
    std::optional<std::set<std::string>> activatable_;
    DBusSlot activatableQuery_;
    Logger log_{"dbus"};
};

}  // namespace orvel
