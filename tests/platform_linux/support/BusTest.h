#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/RecordingLogSink.h"
#include "support/MachineServices.h"
#include "support/PrivateBus.h"

namespace orvel::test {

// The mocks' bus names and objects.
inline const DBusObject kLogindMock{"org.freedesktop.login1", "/org/freedesktop/login1",
                                    "org.freedesktop.login1.Manager"};
inline const DBusObject kScreenSaverMock{
    "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.DBus.Mock"};
inline const DBusObject kGnomeSessionMock{"org.gnome.SessionManager", "/org/gnome/SessionManager",
                                          "org.freedesktop.DBus.Mock"};

struct LogindInhibitor {
    std::string what, who, why, mode;
    bool operator==(const LogindInhibitor&) const = default;
};

// A case on a private bus (skipped when dbus-daemon or python-dbusmock cannot start), on a real
// run loop, with the log recorded.
class BusTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The services of the machine a case installed, built through the application's root as
    // each is first asked for (binaries over the services only).
    Services& services() { return machine_.get(); }
    // Destroys the services newest first, then the small singletons, as the end of the process
    // does; the next services() builds anew on the machine installed then.
    void releaseServices() { machine_.release(); }

    // Starts one of the services by its short name: "logind", "screensaver", "gnome_session",
    // "portal_settings", "portal_file_chooser", "portal_global_shortcuts", "notification_daemon",
    // "power_profiles_daemon", "bluez5", "upower", "upower_kbd_backlight", "mutter_display_config",
    // "kde_power"; fails the test when it cannot.
    pid_t startService(const std::string& name, const std::string& parametersJson = "");
    void stopService(const std::string& name);

    // What the mocks hold now (nothing, for a mock that is not running).
    std::vector<LogindInhibitor> logindInhibitors();
    // Cookies held by the screen saver: (application, reason) each.
    std::vector<std::pair<std::string, std::string>> screenSaverInhibitors();
    // Cookies held by the GNOME session manager: flags each.
    std::vector<std::uint32_t> gnomeInhibitFlags();
    // How many Inhibit calls a mock has answered ("logind", "screensaver").
    std::uint32_t inhibitCalls(const std::string& service);
    // True when no mock that runs holds anything (waits for it, within the limit).
    bool waitUntilNothingHeld();
    // Asks `probeHolds` (which queries the mocks) until it is true or the limit has passed.
    bool eventually(const std::function<bool()>& probeHolds);
    // The environment that puts a child program on this bus.
    std::vector<std::string> busEnvironment() const;

    std::unique_ptr<PrivateBus> bus;
    std::shared_ptr<DBusConnection> system;   // the backends' "system bus"
    std::shared_ptr<DBusConnection> session;  // the backends' "session bus"
    std::shared_ptr<DBusConnection> probe;    // the test's own view of the mocks
    std::shared_ptr<RecordingLogSink> log = std::make_shared<RecordingLogSink>();

  private:
    MachineServices machine_;
    std::shared_ptr<LogSink> previousSink_;
    std::map<std::string, pid_t> services_;
};

// A case whose services are built in the registry on a platform the case installs, in UTC,
// with a folder of its own; the registry and the platform go before the bus.
class ServicesOnTheBusTest : public BusTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
};

}  // namespace orvel::test
