#include "platform/linux/PortalHotKeys.h"

#include <cstring>
#include <vector>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/linux/PortalPaths.h"

namespace orvel {

namespace {

constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
const DBusObject kShortcuts{kPortalName, kPortalPath, kInterface};
const DBusObject kProperties{kPortalName, kPortalPath, "org.freedesktop.DBus.Properties"};
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";

// Shown in Settings as the reader's language says them.
constexpr const char* kNotOffered = textKey(
    "This desktop offers no global shortcuts: its portal (xdg-desktop-portal) has no "
    "GlobalShortcuts interface, so no shortcut is registered.");
constexpr const char* kNotRunning = textKey(
    "There are no global shortcuts yet: the desktop portal (xdg-desktop-portal) is not running. "
    "Orvel asks it for the shortcut as soon as it starts.");
constexpr const char* kGone = textKey(
    "The desktop portal (xdg-desktop-portal) stopped, and the shortcut with it. Orvel asks for "
    "it again as soon as the portal is back.");

Logger log() {
    return Logger("hotkey");
}

// Calls `onEntry(key, m)` for each entry of an a{sv} at the read position; `onEntry` reads the
// variant and returns true, or returns false to have it skipped.
void readVardict(sd_bus_message* m,
                 const std::function<bool(const char* key, sd_bus_message* m)>& onEntry) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
        return;
    }
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0) {
            break;
        }
        if (!onEntry(key, m)) {
            (void)sd_bus_message_skip(m, "v");
        }
        (void)sd_bus_message_exit_container(m);
    }
    (void)sd_bus_message_exit_container(m);
}

// A string or object path held in a variant.
std::optional<std::string> readPathOrString(sd_bus_message* m) {
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, nullptr, &contents) < 0 || contents == nullptr ||
        (std::strcmp(contents, "s") != 0 && std::strcmp(contents, "o") != 0)) {
        return std::nullopt;
    }
    const char type = contents[0];
    std::optional<std::string> value;
    if (sd_bus_message_enter_container(m, 'v', contents) > 0) {
        const char* text = nullptr;
        if (sd_bus_message_read_basic(m, type, &text) >= 0 && text != nullptr) {
            value = text;
        }
        (void)sd_bus_message_exit_container(m);
    }
    return value;
}

}  // namespace

struct PortalHotKeys::State {
    PortalHotKeys* owner = nullptr;
    std::shared_ptr<DBusConnection> bus;
    std::uint64_t next = 1;
    std::map<std::uint64_t, std::function<void(std::uint32_t)>> handlers;
    std::optional<std::string> reason;
    // The portal process whose answer is the reason ("" for none running); none when the reason
    // is not the portal's lasting answer.
    std::optional<std::string> reasonFrom;
    std::optional<std::string> trigger;
    unsigned tokens = 0;
    // Sessions let go of while the portal was still making them, closed once it has.
    std::vector<std::shared_ptr<Session>> closing;
    // Every registration's session, asked again when the portal comes (back).
    std::vector<std::weak_ptr<Session>> sessions;
    std::shared_ptr<BusName> portal;
    Subscription portalFollowed;

    void set(std::optional<std::string> newReason, std::optional<std::string> newTrigger,
             std::optional<std::string> from = std::nullopt) {
        reasonFrom = newReason ? std::move(from) : std::nullopt;
        if (newReason == reason && newTrigger == trigger) {
            return;
        }
        reason = std::move(newReason);
        trigger = std::move(newTrigger);
        owner->changed.send();
    }

    // The portal's name has a new owner, or none.
    void portalMoved(const std::string& now);

    void fire(std::uint32_t id) {
        if (!handlers.empty()) {
            auto handler = handlers.rbegin()->second;
            handler(id);
        }
    }
};

// One registration: a portal session with one shortcut.
struct PortalHotKeys::Session : std::enable_shared_from_this<Session> {
    std::weak_ptr<State> state;
    std::shared_ptr<DBusConnection> bus;
    std::uint32_t id = 0;
    std::string trigger;
    std::string request;  // the request waiting for its Response, if any
    std::string handle;   // the session, once the portal made it
    DBusSlot call;
    DBusSlot response;
    DBusSlot activated;
    DBusSlot shortcutsChanged;
    bool closed = false;
    bool making = false;  // CreateSession is waiting for its Response
    // The portal process that answered the version asked ("" for none running); none while the
    // question is on its way.
    std::optional<std::string> answeredBy;

    std::string token() {
        auto s = state.lock();
        return "orvel" + std::to_string(s ? ++s->tokens : 0);
    }

