#include "ui/qt/QtShell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "support/Xvfb.h"

namespace orvel::ui {
namespace {

// Sets the display variables for one case and puts the test's own back afterwards.
class DisplayEnvironment {
  public:
    explicit DisplayEnvironment(const std::map<std::string, std::optional<std::string>>& values) {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
            ::unsetenv(name);
        }
        for (const auto& [name, value] : values) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            }
        }
    }
    ~DisplayEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

  private:
    static constexpr const char* kNames[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY",
                                             "XDG_RUNTIME_DIR"};
    std::map<std::string, std::optional<std::string>> saved_;
};

// A socket that listens where a compositor would.
class ListeningSocket {
  public:
    explicit ListeningSocket(std::string path) : path_(std::move(path)) {
        ::unlink(path_.c_str());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
        listening_ =
            fd_ >= 0 &&
            ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 1) == 0;
    }
    ~ListeningSocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        ::unlink(path_.c_str());
    }
    bool listening() const { return listening_; }

  private:
    std::string path_;
    int fd_ = -1;
    bool listening_ = false;
};

TEST(QtShellTest, WindowsCanBeShownOnlyOnADisplayThatAnswersOrAPlatformChosenByHand) {
    const std::string folder = ::testing::TempDir();
    const std::string socketName = "orvel-wayland-" + std::to_string(::getpid());
    ListeningSocket compositor(folder + socketName);
    ASSERT_TRUE(compositor.listening());

    struct Case {
        const char* what;
        std::map<std::string, std::optional<std::string>> environment;
        bool canShow;
    };
    const Case cases[] = {
        {"nothing at all", {}, false},
        {"an X display nobody serves", {{"DISPLAY", ":987"}}, false},
        {"a Wayland socket that is not there",
         {{"WAYLAND_DISPLAY", "orvel-nobody"}, {"XDG_RUNTIME_DIR", folder}},
         false},
        {"a relative Wayland name without a runtime folder",
         {{"WAYLAND_DISPLAY", socketName}},
         false},
        {"a compositor by name",
         {{"WAYLAND_DISPLAY", socketName}, {"XDG_RUNTIME_DIR", folder}},
         true},
        {"a compositor by path, beside a dead X display",
         {{"WAYLAND_DISPLAY", folder + socketName}, {"DISPLAY", ":987"}},
         true},
        {"a platform chosen by hand", {{"QT_QPA_PLATFORM", "offscreen"}}, true},
    };
    for (const Case& c : cases) {
        DisplayEnvironment environment(c.environment);
        EXPECT_EQ(QtShell::canShowWindows(), c.canShow) << c.what;
    }
}

// Whether an atom one client makes outlives that client: atoms last until the X server resets,
// which it does as its last client leaves.
bool anAtomOutlivesItsClient(const std::string& display) {
    static const char kName[] = "ORVEL_RESET_MARK";
    auto intern = [&](bool onlyIfExists) -> std::optional<xcb_atom_t> {
        xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
        std::optional<xcb_atom_t> atom;
        if (xcb_connection_has_error(c) == 0) {
            auto* reply = xcb_intern_atom_reply(
                c, xcb_intern_atom(c, onlyIfExists ? 1 : 0, sizeof kName - 1, kName), nullptr);
            if (reply != nullptr) {
                atom = reply->atom;
                std::free(reply);
            }
        }
        xcb_disconnect(c);
        return atom;
    };
    // A client that comes while the server resets is let go: it comes again.
    auto retrying = [&](bool onlyIfExists) -> std::optional<xcb_atom_t> {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            if (const auto atom = intern(onlyIfExists)) {
                return atom;
            }
            ::usleep(20 * 1000);
        }
        ADD_FAILURE() << "the server did not take a client within 10 s";
        return std::nullopt;
    };
    if (!retrying(false)) {
        return false;
    }
    const auto atom = retrying(true);
    return atom && *atom != XCB_ATOM_NONE;
}

TEST(QtShellTest, AnXServerThatAnsweredIsNotLeftToResetBeforeQtConnects) {
    test::Xvfb xvfb;
    if (xvfb.display().empty()) {
        GTEST_SKIP() << "Xvfb is not installed or did not start";
    }
    DisplayEnvironment environment({{"DISPLAY", xvfb.display()}});
    ASSERT_TRUE(QtShell::canShowWindows());
    EXPECT_TRUE(anAtomOutlivesItsClient(xvfb.display()))
        << "the check stays connected, so the server has a client left";
    QtShell::releaseDisplayCheck();
    EXPECT_FALSE(anAtomOutlivesItsClient(xvfb.display()))
        << "let go, the server resets when its last client leaves";
}

}  // namespace
}  // namespace orvel::ui
