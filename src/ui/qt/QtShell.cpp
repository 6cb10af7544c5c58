#include "ui/qt/QtShell.h"

#include <QApplication>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/linux/DBusConnection.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRunLoop.h"

namespace orvel::ui {

struct QtShell::Impl {
    std::unique_ptr<QtEnvironment> environment;
};

QtShell::QtShell(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    impl_->environment = std::make_unique<QtEnvironment>(argc, argv);
    releaseDisplayCheck();
    RunLoop::install(std::make_unique<QtRunLoop>());
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
        if (UiHost::isInstalled()) {
            UiHost::current().application().terminate();
        }
    });
}

void QtShell::installHost(HostCapabilities capabilities) {
    auto host = std::make_unique<QtHost>(capabilities);
    if (auto bus = DBusConnection::open(DBusConnection::Bus::session)) {
        host->useFileChooserPortal(std::move(bus.value()));
    } else {
        Logger("desktop").info("File dialogs are Qt's own: " + bus.error().message);
    }
    UiHost::install(std::move(host));
}

namespace {

std::function<void()>& displayLostQuit() {
    static std::function<void()> quit;
    return quit;
}
// Read on Qt's threads, which must not touch the quit itself.
std::atomic<bool> displayLostArmed{false};
QtMessageHandler previousHandler = nullptr;

// Qt's own words just before it ends the process on a lost display (xcb, then Wayland).
bool saysDisplayLost(std::string_view message) {
    for (std::string_view start : {"The X11 connection broke", "The Wayland connection broke",
                                   "The Wayland connection experienced a fatal error"}) {
        if (message.substr(0, start.size()) == start) {
            return true;
        }
    }
    return false;
}

[[noreturn]] void quitForLostDisplay() {
    if (auto quit = std::exchange(displayLostQuit(), nullptr)) {
        quit();
    }
    std::fflush(nullptr);
    // The display's connection is broken: Qt's own teardown would only fail on it.
    ::_exit(0);
}

void watchForLostDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (previousHandler != nullptr) {
        previousHandler(type, context, text);
    }
    static std::atomic<bool> seen{false};
    if (!displayLostArmed.load() || !saysDisplayLost(text.toStdString()) || seen.exchange(true)) {
        return;
    }
    Logger("app").notice("The display went away; Orvel quits.");
    if (QThread::currentThread() == qApp->thread()) {
        quitForLostDisplay();
    }
    // Said on one of Qt's own threads: the quit runs on the main thread while this one waits,
    // for a while, before Qt ends the process.
    RunLoop::main().async([] { quitForLostDisplay(); });
    QThread::sleep(2);
}

}  // namespace

void QtShell::onDisplayLost(std::function<void()> quit) {
    displayLostArmed.store(static_cast<bool>(quit));
    displayLostQuit() = std::move(quit);
    if (previousHandler == nullptr) {
        previousHandler = qInstallMessageHandler(watchForLostDisplay);
    }
}

QtShell::~QtShell() {
    if (UiHost::isInstalled()) {
        UiHost::install(nullptr);
    }
    RunLoop::install(nullptr);
    impl_->environment.reset();
}

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

xcb_connection_t*& displayCheck() {
    static xcb_connection_t* connection = nullptr;
    return connection;
}

// Connects as Qt's X11 platform would (same display name, same authority); an answer keeps the
// connection until the shell lets go of it.
bool xServerAnswers(const std::string& display) {
    QtShell::releaseDisplayCheck();
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool answers = connection != nullptr && xcb_connection_has_error(connection) == 0;
    if (answers) {
        displayCheck() = connection;
    } else if (connection != nullptr) {
        xcb_disconnect(connection);
    }
    return answers;
}

// A compositor listens on $WAYLAND_DISPLAY, a socket path absolute or under $XDG_RUNTIME_DIR.
bool compositorAnswers(const std::string& name) {
    std::string path = name;
    if (path.front() != '/') {
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty()) {
            return false;
        }
        path = runtime + "/" + name;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool answers =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

}  // namespace

void QtShell::releaseDisplayCheck() {
    if (xcb_connection_t* connection = std::exchange(displayCheck(), nullptr)) {
        xcb_disconnect(connection);
    }
}

bool QtShell::canShowWindows() {
    // A platform chosen by hand is the user's call (offscreen, vnc …).
    if (!environment("QT_QPA_PLATFORM").empty()) {
        return true;
    }
    // Qt aborts with lines of its own when the display it is given does not answer.
    const std::string wayland = environment("WAYLAND_DISPLAY");
    if (!wayland.empty() && compositorAnswers(wayland)) {
        return true;
    }
    const std::string display = environment("DISPLAY");
    return !display.empty() && xServerAnswers(display);
}

}  // namespace orvel::ui