    void start() {
        std::weak_ptr<Session> weak = weak_from_this();
        auto asked = bus->call(
            kProperties, "Get",
            [](sd_bus_message* m) { return sd_bus_message_append(m, "ss", kInterface, "version"); },
            [weak](sd_bus_message* reply) {
                if (auto self = weak.lock()) {
                    self->versionKnown(reply);
                }
            });
        if (asked) {
            call = std::move(asked.value());
        } else {
            log().notice("The desktop portal cannot be asked for a global shortcut: " +
                         asked.error().message);
            setState(localized(kNotOffered), std::nullopt);
        }
    }

    void setState(std::optional<std::string> reason, std::optional<std::string> bound,
                  std::optional<std::string> from = std::nullopt) {
        if (auto s = state.lock()) {
            s->set(std::move(reason), std::move(bound), std::move(from));
        }
    }

    // Forgets what a portal made for this registration, which goes with it.
    void forget() {
        call.reset();
        response.reset();
        activated.reset();
        shortcutsChanged.reset();
        request.clear();
        handle.clear();
        making = false;
        answeredBy.reset();
    }

    void versionKnown(sd_bus_message* reply) {
        std::uint32_t version = 0;
        bool running = true;
        if (auto error = DBusConnection::errorOf(reply)) {
            const std::string name = DBusConnection::errorName(reply);
            running = name != "org.freedesktop.DBus.Error.ServiceUnknown" &&
                      name != "org.freedesktop.DBus.Error.NameHasNoOwner";
            log().notice(running ? "No global shortcuts portal: " + *error
                                 : "The desktop portal is not running: " + *error);
        } else if (sd_bus_message_enter_container(reply, 'v', "u") > 0) {
            (void)sd_bus_message_read(reply, "u", &version);
        }
        const char* sender = sd_bus_message_get_sender(reply);
        answeredBy = running && sender != nullptr ? sender : "";
        if (closed) {
            return;
        }
        if (!running) {
            setState(localized(kNotRunning), std::nullopt, answeredBy);
            return;
        }
        if (version < 1) {
            setState(localized(kNotOffered), std::nullopt, answeredBy);
            return;
        }
        setState(std::nullopt, std::nullopt);
        createSession();
    }

    // Follows the Response of the request made with `requestToken`, then sends the call.
    void ask(const char* method, const std::string& requestToken,
             const DBusConnection::Append& append,
             std::function<void(std::uint32_t code, sd_bus_message* results)> onResponse) {
        std::weak_ptr<Session> weak = weak_from_this();
        request = portalHandle(bus->uniqueName(), "request", requestToken);
        auto followed = bus->matchSignal(nullptr, request.c_str(), kPortalRequestInterface,
                                         "Response", [weak, onResponse](sd_bus_message* m) {
                                             auto self = weak.lock();
                                             std::uint32_t code = 0;
                                             if (!self || sd_bus_message_read(m, "u", &code) < 0) {
                                                 return;
                                             }
                                             self->request.clear();
                                             self->response.reset();
                                             onResponse(code, m);
                                         });
        if (followed) {
            response = std::move(followed.value());
        }
        auto sent = bus->call(kShortcuts, method, append, [weak, method](sd_bus_message* reply) {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (auto error = DBusConnection::errorOf(reply)) {
                log().error(std::string("The desktop refused the global shortcut (") + method +
                            "): " + *error);
                self->request.clear();
                self->response.reset();
                self->making = false;
                if (auto s = self->state.lock()) {
                    std::erase(s->closing, self);
                }
                if (self->closed) {
                    return;
                }
                self->setState(
                    localizedFormat("The desktop refused the global shortcut: %@", {*error}),
                    std::nullopt);
            }
        });
        if (sent) {
            call = std::move(sent.value());
        } else {
            log().error("The global shortcut cannot be asked for: " + sent.error().message);
        }
    }

    void createSession() {
        const std::string requestToken = token();
        const std::string sessionToken = token();
        making = true;
        ask(
            "CreateSession", requestToken,
            [&](sd_bus_message* m) {
                return sd_bus_message_append(m, "a{sv}", 2, "handle_token", "s",
                                             requestToken.c_str(), "session_handle_token", "s",
                                             sessionToken.c_str());
            },
            [this](std::uint32_t code, sd_bus_message* m) {
                making = false;
                auto self = shared_from_this();
                if (auto s = state.lock()) {
                    std::erase(s->closing, self);
                }
                std::optional<std::string> made;
                readVardict(m, [&](const char* key, sd_bus_message* v) {
                    if (std::strcmp(key, "session_handle") != 0) {
                        return false;
                    }
                    made = readPathOrString(v);
                    return made.has_value();
                });
                if (code == 0 && made) {
                    handle = *made;
                }
                if (closed) {
                    close();
                    return;
                }
                if (handle.empty()) {
                    log().error("The desktop made no global shortcuts session (response " +
                                std::to_string(code) + ").");
                    setState(localized("The desktop did not let Orvel register a global shortcut."),
                             std::nullopt);
                    return;
                }
                follow();
                bind();
            });
    }

