// The rule sub-tabs drawn by the Qt host, checked through their widgets and written to PNG for a
// person to look at.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <memory>

#include "QtUiTest.h"
#include "automations/BatteryPowerSettingsView.h"
#include "automations/BluetoothSettingsView.h"
#include "automations/NetworkSettingsView.h"
#include "core/Preferences.h"
#include "platform/Platform.h"
#include "reports/PermissionAudit.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

class RuleTabsPicturesTest : public test::QtUiTest {
  protected:
    void TearDown() override {
        window_.reset();
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }
    QWidget& show(std::shared_ptr<ui::ViewComponent> content, int height) {
        window_ = host().makeWindow();
        window_->setTitle("Automations & Triggers");
        window_->setContentSize(680, height);
        window_->setContent(std::move(content));
        window_->makeKeyAndOrderFront();
        settle();
        return *static_cast<ui::QtWindow&>(*window_).widget();
    }
    // The first visible label or button with this text as drawn now.
    static QWidget* visible(QWidget& window, const QString& text) {
        for (auto* label : window.findChildren<QLabel*>()) {
            if (label->text() == text && label->isVisibleTo(&window))
                return label;
        }
        for (auto* button : window.findChildren<QAbstractButton*>()) {
            if (button->text() == text && button->isVisibleTo(&window))
                return button;
        }
        return nullptr;
    }
    // The same, once drawn.
    QWidget* shown(QWidget& window, const QString& text) {
        QWidget* found = nullptr;
        waitUntil([&] { return (found = visible(window, text)) != nullptr; });
        return found;
    }
    std::shared_ptr<BatteryPowerSettingsView> batteryPage() {
        return std::make_shared<BatteryPowerSettingsView>(
            services().preferences(), services().powerCenter(), services().triggerEngine(),
            Platform::current().powerSources());
    }

  private:
    std::unique_ptr<ui::Window> window_;
};

TEST_F(RuleTabsPicturesTest, BatteryOnALaptopWithAUPSAndEverythingOn) {
    sim().powerSources().setUPS(true, false);
    sim().powerSources().setBatteryPercent(64);
    services().powerCenter().readPowerState();
    Preferences& prefs = services().preferences();
    for (auto* setting :
         {&prefs.activateOnAC, &prefs.deactivateOnBattery, &prefs.batteryOffAfterEnabled,
          &prefs.lowBattEnd, &prefs.battRecover, &prefs.lpmEnd, &prefs.upsReact}) {
        *setting = true;
    }
    prefs.acAutoSeconds = 7200;
    prefs.batteryOffValue = 15;
    QWidget& page = show(batteryPage(), 960);
    for (const char* text : {"Session duration", "Turns off 15 minutes after unplugging", "now 64%",
                             "Inverted \u2014 end sessions to shed load"}) {
        QWidget* widget = shown(page, text);
        ASSERT_NE(widget, nullptr) << text;
        EXPECT_TRUE(widget->isEnabled()) << text;
    }
    EXPECT_EQ(visible(page, "Disabled \u2014 no UPS attached"), nullptr);
    EXPECT_EQ(visible(page, "DISABLED \u2014 NO INTERNAL BATTERY DETECTED"), nullptr);
    savePng(page, "battery-laptop-ups");
}

TEST_F(RuleTabsPicturesTest, BatteryOnADesktopWithoutBatteryOrUPS) {
    sim().powerSources().removeBatteries();
    services().powerCenter().readPowerState();
    QWidget& page = show(batteryPage(), 900);
    // Section headers are drawn in capitals.
    QWidget* noBattery = shown(page, "DISABLED \u2014 NO INTERNAL BATTERY DETECTED");
    ASSERT_NE(noBattery, nullptr);
    QWidget* noUPS = shown(page, "Disabled \u2014 no UPS attached");
    ASSERT_NE(noUPS, nullptr);
    QWidget* lpm = shown(page, "End session when Power Saver turns on");
    ASSERT_NE(lpm, nullptr);
    EXPECT_FALSE(lpm->isEnabled());
    QWidget* ac = shown(page, "Turn on Orvel automatically while charging");
    ASSERT_NE(ac, nullptr);
    EXPECT_TRUE(ac->isEnabled());
    savePng(page, "battery-desktop");
}

