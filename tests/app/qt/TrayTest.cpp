// The tray as a desktop's StatusNotifierItem host sees it: the application's status item on a
// private session bus with a watcher of our own, driven through the item's methods.

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "QtUiTest.h"
#include "app/compose/Services.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "menubar/StatusItemController.h"
#include "platform/sim/RecordingLogSink.h"
#include "support/DBusMenuReader.h"
#include "support/PrivateBus.h"
#include "ui/qt/QtNotifierStatusItem.h"
#include "ui/qt/QtPopover.h"
#include "ui/qt/QtStatusItem.h"
#include "ui/qt/QtTrayItem.h"

namespace orvel {
namespace {

using test::PrivateBus;
using test::Reply;

constexpr const char* kNoBus = "unix:path=/nonexistent/orvel-tests/bus";

class TrayTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        test::setWaiter([this](double limit, const std::function<bool()>& done) {
            return loop().runFor(limit, done);
        });
        auto started = PrivateBus::start();
        if (!started) {
            GTEST_SKIP() << "no private D-Bus: " << started.error().message;
        }
        if (std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "python3-dbusmock is not installed for /usr/bin/python3";
        }
        bus = std::move(started.value());
        setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
        probe = bus->connect("probe");
        ASSERT_TRUE(probe);
        previousSink = installLogSink(log);
    }

    void TearDown() override {
        if (previousSink) {
            installLogSink(previousSink);
        }
        // The item leaves the bus before the bus goes.
        item_.reset();
        releaseServices();
        probe.reset();
        bus.reset();
        setenv("DBUS_SESSION_BUS_ADDRESS", kNoBus, 1);
        test::setWaiter(nullptr);
        QtUiTest::TearDown();
    }

    // `parameters`: the watcher's, as JSON.
    void startWatcher(const std::string& parameters = "") {
        auto pid =
            bus->startTemplate(std::string(ORVEL_LINUX_MOCKS) + "/status_notifier_watcher.py",
                               StatusNotifierItem::kWatcherName, parameters);
        ASSERT_TRUE(pid.ok()) << (pid.ok() ? "" : pid.error().message);
        watcherPid_ = pid.value();
    }
    void stopWatcher() { bus->stopService(watcherPid_, StatusNotifierItem::kWatcherName); }
    // A panel's tray comes to the watcher, or goes.
    void setHost(bool present) {
        const DBusObject mock{StatusNotifierItem::kWatcherName, "/StatusNotifierWatcher",
                              "org.freedesktop.DBus.Mock"};
        Reply reply = test::callAndWait(*probe, mock, "SetHost", [present](sd_bus_message* m) {
            return sd_bus_message_append(m, "b", present ? 1 : 0);
        });
        ASSERT_TRUE(reply);
        EXPECT_FALSE(DBusConnection::errorOf(reply.get()));
    }

    // The application's status item, once it has chosen how to show itself.
    ui::QtTrayItem& makeTray() {
        item_ = StatusItemController::make(services().statusItemServices());
        auto* tray = dynamic_cast<ui::QtTrayItem*>(&StatusItemController::current()->item());
        EXPECT_NE(tray, nullptr);
        EXPECT_TRUE(waitUntil([&] { return tray->chosen() != nullptr; }));
        return *tray;
    }

    // Our item, registered with the watcher.
    ui::QtNotifierStatusItem& notifierTray() {
        startWatcher();
        ui::QtTrayItem& tray = makeTray();
        EXPECT_EQ(tray.chosen(), tray.notifier());
        EXPECT_TRUE(waitUntil([&] { return tray.notifier()->service().isRegistered(); }));
        return *tray.notifier();
    }

    void callItem(ui::QtNotifierStatusItem& item, const char* member, int x = 0, int y = 0) {
        const DBusObject object{item.service().busName().c_str(), StatusNotifierItem::kPath,
                                StatusNotifierItem::kInterface};
        Reply reply = test::callAndWait(*probe, object, member, [x, y](sd_bus_message* m) {
            return sd_bus_message_append(m, "ii", x, y);
        });
        ASSERT_TRUE(reply) << member;
        EXPECT_FALSE(DBusConnection::errorOf(reply.get())) << member;
    }

