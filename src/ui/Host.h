#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Signal.h"
#include "platform/Workspace.h"
#include "ui/Types.h"
#include "ui/ViewComponent.h"

// The windowing services a desktop application needs: the application object, windows, the
// status item and its popover, alerts, file panels, the main menu and the pasteboard. Two hosts
// implement them: a headless one that records everything for tests, and the Qt one that draws.
// Threading: main thread only.

namespace orvel {
class DesktopSettings;
class HotKeys;
class Platform;
class UserDefaults;
}  // namespace orvel

namespace orvel::ui {

// The parts of the machine a host works with, handed in by whoever makes the host. A host
// without one goes without: windows remember no frames, followed links open nothing, the tray
// is drawn for an unknown colour scheme.
struct HostCapabilities {
    // Where windows remember their frames.
    UserDefaults* defaults = nullptr;
    // Opens the links a user follows in a text.
    Workspace* workspace = nullptr;
    // The colour scheme the tray's picture and the windows follow.
    DesktopSettings* desktopSettings = nullptr;
    // Hears the keys typed in the host's windows first (the shortcut's local monitors).
    HotKeys* hotKeys = nullptr;

    // All of them from one machine.
    static HostCapabilities of(Platform& platform);
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

class Application {
  public:
    virtual ~Application() = default;
    // Regular: a window-owning application; accessory: tray only.
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual ActivationPolicy activationPolicy() const = 0;
    virtual void activate(bool ignoringOtherApps) = 0;
    // Quits: sends UiHost::willTerminate, then ends the main loop.
    virtual void terminate() = 0;
};

enum WindowStyle : unsigned {
    kWindowTitled = 1,
    kWindowClosable = 2,
    kWindowMiniaturizable = 4,
    kWindowResizable = 8,
    // The content reaches under the title bar.
    kWindowFullSizeContentView = 0x8000,
    // Escape closes the window when none of its controls takes the key.
    kWindowClosesOnEscape = 0x10000,
};

enum class WindowLevel { normal, floating };

class Window {
  public:
    virtual ~Window() = default;

    virtual void setTitle(std::string title) = 0;
    virtual std::string title() const = 0;
    virtual void setStyle(unsigned style) = 0;
    virtual void setContent(std::shared_ptr<ViewComponent> content) = 0;
    virtual std::shared_ptr<ViewComponent> content() const = 0;
    virtual void setContentSize(double width, double height) = 0;
    virtual void setContentMinSize(double width, double height) = 0;
    virtual void setContentMaxSize(double width, double height) = 0;
    virtual void setLevel(WindowLevel level) = 0;
    virtual void center() = 0;
    // Restores the frame saved under this name, and saves the frame there whenever it changes.
    // True when a saved frame was restored.
    virtual bool setFrameAutosaveName(std::string name) = 0;
    // A title bar drawn over the content without a background of its own, its title hidden;
    // the window then moves by dragging its background.
    virtual void setTitlebarAppearsTransparent(bool transparent) = 0;
    virtual void setTitleHidden(bool hidden) = 0;
    virtual void setMovableByWindowBackground(bool movable) = 0;
    virtual void makeKeyAndOrderFront() = 0;
    // Hides the window; it stays available for reuse.
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
    virtual bool isKey() const = 0;

    // Called when the window closes by any road (close(), the close button, Escape in a
    // window that handles it); not called for closes the owner makes while tearing down.
    std::function<void()> onClose;
};

// A click on the status item.
struct StatusItemClick {
    bool rightButton = false;
    unsigned modifiers = 0;  // Modifier flags
};

struct AccessibilityAction {
    std::string name;
    std::function<bool()> handler;
};

// What the status item shows.
struct StatusItemLook {
    std::string symbol;
    std::string symbolDescription;
    bool templateImage = true;
    double symbolPointSize = 15;
    std::optional<RGBA> tint;
    std::string title;
    // The title as it reads to the minute, for a tray that keeps it where it cannot tick each
    // second unseen (empty: the title as it is).
    std::string coarseTitle;
    Font font = Font::system(11).withMonospacedDigits();
    std::string toolTip;
    std::string accessibilityLabel;
    std::string accessibilityValue;
    std::vector<AccessibilityAction> accessibilityActions;
};

// An entry of the menu that trays which show only a menu give the item.
struct StatusMenuEntry {
    // Above zero and the same while the entry stays, so a choice made on an older copy of the
    // menu reaches the entry it was made on.
    int id = 0;
    std::string title;
    std::function<void()> action;
    bool enabled = true;
    // A check mark, on or off; none for a plain entry.
    std::optional<bool> checked;
    bool separator = false;
};

class StatusItem {
  public:
    virtual ~StatusItem() = default;
    // False when the system gives the item no button (no tray): looks and panels do nothing.
    virtual bool hasButton() const = 0;
    virtual void setLook(StatusItemLook look) = 0;
    virtual const StatusItemLook& look() const = 0;
    // The button's place on screen, for anchoring the popover.
    virtual Rect anchorRect() const = 0;

