#include "platform/linux/StatusNotifierItem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <set>

#include "support/BusTest.h"
#include "support/DBusMenuReader.h"

namespace orvel {
namespace {

using test::BusTest;
using test::callAndWait;
using test::Reply;
using test::waitFor;

const DBusObject kWatcherMock{"org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                              "org.freedesktop.DBus.Mock"};

StatusNotifierPixmap solidPixmap(int side, std::uint8_t red) {
    StatusNotifierPixmap pixmap{side, side, {}};
    for (int i = 0; i < side * side; ++i) {
        pixmap.argb.insert(pixmap.argb.end(), {0xFF, red, 0x20, 0x30});
    }
    return pixmap;
}

StatusNotifierLook sampleLook() {
    StatusNotifierLook look;
    look.iconName = "orvel-cup-fill";
    look.iconThemePath = "/opt/orvel/icons";
    look.pixmaps = {solidPixmap(16, 0x10), solidPixmap(22, 0x11)};
    look.toolTipTitle = "Orvel \u2014 Active";
    look.toolTipText = "/usr/bin/caffeinate -di -t 5399";
    look.label = "1:29:59";
    look.labelGuide = "0:00:00";
    return look;
}

// A property's value in words, read by its signature.
std::string readValue(sd_bus_message* m, const std::string& signature);

std::string readPixmaps(sd_bus_message* m) {
    std::string text = "[";
    if (sd_bus_message_enter_container(m, 'a', "(iiay)") < 0) {
        return "?";
    }
    while (sd_bus_message_enter_container(m, 'r', "iiay") > 0) {
        std::int32_t w = 0;
        std::int32_t h = 0;
        const void* bytes = nullptr;
        size_t size = 0;
        sd_bus_message_read(m, "ii", &w, &h);
        sd_bus_message_read_array(m, 'y', &bytes, &size);
        const auto* b = static_cast<const std::uint8_t*>(bytes);
        char first[32];
        std::snprintf(first, sizeof first, "%02x%02x%02x%02x", b[0], b[1], b[2], b[3]);
        text += std::to_string(w) + "x" + std::to_string(h) + ":" + std::to_string(size) + ":" +
                first + " ";
        sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    return text + "]";
}

std::string readValue(sd_bus_message* m, const std::string& signature) {
    if (signature == "s" || signature == "o") {
        const char* s = nullptr;
        return sd_bus_message_read(m, signature.c_str(), &s) > 0 ? std::string("'") + s + "'" : "?";
    }
    if (signature == "i") {
        std::int32_t i = 0;
        return sd_bus_message_read(m, "i", &i) > 0 ? std::to_string(i) : "?";
    }
    if (signature == "u") {
        std::uint32_t u = 0;
        return sd_bus_message_read(m, "u", &u) > 0 ? std::to_string(u) : "?";
    }
    if (signature == "b") {
        int b = 0;
        return sd_bus_message_read(m, "b", &b) > 0 ? (b ? "true" : "false") : "?";
    }
    if (signature == "a(iiay)") {
        return readPixmaps(m);
    }
    if (signature == "(sa(iiay)ss)") {
        if (sd_bus_message_enter_container(m, 'r', "sa(iiay)ss") < 0) {
            return "?";
        }
        // One read a statement: the operands of + are read in no fixed order.
        std::string text = "(" + readValue(m, "s");
        text += " " + readPixmaps(m);
        text += " " + readValue(m, "s");
        text += " " + readValue(m, "s") + ")";
        sd_bus_message_exit_container(m);
        return text;
    }
    return "unread " + signature;
}

struct PropertyCase {
    const char* name;
    const char* signature;
    std::string value;
};

class StatusNotifierItemTest : public BusTest {
  protected:
    std::unique_ptr<StatusNotifierItem> makeItem() {
        auto made = StatusNotifierItem::make(session);
        EXPECT_TRUE(made.ok()) << (made.ok() ? "" : made.error().message);
        return made.ok() ? std::move(made.value()) : nullptr;
    }

    DBusObject itemObject(const StatusNotifierItem& item, const char* interface) const {
        return {item.busName().c_str(), StatusNotifierItem::kPath, interface};
    }

    // The property's type on the wire and its value in words.
    std::pair<std::string, std::string> property(
        const StatusNotifierItem& item, const char* name,
        const char* interface = StatusNotifierItem::kInterface) {
        const DBusObject object{item.busName().c_str(),
                                interface == StatusNotifierItem::kInterface
                                    ? StatusNotifierItem::kPath
                                    : StatusNotifierItem::kMenuPath,
                                "org.freedesktop.DBus.Properties"};
        Reply reply = callAndWait(*probe, object, "Get", [name, interface](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", interface, name);
        });
        if (!reply || DBusConnection::errorOf(reply.get())) {
            return {"error", reply ? *DBusConnection::errorOf(reply.get()) : "no reply"};
        }
        const char* contents = nullptr;
        char type = 0;
        sd_bus_message_peek_type(reply.get(), &type, &contents);
        const std::string signature = contents ? contents : "";
        sd_bus_message_enter_container(reply.get(), 'v', signature.c_str());
        return {signature, readValue(reply.get(), signature)};
    }

    std::vector<std::string> registeredItems() {
        Reply reply =
            callAndWait(*probe,
                        {"org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                         "org.freedesktop.DBus.Properties"},
                        "Get", [](sd_bus_message* m) {
                            return sd_bus_message_append(m, "ss", "org.kde.StatusNotifierWatcher",
                                                         "RegisteredStatusNotifierItems");
                        });
        std::vector<std::string> items;
        if (!reply || DBusConnection::errorOf(reply.get()) ||
            sd_bus_message_enter_container(reply.get(), 'v', "as") < 0) {
            return items;
        }
        char** list = nullptr;
        if (sd_bus_message_read_strv(reply.get(), &list) >= 0 && list != nullptr) {
            for (char** n = list; *n != nullptr; ++n) {
                items.emplace_back(*n);
                std::free(*n);
            }
            std::free(list);
        }
        return items;
    }

    std::uint32_t registrations() {
        Reply reply = callAndWait(*probe, kWatcherMock, "Registrations");
        std::uint32_t count = 0;
        if (reply && !DBusConnection::errorOf(reply.get())) {
            sd_bus_message_read(reply.get(), "u", &count);
        }
        return count;
    }

    // Signals the item sent, with their arguments in words, in order.
    std::vector<std::string> signalsSeen;
    DBusSlot watchSignals() {
        auto slot = probe->matchSignal(
            nullptr, StatusNotifierItem::kPath, StatusNotifierItem::kInterface, nullptr,
            [this](sd_bus_message* m) {
                std::string text = sd_bus_message_get_member(m);
                const char* signature = sd_bus_message_get_signature(m, 1);
                for (const char* c = signature; c != nullptr && *c != '\0'; ++c) {
                    text += " " + readValue(m, std::string(1, *c));
                }
                signalsSeen.push_back(text);
            });
        EXPECT_TRUE(slot.ok());
        return slot.ok() ? std::move(slot.value()) : DBusSlot();
    }
};

TEST_F(StatusNotifierItemTest, RegistersWithTheWatcherUnderANameOfItsOwn) {
    startService("status_notifier_watcher");
    auto item = makeItem();
    ASSERT_TRUE(item);
    ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
    EXPECT_EQ(item->watcher(), BusNameState::present);
    EXPECT_TRUE(std::regex_match(
        item->busName(),
        std::regex("org\\.kde\\.StatusNotifierItem-" + std::to_string(::getpid()) + "-[0-9]+")))
        << item->busName();
    EXPECT_EQ(registeredItems(),
              (std::vector<std::string>{item->busName() + "/StatusNotifierItem"}));
    EXPECT_EQ(registrations(), 1u);

    auto other = bus->connect("another program's session bus");
    auto second = StatusNotifierItem::make(other).value();
    ASSERT_TRUE(waitFor([&] { return second->isRegistered(); }));
    EXPECT_NE(second->busName(), item->busName()) << "two items, two names";

    // An item that stops or starts offering its menu comes to the watcher as a new item: hosts
    // read the menu only as an item comes.
    const std::string before = item->busName();
    for (const bool offers : {false, true}) {
        SCOPED_TRACE(offers);
        const std::string last = item->busName();
        item->setOffersMenu(offers);
        ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
        EXPECT_NE(item->busName(), last);
        EXPECT_TRUE(waitFor([&] {
            const auto items = registeredItems();
            return std::count(items.begin(), items.end(),
                              item->busName() + "/StatusNotifierItem") == 1 &&
                   std::count(items.begin(), items.end(), last + "/StatusNotifierItem") == 0;
        })) << "the new name is registered and the last one forgotten";
        EXPECT_EQ(property(*item, "Menu").first, offers ? "o" : "error");
        EXPECT_EQ(property(*item, "Id").second, "'orvel'");
    }
    EXPECT_NE(item->busName(), before);
}

TEST_F(StatusNotifierItemTest, EveryPropertyReadsBackInTheProtocolsTypes) {
    auto item = makeItem();
    ASSERT_TRUE(item);
    item->setLook(sampleLook());
    ASSERT_TRUE(waitFor([&] { return item->watcher() != BusNameState::unknown; }));

    const std::string pixmaps = "[16x16:1024:ff102030 22x22:1936:ff112030 ]";
    const std::vector<PropertyCase> cases = {
        {"Category", "s", "'ApplicationStatus'"},
        {"Id", "s", "'orvel'"},
        {"Title", "s", "'Orvel'"},
        {"Status", "s", "'Active'"},
        {"WindowId", "i", "0"},
        {"IconName", "s", "'orvel-cup-fill'"},
        {"IconThemePath", "s", "'/opt/orvel/icons'"},
        {"IconPixmap", "a(iiay)", pixmaps},
        {"OverlayIconName", "s", "''"},
        {"OverlayIconPixmap", "a(iiay)", "[]"},
        {"AttentionIconName", "s", "''"},
        {"AttentionIconPixmap", "a(iiay)", "[]"},
        {"AttentionMovieName", "s", "''"},
        {"ToolTip", "(sa(iiay)ss)",
         "('' [] 'Orvel \u2014 Active' '/usr/bin/caffeinate -di -t 5399')"},
        {"ItemIsMenu", "b", "false"},
        {"Menu", "o", "'/MenuBar'"},
        {"XAyatanaLabel", "s", "'1:29:59'"},
        {"XAyatanaLabelGuide", "s", "'0:00:00'"},
    };
    for (const auto& c : cases) {
        const auto [signature, value] = property(*item, c.name);
        EXPECT_EQ(signature, c.signature) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }

    // GetAll lists the same properties.
    Reply all =
        callAndWait(*probe, itemObject(*item, "org.freedesktop.DBus.Properties"), "GetAll",
                    [](sd_bus_message* m) {
                        return sd_bus_message_append(m, "s", StatusNotifierItem::kInterface);
                    });
    ASSERT_TRUE(all);
    ASSERT_FALSE(DBusConnection::errorOf(all.get()));
    std::set<std::string> names;
    ASSERT_GE(sd_bus_message_enter_container(all.get(), 'a', "{sv}"), 0);
    while (sd_bus_message_enter_container(all.get(), 'e', "sv") > 0) {
        const char* name = nullptr;
        sd_bus_message_read(all.get(), "s", &name);
        names.insert(name);
        sd_bus_message_skip(all.get(), "v");
        sd_bus_message_exit_container(all.get());
    }
    std::set<std::string> expected;
    for (const auto& c : cases) {
        expected.insert(c.name);
    }
    EXPECT_EQ(names, expected);
}

TEST_F(StatusNotifierItemTest, ANewSignalGoesOutOnlyForThePartThatChanged) {
    auto item = makeItem();
    ASSERT_TRUE(item);
    DBusSlot watching = watchSignals();
    item->setLook(sampleLook());
    struct Change {
        const char* what;
        std::function<void(StatusNotifierLook&)> change;
        std::vector<std::string> expected;
    };
    const std::vector<Change> changes = {
        {"nothing", [](StatusNotifierLook&) {}, {}},
        {"label",
         [](StatusNotifierLook& l) { l.label = "1:29:58"; },
         {"XAyatanaNewLabel '1:29:58' '0:00:00'"}},
        {"guide",
         [](StatusNotifierLook& l) { l.labelGuide = "00:00:00"; },
         {"XAyatanaNewLabel '1:29:59' '00:00:00'"}},
        {"tool tip",
         [](StatusNotifierLook& l) { l.toolTipText = "Orvel \u2014 sleep allowed"; },
         {"NewToolTip"}},
        {"icon name", [](StatusNotifierLook& l) { l.iconName = "orvel-cup"; }, {"NewIcon"}},
        {"pixmaps",
         [](StatusNotifierLook& l) { l.pixmaps[1] = solidPixmap(22, 0x99); },
         {"NewIcon"}},
        {"title", [](StatusNotifierLook& l) { l.title = "Orvel 2"; }, {"NewTitle"}},
        {"status",
         [](StatusNotifierLook& l) { l.status = "NeedsAttention"; },
         {"NewStatus 'NeedsAttention'"}},
    };
    for (const auto& c : changes) {
        item->setLook(sampleLook());
        // A reply from the item comes after every signal it sent before it.
        property(*item, "Id");
        signalsSeen.clear();
        StatusNotifierLook look = sampleLook();
        c.change(look);
        item->setLook(look);
        property(*item, "Id");
        EXPECT_EQ(signalsSeen, c.expected) << c.what;
    }
}

TEST_F(StatusNotifierItemTest, ClicksReachTheOwnerAtTheirPointAndTheMiddleButtonDoesNothing) {
    auto item = makeItem();
    ASSERT_TRUE(item);
    std::vector<std::string> clicks;
    item->onActivate = [&](int x, int y) {
        clicks.push_back("activate " + std::to_string(x) + "," + std::to_string(y));
    };
    item->onContextMenu = [&](int x, int y) {
        clicks.push_back("menu " + std::to_string(x) + "," + std::to_string(y));
    };
    const DBusObject object = itemObject(*item, StatusNotifierItem::kInterface);
    auto point = [](int x, int y) {
        return [x, y](sd_bus_message* m) { return sd_bus_message_append(m, "ii", x, y); };
    };
    for (const auto& [member, append] : std::vector<std::pair<const char*, DBusConnection::Append>>{
             {"SecondaryActivate", point(5, 6)},
             {"Activate", point(10, 20)},
             {"Scroll",
              [](sd_bus_message* m) { return sd_bus_message_append(m, "is", 120, "vertical"); }},
             {"ContextMenu", point(1890, 1070)},
         }) {
        Reply reply = callAndWait(*probe, object, member, append);
        ASSERT_TRUE(reply) << member;
        EXPECT_FALSE(DBusConnection::errorOf(reply.get())) << member;
    }
    ASSERT_TRUE(waitFor([&] { return clicks.size() >= 2; }));
    EXPECT_EQ(clicks, (std::vector<std::string>{"activate 10,20", "menu 1890,1070"}));
}

TEST_F(StatusNotifierItemTest, RegistersAgainWhenTheWatcherComesBack) {
    startService("status_notifier_watcher");
    auto item = makeItem();
    ASSERT_TRUE(item);
    std::vector<BusNameState> seen;
    Subscription subscription =
        item->watcherChanged.subscribe([&](BusNameState s) { seen.push_back(s); });
    ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));

    stopService("status_notifier_watcher");
    ASSERT_TRUE(waitFor([&] { return !item->isRegistered(); }));
    EXPECT_EQ(item->watcher(), BusNameState::absent);

    startService("status_notifier_watcher");
    ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
    EXPECT_EQ(registeredItems(),
              (std::vector<std::string>{item->busName() + "/StatusNotifierItem"}));
    EXPECT_EQ(registrations(), 1u);
    EXPECT_EQ(seen.back(), BusNameState::present);
    EXPECT_NE(std::find(seen.begin(), seen.end(), BusNameState::absent), seen.end());
}

// A watcher served by a connection of the test's own, which records who registered.
struct FakeWatcher {
    std::shared_ptr<DBusConnection> connection;
    DBusSlot object;
    std::vector<std::string> registered;

    // Takes the watcher's name: 1 lets another replace it, 2 replaces the owner now.
    bool start(test::PrivateBus& bus, std::uint32_t flags) {
        connection = bus.connect("a desktop's watcher");
        DBusInterface watcher;
        watcher.name = StatusNotifierItem::kWatcherName;
        watcher.methods = {
            {"RegisterStatusNotifierItem", "s", "", [this](sd_bus_message* call, sd_bus_message*) {
                 const char* service = nullptr;
                 const int r = sd_bus_message_read(call, "s", &service);
                 if (r >= 0) {
                     registered.emplace_back(service);
                 }
                 return r;
             }}};
        auto exported = connection->exportObject("/StatusNotifierWatcher", std::move(watcher));
        if (!exported) {
            return false;
        }
        object = std::move(exported.value());
        Reply reply = callAndWait(
            *connection, {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"},
            "RequestName", [flags](sd_bus_message* m) {
                return sd_bus_message_append(m, "su", StatusNotifierItem::kWatcherName, flags);
            });
        std::uint32_t answer = 0;
        return reply && sd_bus_message_read(reply.get(), "u", &answer) > 0 && answer == 1;
    }
};

TEST_F(StatusNotifierItemTest, RegistersWithAWatcherThatReplacedTheLastWithoutAGap) {
    FakeWatcher first;
    ASSERT_TRUE(first.start(*bus, 1));
    auto item = makeItem();
    ASSERT_TRUE(item);
    std::vector<BusNameState> seen;
    Subscription subscription =
        item->watcherChanged.subscribe([&](BusNameState s) { seen.push_back(s); });
    ASSERT_TRUE(waitFor([&] { return first.registered.size() == 1; }));
    EXPECT_EQ(first.registered, (std::vector<std::string>{item->busName()}));

    FakeWatcher second;
    ASSERT_TRUE(second.start(*bus, 2));
    ASSERT_TRUE(waitFor([&] { return second.registered.size() == 1; }));
    EXPECT_EQ(second.registered, (std::vector<std::string>{item->busName()}));
    EXPECT_EQ(first.registered.size(), 1u);
    EXPECT_TRUE(item->isRegistered());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), BusNameState::absent), 0)
        << "the name never went away";
}

TEST_F(StatusNotifierItemTest, SaysSoWhenNoWatcherIsThere) {
    auto item = makeItem();
    ASSERT_TRUE(item);
    ASSERT_TRUE(waitFor([&] { return item->watcher() != BusNameState::unknown; }));
    EXPECT_EQ(item->watcher(), BusNameState::absent);
    EXPECT_FALSE(item->isRegistered());
}

TEST_F(StatusNotifierItemTest, KnowsWhetherAHostShowsTheItemsAsHostsComeAndGo) {
    auto item = makeItem();
    ASSERT_TRUE(item);
    // Told also of the label's changes: counted are those of hasHost().
    int told = 0;
    std::optional<bool> last;
    Subscription subscription = item->hostChanged.subscribe([&] {
        told += item->hasHost() != last;
        last = item->hasHost();
    });
    ASSERT_TRUE(waitFor([&] { return item->hasHost().has_value(); }));
    EXPECT_EQ(item->hasHost(), false) << "no watcher";

    startService("status_notifier_watcher", R"({"host": false})");
    ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
    EXPECT_EQ(item->hasHost(), false);
    for (const bool present : {true, false, true}) {
        Reply reply = callAndWait(*probe, kWatcherMock, "SetHost", [present](sd_bus_message* m) {
            return sd_bus_message_append(m, "b", present ? 1 : 0);
        });
        ASSERT_TRUE(reply);
        EXPECT_TRUE(waitFor([&] { return item->hasHost() == present; })) << present;
    }
    stopService("status_notifier_watcher");
    EXPECT_TRUE(waitFor([&] { return item->hasHost() == false; })) << "the watcher went";
    EXPECT_EQ(told, 5) << "once for each change";
}

TEST_F(StatusNotifierItemTest, KnowsATrayThatDrawsNoLabelByItsProcessesAndTakesOthersAsOnesThatDo) {
    auto item = makeItem();
    ASSERT_TRUE(item);
    // The watcher runs in another process than the host this test plays.
    const auto self = static_cast<std::uint32_t>(::getpid());
    std::vector<std::string> watcherProgram = {
        "/usr/lib/x86_64-linux-gnu/xfce4/panel/wrapper-2.0",
        "/usr/lib/x86_64-linux-gnu/xfce4/panel/plugins/libsystray.so", "6", "systray"};
    std::vector<std::string> hostProgram = {"/usr/bin/gnome-shell"};
    item->processArguments = [&](std::uint32_t pid) {
        return pid == self ? hostProgram : watcherProgram;
    };
    startService("status_notifier_watcher", "{}");
    ASSERT_TRUE(waitFor([&] { return item->hostShowsLabel().has_value(); }));
    EXPECT_EQ(item->hostShowsLabel(), false) << "Xfce's status tray is its own host";

    const auto setHost = [&](bool present) {
        Reply reply = callAndWait(*probe, kWatcherMock, "SetHost", [present](sd_bus_message* m) {
            return sd_bus_message_append(m, "b", present ? 1 : 0);
        });
        ASSERT_TRUE(reply);
    };
    const std::string hostName = "org.kde.StatusNotifierHost-" + std::to_string(self);
    bool named = false;
    auto request = probe->requestName(hostName, [&](std::optional<std::string>) { named = true; });
    ASSERT_TRUE(request.ok());
    ASSERT_TRUE(waitFor([&] { return named; }));
    setHost(true);
    EXPECT_TRUE(waitFor([&] { return item->hostShowsLabel() == true; }))
        << "a host of another kind may draw labels";

    hostProgram = {"waybar"};
    setHost(true);
    EXPECT_TRUE(waitFor([&] { return item->hostShowsLabel() == false; }))
        << "waybar's tray draws none either";

    // Plasma: KDE's daemon is the watcher, the shell the host.
    watcherProgram = {"/usr/bin/kded6"};
    hostProgram = {"/usr/bin/plasmashell", "--no-respawn"};
    setHost(true);
    EXPECT_TRUE(waitFor([&] { return item->hostShowsLabel() == false; }));

    watcherProgram = {"/usr/bin/python3", "-m", "some_watcher"};
    setHost(true);
    EXPECT_TRUE(waitFor([&] { return item->hostShowsLabel() == true; }))
        << "nor is a watcher of another kind taken as one that draws none";

    watcherProgram = {"/usr/bin/kded6"};
    setHost(true);
    ASSERT_TRUE(waitFor([&] { return item->hostShowsLabel() == false; }));
    ASSERT_TRUE(probe->releaseName(hostName).ok());
    setHost(true);
    EXPECT_TRUE(waitFor([&] { return item->hostShowsLabel() == true; }))
        << "a watcher alone says nothing of the host";

    setHost(false);
    EXPECT_TRUE(waitFor([&] { return !item->hostShowsLabel().has_value(); }))
        << "with no host, nothing is known";

    using Kind = StatusNotifierItem::TrayKind;
    for (const auto& [arguments, kind] : std::vector<std::pair<std::vector<std::string>, Kind>>{
             {{"/usr/bin/waybar", "-c", "/etc/xdg/waybar/config"}, Kind::drawsNoLabel},
             {{"xfce4-panel"}, Kind::drawsNoLabel},
             {{"/usr/lib/x86_64-linux-gnu/xfce4/panel/wrapper-2.0", "/p/libclock.so"}, Kind::other},
             {{"kded5"}, Kind::watcherAlone},
             {{"/usr/bin/gnome-shell"}, Kind::other},
             {{"/usr/bin/libsystray.so"}, Kind::other},
             {{}, Kind::other}}) {
        EXPECT_EQ(StatusNotifierItem::trayKind(arguments), kind)
            << (arguments.empty() ? "nothing" : arguments.front());
    }
}

// A watcher without the property (or one that cannot say) is taken at its word.
TEST_F(StatusNotifierItemTest, AWatcherThatCannotSayIsTakenAsOneWithAHost) {
    FakeWatcher watcher;
    ASSERT_TRUE(watcher.start(*bus, 1));
    auto item = makeItem();
    ASSERT_TRUE(item);
    EXPECT_TRUE(waitFor([&] { return item->hasHost() == true; }));
}

TEST_F(StatusNotifierItemTest, TheWatcherForgetsAnItemThatIsGone) {
    startService("status_notifier_watcher");
    auto item = makeItem();
    ASSERT_TRUE(item);
    ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
    item.reset();
    EXPECT_TRUE(eventually([&] { return registeredItems().empty(); }));
}

std::vector<StatusNotifierMenuItem> sampleMenu() {
    return {
        {1, "Open Orvel\u2026"},  {2, "Keep_Awake", true, true},
        {3, "Mute", true, false}, {4, "", true, std::nullopt, true},
        {5, "Gone", false},
    };
}

class StatusNotifierMenuTest : public StatusNotifierItemTest {
  protected:
    void SetUp() override {
        StatusNotifierItemTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        item = makeItem();
        ASSERT_TRUE(item);
        item->setMenu(sampleMenu());
        item->onMenuItem = [this](int id) { chosen.push_back(id); };
        item->onMenuOpening = [this] { ++openings; };
    }