    // The label the item shows, read through the bus.
    std::string label(ui::QtNotifierStatusItem& item) {
        const DBusObject object{item.service().busName().c_str(), StatusNotifierItem::kPath,
                                "org.freedesktop.DBus.Properties"};
        Reply reply = test::callAndWait(*probe, object, "Get", [](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", StatusNotifierItem::kInterface, "XAyatanaLabel");
        });
        const char* text = nullptr;
        if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "s") < 0 ||
            sd_bus_message_read(reply.get(), "s", &text) < 0) {
            return "?";
        }
        return text;
    }

    static ui::QtPopover& popover() {
        return static_cast<ui::QtPopover&>(StatusItemController::current()->popover());
    }

    std::unique_ptr<PrivateBus> bus;
    std::shared_ptr<DBusConnection> probe;
    std::shared_ptr<RecordingLogSink> log = std::make_shared<RecordingLogSink>();
    std::shared_ptr<LogSink> previousSink;

    // The application's status item, as its delegate keeps it.
    std::shared_ptr<StatusItemController> item_;

  private:
    pid_t watcherPid_ = -1;
};

TEST_F(TrayTest, OurItemShowsTheTrayWhenAWatcherIsThereAndQtsOwnIconIsNeverMade) {
    ui::QtNotifierStatusItem& item = notifierTray();
    auto& tray = static_cast<ui::QtTrayItem&>(StatusItemController::current()->item());
    EXPECT_EQ(dynamic_cast<ui::QtStatusItem*>(tray.chosen()), nullptr);
    const StatusNotifierLook& look = item.service().look();
    EXPECT_EQ(look.title, "Orvel");
    EXPECT_EQ(look.iconName, "orvel-cup");
    EXPECT_EQ(look.toolTipTitle, "Orvel \u2014 Inactive");
    EXPECT_EQ(look.toolTipText, "Orvel \u2014 sleep allowed");
    ASSERT_EQ(look.pixmaps.size(), 4u);
    for (size_t i = 0; i < look.pixmaps.size(); ++i) {
        const int side = ui::QtNotifierStatusItem::kPixmapSides[i];
        EXPECT_EQ(look.pixmaps[i].width, side);
        EXPECT_EQ(look.pixmaps[i].argb.size(), static_cast<size_t>(side * side * 4));
    }
}

TEST_F(TrayTest, TheXEmbedIconIsChosenWhenNoWatcherOrNoBusIsThere) {
    ui::QtTrayItem& tray = makeTray();
    EXPECT_NE(dynamic_cast<ui::QtStatusItem*>(tray.chosen()), nullptr);
    EXPECT_FALSE(tray.notifier()->service().isRegistered());
    EXPECT_FALSE(tray.pollsForTray()) << "no XEmbed tray can come off X: nothing to look for";
    item_.reset();
    releaseServices();

    setenv("DBUS_SESSION_BUS_ADDRESS", kNoBus, 1);
    auto item = StatusItemController::make(services().statusItemServices());
    auto& without = static_cast<ui::QtTrayItem&>(StatusItemController::current()->item());
    EXPECT_NE(dynamic_cast<ui::QtStatusItem*>(without.chosen()), nullptr) << "at once";
    EXPECT_EQ(without.notifier(), nullptr);
}

TEST_F(TrayTest, AWatcherThatComesLaterTakesTheTrayOverAndOneThatComesBackGetsTheItemAgain) {
    ui::QtTrayItem& tray = makeTray();
    ASSERT_NE(dynamic_cast<ui::QtStatusItem*>(tray.chosen()), nullptr);
    startWatcher();
    ASSERT_TRUE(waitUntil([&] { return tray.chosen() == tray.notifier(); }));
    StatusNotifierItem& service = tray.notifier()->service();
    ASSERT_TRUE(waitUntil([&] { return service.isRegistered(); }));
    EXPECT_EQ(service.look().iconName, "orvel-cup") << "the kept look is shown";

    stopWatcher();
    ASSERT_TRUE(waitUntil([&] { return !service.isRegistered(); }));
    EXPECT_EQ(tray.chosen(), tray.notifier()) << "the item waits for the watcher";
    startWatcher();
    EXPECT_TRUE(waitUntil([&] { return service.isRegistered(); }));
}

