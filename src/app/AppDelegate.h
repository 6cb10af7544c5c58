#pragma once

#include <memory>

#include "devices/HotKeyBackend.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "menubar/AppWindows.h"
#include "ui/Host.h"

namespace orvel {

class StatusItemController;

// The application delegate: holds start-up behind the agreement, brings the services up in
// their order, and undoes what a session changed when the application quits. Main thread only.
class AppDelegate final : public WeakReferenceable, public AppWindows {
  public:
    // Start-up shortcut: the C key with Control, Option and Command.
    static constexpr std::uint32_t kHotKeyCode = 8;
    static constexpr std::uint32_t kHotKeyModifiers = 0x1900;

    AppDelegate();
    ~AppDelegate();

    // The delegate of this process, set by launch(); views reach its window operations through
    // it and do nothing while it is unset.
    static AppDelegate* shared();

    // The platform's "launching finished": runs launch().
    void applicationDidFinishLaunching() { launch(); }
    void launch();
    void finishLaunching();
    void applyActivationPolicy();
    void hotKeyPressed();
    // The application is quitting, by any road.
    void applicationWillTerminate();
    void setLaunchAtLogin(bool enabled);

    // The window operations. Each first closes the tray panel; the windows themselves are not
    // built yet, so for now that is all they do, and they say which one was asked for.
    void showHelp() override;
    void openSettings() override;
    void showAbout() override;
    void showCustomDuration() override;
    void makeRuleFromWatchedApp() override;
    void chooseAppToWatch() override;
    // Sent with the operation's name after each window operation.
    Signal<std::string> windowRequested;

    bool hasFinishedLaunching() const { return finished_; }

    std::shared_ptr<StatusItemController> statusItem;
    std::unique_ptr<ui::Window> settingsWindow;
    std::unique_ptr<ui::Window> customDurationWindow;
    std::unique_ptr<ui::Window> helpWindow;
    std::unique_ptr<ui::Window> aboutWindow;
    std::unique_ptr<HotKeyBackend> hotKey;

  private:
    Subscription willTerminate_;
    bool finished_ = false;
    bool terminated_ = false;
};

}  // namespace orvel
