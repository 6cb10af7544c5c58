#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/Host.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel::ui {

class HeadlessHost;

class HeadlessWindow final : public Window {
  public:
    explicit HeadlessWindow(HeadlessHost& host);
    ~HeadlessWindow() override;

    void setTitle(std::string title) override { title_ = std::move(title); }
    std::string title() const override { return title_; }
    void setStyle(unsigned style) override { style_ = style; }
    void setContent(std::shared_ptr<ViewComponent> content) override;
    std::shared_ptr<ViewComponent> content() const override;
    void setContentSize(double width, double height) override { size_ = {0, 0, width, height}; }
    void setContentMinSize(double width, double height) override {
        minSize_ = {0, 0, width, height};
    }
    void setContentMaxSize(double width, double height) override {
        maxSize_ = {0, 0, width, height};
    }
    void setLevel(WindowLevel level) override { level_ = level; }
    void center() override { ++centered_; }
    bool setFrameAutosaveName(std::string name) override;
    void setTitlebarAppearsTransparent(bool transparent) override {
        titlebarTransparent_ = transparent;
    }
    void setTitleHidden(bool hidden) override { titleHidden_ = hidden; }
    void setMovableByWindowBackground(bool movable) override { movableByBackground_ = movable; }
    void makeKeyAndOrderFront() override;
    void close() override;
    bool isVisible() const override { return visible_; }
    bool isKey() const override;

    // For tests.
    unsigned style() const { return style_; }
    Rect contentSize() const { return size_; }
    Rect contentMinSize() const { return minSize_; }
    Rect contentMaxSize() const { return maxSize_; }
    bool titlebarAppearsTransparent() const { return titlebarTransparent_; }
    bool titleHidden() const { return titleHidden_; }
    bool movableByWindowBackground() const { return movableByBackground_; }
    WindowLevel level() const { return level_; }
    int centerCount() const { return centered_; }
    const std::string& autosaveName() const { return autosaveName_; }
    ViewHost* viewHost() { return view_.get(); }
    Inspector inspect() const;
    // The user closes the window (close button or Escape).
    void userClose() { close(); }

  private:
    HeadlessHost& host_;
    std::string title_;
    unsigned style_ = 0;
    Rect size_, minSize_, maxSize_;
    WindowLevel level_ = WindowLevel::normal;
    int centered_ = 0;
    std::string autosaveName_;
    bool titlebarTransparent_ = false;
    bool titleHidden_ = false;
    bool movableByBackground_ = false;
    bool visible_ = false;
    std::unique_ptr<ViewHost> view_;
};

class HeadlessStatusItem final : public StatusItem {
  public:
    explicit HeadlessStatusItem(HeadlessHost& host);
    ~HeadlessStatusItem() override;

    bool hasButton() const override { return hasButton_; }
    void setLook(StatusItemLook look) override {
        look_ = std::move(look);
        ++lookChanges_;
    }
    const StatusItemLook& look() const override { return look_; }
    Rect anchorRect() const override { return {1200, 0, 24, 24}; }
    bool asksForToolTip() const override { return asksForToolTip_; }
    bool showsTitle() const override { return showsTitle_; }

    // For tests.
    void setHasButton(bool has) { hasButton_ = has; }
    void setAsksForToolTip(bool asks) { asksForToolTip_ = asks; }
    void setShowsTitle(bool shows) { showsTitle_ = shows; }
    // The pointer resting on the item: its tool tip about to show.
    void hover() {
        if (onToolTip) {
            auto handler = onToolTip;
            handler();
        }
    }
    void click(std::optional<StatusItemClick> click = StatusItemClick{});
    int lookChanges() const { return lookChanges_; }

  private:
    HeadlessHost& host_;
    StatusItemLook look_;
    bool hasButton_ = true;
    bool asksForToolTip_ = false;
    bool showsTitle_ = true;
    int lookChanges_ = 0;
};

class HeadlessPopover final : public Popover {
  public:
    explicit HeadlessPopover(HeadlessHost& host);
    ~HeadlessPopover() override;

    void setContent(std::shared_ptr<ViewComponent> content) override;
    bool hasContent() const override { return view_ != nullptr; }
    void setContentSize(double width, double height) override { size_ = {0, 0, width, height}; }
    void setTransient(bool transient) override { transient_ = transient; }
    void show(StatusItem& anchor) override;
    void close() override;
    bool isShown() const override { return shown_; }
    void makeKey() override { ++madeKey_; }

