#include "app/AppDelegate.h"

#include "app/compose/Services.h"
#include "automations/ApplicationChooser.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "help/AboutView.h"
#include "help/EULAGate.h"
#include "help/HelpView.h"
#include "menubar/AlertAsker.h"
#include "menubar/CustomDurationView.h"
#include "menubar/MainMenu.h"
#include "menubar/StatusItemController.h"
#include "platform/LoginItems.h"
#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticReport.h"
#include "settings/SettingsView.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerRule.h"

#include <limits>

namespace orvel {

namespace {
AppDelegate*& sharedDelegate() {
    static AppDelegate* delegate = nullptr;
    return delegate;
}
}  // namespace

AppDelegate::AppDelegate(Services& services) : services_(services) {
    installAlertAsker();
}

AppDelegate::~AppDelegate() {
    if (sharedDelegate() == this) {
        sharedDelegate() = nullptr;
    }
    if (AppWindows::current() == this) {
        AppWindows::current() = nullptr;
    }
}

AppDelegate* AppDelegate::shared() {
    return sharedDelegate();
}

void AppDelegate::launch() {
    sharedDelegate() = this;
    AppWindows::current() = this;
    willTerminate_ =
        ui::UiHost::current().willTerminate.subscribe([this] { applicationWillTerminate(); });
    if (services_.licenseAgreement().hasCurrentAssent()) {
        finishLaunching();
        return;
    }
    auto gate = std::make_shared<EULAGate>(services_.licenseAgreement());
    EULAGate::current() = gate;
    gate->onAgree = [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->finishLaunching();
        }
    };
    gate->show();
}

void AppDelegate::finishLaunching() {
    if (finished_) {
        return;
    }
    finished_ = true;
    applyActivationPolicy();
    statusItem = StatusItemController::make(services_.statusItemServices());
    // The stored style, whichever it is, works from the start as it did when it was chosen.
    applyHotKeyStyle();
    services_.triggerEngine().start();
    services_.powerCenter().start();
    services_.driveKeepAlive();
    services_.deviceState();
}

void AppDelegate::applyActivationPolicy() {
    ui::UiHost& host = ui::UiHost::current();
    const bool inDock = services_.preferences().showInDock();
    host.application().setActivationPolicy(inDock ? ActivationPolicy::regular
                                                  : ActivationPolicy::accessory);
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            MainMenu::install(*self, self->services_.platform().systemInfo().processName());
        }
    });
    if (inDock) {
        host.application().activate(true);
    }
}

std::function<void()> AppDelegate::hotKeyAction() {
    return [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->hotKeyPressed();
        }
    };
}

void AppDelegate::applyHotKeyStyle() {
    hotKey.reset();
    switch (services_.preferences().hotKeyStyle()) {
        case HotKeyStyle::off:
            return;
        case HotKeyStyle::monitor:
            if (Permissions& permissions = services_.platform().permissions();
                permissions.isAccessibilityTrusted() && permissions.preflightListenEvent()) {
                auto monitor =
                    std::make_unique<MonitorHotKey>(services_.platform().hotKeys(), kHotKeyCode,
                                                    kHotKeyMonitorFlags, hotKeyAction());
                if (monitor->watchesOtherApplications()) {
                    hotKey = std::move(monitor);
                    return;
                }
                // Where no program may watch the keys typed in others (Wayland), the
                // registered shortcut stands in, as it does without the permissions.
            }
            break;
        case HotKeyStyle::carbon:
            break;
    }
    hotKey = std::make_unique<CarbonHotKey>(services_.platform().hotKeys(), kHotKeyCode,
                                            kHotKeyModifiers, hotKeyAction());
}

void AppDelegate::applyResetDefaults() {
    applyActivationPolicy();
    applyHotKeyStyle();
}

void AppDelegate::hotKeyPressed() {
    OrvelController& controller = services_.controller();
    if (controller.isActive()) {
        controller.stop(true);
    } else {
        controller.start();
    }
}

