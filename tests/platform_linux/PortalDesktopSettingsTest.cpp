#include "platform/linux/PortalDesktopSettings.h"

#include <gtest/gtest.h>

#include "support/BusTest.h"

namespace orvel {
namespace {

using test::BusTest;
using test::waitFor;

const DBusObject kPortalMock{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                             "org.freedesktop.DBus.Mock"};

class PortalDesktopSettingsTest : public BusTest {
  protected:
    // Asks the mock to change a setting and waits for its answer (the signal goes out first).
    void announce(const char* member, const DBusConnection::Append& append) {
        test::Reply reply = test::callAndWait(*probe, kPortalMock, member, append);
        ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get())) << member;
    }
    void setScheme(std::uint32_t value) {
        announce("SetColorScheme",
                 [value](sd_bus_message* m) { return sd_bus_message_append(m, "u", value); });
    }
};

TEST_F(PortalDesktopSettingsTest, TheSchemeIsReadWithoutWaitingFromEitherVersionOfThePortal) {
    struct Case {
        int version;
        int value;
        ColorScheme expected;
    };
    const Case cases[] = {
        {2, 1, ColorScheme::dark},
        {2, 2, ColorScheme::light},
        {1, 1, ColorScheme::dark},
        {1, 2, ColorScheme::light},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("version " + std::to_string(c.version) + ", value " + std::to_string(c.value));
        startService("portal_settings", "{\"version\": " + std::to_string(c.version) +
                                            ", \"color_scheme\": " + std::to_string(c.value) + "}");
        PortalDesktopSettings settings(session);
        EXPECT_EQ(settings.colorScheme(), ColorScheme::unknown) << "nothing waits for the answer";
        std::vector<ColorScheme> sent;
        Subscription changes =
            settings.colorSchemeChanged.subscribe([&](ColorScheme s) { sent.push_back(s); });
        EXPECT_TRUE(waitFor([&] { return settings.colorScheme() == c.expected; }));
        EXPECT_EQ(sent, std::vector<ColorScheme>{c.expected});
        stopService("portal_settings");
    }
}

TEST_F(PortalDesktopSettingsTest, ChangesAreFollowedAndOtherSettingsIgnored) {
    startService("portal_settings", "{\"color_scheme\": 1}");
    PortalDesktopSettings settings(session);
    ASSERT_TRUE(waitFor([&] { return settings.colorScheme() == ColorScheme::dark; }));
    std::vector<ColorScheme> sent;
    Subscription changes =
        settings.colorSchemeChanged.subscribe([&](ColorScheme s) { sent.push_back(s); });

    announce("AnnounceOther", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssu", "org.freedesktop.appearance", "contrast", 0u);
    });
    announce("AnnounceOther", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssu", "org.gnome.desktop.interface", "color-scheme", 0u);
    });
    setScheme(2);
    ASSERT_TRUE(waitFor([&] { return !sent.empty(); }));
    EXPECT_EQ(sent, std::vector<ColorScheme>{ColorScheme::light})
        << "only the appearance's colour scheme counts";
    setScheme(0);
    ASSERT_TRUE(waitFor([&] { return sent.size() == 2; }));
    EXPECT_EQ(settings.colorScheme(), ColorScheme::unknown) << "no preference says nothing";
}

TEST_F(PortalDesktopSettingsTest, WithoutAPortalOrABusTheSchemeStaysUnknown) {
    {
        PortalDesktopSettings settings(session);
        EXPECT_TRUE(waitFor([&] { return !log->messages("desktop").empty(); }));
        EXPECT_EQ(settings.colorScheme(), ColorScheme::unknown);
        EXPECT_EQ(log->messages("desktop").size(), 1u) << "one line says why";
    }
    PortalDesktopSettings none(nullptr);
    EXPECT_EQ(none.colorScheme(), ColorScheme::unknown);
}

}  // namespace
}  // namespace orvel
