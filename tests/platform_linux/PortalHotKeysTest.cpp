#include "platform/linux/PortalHotKeys.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/Json.h"
#include "support/BusTest.h"

namespace orvel {
namespace {

using test::BusTest;
using test::callAndWait;
using test::Reply;
using test::waitFor;

const DBusObject kMock{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                       "org.freedesktop.DBus.Mock"};
constexpr std::uint32_t kControlOptionCommand = 0x1900;

class PortalHotKeysTest : public BusTest {
  protected:
    Json calls() {
        Reply reply = callAndWait(*probe, kMock, "Calls");
        const char* text = nullptr;
        if (!reply || sd_bus_message_read(reply.get(), "s", &text) < 0) {
            ADD_FAILURE() << "the portal's mock did not answer";
            return Json::array();
        }
        auto json = parseJson(text);
        return json ? *json : Json::array();
    }
    std::vector<std::string> closed() {
        Reply reply = callAndWait(*probe, kMock, "Closed");
        char** paths = nullptr;
        std::vector<std::string> found;
        if (reply && sd_bus_message_read_strv(reply.get(), &paths) >= 0 && paths != nullptr) {
            for (char** p = paths; *p != nullptr; ++p) {
                found.emplace_back(*p);
                std::free(*p);
            }
            std::free(paths);
        }
        return found;
    }
    void activate(const std::string& portalSession, const char* shortcut) {
        Reply reply = callAndWait(*probe, kMock, "Activate", [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "os", portalSession.c_str(), shortcut);
        });
        EXPECT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
    }
};

TEST_F(PortalHotKeysTest, TheShortcutIsBoundInASessionThatActivatedReachesAndClosingEnds) {
    startService("portal_global_shortcuts", R"({"trigger_description": "Ctrl+Alt+Super+C"})");
    PortalHotKeys keys(session);
    int changes = 0;
    auto changed = keys.changed.subscribe([&] { ++changes; });
    std::vector<std::uint32_t> fired;
    auto handler = keys.installHandler([&](std::uint32_t id) { fired.push_back(id); });
    auto registration = keys.registerHotKey(8, kControlOptionCommand, 7);
    ASSERT_NE(registration, nullptr);
    ASSERT_TRUE(waitFor([&] { return keys.boundTrigger().has_value(); }));
    EXPECT_EQ(keys.boundTrigger(), "Ctrl+Alt+Super+C") << "the desktop's words are shown";
    EXPECT_GE(changes, 1);
    EXPECT_EQ(keys.unavailableReason(), std::nullopt);

    const Json seen = calls();
    ASSERT_EQ(seen.size(), 2u) << seen.dump();
    EXPECT_EQ(seen[0]["method"], "CreateSession");
    EXPECT_EQ(seen[1]["method"], "BindShortcuts");
    const std::string made = seen[0]["session"];
    EXPECT_EQ(seen[1]["session"], made);
    const Json shortcut = seen[1]["shortcuts"][0];
    EXPECT_EQ(shortcut[0], PortalHotKeys::kShortcutId);
    EXPECT_EQ(shortcut[1]["preferred_trigger"], "CTRL+ALT+LOGO+c");
    EXPECT_FALSE(shortcut[1]["description"].get<std::string>().empty());

    // Another session's shortcut or another id of ours is not this hot key.
    activate(made + "x", PortalHotKeys::kShortcutId);
    activate(made, "something-else");
    activate(made, PortalHotKeys::kShortcutId);
    ASSERT_TRUE(waitFor([&] { return !fired.empty(); }));
    activate(made, PortalHotKeys::kShortcutId);
    ASSERT_TRUE(waitFor([&] { return fired.size() == 2; }));
    EXPECT_EQ(fired, (std::vector<std::uint32_t>{7, 7}));
    EXPECT_TRUE(closed().empty());

    registration.reset();
    EXPECT_TRUE(eventually([&] { return closed() == std::vector<std::string>{made}; }));
}

TEST_F(PortalHotKeysTest, ASessionLetGoOfWhileItIsMadeIsClosedOnceItExists) {
    startService("portal_global_shortcuts", R"({"hold_sessions": true})");
    PortalHotKeys keys(session);
    auto registration = keys.registerHotKey(8, kControlOptionCommand, 1);
    ASSERT_TRUE(waitFor([&] { return !calls().empty(); }));
    registration.reset();
    EXPECT_TRUE(closed().empty());
    Reply answered = callAndWait(*probe, kMock, "AnswerSessions");
    ASSERT_TRUE(answered && !DBusConnection::errorOf(answered.get()));
    EXPECT_TRUE(eventually([&] { return closed().size() == 1; }));
    EXPECT_EQ(calls().size(), 1u) << "nothing is bound in a session let go of";
}

TEST_F(PortalHotKeysTest, WithoutTheInterfaceNothingIsRegisteredAndTheReasonIsGiven) {
    for (bool portalRuns : {true, false}) {
        SCOPED_TRACE(portalRuns ? "a portal without global shortcuts" : "no portal");
        if (portalRuns) {
            startService("portal_global_shortcuts", R"({"offered": false})");
        }
        PortalHotKeys keys(session);
        int changes = 0;
        auto changed = keys.changed.subscribe([&] { ++changes; });
        auto registration = keys.registerHotKey(8, kControlOptionCommand, 1);
        ASSERT_TRUE(waitFor([&] { return keys.unavailableReason().has_value(); }));
        EXPECT_NE(keys.unavailableReason()->find("no global shortcuts"), std::string::npos)
            << *keys.unavailableReason();
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(keys.boundTrigger(), std::nullopt);
        auto again = keys.registerHotKey(8, kControlOptionCommand, 2);
        if (portalRuns) {
            EXPECT_TRUE(calls().empty()) << "once known, nothing is asked again";
            EXPECT_TRUE(calls().empty()) << calls().dump();
            stopService("portal_global_shortcuts");
        }
    }
}

// A desktop may start its portal after Orvel, or restart it.
TEST_F(PortalHotKeysTest, APortalThatComesLaterIsAskedThenAndAgainAfterItRestarts) {
    PortalHotKeys keys(session);
    std::vector<std::uint32_t> fired;
    auto handler = keys.installHandler([&](std::uint32_t id) { fired.push_back(id); });
    auto registration = keys.registerHotKey(8, kControlOptionCommand, 3);
    ASSERT_NE(registration, nullptr) << "it waits for the portal";
    ASSERT_TRUE(waitFor([&] { return keys.unavailableReason().has_value(); }));
    EXPECT_NE(keys.unavailableReason()->find("not running"), std::string::npos)
        << *keys.unavailableReason();
    for (const char* round : {"the portal starts", "the portal starts again"}) {
        SCOPED_TRACE(round);
        startService("portal_global_shortcuts", R"({"trigger_description": "Ctrl+Alt+Super+C"})");
        ASSERT_TRUE(waitFor([&] { return keys.boundTrigger().has_value(); }));
        EXPECT_EQ(keys.unavailableReason(), std::nullopt);
        const Json seen = calls();
        ASSERT_EQ(seen.size(), 2u) << seen.dump();
        fired.clear();
        activate(seen[0]["session"], PortalHotKeys::kShortcutId);
        ASSERT_TRUE(waitFor([&] { return fired == std::vector<std::uint32_t>{3}; }));
        stopService("portal_global_shortcuts");
        ASSERT_TRUE(waitFor([&] { return !keys.boundTrigger() && keys.unavailableReason(); }));
    }
    const auto said = log->messages("hotkey");
    EXPECT_EQ(std::count_if(said.begin(), said.end(),
                            [](const std::string& m) {
                                return m.find("portal is on the bus") != std::string::npos;
                            }),
              2)
        << "each coming is told once";
}

TEST(PortalHotKeysTrigger, TheCombinationIsWrittenInTheShortcutsFormat) {
    EXPECT_EQ(PortalHotKeys::triggerFor(8, 0x1900), "CTRL+ALT+LOGO+c");
    EXPECT_EQ(PortalHotKeys::triggerFor(8, 0x1000 | 0x0200), "CTRL+SHIFT+c");
    EXPECT_EQ(PortalHotKeys::triggerFor(9, 0x1900), std::nullopt);
}

}  // namespace
}  // namespace orvel