// Only what exists is touched: quitting at the agreement creates no service and leaves the
// saved session as it was.
void AppDelegate::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    // A desktop keeps a portal's shortcut session until it is closed.
    hotKey.reset();
    if (auto* controller = services_.existing<OrvelController>()) {
        controller->stop(true);
    }
    if (auto* blocker = services_.existing<InputBlocker>()) {
        blocker->stop();
    }
    if (auto* backlight = services_.existing<KeyboardBacklight>()) {
        backlight->setOff(false);
    }
    // Without tieDevicesToSession the session's end leaves the panel dark; quitting must not.
    if (auto* display = services_.existing<BuiltInDisplay>()) {
        display->setDark(false);
    }
}

std::string AppDelegate::reopen() {
    std::string shown;
    if (auto& gate = EULAGate::current(); !finished_ && gate && gate->window() != nullptr) {
        ui::UiHost::current().application().activate(true);
        gate->window()->makeKeyAndOrderFront();
        shown = "its agreement window was brought to the front";
    } else if (statusItem) {
        statusItem->openPanel();
        shown = "its panel was opened";
    } else {
        shown = "it is still starting";
    }
    Logger("app").info("Another launch of Orvel handed over to this one: " + shown + ".");
    return shown;
}

void AppDelegate::setLaunchAtLogin(bool enabled) {
    LoginItems& items = services_.platform().loginItems();
    auto result = enabled ? items.registerItem() : items.unregisterItem();
    if (!result) {
        Logger("app").error("Orvel: start at login could not be changed \u2014 " +
                            result.error().message);
    }
}

