#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

// The tests draw with Qt's offscreen platform, so they need no display; the platform must be
// chosen before the application object exists.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // No test talks to the desktop's own session bus; the tray's tests bring a private one.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvel-tests/bus", 1);
    setenv("TZ", "UTC", 1);
    tzset();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
