#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Preferences.h"
#include "core/ServiceNeighbours.h"
#include "foundation/Published.h"
#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "platform/Displays.h"
#include "platform/HidDevices.h"

namespace orvel {

class AccessibilityDisplay;
class BuiltInDisplay;
class InputBlocker;
class KeyboardBacklight;
class PermissionPrimer;
class Processes;
class ScreenSaverBlock;
class SystemInfo;

// Decides what the built-in hardware does (input blocking, screen saver, display and keyboard
// backlight holds) from the device settings and the session, and makes it so. Around input
// blocking it keeps three safety rules: blocking is released when no external input device is
// left (if the user asked for that), the first blocking on a machine must be confirmed in a timed
// dialog, and a watchdog recounts the external input devices every 3 s while blocking (and only
// then, so an idle machine is not woken for it). It follows the device settings from the moment
// it is built: a blocking switch turned on first asks for the permissions it needs. Main thread
// only.
class DeviceState final : public ObservableObject,
                          public WeakReferenceable,
                          public SessionParticipant {
  public:
    static constexpr double kWatchdogInterval = 3.0;
    static constexpr std::int64_t kConfirmSeconds = 30;
    static constexpr std::int64_t kConfirmSecondsWithScreenReader = 90;

    // The parts of the machine it reads and asks besides the devices it drives.
    struct Machine {
        Displays& displays;
        AccessibilityDisplay& accessibility;
        SystemInfo& systemInfo;
        Processes& processes;
    };

    DeviceState(Preferences& prefs, InputBlocker& blocker, ScreenSaverBlock& screenSaver,
                BuiltInDisplay& display, KeyboardBacklight& keyboardBacklight,
                PermissionPrimer& primer, const Machine& machine,
                std::function<bool()> sessionActive);

    // At the last watchdog count an external keyboard or pointing device was attached.
    Published<bool> hasExternalInput{*this, true};
    // Built-in input was handed back because no external input device was attached.
    Published<bool> autoReleased{*this, false};

    // Brings the hardware in line with the settings and the session. Also run when the screens
    // change, so a built-in panel that comes back is darkened or restored at once.
    void reconcile();
    void sessionStarted() override { reconcile(); }
    void sessionStopped(const SessionEnd&) override { reconcile(); }
    // The keep-disabled confirmation is on screen.
    bool isConfirming() const { return confirming_; }
    // The 3 s watchdog is scheduled: exactly while the built-in input is blocked.
    bool isWatching() const { return watchdog_.isValid(); }

    // The names of the external input devices attached now, one per device, sorted. Needs the
    // HID-access flag raised.
    std::vector<std::string> externalInputCensus() const;

    // Whether this machine is a laptop: a model name beginning "MacBook", or a portable chassis.
    // Static so the diagnostics can ask without bringing the device state up.
    static bool isLaptop(SystemInfo& info);
    bool isLaptop() const { return isLaptop(machine_.systemInfo); }
    // The keyboards, mice, pointers and touch pads among the devices.
    static std::vector<HidDevice> filterInputDevices(const std::vector<HidDevice>& devices);
    // One line per device, in their order: "INTERNAL — " or "external — ", then its name and
    // details. The report's INPUT DEVICES section and the Devices tab's scan show these lines.
    static std::vector<std::string> inputDeviceLines(const std::vector<HidDevice>& devices);
    // Asks the window system to put every display to sleep now, without waiting.
    void sleepDisplaysNow();
    // What came of the last sleepDisplaysNow() once the desktop answered; nothing before the
    // first or while one waits for its answer.
    ReadOnlyPublished<std::optional<DisplaySleepOutcome>, DeviceState> lastDisplaySleep{
        *this, std::nullopt};
    // In words, what an outcome left awake; nothing when every display went to sleep.
    static std::optional<std::string> displaySleepProblem(const DisplaySleepOutcome& outcome);
    // Why sleepDisplaysNow() can do nothing on this desktop, in words; nothing when it can.
    std::optional<std::string> displaySleepUnavailable() const;
    std::uint64_t sleepDisplaysCount() const { return sleepDisplaysCount_; }

    // Sent at every reconcile(), for observers that follow the device state.
    Signal<> reconciled;
    std::uint64_t reconcileCount() const { return reconcileCount_; }

  private:
    void askForBlocking(Preferences::Setting<bool>& blockingSwitch);
    void confirmKeepDisabled();
    void watchdogTick();
    // Starts the watchdog when blocking began, cancels it when blocking ended.
    void followBlocking();
    // Turns both block settings off; the reconciles their setters ask for run once, after both.
    void clearBlockSettings();
    std::size_t countExternalInput() const;

    Preferences& prefs_;
    InputBlocker& blocker_;
    ScreenSaverBlock& screenSaver_;
    BuiltInDisplay& display_;
    KeyboardBacklight& keyboardBacklight_;
    PermissionPrimer& primer_;
    Machine machine_;
    // Whether a session runs now; asked at each reconcile, never building the controller.
    std::function<bool()> sessionActive_;
    Timer watchdog_;
    Subscription screensChanged_;
    Subscription blockerStopped_;
    SubscriptionBag settings_;
    bool confirming_ = false;
    int deferDepth_ = 0;
    bool deferred_ = false;
    std::uint64_t reconcileCount_ = 0;
    std::uint64_t sleepDisplaysCount_ = 0;
};

}  // namespace orvel