namespace {

void closePanel() {
    if (auto* item = StatusItemController::current()) {
        item->popover().close();
    }
}

void bringToFront(ui::Window& window) {
    ui::UiHost::current().application().activate(true);
    window.makeKeyAndOrderFront();
}

std::unique_ptr<ui::Window> makeWindow(std::string title, unsigned style,
                                       std::shared_ptr<ui::ViewComponent> content) {
    auto window = ui::UiHost::current().makeWindow();
    window->setTitle(std::move(title));
    window->setStyle(style);
    window->setContent(std::move(content));
    return window;
}

// Said in words rather than left unexplained: the user chose the application a moment ago.
void showLaunchFailure(const std::string& url, const std::string& reason) {
    Logger("app").error("The watched application " + url + " could not be opened: " + reason);
    std::string name = url.substr(url.rfind('/') + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    ui::AlertContent content;
    content.style = ui::AlertStyle::warning;
    content.messageText = localizedFormat("\u201C%@\u201D could not be opened", {name});
    content.informativeText = reason;
    content.buttons = {localized("OK")};
    ui::UiHost::current().makeAlert(std::move(content))->runModal();
}

// A running application started from the entry is watched as it runs; else the entry is started
// and watched once it runs, by the controller there is then.
void watchChosenApp(const std::string& url, Services& services) {
    Workspace& workspace = services.platform().workspace();
    for (const RunningApplication& app : workspace.runningApplications()) {
        if (app.bundleURL == url) {
            services.controller().watchApp(app);
            return;
        }
    }
    workspace.openApplication(url, [url, &services](Result<RunningApplication> opened) {
        if (opened) {
            RunLoop::main().async(
                [app = opened.value(), &services] { services.controller().watchApp(app); });
            return;
        }
        showLaunchFailure(url, opened.error().message);
    });
}

constexpr unsigned kStandardStyle =
    ui::kWindowTitled | ui::kWindowClosable | ui::kWindowMiniaturizable | ui::kWindowResizable;

}  // namespace

void AppDelegate::showHelp() {
    showHelpWindow(std::nullopt);
}

void AppDelegate::showHelpSection(HelpSection section) {
    showHelpWindow(section);
}

void AppDelegate::showHelpWindow(std::optional<HelpSection> section) {
    closePanel();
    if (!helpWindow) {
        helpWindow = makeWindow(localized("Orvel Help"), kStandardStyle | ui::kWindowClosesOnEscape,
                                std::make_shared<HelpView>(services_.helpPages()));
        helpWindow->setContentSize(900, 620);
        helpWindow->center();
    }
    bringToFront(*helpWindow);
    if (section) {
        // On the next turn, so a window made just now shows before its page changes.
        RunLoop::main().async([section = *section] {
            NotificationCenter::shared().post(kOpenHelpSectionNotification, section);
        });
    }
}

void AppDelegate::openSettings() {
    closePanel();
    if (!settingsWindow) {
        settingsWindow = makeWindow(localized("Orvel Settings"), kStandardStyle,
                                    std::make_shared<SettingsView>(services_.settingsServices()));
        settingsWindow->setContentSize(900, 560);
        settingsWindow->setContentMinSize(675, 280);
        settingsWindow->setContentMaxSize(900, std::numeric_limits<double>::max());
        if (!settingsWindow->setFrameAutosaveName(kSettingsFrameName)) {
            settingsWindow->center();
        }
    }
    bringToFront(*settingsWindow);
}

void AppDelegate::showAbout() {
    closePanel();
    if (!aboutWindow) {
        auto about =
            std::make_shared<AboutView>(services_.controller(), services_.platform().workspace(),
                                        services_.licenseAgreement(), services_.inputBlocker());
        about->diagnosticReport = [&services = services_] {
            return services.diagnosticReport().forSupport(false, false).value_or(std::string());
        };
        about->showHelp = [](std::optional<HelpSection> section) {
            if (auto* windows = AppWindows::current()) {
                section ? windows->showHelpSection(*section) : windows->showHelp();
            }
        };
        aboutWindow = makeWindow(localized("About Orvel"),
                                 ui::kWindowTitled | ui::kWindowClosable |
                                     ui::kWindowFullSizeContentView | ui::kWindowClosesOnEscape,
                                 std::move(about));
        aboutWindow->setTitlebarAppearsTransparent(true);
        aboutWindow->setTitleHidden(true);
        aboutWindow->setMovableByWindowBackground(true);
        aboutWindow->center();
    }
    bringToFront(*aboutWindow);
}

void AppDelegate::showCustomDuration() {
    closePanel();
    closeCustomDuration();
    const auto [hours, minutes] =
        CustomDurationView::startValues(services_.preferences().customSeconds());
    auto view =
        std::make_shared<CustomDurationView>(services_.controller(), services_.preferences(), hours,
                                             minutes, [weakSelf = weakRef(*this)] {
                                                 if (auto* self = weakSelf.get()) {
                                                     self->closeCustomDuration();
                                                 }
                                             });
    customDurationWindow = makeWindow(
        localized("Custom Duration"),
        ui::kWindowTitled | ui::kWindowClosable | ui::kWindowClosesOnEscape, std::move(view));
    customDurationWindow->center();
    bringToFront(*customDurationWindow);
}

void AppDelegate::closeCustomDuration() {
    if (!customDurationWindow) {
        return;
    }
    customDurationWindow->close();
    // The window's own button may be what asked: it goes on the next turn, not under its feet.
    std::shared_ptr<ui::Window> closing(std::move(customDurationWindow));
    RunLoop::main().async([closing] {});
}

void AppDelegate::makeRuleFromWatchedApp() {
    OrvelController& controller = services_.controller();
    const std::optional<std::string> appName = controller.watchedAppName();
    if (!appName) {
        return;
    }
    TriggerRule rule;
    rule.name = *appName;
    rule.source = TriggerSource::app;
    rule.enabled = false;
    rule.onAppear = TriggerAction::startSession;
    rule.onClear = TriggerAction::endSession;
    rule.durationSeconds = 0;
    rule.acOnly = false;
    rule.unavailableHere = false;
    rule.appBundleID = controller.watchedBundleID();
    rule.appName = *appName;
    if (rule.appBundleID &&
        AppTriggerSource::isBackgroundApp(services_.platform().workspace(), *rule.appBundleID)) {
        rule.watchBackground = true;
    }
    const std::string id = rule.id.uuidString();
    services_.triggerEngine().add(std::move(rule));
    UserDefaults& defaults = services_.platform().userDefaults();
    defaults.setString("apps.pendingExpand", id);
    defaults.setInteger("atSubTab", 5);
    defaults.setInteger("settingsTabSelection", 1);
    openSettings();
}

void AppDelegate::chooseAppToWatch() {
    closePanel();
    Workspace& workspace = services_.platform().workspace();
    ui::OpenPanelOptions other = ApplicationChooser::filePanel(workspace);
    other.title = localized("Stay awake until this app quits");
    other.prompt = localized("Watch");
    ApplicationChooser::present(
        appChooserWindow, workspace, other.title, localized(other.prompt), other,
        [&services = services_](const std::string& url) { watchChosenApp(url, services); });
}

}  // namespace orvel