    void follow() {
        std::weak_ptr<Session> weak = weak_from_this();
        auto on = bus->matchSignal(
            nullptr, kPortalPath, kInterface, "Activated", [weak](sd_bus_message* m) {
                auto self = weak.lock();
                const char* session = nullptr;
                const char* shortcut = nullptr;
                if (self && sd_bus_message_read(m, "os", &session, &shortcut) >= 0 &&
                    self->handle == session && std::strcmp(shortcut, kShortcutId) == 0) {
                    if (auto s = self->state.lock()) {
                        s->fire(self->id);
                    }
                }
            });
        if (on) {
            activated = std::move(on.value());
        }
        auto changedKeys = bus->matchSignal(
            nullptr, kPortalPath, kInterface, "ShortcutsChanged", [weak](sd_bus_message* m) {
                auto self = weak.lock();
                const char* session = nullptr;
                if (self && sd_bus_message_read(m, "o", &session) >= 0 && self->handle == session) {
                    self->readShortcuts(m);
                }
            });
        if (changedKeys) {
            shortcutsChanged = std::move(changedKeys.value());
        }
    }

    // Reads a(sa{sv}) and takes the desktop's words for our shortcut's keys.
    void readShortcuts(sd_bus_message* m) {
        if (sd_bus_message_enter_container(m, 'a', "(sa{sv})") < 0) {
            return;
        }
        while (sd_bus_message_enter_container(m, 'r', "sa{sv}") > 0) {
            const char* shortcut = nullptr;
            (void)sd_bus_message_read(m, "s", &shortcut);
            const bool ours = shortcut != nullptr && std::strcmp(shortcut, kShortcutId) == 0;
            readVardict(m, [&](const char* key, sd_bus_message* v) {
                if (!ours || std::strcmp(key, "trigger_description") != 0) {
                    return false;
                }
                const char* text = nullptr;
                if (sd_bus_message_read(v, "v", "s", &text) < 0 || text == nullptr) {
                    return false;
                }
                log().info(std::string("The desktop bound the global shortcut to ") + text + ".");
                setState(std::nullopt, *text ? std::optional<std::string>(text) : std::nullopt);
                return true;
            });
            (void)sd_bus_message_exit_container(m);
        }
        (void)sd_bus_message_exit_container(m);
    }

    void bind() {
        const std::string requestToken = token();
        ask(
            "BindShortcuts", requestToken,
            [&](sd_bus_message* m) {
                int rc = sd_bus_message_append(m, "o", handle.c_str());
                if (rc >= 0)
                    rc = sd_bus_message_append(m, "a(sa{sv})", 1, kShortcutId, 2, "description",
                                               "s", "Start or stop keeping the computer awake",
                                               "preferred_trigger", "s", trigger.c_str());
                if (rc >= 0)
                    rc = sd_bus_message_append(m, "sa{sv}", "", 1, "handle_token", "s",
                                               requestToken.c_str());
                return rc;
            },
            [this](std::uint32_t code, sd_bus_message* m) {
                if (code != 0) {
                    log().notice("The desktop did not bind the global shortcut (response " +
                                 std::to_string(code) + ").");
                    setState(localized("The desktop did not bind the global shortcut."),
                             std::nullopt);
                    return;
                }
                readVardict(m, [&](const char* key, sd_bus_message* v) {
                    if (std::strcmp(key, "shortcuts") != 0 ||
                        sd_bus_message_enter_container(v, 'v', "a(sa{sv})") <= 0) {
                        return false;
                    }
                    readShortcuts(v);
                    (void)sd_bus_message_exit_container(v);
                    return true;
                });
            });
    }

    void close() {
        closed = true;
        activated.reset();
        shortcutsChanged.reset();
        if (!bus->isOpen()) {
            return;
        }
        if (!handle.empty()) {
            (void)bus->send({kPortalName, handle.c_str(), kSessionInterface}, "Close", nullptr);
            handle.clear();
        } else if (making) {
            // Not made yet: it is closed as soon as the portal says which it is.
            if (auto s = state.lock()) {
                s->closing.push_back(shared_from_this());
            }
            return;
        }
        response.reset();
        call.reset();
    }
};

