#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "devices/HotKeyBackend.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "menubar/AppWindows.h"
#include "ui/Host.h"

namespace orvel {

class Services;
class StatusItemController;

// The application delegate: holds start-up behind the agreement, brings the services up in
// their order, and undoes what a session changed when the application quits. Main thread only.
class AppDelegate final : public AppWindows {
  public:
    // Start-up shortcut: the C key with Control, Option and Command.
    static constexpr std::uint32_t kHotKeyCode = 8;
    static constexpr std::uint32_t kHotKeyModifiers = 0x1900;
    static constexpr std::uint64_t kHotKeyMonitorFlags = 0x1C0000;
    // Where the Settings window's frame is remembered.
    static constexpr const char* kSettingsFrameName = "OrvelSettingsWindow";

    // The services come from `services`, which outlives the delegate.
    explicit AppDelegate(Services& services);
    ~AppDelegate();

    // The delegate of this process, set by launch(); views reach its window operations through
    // it and do nothing while it is unset.
    static AppDelegate* shared();

    // The platform's "launching finished": runs launch().
    void applicationDidFinishLaunching() { launch(); }
    void launch();
    void finishLaunching();
    void applyActivationPolicy() override;
    void hotKeyPressed();
    // Start-up's and the settings window's rule for the stored style: the old shortcut goes first;
    // the monitor style needs both input permissions, else the registered hot key stands in.
    void applyHotKeyStyle() override;
    // The application is quitting, by any road.
    void applicationWillTerminate();
    // Another launch of Orvel handed over to this one: shows what launching a running
    // application shows (the agreement while it waits for an answer, else the panel) and says
    // what that was, for that launch to print.
    std::string reopen();
    void setLaunchAtLogin(bool enabled) override;

    // The window operations. Each first closes the tray panel (Make this a rule… through
    // Settings), then shows its window and activates the application. Help, Settings and
    // About are made once and only hidden when closed; Custom Duration is made anew each time.
    void showHelp() override;
    void showHelpSection(HelpSection section) override;
    void openSettings() override;
    void showAbout() override;
    void showCustomDuration() override;
    void makeRuleFromWatchedApp() override;
    void chooseAppToWatch() override;
    // Only the registered shortcut comes back: the monitor style needs permissions a reset may
    // just have cleared.
    void applyResetDefaults() override;
    // The main menu's items.
    void aboutMenuAction() { showAbout(); }
    void helpMenuAction() { showHelp(); }
    void settingsMenuAction() { openSettings(); }

    bool hasFinishedLaunching() const { return finished_; }

    std::shared_ptr<StatusItemController> statusItem;
    std::unique_ptr<ui::Window> settingsWindow;
    std::unique_ptr<ui::Window> customDurationWindow;
    std::unique_ptr<ui::Window> helpWindow;
    std::unique_ptr<ui::Window> aboutWindow;
    // The application chooser of "Until an app quits…", made anew each time.
    std::unique_ptr<ui::Window> appChooserWindow;
    std::unique_ptr<HotKeyBackend> hotKey;

  private:
    std::function<void()> hotKeyAction();
    void showHelpWindow(std::optional<HelpSection> section);
    void closeCustomDuration();

    Services& services_;
    Subscription willTerminate_;
    bool finished_ = false;
    bool terminated_ = false;
};

}  // namespace orvel