    // For tests.
    Rect contentSize() const { return size_; }
    bool isTransient() const { return transient_; }
    int contentInstallCount() const { return installs_; }
    int madeKeyCount() const { return madeKey_; }
    ViewHost* viewHost() { return view_.get(); }
    Inspector inspect() const;

  private:
    HeadlessHost& host_;
    std::unique_ptr<ViewHost> view_;
    Rect size_;
    bool transient_ = false;
    bool shown_ = false;
    int installs_ = 0;
    int madeKey_ = 0;
};

class HeadlessAlert final : public Alert, public std::enable_shared_from_this<HeadlessAlert> {
  public:
    HeadlessAlert(HeadlessHost& host, AlertContent content)
        : host_(host), content_(std::move(content)) {}

    const AlertContent& content() const override { return content_; }
    int runModal() override;
    bool isRunning() const override { return running_; }
    void setButtonTitle(std::size_t index, std::string title) override;
    void stopModal(int response) override;
    bool checkboxState() const override { return checkbox_; }
    std::string secureText() const override { return secureText_; }

    // For scripts and tests.
    const std::vector<std::string>& buttonTitles() const { return content_.buttons; }
    void setCheckbox(bool on) { checkbox_ = on; }
    void setSecureText(std::string text) { secureText_ = std::move(text); }
    std::optional<int> response() const { return response_; }

  private:
    HeadlessHost& host_;
    AlertContent content_;
    bool running_ = false;
    bool checkbox_ = false;
    std::string secureText_;
    std::optional<int> response_;
};

// How a test answers the next alert: checked at every turn of the alert's modal loop; returns
// the response once it wants to answer.
using AlertScript = std::function<std::optional<int>(HeadlessAlert&)>;

class HeadlessApplication final : public Application {
  public:
    explicit HeadlessApplication(HeadlessHost& host) : host_(host) {}
    void setActivationPolicy(ActivationPolicy policy) override;
    ActivationPolicy activationPolicy() const override { return policy_; }
    void activate(bool) override;
    void terminate() override;

    int activations() const { return activations_; }
    bool terminated() const { return terminated_; }

  private:
    HeadlessHost& host_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    int activations_ = 0;
    bool terminated_ = false;
};

class HeadlessPasteboard final : public Pasteboard {
  public:
    void setString(const std::string& text) override { text_ = text; }
    std::optional<std::string> string() const override { return text_; }

  private:
    std::optional<std::string> text_;
};

// The host for tests: records every window, alert, panel and menu and lets tests work them.
class HeadlessHost final : public UiHost {
  public:
    explicit HeadlessHost(HostCapabilities capabilities = {});
    ~HeadlessHost() override;

    HeadlessApplication& application() override { return application_; }
    std::unique_ptr<Window> makeWindow() override;
    std::unique_ptr<StatusItem> makeStatusItem() override;
    std::unique_ptr<Popover> makePopover() override;
    std::shared_ptr<Alert> makeAlert(AlertContent content) override;
    std::optional<std::string> runSavePanel(const SavePanelOptions& content) override;
    std::optional<std::vector<std::string>> runOpenPanel(const OpenPanelOptions& content) override;
    void setMainMenu(std::vector<MenuBarItem> menus) override;
    void performStandardAction(StandardAction action) override;
    HeadlessPasteboard& pasteboard() override { return pasteboard_; }
    std::optional<Rect> mainScreenVisibleFrame() const override { return screen_; }
    std::vector<ScreenInfo> screens() const override { return screens_; }
    bool isDarkAppearance() const override { return dark_; }
    void announce(const std::string& text) override { announcements_.push_back(text); }

    static HeadlessHost& current();

    // Windows alive now, in creation order.
    std::vector<HeadlessWindow*> windows() const { return windows_; }
    HeadlessWindow* window(std::string_view title) const;
    HeadlessWindow* keyWindow() const { return key_; }
    std::vector<HeadlessStatusItem*> statusItems() const { return statusItems_; }
    std::vector<HeadlessPopover*> popovers() const { return popovers_; }

