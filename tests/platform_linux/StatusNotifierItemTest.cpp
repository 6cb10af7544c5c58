#include "platform/linux/StatusNotifierItem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <set>

#include "support/BusTest.h"

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
    look.iconName = "orvel-cup-fill-symbolic";
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
    if (signature == "s") {
        const char* s = nullptr;
        return sd_bus_message_read(m, "s", &s) > 0 ? std::string("'") + s + "'" : "?";
    }
    if (signature == "i") {
        std::int32_t i = 0;
        return sd_bus_message_read(m, "i", &i) > 0 ? std::to_string(i) : "?";
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
    std::pair<std::string, std::string> property(const StatusNotifierItem& item, const char* name) {
        Reply reply = callAndWait(*probe, itemObject(item, "org.freedesktop.DBus.Properties"),
                                  "Get", [name](sd_bus_message* m) {
                                      return sd_bus_message_append(
                                          m, "ss", StatusNotifierItem::kInterface, name);
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
        {"IconName", "s", "'orvel-cup-fill-symbolic'"},
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
        {"XAyatanaLabel", "s", "'1:29:59'"},
        {"XAyatanaLabelGuide", "s", "'0:00:00'"},
    };
    for (const auto& c : cases) {
        const auto [signature, value] = property(*item, c.name);
        EXPECT_EQ(signature, c.signature) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }

    // GetAll lists the same properties, and no menu: hosts send the context click instead.
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
    EXPECT_EQ(names.count("Menu"), 0u);
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
        {"icon name",
         [](StatusNotifierLook& l) { l.iconName = "orvel-cup-symbolic"; },
         {"NewIcon"}},
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

TEST_F(StatusNotifierItemTest, TheWatcherForgetsAnItemThatIsGone) {
    startService("status_notifier_watcher");
    auto item = makeItem();
    ASSERT_TRUE(item);
    ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
    item.reset();
    EXPECT_TRUE(eventually([&] { return registeredItems().empty(); }));
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