// The offscreen platform has no XEmbed system tray: without a host, nothing shows the item.
TEST_F(TrayTest, WithNoTrayTheUserIsToldOnceAndGetsThePanelAsAWindowUntilAHostShowsTheItem) {
    ui::QtTrayItem& tray = makeTray();
    auto& controller = *StatusItemController::current();
    controller.setTrayGrace(0);
    ASSERT_TRUE(waitUntil([&] { return popover().isShown(); })) << "no window";
    QWidget& window = *popover().widget();
    EXPECT_EQ(window.windowTitle(), "Orvel Panel");
    EXPECT_EQ(window.windowType(), Qt::Window) << "a window with a task-bar entry";
    EXPECT_FALSE(window.windowFlags() & Qt::FramelessWindowHint) << "the desktop's close button";
    const auto told = [&] { return sim().notifications().posted(); };
    ASSERT_EQ(told().size(), 1u);
    EXPECT_EQ(told()[0].title, "Orvel has no tray icon here");
    const auto logged = [&] {
        const std::vector<LogRecord> records = log->records();
        return std::count_if(records.begin(), records.end(), [](const LogRecord& r) {
            return r.message.find("StatusNotifierItem host") != std::string::npos &&
                   r.message.find("XEmbed system tray") != std::string::npos;
        });
    };
    EXPECT_EQ(logged(), 1);

    // Closed, it opens again for another launch of Orvel.
    window.close();
    ASSERT_FALSE(popover().isShown());
    controller.openPanel();
    EXPECT_TRUE(popover().isShown());
    EXPECT_EQ(window.windowType(), Qt::Window);

    // A watcher that no host reads shows nothing either, and is not told of again.
    startWatcher(R"({"host": false})");
    StatusNotifierItem& service = tray.notifier()->service();
    ASSERT_TRUE(waitUntil([&] { return service.isRegistered() && service.hasHost() == false; }));
    EXPECT_TRUE(popover().isShown());

    // A panel's tray comes: the window goes, and a click on the item opens the panel there.
    setHost(true);
    ASSERT_TRUE(waitUntil([&] { return !popover().isShown(); })) << "the window stays";
    EXPECT_FALSE(controller.isWithoutTray());
    EXPECT_TRUE(service.isRegistered());
    callItem(*tray.notifier(), "ContextMenu", 600, 20);
    ASSERT_TRUE(waitUntil([&] { return popover().isShown(); }));
    EXPECT_NE(window.windowType(), Qt::Window);
    popover().close();

    // It goes for good: told again, once.
    setHost(false);
    ASSERT_TRUE(waitUntil([&] { return popover().isShown(); }));
    EXPECT_EQ(window.windowType(), Qt::Window);
    EXPECT_EQ(told().size(), 2u);
    EXPECT_EQ(logged(), 2);
}

// A panel that restarts leaves the watcher without a host for a moment.
TEST_F(TrayTest, ATrayGoneForAMomentIsNotToldOf) {
    startWatcher();
    ui::QtTrayItem& tray = makeTray();
    ASSERT_TRUE(waitUntil([&] { return tray.isInTray() == true; }));
    StatusItemController::current()->setTrayGrace(60);
    setHost(false);
    ASSERT_TRUE(waitUntil([&] { return tray.isInTray() == false; }));
    setHost(true);
    ASSERT_TRUE(waitUntil([&] { return tray.isInTray() == true; }));
    EXPECT_FALSE(popover().isShown());
    EXPECT_TRUE(sim().notifications().posted().empty());
}

