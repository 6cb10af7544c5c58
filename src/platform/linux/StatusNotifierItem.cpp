#include "platform/linux/StatusNotifierItem.h"

#include "foundation/RunLoop.h"

#include <unistd.h>

namespace orvel {

namespace {

const DBusObject kWatcher{StatusNotifierItem::kWatcherName, "/StatusNotifierWatcher",
                          StatusNotifierItem::kWatcherName};

int appendPixmaps(sd_bus_message* m, const std::vector<StatusNotifierPixmap>& pixmaps) {
    int r = sd_bus_message_open_container(m, 'a', "(iiay)");
    for (const auto& pixmap : pixmaps) {
        if (r >= 0)
            r = sd_bus_message_open_container(m, 'r', "iiay");
        if (r >= 0)
            r = sd_bus_message_append(m, "ii", pixmap.width, pixmap.height);
        if (r >= 0)
            r = sd_bus_message_append_array(m, 'y', pixmap.argb.data(), pixmap.argb.size());
        if (r >= 0)
            r = sd_bus_message_close_container(m);
    }
    if (r >= 0)
        r = sd_bus_message_close_container(m);
    return r;
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

StatusNotifierItem::StatusNotifierItem(std::shared_ptr<DBusConnection> bus) : bus_(std::move(bus)) {
    static int made = 0;
    busName_ =
        "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
}

StatusNotifierItem::~StatusNotifierItem() {
    watcherSubscription_.cancel();
    ownerSubscription_.cancel();
    registration_.reset();
    nameRequest_.reset();
    object_.reset();
    // The watcher forgets the item when its name leaves the bus.
    if (nameOwned_ && busName_.rfind("org.kde.", 0) == 0 && bus_->isOpen()) {
        if (auto released = bus_->releaseName(busName_); !released) {
            log_.error(released.error().message);
        }
    }
}

Result<void> StatusNotifierItem::serve() {
    // The handlers run inside the bus's processing; clicks go to the loop's next turn, so a
    // window that runs a modal loop never holds the bus up.
    auto click = [this](bool primary) {
        return [this, primary](sd_bus_message* call, sd_bus_message*) {
            int x = 0;
            int y = 0;
            if (!readPoint(call, x, y)) {
                return -EINVAL;
            }
            RunLoop::main().async([weak = weakRef(*this), primary, x, y] {
                auto* alive = weak.get();
                if (alive == nullptr) {
                    return;
                }
                auto handler = primary ? alive->onActivate : alive->onContextMenu;
                if (handler) {
                    handler(x, y);
                }
            });
            return 0;
        };
    };
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
        {"Activate", "ii", "", click(true)},
        {"ContextMenu", "ii", "", click(false)},
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
             int r = sd_bus_message_open_container(m, 'r', "sa(iiay)ss");
             if (r >= 0)
                 r = appendString(m, "");
             if (r >= 0)
                 r = appendPixmaps(m, {});
             if (r >= 0)
                 r = sd_bus_message_append(m, "ss", look_.toolTipTitle.c_str(),
                                           look_.toolTipText.c_str());
             if (r >= 0)
                 r = sd_bus_message_close_container(m);
             return r;
         }},
        {"ItemIsMenu", "b", [](sd_bus_message* m) { return sd_bus_message_append(m, "b", 0); }},
        {"XAyatanaLabel", "s", text(&StatusNotifierLook::label)},
        {"XAyatanaLabelGuide", "s", text(&StatusNotifierLook::labelGuide)},
    };
    item.emits = {
        {"NewTitle", ""},   {"NewIcon", ""},    {"NewAttentionIcon", ""},   {"NewOverlayIcon", ""},
        {"NewToolTip", ""}, {"NewStatus", "s"}, {"XAyatanaNewLabel", "ss"},
    };
    auto exported = bus_->exportObject(kPath, std::move(item));
    if (!exported) {
        return exported.error();
    }
    object_ = std::move(exported.value());

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

    watcher_ = bus_->watchName(kWatcherName);
    watcherSubscription_ = watcher_->changed.subscribe([this](BusNameState state) {
        if (state != BusNameState::present) {
            registration_.reset();
            setRegistered(false);
        } else if (watcher_->owner().empty()) {
            // A watcher the bus starts on demand: the registration starts it.
            registerWithWatcher();
        }
        watcherChanged.send(state);
    });
    // Each new owner is a new watcher that knows nothing of the item, also one that replaced
    // the last without a gap.
    ownerSubscription_ = watcher_->ownerChanged.subscribe([this](const std::string& owner) {
        if (!owner.empty()) {
            registerWithWatcher();
        }
    });
    return {};
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
