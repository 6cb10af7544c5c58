#include "menubar/StatusItemController.h"

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "core/UserNotification.h"
#include "devices/PermissionPrimer.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "menubar/AppWindows.h"
#include "menubar/MenuView.h"
#include "platform/Processes.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace {

// The item made last, for as long as its owner keeps it.
std::weak_ptr<StatusItemController>& currentItem() {
    static std::weak_ptr<StatusItemController> item;
    return item;
}

}  // namespace

std::shared_ptr<StatusItemController> StatusItemController::make(Services services) {
    std::shared_ptr<StatusItemController> made(new StatusItemController(std::move(services)));
    made->refresh();
    currentItem() = made;
    return made;
}

StatusItemController::StatusItemController(Services services)
    : popover_(ui::UiHost::current().makePopover()),
      controller_(services.controller),
      prefs_(services.prefs),
      processes_(services.processes),
      notifications_(services.notifications),
      panelServices_(std::move(services.panel)),
      item_(ui::UiHost::current().makeStatusItem()) {
    popover_->setTransient(true);
    item_->onClick = [weakSelf = weakRef(*this)](std::optional<ui::StatusItemClick> click) {
        if (auto* self = weakSelf.get()) {
            self->handleClick(click);
        }
    };
    item_->onTrayChanged = [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->trayChanged();
        }
    };
    item_->onToolTip = [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            // A glance: the time left as of now, for the tool tip about to show.
            const Subscription glance = self->controller_.showCountdown(1);
            self->refresh();
        }
    };
    // An item that knows at once that it is in no tray says so only now.
    if (item_->isInTray() == false) {
        trayChanged();
    }
    observations_.push_back(controller_.objectWillChange.subscribe([this] { scheduleRefresh(); }));
    observations_.push_back(prefs_.objectWillChange.subscribe([this] { scheduleRefresh(); }));
    // Pausing and resuming the triggers redraws the item too.
    observations_.push_back(
        services.triggers.objectWillChange.subscribe([this] { scheduleRefresh(); }));
    // The explanation's alert is modal: a panel left open would sit over it, unanswerable.
    observations_.push_back(services.primer.willExplain.subscribe([this] {
        if (popover_->isShown()) {
            popover_->close();
        }
    }));
}

void StatusItemController::scheduleRefresh() {
    if (refreshScheduled_) {
        return;
    }
    refreshScheduled_ = true;
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->refreshScheduled_ = false;
            self->refresh();
        }
    });
}

StatusItemController::~StatusItemController() = default;

StatusItemController* StatusItemController::current() {
    // Alive while locked means another owner holds it: the pointer outlives the lock.
    return currentItem().lock().get();
}

void StatusItemController::refresh() {
    ++refreshCount_;
    // The title counts down in seconds; nothing need tick while no tray shows it, nor where it
    // is shown only in a tool tip made as it shows. A tray that keeps it in its tool tip alone
    // shows it to the minute.
    const bool countdownShown = item_->hasButton() && item_->isInTray() != false &&
                                !item_->asksForToolTip() && prefs_.showTimer() &&
                                controller_.isActive() && controller_.deadline().has_value();
    const double interval = !countdownShown ? 0 : item_->showsTitle() ? 1 : 60;
    if (interval != countdownInterval_) {
        countdown_ = interval > 0 ? controller_.showCountdown(interval) : Subscription();
        countdownInterval_ = interval;
    }
    if (item_->hasButton()) {
        item_->setLook(currentLook());
        item_->setMenu(currentMenu());
    }
    refreshed.send();
}

ui::StatusItemLook StatusItemController::currentLook() {
    const bool active = controller_.isActive();
    ui::StatusItemLook look;
    look.symbol = active ? "cup.and.saucer.fill" : "cup.and.saucer";
    look.symbolDescription = "Orvel";
    look.symbolPointSize = 15;
    look.templateImage = true;
    if (controller_.startedByRuleName()) {
        look.tint = kRuleTint;
    }
    look.title = prefs_.showTimer() && active ? " " + controller_.formatRemaining() : "";
    if (prefs_.showTimer() && active && controller_.deadline() &&
        controller_.secondsRemaining() > 0) {
        look.coarseTitle = " " + minutesLeftText(controller_.secondsRemaining());
    }
    look.font = ui::Font::system(11, ui::FontWeight::regular).withMonospacedDigits();
    look.toolTip = active ? controller_.locksGone().value_or(activeToolTip())
                          : localized("Orvel \u2014 sleep allowed");
    look.accessibilityLabel = "Orvel";
    if (!active) {
        look.accessibilityValue = localized("Inactive");
    } else if (controller_.startedByRuleName()) {
        look.accessibilityValue =
            localizedFormat("Active \u2014 started by %@", {*controller_.startedByRuleName()});
    } else {
        look.accessibilityValue = localized("Active");
    }
    WeakRef<StatusItemController> weakSelf = weakRef(*this);
    ui::AccessibilityAction toggle{localized("Toggle Orvel"), [weakSelf] {
                                       if (auto* self = weakSelf.get()) {
                                           self->toggleSession();
                                       }
                                       return true;
                                   }};
    ui::AccessibilityAction open{localized("Open Menu"), [weakSelf] {
                                     if (auto* self = weakSelf.get()) {
                                         self->showPopover();
                                     }
                                     return true;
                                 }};
    // The first action is always what a plain left click does.
    if (prefs_.swapMenuButtons()) {
        look.accessibilityActions = {open, toggle};
    } else {
        look.accessibilityActions = {toggle, open};
    }
    return look;
}