    void TearDown() override {
        item.reset();  // before the bus goes
        StatusNotifierItemTest::TearDown();
    }

    DBusObject menuObject() const {
        return {item->busName().c_str(), StatusNotifierItem::kMenuPath,
                StatusNotifierItem::kMenuInterface};
    }

    std::unique_ptr<StatusNotifierItem> item;
    std::vector<int> chosen;
    int openings = 0;
};

TEST_F(StatusNotifierMenuTest, TheHostReadsTheEntriesWithTheirLabelsAndStates) {
    const auto layout = test::readMenuLayout(*probe, item->busName());
    ASSERT_TRUE(layout);
    // An underscore of the label is written twice, or the host would take it for an access key.
    EXPECT_EQ(test::describeMenu(*layout),
              (std::vector<std::string>{"Open Orvel\u2026", "Keep__Awake [x]", "Mute [ ]", "-",
                                        "Gone (disabled)"}));
    EXPECT_EQ(layout->root, (test::MenuProperties{{"children-display", "'submenu'"}}));
    std::vector<std::int32_t> ids;
    for (const auto& entry : layout->entries) {
        ids.push_back(entry.id);
    }
    EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));

    // Only the properties asked for.
    const auto labels = test::readMenuLayout(*probe, item->busName(), {"label"});
    ASSERT_TRUE(labels);
    ASSERT_EQ(labels->entries.size(), 5u);
    EXPECT_EQ(labels->entries[0].properties,
              (test::MenuProperties{{"label", "'Open Orvel\u2026'"}}));
    EXPECT_TRUE(labels->entries[3].properties.empty()) << "a separator has no label";

    struct Read {
        std::int32_t id;
        const char* name;
        std::string value;  // empty: the call fails
    };
    const std::vector<Read> reads = {
        {1, "toggle-state", "-1"},
        {2, "toggle-state", "1"},
        {3, "toggle-state", "0"},
        {2, "toggle-type", "'checkmark'"},
        {1, "toggle-type", "''"},
        {5, "enabled", "false"},
        {1, "enabled", "true"},
        {4, "type", "'separator'"},
        {0, "children-display", "'submenu'"},
        {9, "label", ""},
        {1, "icon-data", ""},
    };
    for (const auto& read : reads) {
        Reply reply = callAndWait(*probe, menuObject(), "GetProperty", [&read](sd_bus_message* m) {
            return sd_bus_message_append(m, "is", read.id, read.name);
        });
        ASSERT_TRUE(reply) << read.id << " " << read.name;
        if (read.value.empty()) {
            EXPECT_TRUE(DBusConnection::errorOf(reply.get())) << read.id << " " << read.name;
            continue;
        }
        char type = 0;
        const char* contents = nullptr;
        ASSERT_GT(sd_bus_message_peek_type(reply.get(), &type, &contents), 0);
        ASSERT_GE(sd_bus_message_enter_container(reply.get(), 'v', contents), 0);
        EXPECT_EQ(readValue(reply.get(), contents), read.value) << read.id << " " << read.name;
    }

    // A group read skips the ids the menu does not have.
    Reply group = callAndWait(*probe, menuObject(), "GetGroupProperties", [](sd_bus_message* m) {
        int r = sd_bus_message_append(m, "ai", 3, 2, 5, 9);
        return r < 0 ? r : sd_bus_message_append(m, "as", 1, "enabled");
    });
    ASSERT_TRUE(group);
    ASSERT_FALSE(DBusConnection::errorOf(group.get()));
    std::vector<std::string> read;
    ASSERT_GE(sd_bus_message_enter_container(group.get(), 'a', "(ia{sv})"), 0);
    while (sd_bus_message_enter_container(group.get(), 'r', "ia{sv}") > 0) {
        std::int32_t id = 0;
        sd_bus_message_read(group.get(), "i", &id);
        for (const auto& [name, value] : test::readMenuProperties(group.get())) {
            read.push_back(std::to_string(id) + " " + name + "=" + value);
        }
        sd_bus_message_exit_container(group.get());
    }
    EXPECT_EQ(read, (std::vector<std::string>{"2 enabled=true", "5 enabled=false"}));

    const std::vector<PropertyCase> properties = {
        {"Version", "u", "3"},
        {"TextDirection", "s", "'ltr'"},
        {"Status", "s", "'normal'"},
    };
    for (const auto& c : properties) {
        EXPECT_EQ(property(*item, c.name, StatusNotifierItem::kMenuInterface),
                  std::make_pair(std::string(c.signature), c.value))
            << c.name;
    }
}

