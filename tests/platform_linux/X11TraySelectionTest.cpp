#include "platform/linux/X11TraySelection.h"

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/OrvelTest.h"
#include "support/Xvfb.h"

namespace orvel {
namespace {

// A system tray coming as XEmbed trays do: a window of its own connection takes the
// screen's tray selection and says so on the root window.
class TrayOwner {
  public:
    explicit TrayOwner(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        auto cookie = xcb_intern_atom(connection_, 0, 19, "_NET_SYSTEM_TRAY_S0");
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
        selection_ = reply->atom;
        std::free(reply);
        cookie = xcb_intern_atom(connection_, 0, 7, "MANAGER");
        reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
        manager_ = reply->atom;
        std::free(reply);
    }
    ~TrayOwner() { xcb_disconnect(connection_); }

    // Takes the selection with a new window, as a tray that starts or replaces another.
    xcb_window_t arrive() {
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen_->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection_, window, selection_, XCB_CURRENT_TIME);
        xcb_client_message_event_t message;
        std::memset(&message, 0, sizeof message);
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = screen_->root;
        message.type = manager_;
        message.data.data32[1] = selection_;
        message.data.data32[2] = window;
        xcb_send_event(connection_, 0, screen_->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
        return window;
    }
    void destroy(xcb_window_t window) {
        xcb_destroy_window(connection_, window);
        xcb_flush(connection_);
    }
    // A tray that crashes: the server destroys its windows.
    void crash() {
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }

  private:
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_atom_t selection_ = 0;
    xcb_atom_t manager_ = 0;
};

class X11TraySelectionTest : public test::OrvelTest {
  protected:
    void SetUp() override {
        OrvelTest::SetUp();
        if (xvfb_.display().empty()) {
            GTEST_SKIP() << "Xvfb is not installed or did not start";
        }
    }

    test::Xvfb xvfb_;
};

TEST_F(X11TraySelectionTest, TraysComingGoingAndReplacingEachOtherAreHeardWithoutATimer) {
    auto watched = X11TraySelection::open(xvfb_.display());
    ASSERT_NE(watched, nullptr);
    EXPECT_FALSE(watched->hasTray());
    std::vector<bool> told;
    auto subscription = watched->changed.subscribe([&](bool present) { told.push_back(present); });
    EXPECT_EQ(loop().nextTimerIn(), std::nullopt) << "nothing is polled";

    TrayOwner panel(xvfb_.display());
    const xcb_window_t first = panel.arrive();
    ASSERT_TRUE(drainUntil([&] { return !told.empty(); }));
    EXPECT_TRUE(watched->hasTray());

    // Another tray takes over; the first one's window then goes: a tray is still there.
    const xcb_window_t second = panel.arrive();
    panel.destroy(first);
    const xcb_window_t third = panel.arrive();  // a marker: its event comes after the others
    (void)third;
    panel.destroy(second);
    panel.destroy(third);
    ASSERT_TRUE(drainUntil([&] { return told.size() >= 2; }));
    EXPECT_EQ(told, (std::vector<bool>{true, false})) << "the handover was taken for an end";
    EXPECT_FALSE(watched->hasTray());

    panel.arrive();
    ASSERT_TRUE(drainUntil([&] { return told.size() >= 3; }));
    panel.crash();
    ASSERT_TRUE(drainUntil([&] { return told.size() >= 4; }));
    EXPECT_EQ(told, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(loop().nextTimerIn(), std::nullopt);
}

TEST_F(X11TraySelectionTest, ATrayAlreadyThereIsSeenAtOnceAndNoDisplayGivesNoWatcher) {
    TrayOwner panel(xvfb_.display());
    panel.arrive();
    auto watched = X11TraySelection::open(xvfb_.display());
    ASSERT_NE(watched, nullptr);
    EXPECT_TRUE(watched->hasTray());

    EXPECT_EQ(X11TraySelection::open(std::string(":9999")), nullptr);
}

}  // namespace
}  // namespace orvel