TEST_F(RuleTabsPicturesTest, NetworkWithThreeOpenRulesAndTheLocationNote) {
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    TriggerEngine& engine = services().triggerEngine();
    TriggerRule home;
    home.name = "WiFi SSID HomeNet";
    home.source = TriggerSource::wifiSSID;
    home.matcher = NetworkMatcher::ssid("HomeNet");
    TriggerRule office;
    office.name = "IPv4 range 10.0.0.0/16";
    office.source = TriggerSource::network;
    office.matcher = NetworkMatcher::ipv4Range("10.0.0.0/16");
    office.durationSeconds = 3600;
    office.acOnly = true;
    TriggerRule docked;
    docked.name = "Docked";
    docked.source = TriggerSource::network;
    docked.matcher = NetworkMatcher::interfaceType("wifi");
    docked.onClear = TriggerAction::nothing;
    for (const TriggerRule& rule : {home, office, docked}) {
        engine.add(rule);
    }
    auto page =
        std::make_shared<NetworkSettingsView>(makePermissionTab(engine), services().networkSource(),
                                              sim().network(), services().permissionAudit());
    page->expanded = {home.id, office.id, docked.id};
    QWidget& window = show(page, 1000);
    for (const char* text :
         {"On join", "On leaving", "On seen", "On gone", "WiFi network name", "Denied"}) {
        ASSERT_NE(shown(window, text), nullptr) << text;
    }
    QWidget* note = shown(window,
                          "Only WiFi SSID rules need the network's name \u2014 without it they "
                          "cannot match. Gateway, IP-range, domain, interface and VPN rules work "
                          "regardless.");
    ASSERT_NE(note, nullptr);
    EXPECT_GT(note->height(), note->fontMetrics().height()) << "wrapped, not cut";
    savePng(window, "network-rules");
}

TEST_F(RuleTabsPicturesTest, BluetoothWithThreeRulesOneOpenAndPermissionDenied) {
    const char* headphones = "A4:83:E7:11:22:33";
    sim().bluetooth().pair(BluetoothDevice{headphones, "Headphones", true});
    sim().bluetooth().pair(BluetoothDevice{"F0:99:B6:00:00:01", "Keyboard", false});
    sim().bluetooth().setBatteryLevel(headphones, 42);
    auto rule = [](const char* name, const char* address) {
        TriggerRule r;
        r.name = name;
        r.source = TriggerSource::bluetooth;
        r.btAddress = address;
        r.btName = name;
        return r;
    };
    TriggerRule open = rule("Headphones", headphones);
    open.btBattEnd = 20;
    open.btBattRecover = 35;
    open.onClear = TriggerAction::startSession;
    TriggerRule gone = rule("Old trackpad", "00:1B:63:00:00:09");
    gone.unavailableHere = true;
    TriggerRule keyboard = rule("Keyboard", "F0:99:B6:00:00:01");
    keyboard.acOnly = true;
    TriggerEngine& engine = services().triggerEngine();
    engine.rules = {open, gone, keyboard};
    // The source reads the levels while it may; the permission is withdrawn afterwards.
    engine.syncSources();
    ASSERT_FALSE(services().bluetoothSource().lastLevels().empty());
    sim().bluetooth().setAuthorization(BluetoothAuthorization::denied);
    auto page = std::make_shared<BluetoothSettingsView>(
        makePermissionTab(engine), services().bluetoothSource(), sim().bluetooth(), sim().network(),
        services().permissionAudit());
    page->expanded = {open.id};
    QWidget& window = show(page, 900);
    for (const char* text : {"now 42%", "20%", "35%", "Denied", "UNAVAILABLE ON THIS COMPUTER",
                             "Without Bluetooth permission, device rules can never fire. Every "
                             "other part of Orvel works."}) {
        EXPECT_NE(shown(window, text), nullptr) << text;
    }
    savePng(window, "bluetooth-rules-denied");
}

}  // namespace
}  // namespace orvel
