#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "menubar/MenuView.h"
#include "ui/Host.h"

namespace orvel {

class Notifications;
class OrvelController;
class PermissionPrimer;
class Processes;
class Preferences;
class TriggerEngine;

// The tray item: its symbol, title, tooltip and accessibility follow the session; a click
// toggles the session or opens the panel. It observes the session controller and the settings
// and redraws once on the next loop turn after any of them changed. Where no tray shows the item
// for a while, the user is told once and the panel opens as a window of its own until a tray is
// back; a tray that is gone only for a moment (a panel that restarts) is not told of. Main thread
// only.
class StatusItemController final : public WeakReferenceable {
  public:
    // What the item follows, and what its panel is built with.
    struct Services {
        OrvelController& controller;
        Preferences& prefs;
        TriggerEngine& triggers;
        PermissionPrimer& primer;
        // Where the caffeinate the tool tip names really is.
        Processes& processes;
        // Where the user is told that no tray shows the item.
        Notifications& notifications;
        // Asked for when the panel is first shown: the devices and the power centre it shows are
        // not brought up with the tray.
        std::function<MenuView::Services()> panel;
    };

    // Builds the item and its panel and makes it current().
    static std::shared_ptr<StatusItemController> make(Services services);
    ~StatusItemController();
    StatusItemController(const StatusItemController&) = delete;
    StatusItemController& operator=(const StatusItemController&) = delete;

    // The most recently made status item while its owner keeps it, if any; callers do nothing
    // without one.
    static StatusItemController* current();

    // Redraws the item from the current session state.
    void refresh();
    // What the item shows for the current session state.
    ui::StatusItemLook currentLook();
    // The time left to the minute begun, as a coarse title gives it: "59 min", "1 h 30 min".
    static std::string minutesLeftText(std::int64_t seconds);
    // The item's menu for the current session state, for trays that show only a menu.
    std::vector<ui::StatusMenuEntry> currentMenu();
    // A click on the item; none for an action sent by program (it counts as primary).
    void handleClick(std::optional<ui::StatusItemClick> click);
    // Shows the panel under the item, building its content the first time.
    void showPopover();
    // Opens the panel for a launch of the running application: it stays open when it is, and
    // shows by the pointer where the desktop gives the item no place.
    void openPanel();

    // How long the item may be out of a tray before the user is told (a panel restarting comes
    // back sooner). Changing it starts the wait again.
    void setTrayGrace(double seconds);
    // Whether the panel is a window of its own because no tray shows the item.
    bool isWithoutTray() const { return withoutTray_; }

    ui::StatusItem& item() { return *item_; }
    ui::Popover& popover() { return *popover_; }

    Signal<> refreshed;
    std::uint64_t refreshCount() const { return refreshCount_; }
    // Sent whenever the desktop tells the item anew whether a tray shows it
    // (item().isInTray()).
    Signal<> trayToldItem;

    static constexpr ui::RGBA kRuleTint{0.69, 0.486, 0.31, 1.0};
    static constexpr double kPanelHeight = 520;
    static constexpr double kTrayGraceSeconds = 5;
    // The menu's entries, by id.
    enum MenuEntry : int {
        kMenuOpen = 1,
        kMenuToggle,
        kMenuSettings,
        kMenuHelp,
        kMenuQuit,
        kMenuWindowsSeparator,
        kMenuQuitSeparator,
    };

  private:
    // The tool tip while a session runs and its locks are held.
    std::string activeToolTip() const;
    explicit StatusItemController(Services services);
    void toggleSession();
    void presentPopover();
    void trayChanged();
    void openWithoutTray();
    // Redraws on the next loop turn, once however many changes come before it.
    void scheduleRefresh();

    std::unique_ptr<ui::Popover> popover_;
    OrvelController& controller_;
    Preferences& prefs_;
    Processes& processes_;
    Notifications& notifications_;
    std::function<MenuView::Services()> panelServices_;
    std::shared_ptr<MenuView> panel_;
    std::unique_ptr<ui::StatusItem> item_;
    std::uint64_t refreshCount_ = 0;
    bool refreshScheduled_ = false;
    bool withoutTray_ = false;
    double trayGrace_ = kTrayGraceSeconds;
    Timer trayWait_;
    SubscriptionBag observations_;
    Subscription countdown_;  // while the title shows the time left
    double countdownInterval_ = 0;
};

}  // namespace orvel