    // Alerts: scripts answer them in order; the record keeps every alert shown.
    void scriptAlert(AlertScript script) { alertScripts_.push_back(std::move(script)); }
    static AlertScript answer(int response);
    static AlertScript answerAfter(double seconds, int response);
    static AlertScript answerWhen(std::function<bool(HeadlessAlert&)> condition, int response);
    // Leaves the alert up until the code that showed it ends it with stopModal().
    static AlertScript leaveUp();
    const std::vector<std::shared_ptr<HeadlessAlert>>& alerts() const { return alerts_; }
    int unscriptedAlerts() const { return unscripted_; }

    // Panels: each scripted answer is used once; an unscripted panel is cancelled. A step, when
    // given, works the panel's accessory view (as the user would, before answering).
    using PanelStep = std::function<void(Inspector&)>;
    void scriptSavePanel(std::optional<std::string> path, PanelStep step = {}) {
        savePanels_.push_back({std::move(path), std::move(step)});
    }
    void scriptOpenPanel(std::optional<std::vector<std::string>> paths, PanelStep step = {}) {
        openPanels_.push_back({std::move(paths), std::move(step)});
    }
    const std::vector<SavePanelOptions>& savePanelsShown() const { return savePanelsShown_; }
    const std::vector<OpenPanelOptions>& openPanelsShown() const { return openPanelsShown_; }

    // Sent for each request about the application as a whole, in words ("activation policy
    // accessory", "activate", "status item", "main menu"), for tests that follow their order.
    Signal<std::string> requested;

    const std::vector<MenuBarItem>& mainMenu() const { return menus_; }
    int mainMenuInstalls() const { return menuInstalls_; }
    // Runs the action of the main-menu item at this path of titles, or performs its standard
    // action; false when there is no such item or it does nothing.
    bool performMenuItem(const std::vector<std::string>& path);
    // The main menu's item with this role, a menu or an item of one; null when none has it.
    const MenuBarItem* menuWithRole(MenuRole role) const;
    // The standard actions performed so far, in order. Close and quit act on the key window and
    // the application; the others are only recorded (no field has the focus here).
    const std::vector<StandardAction>& standardActions() const { return standardActions_; }

    const std::vector<std::string>& announcements() const { return announcements_; }
    void setMainScreenVisibleFrame(std::optional<Rect> frame) { screen_ = frame; }
    void setDarkAppearance(bool dark) { dark_ = dark; }
    // Replaces the screens and announces the change, as the desktop does.
    void setScreens(std::vector<ScreenInfo> screens) {
        screens_ = std::move(screens);
        screensChanged.send();
    }

  private:
    friend class HeadlessWindow;
    friend class HeadlessAlert;
    friend class HeadlessApplication;
    friend class HeadlessPopover;
    friend class HeadlessStatusItem;

    HeadlessApplication application_{*this};
    HeadlessPasteboard pasteboard_;
    std::vector<HeadlessWindow*> windows_;
    std::vector<HeadlessStatusItem*> statusItems_;
    std::vector<HeadlessPopover*> popovers_;
    HeadlessWindow* key_ = nullptr;
    std::deque<AlertScript> alertScripts_;
    std::vector<std::shared_ptr<HeadlessAlert>> alerts_;
    int unscripted_ = 0;
    template <class Answer>
    struct ScriptedPanel {
        Answer answer;
        PanelStep step;
    };
    // Works the accessory view with the step, if both are there.
    static void workAccessory(const std::shared_ptr<ViewComponent>& accessory,
                              const PanelStep& step);
    std::deque<ScriptedPanel<std::optional<std::string>>> savePanels_;
    std::deque<ScriptedPanel<std::optional<std::vector<std::string>>>> openPanels_;
    std::vector<SavePanelOptions> savePanelsShown_;
    std::vector<OpenPanelOptions> openPanelsShown_;
    std::vector<MenuBarItem> menus_;
    int menuInstalls_ = 0;
    std::vector<StandardAction> standardActions_;
    std::optional<Rect> screen_ = Rect{0, 0, 1440, 875};
    bool dark_ = false;
    std::vector<ScreenInfo> screens_{{{0, 0, 1440, 900}, "eDP-1"}};
    std::vector<std::string> announcements_;
};

}  // namespace orvel::ui
