#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPointer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "QtUiTest.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/PermissionPrimer.h"

namespace orvel {
namespace {

HidDevice device(const char* product, bool builtIn, HidUsage usage) {
    HidDevice d;
    d.product = product;
    d.transport = builtIn ? "I2C" : "USB";
    d.builtIn = builtIn;
    d.vendorId = 1;
    d.usages = {usage};
    return d;
}

QAbstractButton* buttonStartingWith(QWidget& dialog, const QString& text) {
    for (auto* b : dialog.findChildren<QAbstractButton*>()) {
        if (b->text().startsWith(text)) {
            return b;
        }
    }
    return nullptr;
}

class DeviceAlertsTest : public test::QtUiTest {
  protected:
    void TearDown() override {
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }
};

// The confirmation counts down on screen while its modal loop runs; the watchdog, silent while it
// is up, alerts once after the external mouse goes. Both are saved as pictures to look at.
TEST_F(DeviceAlertsTest, TheConfirmationCountsDownAndTheWatchdogAlertsAfterIt) {
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    sim().permissions().setAccessibility(true);
    sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    auto& hid = sim().hidDevices();
    hid.attach(device("AT Keyboard", true, hid_usage::kKeyboard));
    hid.attach(device("Touchpad", true, hid_usage::kTouchPad));
    const auto mouse = hid.attach(device("USB Mouse", false, hid_usage::kMouse));
    services().deviceState();  // follows the device settings, as at launch
    Preferences& prefs = services().preferences();
    prefs.tieDevicesToSession = false;

    int released = 0;
    // A clicked alert can still be up at the next tick while its modal loop winds down: answer
    // each alert once.
    std::vector<QPointer<QWidget>> answered;  // a deleted alert drops out
    Timer answer = loop().every(
        0.05,
        [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (dialog == nullptr ||
                std::find(answered.begin(), answered.end(), dialog) != answered.end()) {
                return;
            }
            if (auto* keep = buttonStartingWith(*dialog, "Keep disabled")) {
                if (buttonStartingWith(*dialog, "Cancel (29s)") != nullptr) {
                    savePng(*dialog, "device-confirmation");
                    hid.detach(mouse);
                    answered.emplace_back(dialog);
                    keep->click();
                }
            } else if (auto* ok = buttonStartingWith(*dialog, "OK")) {
                ++released;
                savePng(*dialog, "device-auto-release");
                answered.emplace_back(dialog);
                ok->click();
            }
        },
        TimerMode::Common);
    prefs.blockBuiltInKeyboard = true;
    prefs.blockBuiltInTrackpad = true;
    ASSERT_TRUE(waitUntil([&] { return prefs.hasConfirmedBlocking(); }));
    EXPECT_EQ(released, 0) << "the watchdog waits while the confirmation is up";
    ASSERT_TRUE(waitUntil([&] { return released > 0 && !prefs.blockBuiltInKeyboard(); }));
    EXPECT_TRUE(services().deviceState().autoReleased());
    EXPECT_FALSE(services().inputBlocker().isBlockingKeyboard());
    EXPECT_EQ(released, 1);
}

}  // namespace
}  // namespace orvel
