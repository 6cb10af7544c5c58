#include "platform/linux/StatusNotifierItem.h"

#include "foundation/RunLoop.h"
#include "platform/linux/DBusWriter.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <utility>

namespace orvel {

namespace {

const DBusObject kWatcher{StatusNotifierItem::kWatcherName, "/StatusNotifierWatcher",
                          StatusNotifierItem::kWatcherName};

DBusWriter& writePixmaps(DBusWriter& w, const std::vector<StatusNotifierPixmap>& pixmaps) {
    return w.container('a', "(iiay)", [&pixmaps](DBusWriter& all) {
        for (const auto& pixmap : pixmaps) {
            all.container('r', "iiay", [&pixmap](DBusWriter& one) {
                one.append("ii", pixmap.width, pixmap.height)
                    .array('y', pixmap.argb.data(), pixmap.argb.size());
            });
        }
    });
}

int appendPixmaps(sd_bus_message* m, const std::vector<StatusNotifierPixmap>& pixmaps) {
    DBusWriter w(m);
    return writePixmaps(w, pixmaps).result();
}

int appendString(sd_bus_message* m, const std::string& text) {
    return sd_bus_message_append(m, "s", text.c_str());
}

// The point of a click; hosts that do not know it send zeros.
bool readPoint(sd_bus_message* call, int& x, int& y) {
    std::int32_t px = 0;
    std::int32_t py = 0;
    if (sd_bus_message_read(call, "ii", &px, &py) < 0) {
        return false;
    }
    x = px;
    y = py;
    return true;
}

}  // namespace

Result<std::unique_ptr<StatusNotifierItem>> StatusNotifierItem::make(
    std::shared_ptr<DBusConnection> bus) {
    if (!bus || !bus->isOpen()) {
        return Error{"The session bus is not available for the tray item."};
    }
    std::unique_ptr<StatusNotifierItem> item(new StatusNotifierItem(std::move(bus)));
    if (auto served = item->serve(); !served) {
        return served.error();
    }
    return item;
}

namespace {

constexpr DBusObject kBusDriver{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus"};

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::vector<std::string> procArguments(std::uint32_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    std::string argument;
    while (std::getline(file, argument, '\0')) {
        arguments.push_back(argument);
    }
    return arguments;
}

std::string nextBusName() {
    static int made = 0;
    return "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
           std::to_string(++made);
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(std::shared_ptr<DBusConnection> bus)
    : processArguments(procArguments), bus_(std::move(bus)), busName_(nextBusName()), menu_(bus_) {
    menu_.onClicked = [this](int id) {
        later([id](StatusNotifierItem& self) {
            if (auto handler = self.onMenuItem) {
                handler(id);
            }
        });
    };
    menu_.onOpening = [this] {
        later([](StatusNotifierItem& self) {
            if (auto handler = self.onMenuOpening) {
                handler();
            }
        });
    };
}

StatusNotifierItem::~StatusNotifierItem() {
    withdraw();
}

void StatusNotifierItem::setOffersMenu(bool offers) {
    if (offers == offersMenu_) {
        return;
    }
    offersMenu_ = offers;
    withdraw();
    busName_ = nextBusName();
    setRegistered(false);
    if (auto served = serve(); !served) {
        log_.error("The tray item could not be served again: " + served.error().message);
    }
}

void StatusNotifierItem::withdraw() {
    watcherSubscription_.cancel();
    ownerSubscription_.cancel();
    registration_.reset();
    hostRead_.reset();
    hostSignals_.reset();
    nameRequest_.reset();
    object_.reset();
    menu_.withdraw();
    // The watcher forgets the item when its name leaves the bus.
    if (nameOwned_ && busName_.rfind("org.kde.", 0) == 0 && bus_->isOpen()) {
        if (auto released = bus_->releaseName(busName_); !released) {
            log_.error(released.error().message);
        }
    }
    nameOwned_ = false;
}

// The handlers run inside the bus's processing; clicks go to the loop's next turn, so a window
// that runs a modal loop never holds the bus up.
DBusInterface::Method StatusNotifierItem::click(const char* member, bool primary) {
    return {member, "ii", "", [this, primary](sd_bus_message* call, sd_bus_message*) {
                int x = 0;
                int y = 0;
                if (!readPoint(call, x, y)) {
                    return -EINVAL;
                }
                later([primary, x, y](StatusNotifierItem& item) {
                    auto handler = primary ? item.onActivate : item.onContextMenu;
                    if (handler) {
                        handler(x, y);
                    }
                });
                return 0;
            }};
}

DBusInterface StatusNotifierItem::itemInterface() {
    auto ignore = [](sd_bus_message*, sd_bus_message*) { return 0; };
    auto text = [this](std::string StatusNotifierLook::*field) {
        return [this, field](sd_bus_message* m) { return appendString(m, look_.*field); };
    };
    auto constant = [](std::string value) {
        return [value](sd_bus_message* m) { return appendString(m, value); };
    };
    auto noPixmaps = [](sd_bus_message* m) { return appendPixmaps(m, {}); };

    DBusInterface item;
    item.name = kInterface;
    item.methods = {
        click("Activate", true),
        click("ContextMenu", false),
        // The middle button and the wheel do nothing.
        {"SecondaryActivate", "ii", "", ignore},
        {"Scroll", "is", "", ignore},
    };
    item.properties = {
        {"Category", "s", constant("ApplicationStatus")},
        {"Id", "s", constant("orvel")},
        {"Title", "s", text(&StatusNotifierLook::title)},
        {"Status", "s", text(&StatusNotifierLook::status)},
        {"WindowId", "i", [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 0); }},
        {"IconName", "s", text(&StatusNotifierLook::iconName)},
        {"IconThemePath", "s", text(&StatusNotifierLook::iconThemePath)},
        {"IconPixmap", "a(iiay)",
         [this](sd_bus_message* m) { return appendPixmaps(m, look_.pixmaps); }},
        {"OverlayIconName", "s", constant("")},
        {"OverlayIconPixmap", "a(iiay)", noPixmaps},
        {"AttentionIconName", "s", constant("")},
        {"AttentionIconPixmap", "a(iiay)", noPixmaps},
        {"AttentionMovieName", "s", constant("")},
        {"ToolTip", "(sa(iiay)ss)",
         [this](sd_bus_message* m) {
             DBusWriter w(m);
             w.container('r', "sa(iiay)ss", [this](DBusWriter& tip) {
                 writePixmaps(tip.string(""), {});
                 tip.append("ss", look_.toolTipTitle.c_str(), look_.toolTipText.c_str());
             });
             return w.result();
         }},
        // The clicks keep their roles; hosts that only show menus show ours.
        {"ItemIsMenu", "b", [](sd_bus_message* m) { return sd_bus_message_append(m, "b", 0); }},
        {"XAyatanaLabel", "s", text(&StatusNotifierLook::label)},
        {"XAyatanaLabelGuide", "s", text(&StatusNotifierLook::labelGuide)},
    };
    if (offersMenu_) {
        item.properties.push_back({"Menu", "o", [](sd_bus_message* m) {
                                       return sd_bus_message_append(m, "o", kMenuPath);
                                   }});
    }
    item.emits = {
        {"NewTitle", ""},   {"NewIcon", ""},    {"NewAttentionIcon", ""},   {"NewOverlayIcon", ""},
        {"NewToolTip", ""}, {"NewStatus", "s"}, {"XAyatanaNewLabel", "ss"},
    };
    return item;
}

Result<void> StatusNotifierItem::serve() {
    auto exported = bus_->exportObject(kPath, itemInterface());
    if (!exported) {
        return exported.error();
    }
    object_ = std::move(exported.value());
    if (auto menu = offersMenu_ ? menu_.serve() : Result<void>{}; !menu) {
        return menu.error();
    }

    auto request = bus_->requestName(busName_, [this](std::optional<std::string> error) {
        nameRequest_.reset();
        if (error) {
            // Watchers also take an item by its connection's own name.
            log_.error("The tray item could not take its bus name (" + *error +
                       "); it goes by the connection's own name.");
            busName_ = bus_->uniqueName();
        }
        nameOwned_ = true;
        registerWithWatcher();
    });
    if (!request) {
        return request.error();
    }
    nameRequest_ = std::move(request.value());
    return followWatcher();
}

Result<void> StatusNotifierItem::followWatcher() {
    watcher_ = bus_->watchName(kWatcherName);
    watcherSubscription_ = watcher_->changed.subscribe([this](BusNameState state) {
        if (state != BusNameState::present) {
            registration_.reset();
            setRegistered(false);
            hostRead_.reset();
            setHost(state == BusNameState::absent ? std::optional<bool>(false) : std::nullopt);
            forgetTrays();
        } else if (watcher_->owner().empty()) {
            // A watcher the bus starts on demand: the registration starts it.
            registerWithWatcher();
        } else {
            readHost();
        }
        watcherChanged.send(state);
    });
    // Each new owner is a new watcher that knows nothing of the item, also one that replaced
    // the last without a gap.
    ownerSubscription_ = watcher_->ownerChanged.subscribe([this](const std::string& owner) {
        if (!owner.empty()) {
            registerWithWatcher();
            readHost();
        }
    });
    // The signals say that some host came or went; whether any is left, the property says.
    auto hostSignals = bus_->matchSignal(
        kWatcherName, kWatcher.path, kWatcherName, nullptr, [this](sd_bus_message* m) {
            if (sd_bus_message_is_signal(m, kWatcherName, "StatusNotifierHostRegistered") > 0 ||
                sd_bus_message_is_signal(m, kWatcherName, "StatusNotifierHostUnregistered") > 0) {
                readHost();
            }
        });
    if (!hostSignals) {
        return hostSignals.error();
    }
    hostSignals_ = std::move(hostSignals.value());
    return {};
}

void StatusNotifierItem::readHost() {
    if (watcher_->state() != BusNameState::present) {
        return;
    }
    const DBusObject properties{kWatcherName, kWatcher.path, "org.freedesktop.DBus.Properties"};
    auto call = bus_->call(
        properties, "Get",
        [](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", kWatcherName, "IsStatusNotifierHostRegistered");
        },
        [this](sd_bus_message* reply) {
            hostRead_.reset();
            int registered = 1;
            if (auto error = DBusConnection::errorOf(reply)) {
                // A watcher that cannot say is taken at its word that it shows items.
                log_.notice("The tray's watcher does not say whether a host shows items (" +
                            *error + "); taken as one that does.");
            } else if (sd_bus_message_enter_container(reply, 'v', "b") < 0 ||
                       sd_bus_message_read(reply, "b", &registered) < 0) {
                log_.notice(
                    "The tray's watcher said in a form unknown whether a host shows "
                    "items; taken as one that does.");
                registered = 1;
            }
            setHost(registered != 0);
            if (registered != 0) {
                // A host that came may be of another kind.
                readTrays();
            } else {
                forgetTrays();
            }
        });
    if (!call) {
        log_.error(call.error().message);
        return;
    }
    hostRead_ = std::move(call.value());
}

void StatusNotifierItem::setHost(std::optional<bool> hasHost) {
    if (hasHost_ == hasHost) {
        return;
    }
    hasHost_ = hasHost;
    hostChanged.send();
}

StatusNotifierItem::TrayKind StatusNotifierItem::trayKind(
    const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return TrayKind::other;
    }
    const std::string program = baseName(arguments.front());
    if (program == "plasmashell" || program == "waybar" || program == "xfce4-panel") {
        return TrayKind::drawsNoLabel;
    }
    // Xfce runs its tray plugin in a wrapper process of its own.
    if (program.rfind("wrapper-", 0) == 0 &&
        std::any_of(arguments.begin() + 1, arguments.end(),
                    [](const std::string& a) { return baseName(a) == "libsystray.so"; })) {
        return TrayKind::drawsNoLabel;
    }
    // Plasma's watcher runs in KDE's daemon, apart from the tray.
    if (program == "kded5" || program == "kded6") {
        return TrayKind::watcherAlone;
    }
    return TrayKind::other;
}

// The watcher, and every host that took the name hosts take, each by its process.
void StatusNotifierItem::readTrays() {
    const std::uint64_t reading = ++traysReading_;
    trayProcesses_.clear();
    auto names = bus_->call(kBusDriver, "ListNames", nullptr, [this, reading](sd_bus_message* m) {
        if (reading != traysReading_) {
            return;
        }
        std::vector<std::string> trays{kWatcherName};
        if (!DBusConnection::errorOf(m) && sd_bus_message_enter_container(m, 'a', "s") > 0) {
            const char* name = nullptr;
            while (sd_bus_message_read(m, "s", &name) > 0) {
                const std::string_view n = name;
                if (n.rfind("org.kde.StatusNotifierHost-", 0) == 0 ||
                    n.rfind("org.freedesktop.StatusNotifierHost-", 0) == 0) {
                    trays.emplace_back(n);
                }
            }
        }
        struct Tally {
            std::size_t left = 0;
            bool other = false;
            bool labelless = false;
        };
        auto tally = std::make_shared<Tally>();
        tally->left = trays.size();
        for (const std::string& tray : trays) {
            auto process = bus_->call(
                kBusDriver, "GetConnectionUnixProcessID",
                [tray](sd_bus_message* call) { return appendString(call, tray); },
                [this, reading, tally](sd_bus_message* reply) {
                    if (reading != traysReading_) {
                        return;
                    }
                    std::uint32_t pid = 0;
                    // One that cannot be told (gone, or in a sandbox) may draw labels.
                    const TrayKind kind = !DBusConnection::errorOf(reply) &&
                                                  sd_bus_message_read(reply, "u", &pid) > 0 &&
                                                  pid != 0
                                              ? trayKind(processArguments(pid))
                                              : TrayKind::other;
                    tally->other = tally->other || kind == TrayKind::other;
                    tally->labelless = tally->labelless || kind == TrayKind::drawsNoLabel;
                    if (--tally->left == 0) {
                        setShowsLabel(tally->other || !tally->labelless);
                    }
                });
            if (!process) {
                setShowsLabel(true);
                return;
            }
            trayProcesses_.push_back(std::move(process.value()));
        }
    });
    if (!names) {
        setShowsLabel(true);
        return;
    }
    trayNames_ = std::move(names.value());
}

// No host, or no watcher: a reading still under way would answer for trays that are gone.
void StatusNotifierItem::forgetTrays() {
    ++traysReading_;
    trayNames_.reset();
    trayProcesses_.clear();
    setShowsLabel(std::nullopt);
}

void StatusNotifierItem::setShowsLabel(std::optional<bool> shows) {
    if (hostShowsLabel_ == shows) {
        return;
    }
    hostShowsLabel_ = shows;
    if (shows == false) {
        log_.info(
            "The tray draws no label beside its icons: its tool tip gives the time left to the "
            "minute.");
    }
    hostChanged.send();
}

void StatusNotifierItem::registerWithWatcher() {
    if (!nameOwned_ || watcher_->state() != BusNameState::present) {
        return;
    }
    auto call = bus_->call(
        kWatcher, "RegisterStatusNotifierItem",
        [this](sd_bus_message* m) { return appendString(m, busName_); },
        [this](sd_bus_message* reply) {
            registration_.reset();
            if (auto error = DBusConnection::errorOf(reply)) {
                log_.error("The tray's watcher refused the item: " + *error);
                setRegistered(false);
                return;
            }
            setRegistered(true);
        });
    if (!call) {
        log_.error(call.error().message);
        return;
    }
    registration_ = std::move(call.value());
}

void StatusNotifierItem::setRegistered(bool registered) {
    registered_ = registered;
}

void StatusNotifierItem::later(std::function<void(StatusNotifierItem&)> work) {
    RunLoop::main().async([weak = weakRef(*this), work = std::move(work)] {
        if (auto* alive = weak.get()) {
            work(*alive);
        }
    });
}

void StatusNotifierItem::emit(const char* member, const DBusConnection::Append& append) {
    if (auto sent = bus_->emitSignal(kPath, kInterface, member, append); !sent) {
        log_.error(sent.error().message);
    }
}

void StatusNotifierItem::setLook(StatusNotifierLook look) {
    const StatusNotifierLook before = std::exchange(look_, std::move(look));
    if (look_.title != before.title) {
        emit("NewTitle");
    }
    if (look_.iconName != before.iconName || look_.iconThemePath != before.iconThemePath ||
        look_.pixmaps != before.pixmaps) {
        emit("NewIcon");
    }
    if (look_.toolTipTitle != before.toolTipTitle || look_.toolTipText != before.toolTipText) {
        emit("NewToolTip");
    }
    if (look_.status != before.status) {
        emit("NewStatus", [this](sd_bus_message* m) { return appendString(m, look_.status); });
    }
    if (look_.label != before.label || look_.labelGuide != before.labelGuide) {
        emit("XAyatanaNewLabel", [this](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", look_.label.c_str(), look_.labelGuide.c_str());
        });
    }
}

std::string StatusNotifierItem::guideFor(const std::string& label) {
    std::string guide = label;
    for (char& c : guide) {
        if (c >= '0' && c <= '9') {
            c = '0';
        }
    }
    return guide;
}

}  // namespace orvel