TEST_F(StatusNotifierMenuTest, AClickChoosesAnEnabledEntryAndNothingElseDoes) {
    struct Call {
        const char* what;
        const char* member;
        DBusConnection::Append append;
        bool fails;
    };
    auto event = [](std::int32_t id, const char* name) {
        return [id, name](sd_bus_message* m) {
            return sd_bus_message_append(m, "isvu", id, name, "i", 0, 0u);
        };
    };
    const std::vector<Call> calls = {
        {"a click", "Event", event(1, "clicked"), false},
        {"a disabled entry", "Event", event(5, "clicked"), false},
        {"a separator", "Event", event(4, "clicked"), false},
        {"a hover", "Event", event(3, "hovered"), false},
        {"an unknown entry", "Event", event(9, "clicked"), true},
        {"a group", "EventGroup",
         [](sd_bus_message* m) {
             return sd_bus_message_append(m, "a(isvu)", 3, 3, "clicked", "i", 0, 0u, 9, "clicked",
                                          "i", 0, 0u, 2, "clicked", "i", 0, 0u);
         },
         false},
        {"the root shown", "AboutToShow",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 0); }, false},
        {"an unknown entry shown", "AboutToShow",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 9); }, true},
        {"a group shown", "AboutToShowGroup",
         [](sd_bus_message* m) { return sd_bus_message_append(m, "ai", 2, 0, 9); }, false},
    };
    std::vector<std::string> answers;
    for (const auto& call : calls) {
        Reply reply = callAndWait(*probe, menuObject(), call.member, call.append);
        ASSERT_TRUE(reply) << call.what;
        EXPECT_EQ(DBusConnection::errorOf(reply.get()).has_value(), call.fails) << call.what;
        const std::string member = call.member;
        if (call.fails) {
            continue;
        }
        if (member == "EventGroup" || member == "AboutToShowGroup") {
            // The ids the menu does not have come back; no entry ever needs an update.
            const int arrays = member == "EventGroup" ? 1 : 2;
            std::string text;
            for (int i = 0; i < arrays; ++i) {
                const void* data = nullptr;
                size_t size = 0;
                ASSERT_GE(sd_bus_message_read_array(reply.get(), 'i', &data, &size), 0);
                text += "[";
                for (size_t k = 0; k < size / sizeof(std::int32_t); ++k) {
                    text += std::to_string(static_cast<const std::int32_t*>(data)[k]);
                }
                text += "]";
            }
            answers.push_back(call.what + std::string(" ") + text);
        } else if (member == "AboutToShow") {
            int update = 1;
            ASSERT_GT(sd_bus_message_read(reply.get(), "b", &update), 0);
            answers.push_back(call.what + std::string(update ? " update" : " as is"));
        }
    }
    EXPECT_EQ(answers, (std::vector<std::string>{"a group [9]", "the root shown as is",
                                                 "a group shown [][9]"}));
    ASSERT_TRUE(waitFor([&] { return chosen.size() >= 3 && openings >= 2; }));
    EXPECT_EQ(chosen, (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(openings, 2) << "the root shown, once alone and once in a group";
}

TEST_F(StatusNotifierMenuTest, AChangeTellsTheHostTheNewLabelsOrTheNewLayout) {
    std::vector<std::string> seen;
    auto match = probe->matchSignal(
        nullptr, StatusNotifierItem::kMenuPath, StatusNotifierItem::kMenuInterface, nullptr,
        [&seen](sd_bus_message* m) {
            std::string text = sd_bus_message_get_member(m);
            if (text == "LayoutUpdated") {
                std::uint32_t revision = 0;
                std::int32_t parent = -1;
                sd_bus_message_read(m, "ui", &revision, &parent);
                text += " " + std::to_string(revision) + " " + std::to_string(parent);
            } else if (sd_bus_message_enter_container(m, 'a', "(ia{sv})") >= 0) {
                while (sd_bus_message_enter_container(m, 'r', "ia{sv}") > 0) {
                    test::MenuEntry entry;
                    sd_bus_message_read(m, "i", &entry.id);
                    entry.properties = test::readMenuProperties(m);
                    text += " " + std::to_string(entry.id) + ":" + test::describeMenuEntry(entry);
                    sd_bus_message_exit_container(m);
                }
            }
            seen.push_back(text);
        });
    ASSERT_TRUE(match.ok());
    const std::uint32_t first = test::readMenuLayout(*probe, item->busName())->revision;

    struct Change {
        const char* what;
        std::function<void(std::vector<StatusNotifierMenuItem>&)> change;
        std::string expected;  // the signal, "LayoutUpdated" with the new revision
    };
    const std::vector<Change> changes = {
        {"nothing", [](auto&) {}, ""},
        {"a label", [](auto& m) { m[0].label = "Open"; }, "ItemsPropertiesUpdated 1:Open"},
        {"a check mark and a state",
         [](auto& m) {
             m[2].toggled = true;
             m[4].enabled = true;
         },
         "ItemsPropertiesUpdated 3:Mute [x] 5:Gone"},
        {"a check mark gone", [](auto& m) { m[1].toggled.reset(); },
         "ItemsPropertiesUpdated 2:Keep__Awake"},
        {"an entry more",
         [](auto& m) {
             m.push_back({6, "Quit"});
         },
         "LayoutUpdated"},
        {"an entry less", [](auto& m) { m.erase(m.begin()); }, "LayoutUpdated"},
        {"an entry for a separator",
         [](auto& m) {
             m[3] = {4, "Here"};
         },
         "LayoutUpdated"},
    };
    std::uint32_t revision = first;
    for (const auto& c : changes) {
        item->setMenu(sampleMenu());
        test::readMenuLayout(*probe, item->busName());  // after every signal sent before it
        seen.clear();
        auto menu = sampleMenu();
        c.change(menu);
        item->setMenu(menu);
        const auto layout = test::readMenuLayout(*probe, item->busName());
        ASSERT_TRUE(layout) << c.what;
        std::vector<std::string> expected;
        if (std::string(c.expected) == "LayoutUpdated") {
            expected.push_back("LayoutUpdated " + std::to_string(layout->revision) + " 0");
        } else if (!c.expected.empty()) {
            expected.push_back(c.expected);
        }
        EXPECT_EQ(seen, expected) << c.what;
        std::vector<int> ids;
        std::vector<int> served;
        for (size_t i = 0; i < menu.size() && i < layout->entries.size(); ++i) {
            ids.push_back(menu[i].id);
            served.push_back(layout->entries[i].id);
        }
        EXPECT_EQ(layout->entries.size(), menu.size()) << c.what;
        EXPECT_EQ(served, ids) << c.what << ": the host reads the new entries";
        if (!c.expected.empty()) {
            EXPECT_GT(layout->revision, revision) << c.what << ": a new revision";
        }
        revision = layout->revision;
    }
}

TEST(StatusNotifierLabelGuideTest, TheGuideIsTheWidestTextOfTheSameForm) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1:29:59", "0:00:00"}, {"59:59", "00:00"}, {"12:00:01", "00:00:00"},
        {"\u221E", "\u221E"},   {"", ""},
    };
    for (const auto& [label, guide] : cases) {
        EXPECT_EQ(StatusNotifierItem::guideFor(label), guide) << label;
    }
}

}  // namespace
}  // namespace orvel
