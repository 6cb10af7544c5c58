#include "app/AppDelegate.h"

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/InputBlocker.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"
#include "help/EULAGate.h"
#include "menubar/MainMenu.h"
#include "menubar/StatusItemController.h"
#include "platform/LoginItems.h"
#include "platform/Platform.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace {
AppDelegate*& sharedDelegate() {
    static AppDelegate* delegate = nullptr;
    return delegate;
}
}  // namespace

AppDelegate::AppDelegate() = default;

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
    if (EULAGate::hasCurrentAssent()) {
        finishLaunching();
        return;
    }
    auto gate = std::make_shared<EULAGate>();
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
    statusItem = StatusItemController::make();
    hotKey.reset();
    if (Preferences::shared().hotKeyStyle() == HotKeyStyle::carbon) {
        hotKey = std::make_unique<CarbonHotKey>(kHotKeyCode, kHotKeyModifiers,
                                                [weakSelf = weakRef(*this)] {
                                                    if (auto* self = weakSelf.get()) {
                                                        self->hotKeyPressed();
                                                    }
                                                });
    }
    TriggerEngine::shared().start();
    PowerTriggerCenter::shared().start();
    DriveKeepAlive::shared();
}

void AppDelegate::applyActivationPolicy() {
    ui::UiHost& host = ui::UiHost::current();
    const bool inDock = Preferences::shared().showInDock();
    host.application().setActivationPolicy(inDock ? ActivationPolicy::regular
                                                  : ActivationPolicy::accessory);
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (weakSelf.get() != nullptr) {
            MainMenu::install();
        }
    });
    if (inDock) {
        host.application().activate(true);
    }
}

void AppDelegate::hotKeyPressed() {
    OrvelController& controller = OrvelController::shared();
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
    if (auto* controller = Registry::existing<OrvelController>()) {
        controller->stop(true);
    }
    if (auto* blocker = Registry::existing<InputBlocker>()) {
        blocker->stop();
    }
    if (auto* backlight = Registry::existing<KeyboardBacklight>()) {
        backlight->setOff(false);
    }
}

void AppDelegate::setLaunchAtLogin(bool enabled) {
    LoginItems& items = Platform::current().loginItems();
    auto result = enabled ? items.registerItem() : items.unregisterItem();
    if (!result) {
        Logger("app").error("Orvel: login item change failed \u2014 " + result.error().message);
    }
}

namespace {
void closePanel() {
    if (auto* item = StatusItemController::current()) {
        item->popover().close();
    }
}
}  // namespace

void AppDelegate::showHelp() {
    closePanel();
    windowRequested.send("showHelp");
}

void AppDelegate::openSettings() {
    closePanel();
    windowRequested.send("openSettings");
}

void AppDelegate::showAbout() {
    closePanel();
    windowRequested.send("showAbout");
}

void AppDelegate::showCustomDuration() {
    closePanel();
    windowRequested.send("showCustomDuration");
}

void AppDelegate::makeRuleFromWatchedApp() {
    closePanel();
    windowRequested.send("makeRuleFromWatchedApp");
}

void AppDelegate::chooseAppToWatch() {
    closePanel();
    windowRequested.send("chooseAppToWatch");
}

}  // namespace orvel