    // The item's menu, for trays that show a menu rather than send clicks; others keep it
    // unused. With no entries the item offers no menu, and such trays send the click.
    virtual void setMenu(std::vector<StatusMenuEntry> entries) { menu_ = std::move(entries); }
    const std::vector<StatusMenuEntry>& menu() const { return menu_; }
    // Runs the action of the entry with this id, if it is there and enabled; whether it ran.
    bool chooseMenuEntry(int id) const;

    // A click released on the button; without an event (an action sent by program) the click
    // is given as none.
    std::function<void(std::optional<StatusItemClick>)> onClick;

    // Whether a tray on the desktop shows the item; unknown until the desktop has said. Where
    // the host cannot tell, it is taken as shown.
    virtual std::optional<bool> isInTray() const { return true; }
    // Told when isInTray(), asksForToolTip() or showsTitle() changes.
    std::function<void()> onTrayChanged;

    // Whether the item shows a look's title only in a tool tip that it asks for just before
    // showing it (onToolTip): a title that changes need not be set while nobody looks.
    virtual bool asksForToolTip() const { return false; }
    // Whether the tray is taken to draw the title beside the symbol. One known to draw none
    // shows it only in a tool tip it keeps, and there the coarse title: nothing need tick each
    // second for it.
    virtual bool showsTitle() const { return true; }
    // Asked as the tool tip is about to show; the look set meanwhile is the one it shows.
    std::function<void()> onToolTip;

  private:
    std::vector<StatusMenuEntry> menu_;
};

class Popover {
  public:
    virtual ~Popover() = default;
    virtual void setContent(std::shared_ptr<ViewComponent> content) = 0;
    virtual bool hasContent() const = 0;
    virtual void setContentSize(double width, double height) = 0;
    // Closes by itself when the user clicks elsewhere.
    virtual void setTransient(bool transient) = 0;
    virtual void show(StatusItem& anchor) = 0;
    virtual void close() = 0;
    virtual bool isShown() const = 0;
    // Makes the popover's window the key window.
    virtual void makeKey() = 0;
    // A window of its own (titled, in the task bar, closed by the user) for a desktop where no
    // tray shows the item; else a panel at the item.
    virtual void setWindowed(bool) {}
};

// Alerts
// --------------------------------------------------------------------------------------------

enum class AlertStyle { informational, warning, critical };

inline constexpr int kAlertFirstButtonReturn = 1000;
inline constexpr int kAlertSecondButtonReturn = 1001;
inline constexpr int kAlertThirdButtonReturn = 1002;
inline constexpr int kModalResponseStop = -1000;
inline constexpr int kModalResponseAbort = -1001;

struct AlertContent {
    AlertStyle style = AlertStyle::warning;
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;  // first is the default; responses 1000, 1001, …
    // An accessory: a checkbox with its title, or a secure text field with its placeholder.
    std::optional<std::pair<std::string, bool>> checkbox;
    std::optional<std::string> secureFieldPlaceholder;
    bool floating = false;  // above other applications' windows
};

// An alert while it runs. Its methods may be called from timers during runModal(); after the
// alert has ended they do nothing.
class Alert {
  public:
    virtual ~Alert() = default;
    virtual const AlertContent& content() const = 0;
    // Shows the alert and waits (in a modal loop) for an answer: 1000 + the button's index, or
    // the response given to stopModal().
    virtual int runModal() = 0;
    virtual bool isRunning() const = 0;
    virtual void setButtonTitle(std::size_t index, std::string title) = 0;
    virtual void stopModal(int response) = 0;
    virtual bool checkboxState() const = 0;
    virtual std::string secureText() const = 0;
};

// File panels
// ---------------------------------------------------------------------------------------

struct SavePanelOptions {
    std::string title;
    std::string prompt;
    std::string message;
    std::string nameFieldValue;
    std::vector<std::string> allowedExtensions;
    std::string directory;
    std::shared_ptr<ViewComponent> accessory;
};

struct OpenPanelOptions {
    std::string title;
    std::string prompt;
    std::string message;
    std::vector<std::string> allowedExtensions;
    std::string directory;
    // Other folders offered beside the panel's list.
    std::vector<std::string> places;
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;
    std::shared_ptr<ViewComponent> accessory;
};

// The main menu
// ------------------------------------------------------------------------------------

// What an item without an action of its own asks of the application: the edit actions go to the
// key window's focused field, the window actions to the key window.
enum class StandardAction {
    none,
    undo,
    redo,
    cut,
    copy,
    paste,
    deleteSelection,
    selectAll,
    minimize,
    zoom,
    close,
    bringAllToFront,
    hide,
    hideOthers,
    showAll,
    quit,
};

// A menu the application hands to the desktop: the services offered to it, the list of its
// windows, its help.
enum class MenuRole { none, services, windows, help };

struct MenuBarItem {
    std::string title;
    std::optional<KeyboardShortcut> keyEquivalent;
    std::function<void()> action;
    bool enabled = true;
    bool separator = false;
    std::vector<MenuBarItem> submenu;
    // Performed by the host when there is no action.
    StandardAction standardAction = StandardAction::none;
    // For an item with a submenu (which may be empty).
    MenuRole role = MenuRole::none;

