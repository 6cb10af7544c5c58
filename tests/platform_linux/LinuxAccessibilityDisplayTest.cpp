#include "platform/linux/LinuxAccessibilityDisplay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/BusTest.h"

namespace orvel {
namespace {

const DBusObject kSettingsPortal{"org.freedesktop.portal.Desktop",
                                 "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Mock"};

class LinuxAccessibilityDisplayTest : public test::BusTest {};

TEST_F(LinuxAccessibilityDisplayTest, ReadsThePortalsSettingsAndFollowsTheirChanges) {
    startService("portal_settings",
                 R"({"settings": {"org.gnome.desktop.a11y.interface": {"high-contrast": true},
                                  "org.gnome.desktop.interface": {"text-scaling-factor": 1.25,
                                                                  "color-scheme": "default"}}})");
    LinuxAccessibilityDisplay display(session);
    int changes = 0;
    auto watch = display.displayOptionsDidChange.subscribe([&] { ++changes; });
    EXPECT_FALSE(display.shouldIncreaseContrast()) << "reads never wait for the bus";
    EXPECT_DOUBLE_EQ(display.bodyFontSize(), 13.0);
    ASSERT_TRUE(test::waitFor([&] { return display.hasAnswered(); }));
    EXPECT_TRUE(display.shouldIncreaseContrast());
    EXPECT_DOUBLE_EQ(display.bodyFontSize(), 16.25);
    EXPECT_FALSE(display.shouldReduceTransparency());
    EXPECT_FALSE(display.shouldDifferentiateWithoutColor());
    EXPECT_EQ(changes, 1);

    auto reply = test::callAndWait(*probe, kSettingsPortal, "Change", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssv", "org.gnome.desktop.a11y.interface", "high-contrast",
                                     "b", 0);
    });
    ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    ASSERT_TRUE(test::waitFor([&] { return !display.shouldIncreaseContrast(); }));
    EXPECT_EQ(changes, 2);

    reply = test::callAndWait(*probe, kSettingsPortal, "Change", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssv", "org.gnome.desktop.interface", "text-scaling-factor",
                                     "d", 1.5);
    });
    ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    ASSERT_TRUE(test::waitFor([&] { return display.bodyFontSize() == 19.5; }));
    EXPECT_EQ(changes, 3);
}

TEST_F(LinuxAccessibilityDisplayTest, WithoutAPortalTheStandardSettingsStayAndTheLogSaysSo) {
    LinuxAccessibilityDisplay display(session);
    ASSERT_TRUE(test::waitFor([&] { return display.hasAnswered(); }));
    EXPECT_FALSE(display.shouldIncreaseContrast());
    EXPECT_DOUBLE_EQ(display.bodyFontSize(), 13.0);
    ASSERT_TRUE(test::waitFor([&] { return log->messages("accessibility").size() == 2; }));
    const auto lines = log->messages("accessibility");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find(
                                           "Accessibility display settings are not "
                                           "available on this system") == 0;
                            }),
              1);
    EXPECT_FALSE(display.screenReaderEnabled());
}

TEST_F(LinuxAccessibilityDisplayTest, FollowsTheScreenReaderSwitchOfTheAccessibilityBus) {
    startService("atspi_status", R"({"screen_reader": true})");
    LinuxAccessibilityDisplay display(session);
    ASSERT_TRUE(test::waitFor([&] { return display.screenReaderEnabled(); }));

    const DBusObject properties{"org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties"};
    auto reply = test::callAndWait(*probe, properties, "Set", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssv", "org.a11y.Status", "ScreenReaderEnabled", "b", 0);
    });
    ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    EXPECT_TRUE(test::waitFor([&] { return !display.screenReaderEnabled(); }));
}

}  // namespace
}  // namespace orvel