TEST_F(TrayTest, TheLabelCountsDownEachSecondOnlyWhileATimedSessionShowsTheTimer) {
    ui::QtNotifierStatusItem& item = notifierTray();
    std::vector<std::pair<std::string, std::string>> labels;
    auto match =
        probe->matchSignal(nullptr, StatusNotifierItem::kPath, StatusNotifierItem::kInterface,
                           "XAyatanaNewLabel", [&](sd_bus_message* m) {
                               const char* text = nullptr;
                               const char* guide = nullptr;
                               if (sd_bus_message_read(m, "ss", &text, &guide) > 0) {
                                   labels.emplace_back(text, guide);
                               }
                           });
    ASSERT_TRUE(match.ok());
    EXPECT_EQ(label(item), "");

    services().controller().startForSeconds(5399);
    ASSERT_TRUE(waitUntil([&] { return labels.size() >= 3; }));
    for (size_t i = 0; i < labels.size(); ++i) {
        EXPECT_TRUE(labels[i].first.rfind("1:29:", 0) == 0 || labels[i].first == "1:30:00" ||
                    labels[i].first == "1:29:59")
            << labels[i].first;
        EXPECT_EQ(labels[i].second, "0:00:00") << "the guide keeps the width";
        if (i > 0) {
            EXPECT_NE(labels[i].first, labels[i - 1].first) << "only a new text is sent";
        }
    }

    // The timer hidden: the label empties once, and nothing ticks while nothing shows the time.
    services().preferences().showTimer = false;
    ASSERT_TRUE(waitUntil([&] { return labels.back().first.empty(); }));
    const size_t sent = labels.size();
    auto& controller = *StatusItemController::current();
    EXPECT_FALSE(services().controller().hasTicker());
    EXPECT_TRUE(services().controller().isActive());
    EXPECT_EQ(label(item), "");  // a reply comes after every signal sent before it
    EXPECT_EQ(labels.size(), sent);

    // Stopped: nothing to count.
    services().preferences().showTimer = true;
    services().controller().stop(true);
    const auto beforeStop = controller.refreshCount();
    ASSERT_TRUE(waitUntil([&] { return controller.refreshCount() > beforeStop; }));
    ASSERT_FALSE(services().controller().isActive());
    EXPECT_EQ(label(item), "");
    EXPECT_EQ(labels.size(), sent);
}

TEST_F(TrayTest, TheHostsClicksFollowTheSwapSettingAndTheMiddleButtonDoesNothing) {
    ui::QtNotifierStatusItem& item = notifierTray();
    auto& controller = services().controller();
    struct Case {
        bool swap;
        const char* member;
        bool toggles;
    };
    const std::vector<Case> cases = {
        {false, "Activate", true},
        {false, "ContextMenu", false},
        {true, "Activate", false},
        {true, "ContextMenu", true},
    };
    for (const auto& c : cases) {
        services().preferences().swapMenuButtons = c.swap;
        popover().close();
        const bool wasActive = controller.isActive();
        // The middle button first: had it done anything, it would show before the click after it.
        callItem(item, "SecondaryActivate", 40, 590);
        callItem(item, c.member, 40, 590);
        if (c.toggles) {
            EXPECT_TRUE(waitUntil([&] { return controller.isActive() != wasActive; }))
                << c.member << " swap " << c.swap;
            EXPECT_FALSE(popover().isShown());
        } else {
            EXPECT_TRUE(waitUntil([&] { return popover().isShown(); }))
                << c.member << " swap " << c.swap;
            EXPECT_EQ(controller.isActive(), wasActive);
        }
    }
}

TEST_F(TrayTest, ThePanelOpensAtThePointTheHostGaveAgainstItsEdgeOfTheScreen) {
    ui::QtNotifierStatusItem& item = notifierTray();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        const char* where;
        QPoint point;
        bool above;
    };
    const std::vector<Case> cases = {
        {"a tray at the bottom", QPoint(screen.right() - 30, screen.bottom() - 5), true},
        {"a tray at the top", QPoint(screen.left() + 30, screen.top() + 5), false},
    };
    for (const auto& c : cases) {
        popover().close();
        // The pointer is where the click was.
        QCursor::setPos(c.point);
        callItem(item, "ContextMenu", c.point.x(), c.point.y());
        ASSERT_TRUE(waitUntil([&] { return popover().isShown(); })) << c.where;
        const QRect panel = popover().widget()->window()->geometry();
        EXPECT_TRUE(screen.contains(panel)) << c.where;
        if (c.above) {
            EXPECT_LE(panel.bottom(), c.point.y()) << c.where;
        } else {
            EXPECT_GE(panel.top(), c.point.y()) << c.where;
        }
        EXPECT_LE(std::abs(panel.center().x() - c.point.x()), panel.width()) << c.where;
    }
}