void PortalHotKeys::State::portalMoved(const std::string& now) {
    std::vector<std::shared_ptr<Session>> live;
    for (const auto& weak : sessions) {
        if (auto session = weak.lock(); session && !session->closed) {
            live.push_back(std::move(session));
        }
    }
    std::erase_if(sessions, [](const std::weak_ptr<Session>& weak) {
        auto session = weak.lock();
        return !session || session->closed;
    });
    if (now.empty()) {
        // Its sessions ended with it: there is nothing to close.
        closing.clear();
        for (const auto& session : live) {
            session->forget();
            session->answeredBy = "";
        }
        if (!live.empty()) {
            log().notice("The desktop portal left the bus; the global shortcut waits for it.");
            set(localized(kGone), std::nullopt, std::string());
        }
        return;
    }
    bool told = false;
    for (const auto& session : live) {
        if (session->answeredBy == now) {
            continue;
        }
        // A question still on its way is asked again quietly: whoever answers it now is new.
        if (session->answeredBy && !told) {
            told = true;
            log().info("The desktop portal is on the bus: asking it for the global shortcut.");
        }
        session->forget();
        session->start();
    }
}

namespace {

class HandlerToken final : public HotKeyToken {
  public:
    HandlerToken(std::weak_ptr<PortalHotKeys::State> state, std::uint64_t key)
        : state_(std::move(state)), key_(key) {}
    ~HandlerToken() override {
        if (auto state = state_.lock()) {
            state->handlers.erase(key_);
        }
    }

  private:
    std::weak_ptr<PortalHotKeys::State> state_;
    std::uint64_t key_;
};

class SessionToken final : public HotKeyToken {
  public:
    explicit SessionToken(std::shared_ptr<PortalHotKeys::Session> session)
        : session_(std::move(session)) {}
    ~SessionToken() override { session_->close(); }

  private:
    std::shared_ptr<PortalHotKeys::Session> session_;
};

}  // namespace

std::optional<std::string> PortalHotKeys::triggerFor(std::uint32_t keyCode,
                                                     std::uint32_t modifiers) {
    if (keyCode != 8) {
        return std::nullopt;
    }
    std::string text;
    if (modifiers & 0x1000)
        text += "CTRL+";
    if (modifiers & 0x0800)
        text += "ALT+";
    if (modifiers & 0x0200)
        text += "SHIFT+";
    if (modifiers & 0x0100)
        text += "LOGO+";
    return text + "c";
}

PortalHotKeys::PortalHotKeys(std::shared_ptr<DBusConnection> sessionBus)
    : state_(std::make_shared<State>()) {
    state_->owner = this;
    state_->bus = std::move(sessionBus);
    if (state_->bus && state_->bus->isOpen()) {
        state_->portal = state_->bus->watchName(kPortalName);
        state_->portalFollowed = state_->portal->ownerChanged.subscribe(
            [weak = std::weak_ptr<State>(state_)](const std::string& now) {
                if (auto s = weak.lock()) {
                    s->portalMoved(now);
                }
            });
    }
}

PortalHotKeys::~PortalHotKeys() = default;

std::optional<std::string> PortalHotKeys::unavailableReason() {
    if (!state_->bus || !state_->bus->isOpen()) {
        return localized(
            "Global shortcuts on Wayland go through the desktop portal, and "
            "this session has no session bus to reach it.");
    }
    return state_->reason;
}

std::optional<std::string> PortalHotKeys::boundTrigger() {
    return state_->trigger;
}

std::unique_ptr<HotKeyToken> PortalHotKeys::installHandler(
    std::function<void(std::uint32_t)> handler) {
    const std::uint64_t key = state_->next++;
    state_->handlers.emplace(key, std::move(handler));
    return std::make_unique<HandlerToken>(state_, key);
}

std::unique_ptr<HotKeyToken> PortalHotKeys::registerHotKey(std::uint32_t keyCode,
                                                           std::uint32_t modifiers,
                                                           std::uint32_t id) {
    if (!state_->bus || !state_->bus->isOpen()) {
        log().notice(*unavailableReason());
        return nullptr;
    }
    auto trigger = triggerFor(keyCode, modifiers);
    if (!trigger) {
        log().error("The hot key " + std::to_string(keyCode) + " has no name for the desktop.");
        return nullptr;
    }
    auto session = std::make_shared<Session>();
    session->state = state_;
    session->bus = state_->bus;
    session->id = id;
    session->trigger = *trigger;
    state_->sessions.push_back(session);
    if (state_->reason && state_->reasonFrom == state_->portal->owner()) {
        // The portal running now has answered already: it is asked again only once another
        // one runs.
        log().notice(*state_->reason);
        session->answeredBy = state_->reasonFrom;
    } else {
        session->start();
    }
    return std::make_unique<SessionToken>(std::move(session));
}

std::unique_ptr<HotKeyToken> PortalHotKeys::addGlobalMonitor(std::function<void(const KeyPress&)>) {
    log().notice(
        "On Wayland no program sees the keys typed in another; only the desktop's "
        "global shortcuts reach Orvel.");
    return nullptr;
}

std::unique_ptr<HotKeyToken> PortalHotKeys::addLocalMonitor(std::function<bool(const KeyPress&)>) {
    return nullptr;
}

}  // namespace orvel