std::vector<ui::StatusMenuEntry> StatusItemController::currentMenu() {
    const WeakRef<StatusItemController> weakSelf = weakRef(*this);
    auto withSelf = [weakSelf](void (StatusItemController::*operation)()) {
        return [weakSelf, operation] {
            if (auto* self = weakSelf.get()) {
                (self->*operation)();
            }
        };
    };
    auto withWindows = [](void (AppWindows::*operation)()) {
        return [operation] {
            if (AppWindows* windows = AppWindows::current()) {
                (windows->*operation)();
            }
        };
    };
    auto entry = [](int id, std::string title, std::function<void()> action) {
        ui::StatusMenuEntry made;
        made.id = id;
        made.title = std::move(title);
        made.action = std::move(action);
        return made;
    };
    auto separator = [](int id) {
        ui::StatusMenuEntry made;
        made.id = id;
        made.separator = true;
        return made;
    };
    // Trays that show an item's menu do so on the right button, which toggles while the buttons
    // are swapped: then there is none, and the click comes as one (the panel has the entries).
    if (prefs_.swapMenuButtons()) {
        return {};
    }
    // The entry says what choosing it does, as the session stands.
    const std::string toggle =
        localized(controller_.isActive() ? "Turn Orvel Off" : "Turn Orvel On");
    return {
        entry(kMenuOpen, localized("Open Orvel\u2026"), withSelf(&StatusItemController::openPanel)),
        entry(kMenuToggle, toggle, withSelf(&StatusItemController::toggleSession)),
        separator(kMenuWindowsSeparator),
        entry(kMenuSettings, localized("Settings\u2026"), withWindows(&AppWindows::openSettings)),
        entry(kMenuHelp, localized("Help\u2026"), withWindows(&AppWindows::showHelp)),
        separator(kMenuQuitSeparator),
        entry(kMenuQuit, localized("Quit Orvel"),
              [] { ui::UiHost::current().application().terminate(); }),
    };
}

// The command that runs, at the path it runs from; a hold that is no process names none.
std::string StatusItemController::minutesLeftText(std::int64_t seconds) {
    // Whole minutes begun: "1 min" to the end.
    const long long minutes = (std::max<std::int64_t>(seconds, 0) + 59) / 60;
    if (minutes < 60) {
        return localizedFormat("%lld min", {minutes});
    }
    if (minutes % 60 == 0) {
        return localizedFormat("%lld h", {minutes / 60});
    }
    return localizedFormat("%lld h %lld min", {minutes / 60, minutes % 60});
}

std::string StatusItemController::activeToolTip() const {
    if (controller_.engineKind() == EngineKind::caffeinate) {
        return controller_.effectiveOptions().commandLine(processes_.resolve(kCaffeinatePath));
    }
    return localizedFormat("Orvel \u2014 %1$@ (%2$@)",
                           {controller_.statusText(), localized(controller_.engineName())});
}

void StatusItemController::toggleSession() {
    if (controller_.isActive()) {
        controller_.stop(true);
    } else {
        controller_.start();
    }
    refresh();
}

void StatusItemController::handleClick(std::optional<ui::StatusItemClick> click) {
    // A click on the icon while the panel is open only closes it, as the popup's own click
    // elsewhere does on X11; a panel that is a window of its own hears of the click here.
    if (popover_->isShown()) {
        popover_->close();
        return;
    }
    const bool secondary =
        click && (click->rightButton || (click->modifiers & ui::kModifierControl) != 0);
    if (secondary == prefs_.swapMenuButtons()) {
        toggleSession();
        return;
    }
    showPopover();
}

void StatusItemController::showPopover() {
    if (item_->hasButton()) {
        presentPopover();
    }
}

void StatusItemController::openPanel() {
    if (popover_->isShown()) {
        popover_->makeKey();
        return;
    }
    presentPopover();
}

void StatusItemController::presentPopover() {
    if (!panel_) {
        panel_ = std::make_shared<MenuView>(panelServices_());
    }
    if (!popover_->hasContent()) {
        popover_->setContent(panel_);
    }
    // The panel's width follows its scale; taller content scrolls.
    popover_->setContentSize(MenuView::width(panel_->scale()), kPanelHeight);
    popover_->show(*item_);
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get(); self && self->popover_->hasContent()) {
            self->popover_->makeKey();
        }
    });
}

void StatusItemController::setTrayGrace(double seconds) {
    trayGrace_ = seconds;
    trayWait_.cancel();
    trayChanged();
}

void StatusItemController::trayChanged() {
    trayToldItem.send();
    const std::optional<bool> inTray = item_->isInTray();
    if (!inTray) {
        return;
    }
    if (*inTray) {
        trayWait_.cancel();
        if (withoutTray_) {
            withoutTray_ = false;
            popover_->close();
            popover_->setWindowed(false);
            Logger("tray").info("A tray shows Orvel's icon again; the panel opens from it.");
        }
        // An icon that has just found its tray is drawn for the first time.
        scheduleRefresh();
        return;
    }
    if (withoutTray_ || trayWait_) {
        return;
    }
    trayWait_ = RunLoop::main().after(trayGrace_, [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->openWithoutTray();
        }
    });
}

void StatusItemController::openWithoutTray() {
    if (item_->isInTray() != false) {
        return;
    }
    withoutTray_ = true;
    Logger("tray").notice(
        "No tray shows Orvel's icon: the desktop has neither a StatusNotifierItem host (a "
        "panel's tray, or the AppIndicator extension on GNOME) nor an XEmbed system tray. The "
        "panel opens as a window; launching Orvel again opens it again.");
    notifyUser(notifications_, localized("Orvel has no tray icon here"),
               localized("This desktop has no tray to show Orvel's icon in, so its panel opens "
                         "as a window. Launch Orvel again to open it after closing it. A panel "
                         "with a tray, or the AppIndicator extension on GNOME, shows the icon."));
    popover_->setWindowed(true);
    presentPopover();
}

}  // namespace orvel