TEST_F(TrayTest, TheMenuReachesThePanelAndItsToggleSaysWhatTheSessionIs) {
    ui::QtNotifierStatusItem& item = notifierTray();
    const std::string service = item.service().busName();
    auto& controller = services().controller();
    // What the host is told of changes: each entry sent again, in words.
    std::vector<std::string> updates;
    auto match =
        probe->matchSignal(nullptr, test::kMenuPath, test::kMenuInterface, "ItemsPropertiesUpdated",
                           [&updates](sd_bus_message* m) {
                               if (sd_bus_message_enter_container(m, 'a', "(ia{sv})") < 0) {
                                   return;
                               }
                               while (sd_bus_message_enter_container(m, 'r', "ia{sv}") > 0) {
                                   test::MenuEntry entry;
                                   sd_bus_message_read(m, "i", &entry.id);
                                   entry.properties = test::readMenuProperties(m);
                                   updates.push_back(test::describeMenuEntry(entry));
                                   sd_bus_message_exit_container(m);
                               }
                           });
    ASSERT_TRUE(match.ok());

    const auto menu = test::readMenuLayout(*probe, service);
    ASSERT_TRUE(menu);
    EXPECT_EQ(test::describeMenu(*menu),
              (std::vector<std::string>{"Open Orvel\u2026", "Turn Orvel On", "-", "Settings\u2026",
                                        "Help\u2026", "-", "Quit Orvel"}));
    ASSERT_EQ(menu->entries.size(), 7u);
    const std::int32_t open = menu->entries[0].id;
    const std::int32_t toggle = menu->entries[1].id;
    auto click = [&](std::int32_t id) {
        Reply reply = test::sendMenuEvent(*probe, service, id);
        ASSERT_TRUE(reply);
        EXPECT_FALSE(DBusConnection::errorOf(reply.get()));
    };

    struct Case {
        const char* what;
        std::function<void()> act;
        bool active;
        std::string title;
    };
    const std::vector<Case> cases = {
        {"a click on the entry", [&] { click(toggle); }, true, "Turn Orvel Off"},
        {"a session ended elsewhere", [&] { controller.stop(true); }, false, "Turn Orvel On"},
        {"a session started elsewhere", [&] { controller.startForSeconds(600); }, true,
         "Turn Orvel Off"},
        {"a click on the entry again", [&] { click(toggle); }, false, "Turn Orvel On"},
    };
    for (const auto& c : cases) {
        updates.clear();
        c.act();
        EXPECT_TRUE(waitUntil([&] { return controller.isActive() == c.active; })) << c.what;
        EXPECT_TRUE(waitUntil([&] { return !updates.empty(); })) << c.what;
        EXPECT_EQ(updates, std::vector<std::string>{c.title}) << c.what;
        const auto now = test::readMenuLayout(*probe, service);
        ASSERT_TRUE(now) << c.what;
        EXPECT_EQ(test::describeMenuEntry(now->entries[1]), c.title) << c.what;
        EXPECT_FALSE(popover().isShown()) << c.what;
    }

    // As Xfce's tray asks: the menu about to show, then the click in a group of events. The
    // menu opens where the pointer is, at the item, whatever point the host gave a click before.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    callItem(item, "ContextMenu", screen.right() - 30, screen.bottom() - 5);
    ASSERT_TRUE(waitUntil([&] { return popover().isShown(); }));
    popover().close();
    const QPoint pointer(screen.left() + 30, screen.top() + 5);
    QCursor::setPos(pointer);
    Reply shown = test::callAndWait(
        *probe, {service.c_str(), test::kMenuPath, test::kMenuInterface}, "AboutToShowGroup",
        [](sd_bus_message* m) { return sd_bus_message_append(m, "ai", 1, 0); });
    ASSERT_TRUE(shown);
    EXPECT_FALSE(DBusConnection::errorOf(shown.get()));
    Reply chosen = test::callAndWait(
        *probe, {service.c_str(), test::kMenuPath, test::kMenuInterface}, "EventGroup",
        [open](sd_bus_message* m) {
            return sd_bus_message_append(m, "a(isvu)", 1, open, "clicked", "i", 0, 0u);
        });
    ASSERT_TRUE(chosen);
    EXPECT_FALSE(DBusConnection::errorOf(chosen.get()));
    ASSERT_TRUE(waitUntil([&] { return popover().isShown(); }));
    EXPECT_FALSE(controller.isActive());
    const QRect panel = popover().widget()->window()->geometry();
    EXPECT_GE(panel.top(), pointer.y());
    EXPECT_LE(std::abs(panel.center().x() - pointer.x()), panel.width());
}

}  // namespace
}  // namespace orvel
