#include "ui/qt/QtTrayItem.h"

#include "ui/qt/QtNotifierStatusItem.h"

#include <QCursor>
#include <QGuiApplication>

namespace orvel::ui {

QtTrayItem::QtTrayItem(std::shared_ptr<DBusConnection> bus, Factory makeXEmbedItem)
    : makeXEmbedItem_(std::move(makeXEmbedItem)) {
    if (bus) {
        auto service = StatusNotifierItem::make(std::move(bus));
        if (service) {
            notifier_ = std::make_unique<QtNotifierStatusItem>(std::move(service.value()));
            watcherSubscription_ =
                notifier_->service().watcherChanged.subscribe([this](BusNameState) { choose(); });
            hostSubscription_ =
                notifier_->service().hostChanged.subscribe([this] { trayMaybeChanged(); });
        } else {
            log_.error(service.error().message + " The tray uses the XEmbed icon.");
        }
    }
    choose();
}

QtTrayItem::~QtTrayItem() = default;

std::unique_ptr<QtTrayItem> QtTrayItem::make(Factory makeXEmbedItem) {
    auto bus = DBusConnection::open(DBusConnection::Bus::session);
    if (!bus) {
        Logger("tray").notice(bus.error().message + " The tray uses the XEmbed icon.");
        return std::make_unique<QtTrayItem>(nullptr, std::move(makeXEmbedItem));
    }
    return std::make_unique<QtTrayItem>(std::move(bus.value()), std::move(makeXEmbedItem));
}

void QtTrayItem::choose() {
    const BusNameState watcher = notifier_ ? notifier_->service().watcher() : BusNameState::absent;
    if (watcher == BusNameState::present) {
        if (chosen_ != notifier_.get()) {
            show(notifier_.get());
            xembed_.reset();
            traySelectionSubscription_.cancel();
            traySelection_.reset();
            xembedCheck_.cancel();
        }
    } else if (watcher == BusNameState::absent && chosen_ == nullptr) {
        xembed_ = makeXEmbedItem_();
        show(xembed_.get());
        watchXEmbedTray();
    }
    trayMaybeChanged();
}

// Only X has XEmbed trays: elsewhere Qt's tray icon never finds one, and nothing changes that.
void QtTrayItem::watchXEmbedTray() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    traySelection_ = X11TraySelection::open();
    if (traySelection_) {
        traySelectionSubscription_ =
            traySelection_->changed.subscribe([this](bool) { trayMaybeChanged(); });
        return;
    }
    log_.notice("The system tray cannot be watched on this X display; it is looked for every " +
                std::to_string(int(kXEmbedCheckSeconds)) + " seconds.");
    xembedCheck_ = RunLoop::main().every(kXEmbedCheckSeconds, [this] { trayMaybeChanged(); });
}

std::optional<bool> QtTrayItem::isInTray() const {
    if (chosen_ == nullptr) {
        return std::nullopt;
    }
    if (chosen_ == xembed_.get()) {
        // Qt learns of the tray from the same X events, maybe after us.
        return traySelection_ ? traySelection_->hasTray() : xembed_->hasButton();
    }
    // Waiting for a watcher that went away, the item is in no tray.
    return notifier_->service().hasHost();
}

void QtTrayItem::trayMaybeChanged() {
    const std::optional<bool> inTray = isInTray();
    if (inTray == toldInTray_ && showsTitle() == toldShowsTitle_) {
        return;
    }
    toldInTray_ = inTray;
    toldShowsTitle_ = showsTitle();
    tell();
}

void QtTrayItem::show(StatusItem* item) {
    const bool asked = asksForToolTip();
    chosen_ = item;
    item->onClick = [this](std::optional<StatusItemClick> click) {
        if (onClick) {
            auto handler = onClick;
            handler(click);
        }
    };
    item->onToolTip = [this, item] {
        if (chosen_ == item && onToolTip) {
            auto handler = onToolTip;
            handler();
        }
    };
    if (hasLook_ && item->hasButton()) {
        item->setLook(look_);
    }
    item->setMenu(menu());
    if (asksForToolTip() != asked) {
        tell();
    }
}

void QtTrayItem::tell() {
    if (onTrayChanged) {
        auto handler = onTrayChanged;
        handler();
    }
}

void QtTrayItem::setMenu(std::vector<StatusMenuEntry> entries) {
    StatusItem::setMenu(std::move(entries));
    if (chosen_ != nullptr) {
        chosen_->setMenu(menu());
    }
}

bool QtTrayItem::hasButton() const {
    // Undecided, or waiting for a watcher, the look is kept for the item to come.
    return chosen_ == nullptr || notifier_ != nullptr || chosen_->hasButton();
}

void QtTrayItem::setLook(StatusItemLook look) {
    look_ = std::move(look);
    hasLook_ = true;
    if (chosen_ != nullptr && chosen_->hasButton()) {
        chosen_->setLook(look_);
    }
}

Rect QtTrayItem::anchorRect() const {
    if (chosen_ != nullptr) {
        return chosen_->anchorRect();
    }
    // No item yet (the bus has not answered): a panel opened now shows by the pointer.
    const QPoint at = QCursor::pos();
    return Rect{double(at.x()), double(at.y()), 0, 0};
}

}  // namespace orvel::ui