    static MenuBarItem divider() {
        MenuBarItem item;
        item.separator = true;
        return item;
    }
};

// A screen the desktop shows: its frame in the desktop's coordinates and its connector's name.
struct ScreenInfo {
    Rect frame;
    std::string name;

    bool operator==(const ScreenInfo&) const = default;
};

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;
    virtual void setString(const std::string& text) = 0;
    virtual std::optional<std::string> string() const = 0;
};

// The host
// ------------------------------------------------------------------------------------------

class UiHost {
  public:
    virtual ~UiHost() = default;

    static UiHost& current();
    static bool isInstalled();
    static std::unique_ptr<UiHost> install(std::unique_ptr<UiHost> host);

    virtual Application& application() = 0;
    virtual std::unique_ptr<Window> makeWindow() = 0;
    virtual std::unique_ptr<StatusItem> makeStatusItem() = 0;
    virtual std::unique_ptr<Popover> makePopover() = 0;
    virtual std::shared_ptr<Alert> makeAlert(AlertContent content) = 0;
    // The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> runSavePanel(const SavePanelOptions& content) = 0;
    virtual std::optional<std::vector<std::string>> runOpenPanel(
        const OpenPanelOptions& content) = 0;
    virtual void setMainMenu(std::vector<MenuBarItem> menus) = 0;
    // Performs a standard action on the key window or its focused field; nothing when there is
    // none to act on.
    virtual void performStandardAction(StandardAction action) = 0;
    virtual Pasteboard& pasteboard() = 0;
    // The usable area of the main screen, or nothing without a screen.
    virtual std::optional<Rect> mainScreenVisibleFrame() const = 0;
    // The screens in the desktop's order, the main one first.
    virtual std::vector<ScreenInfo> screens() const = 0;
    // Whether windows are drawn in the dark appearance.
    virtual bool isDarkAppearance() const = 0;
    // Asks assistive technology to read a text out now, with high priority.
    virtual void announce(const std::string& text) { (void)text; }

    const HostCapabilities& capabilities() const { return capabilities_; }
    // Opens a link the user followed in a text; why not, in words, when it could not be opened.
    Result<void> openLink(std::string_view url);

    // Sent by Application::terminate() before the main loop ends.
    Signal<> willTerminate;
    // Sent when a screen is added or removed, or one changes its size or place.
    Signal<> screensChanged;

  protected:
    explicit UiHost(HostCapabilities capabilities) : capabilities_(capabilities) {}

  private:
    HostCapabilities capabilities_;
};

}  // namespace orvel::ui
