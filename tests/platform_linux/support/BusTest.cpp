#include "support/BusTest.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/Platform.h"

namespace orvel::test {

namespace {

struct ServiceInfo {
    const char* templateName;  // a stock template, or a file under mocks/
    const char* busName;
    bool ours;
};

const std::map<std::string, ServiceInfo>& serviceTable() {
    static const std::map<std::string, ServiceInfo> table = {
        {"logind", {"logind.py", "org.freedesktop.login1", true}},
        {"screensaver", {"screensaver.py", "org.freedesktop.ScreenSaver", true}},
        {"gnome_session", {"gnome_session.py", "org.gnome.SessionManager", true}},
        {"portal_settings", {"portal_settings.py", "org.freedesktop.portal.Desktop", true}},
        {"portal_file_chooser", {"portal_file_chooser.py", "org.freedesktop.portal.Desktop", true}},
        {"portal_global_shortcuts",
         {"portal_global_shortcuts.py", "org.freedesktop.portal.Desktop", true}},
        {"atspi_status", {"atspi_status.py", "org.a11y.Bus", true}},
        {"status_notifier_watcher",
         {"status_notifier_watcher.py", "org.kde.StatusNotifierWatcher", true}},
        {"notification_daemon", {"notification_daemon", "org.freedesktop.Notifications", false}},
        {"power_profiles_daemon", {"power_profiles_daemon", "net.hadess.PowerProfiles", false}},
        {"bluez5", {"bluez5", "org.bluez", false}},
        {"upower", {"upower", "org.freedesktop.UPower", false}},
        {"upower_kbd_backlight", {"upower_kbd_backlight.py", "org.freedesktop.UPower", true}},
        {"mutter_display_config",
         {"mutter_display_config.py", "org.gnome.Mutter.DisplayConfig", true}},
        {"kde_power", {"kde_power.py", "org.kde.kglobalaccel", true}},
    };
    return table;
}

bool dbusmockImports() {
    return std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") == 0;
}

}  // namespace

void BusTest::SetUp() {
    RunLoop::install(std::make_unique<PollRunLoop>());
    previousSink_ = installLogSink(log);
    auto started = PrivateBus::start();
    if (!started) {
        GTEST_SKIP() << "no private D-Bus: " << started.error().message;
    }
    if (!dbusmockImports()) {
        GTEST_SKIP() << "python3-dbusmock is not installed for /usr/bin/python3";
    }
    bus = std::move(started.value());
    system = bus->connect("system bus");
    session = bus->connect("session bus");
    probe = bus->connect("probe");
    ASSERT_TRUE(system && session && probe);
}

void BusTest::TearDown() {
    system.reset();
    session.reset();
    probe.reset();
    bus.reset();
    installLogSink(previousSink_);
    RunLoop::install(nullptr);
}

pid_t BusTest::startService(const std::string& name, const std::string& parametersJson) {
    const ServiceInfo& info = serviceTable().at(name);
    const std::string templ =
        info.ours ? std::string(ORVEL_LINUX_MOCKS) + "/" + info.templateName : info.templateName;
    auto pid = bus->startTemplate(templ, info.busName, parametersJson);
    EXPECT_TRUE(pid.ok()) << (pid.ok() ? "" : pid.error().message);
    if (!pid.ok()) {
        return -1;
    }
    services_[name] = pid.value();
    return pid.value();
}

void BusTest::stopService(const std::string& name) {
    auto it = services_.find(name);
    ASSERT_NE(it, services_.end()) << name;
    bus->stopService(it->second, serviceTable().at(name).busName);
    services_.erase(it);
}

std::vector<LogindInhibitor> BusTest::logindInhibitors() {
    std::vector<LogindInhibitor> found;
    if (services_.count("logind") == 0) {
        return found;  // a service that is not running holds nothing
    }
    Reply reply = callAndWait(*probe, kLogindMock, "ListInhibitors");
    EXPECT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    if (!reply || DBusConnection::errorOf(reply.get())) {
        return found;
    }
    sd_bus_message* m = reply.get();
    sd_bus_message_enter_container(m, 'a', "(ssssuu)");
    const char *what, *who, *why, *mode;
    std::uint32_t uid, pid;
    while (sd_bus_message_read(m, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
        found.push_back({what, who, why, mode});
    }
    return found;
}

std::vector<std::pair<std::string, std::string>> BusTest::screenSaverInhibitors() {
    std::vector<std::pair<std::string, std::string>> found;
    if (services_.count("screensaver") == 0) {
        return found;  // a service that is not running holds nothing
    }
    Reply reply = callAndWait(*probe, kScreenSaverMock, "ListInhibitors");
    EXPECT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    if (!reply || DBusConnection::errorOf(reply.get())) {
        return found;
    }
    sd_bus_message* m = reply.get();
    sd_bus_message_enter_container(m, 'a', "(uss)");
    std::uint32_t cookie;
    const char *application, *reason;
    while (sd_bus_message_read(m, "(uss)", &cookie, &application, &reason) > 0) {
        found.emplace_back(application, reason);
    }
    return found;
}

std::vector<std::uint32_t> BusTest::gnomeInhibitFlags() {
    std::vector<std::uint32_t> found;
    if (services_.count("gnome_session") == 0) {
        return found;  // a service that is not running holds nothing
    }
    Reply reply = callAndWait(*probe, kGnomeSessionMock, "ListInhibitors");
    EXPECT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    if (!reply || DBusConnection::errorOf(reply.get())) {
        return found;
    }
    sd_bus_message* m = reply.get();
    sd_bus_message_enter_container(m, 'a', "(ssu)");
    const char *app, *reason;
    std::uint32_t flags;
    while (sd_bus_message_read(m, "(ssu)", &app, &reason, &flags) > 0) {
        found.push_back(flags);
    }
    return found;
}

std::uint32_t BusTest::inhibitCalls(const std::string& service) {
    const DBusObject object =
        service == "logind"
            ? DBusObject{kLogindMock.service, kLogindMock.path, "org.freedesktop.DBus.Mock"}
            : kScreenSaverMock;
    Reply reply = callAndWait(*probe, object, "InhibitCalls");
    std::uint32_t count = 0;
    if (reply && !DBusConnection::errorOf(reply.get())) {
        sd_bus_message_read(reply.get(), "u", &count);
    }
    return count;
}

bool BusTest::eventually(const std::function<bool()>& probeHolds) {
    // Each probe is a round trip that gives the mocks a turn; the limit bounds the whole wait.
    const double deadline = loop().uptime() + kLimit;
    while (loop().uptime() < deadline) {
        if (probeHolds()) {
            return true;
        }
    }
    return false;
}

bool BusTest::waitUntilNothingHeld() {
    return eventually([&] {
        return logindInhibitors().empty() && screenSaverInhibitors().empty() &&
               gnomeInhibitFlags().empty();
    });
}

std::vector<std::string> BusTest::busEnvironment() const {
    return {"DBUS_SYSTEM_BUS_ADDRESS=" + bus->address(),
            "DBUS_SESSION_BUS_ADDRESS=" + bus->address()};
}

void ServicesOnTheBusTest::SetUp() {
    BusTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    setenv("TZ", "UTC", 1);
    tzset();
    releaseServices();
    folder_ = ::testing::TempDir() + "orvel-bus-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder_);
}

void ServicesOnTheBusTest::TearDown() {
    releaseServices();
    if (Platform::isInstalled()) {
        Platform::install(nullptr);
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    BusTest::TearDown();
}

}  // namespace orvel::test
