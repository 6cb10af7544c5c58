#include "platform/linux/PortalDesktopSettings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/BusTest.h"

namespace orvel {
namespace {

using test::BusTest;
using test::waitFor;

const DBusObject kPortalMock{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                             "org.freedesktop.DBus.Mock"};

class PortalDesktopSettingsTest : public BusTest {
  private:
    int homes_ = 0;
    std::vector<std::filesystem::path> folders_;

  protected:
    // Asks the mock to change a setting and waits for its answer (the signal goes out first).
    void announce(const char* member, const DBusConnection::Append& append) {
        test::Reply reply = test::callAndWait(*probe, kPortalMock, member, append);
        ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get())) << member;
    }
    // A config home whose GTK 3 (or GTK 4) settings.ini holds `text`; removed after the case.
    std::string gtkHome(const std::string& text, const char* version = "gtk-3.0") {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::filesystem::path home = std::filesystem::path(::testing::TempDir()) /
                                           ("orvel-gtk-" + std::to_string(::getpid()) + "-" +
                                            info->name() + "-" + std::to_string(homes_++));
        std::filesystem::create_directories(home / version);
        std::ofstream(home / version / "settings.ini") << text;
        folders_.push_back(home);
        return home.string();
    }
    void TearDown() override {
        for (const auto& folder : folders_) {
            std::filesystem::remove_all(folder);
        }
        BusTest::TearDown();
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

TEST_F(PortalDesktopSettingsTest, GtkSettingsSayDarkOrLightOnlyWhenTheyHoldTheKeys) {
    struct Case {
        const char* ini;
        const char* version;
        ColorScheme expected;
    };
    const Case cases[] = {
        {"[Settings]\ngtk-application-prefer-dark-theme=1\n", "gtk-3.0", ColorScheme::dark},
        {"[Settings]\n gtk-application-prefer-dark-theme = true \n", "gtk-3.0", ColorScheme::dark},
        {"[Settings]\ngtk-theme-name=Adwaita-dark\n", "gtk-3.0", ColorScheme::dark},
        {"[Settings]\ngtk-theme-name=Adwaita:dark\n", "gtk-3.0", ColorScheme::dark},
        {"[Settings]\ngtk-theme-name=Arc-Dark\n", "gtk-4.0", ColorScheme::dark},
        {"[Settings]\ngtk-theme-name=Adwaita\ngtk-application-prefer-dark-theme=0\n", "gtk-3.0",
         ColorScheme::light},
        {"[Settings]\ngtk-theme-name=Darkish\n", "gtk-3.0", ColorScheme::light},
        {"[Settings]\ngtk-font-name=Cantarell 11\n", "gtk-3.0", ColorScheme::unknown},
        {"[Other]\ngtk-application-prefer-dark-theme=1\n", "gtk-3.0", ColorScheme::unknown},
        {"#gtk-application-prefer-dark-theme=1\n", "gtk-3.0", ColorScheme::unknown},
        {"", "gtk-3.0", ColorScheme::unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + ": " + c.ini);
        EXPECT_EQ(PortalDesktopSettings::gtkColorScheme(gtkHome(c.ini, c.version)), c.expected);
    }
    EXPECT_EQ(PortalDesktopSettings::gtkColorScheme(::testing::TempDir() + "/orvel-no-such-home"),
              ColorScheme::unknown);
}

TEST_F(PortalDesktopSettingsTest, WithoutASettingsPortalTheGtkSettingsDecide) {
    const std::string dark = gtkHome("[Settings]\ngtk-application-prefer-dark-theme=1\n");
    {
        PortalDesktopSettings settings(session, dark);
        EXPECT_TRUE(waitFor([&] { return settings.colorScheme() == ColorScheme::dark; }));
    }
    PortalDesktopSettings busless(nullptr, dark);
    EXPECT_EQ(busless.colorScheme(), ColorScheme::dark);

    // A portal that says dark or light is the desktop's own word; its "no preference" is not.
    struct Case {
        int portal;
        ColorScheme expected;
    };
    for (const Case c : {Case{2, ColorScheme::light}, Case{0, ColorScheme::dark}}) {
        SCOPED_TRACE("portal says " + std::to_string(c.portal));
        startService("portal_settings", "{\"color_scheme\": " + std::to_string(c.portal) + "}");
        PortalDesktopSettings settings(session, dark);
        EXPECT_TRUE(waitFor([&] { return settings.colorScheme() == c.expected; }));
        stopService("portal_settings");
    }
}

}  // namespace
}  // namespace orvel
