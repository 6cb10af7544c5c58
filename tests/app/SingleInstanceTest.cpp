#include "app/SingleInstance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Data.h"
#include "foundation/Json.h"
#include "foundation/PollRunLoop.h"
#include "support/RealThings.h"
#include "support/Xvfb.h"

extern char** environ;

namespace orvel {
namespace {

namespace fs = std::filesystem;
using Outcome = SingleInstance::Outcome;
using test::readText;
using test::waitUntil;

constexpr double kLimit = 20;

class Scratch {
  public:
    Scratch() {
        std::string name = (fs::temp_directory_path() / "orvel-instance-XXXXXX").string();
        root = ::mkdtemp(name.data());
    }
    ~Scratch() { fs::remove_all(root); }
    fs::path root;
};

// The lock in process: a second claim on a thread, since it waits for the first to answer on
// this thread's loop.
class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override { RunLoop::install(std::make_unique<PollRunLoop>()); }
    void TearDown() override { RunLoop::install(nullptr); }
    PollRunLoop& loop() { return static_cast<PollRunLoop&>(RunLoop::main()); }

    // Claims on another thread while this one turns the loop, until that claim is decided.
    SingleInstance::Claim claimWhileServing(double answerSeconds = kLimit) {
        std::promise<SingleInstance::Claim> made;
        auto claim = made.get_future();
        std::thread launch([&] {
            made.set_value(SingleInstance::claim(folder(), answerSeconds));
            RunLoop::main().async([] {});  // wakes the loop to see it
        });
        const bool decided = loop().runFor(kLimit, [&] {
            return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        launch.join();
        EXPECT_TRUE(decided);
        return claim.get();
    }

    // What the first instance says to `bytes` on a fresh connection, ended after them unless
    // `keepOpen`: everything it sent before it closed.
    std::string exchange(const std::string& bytes, bool keepOpen = false) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = folder() + "/" + SingleInstance::kSocketName;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (!keepOpen) {
            ::shutdown(fd, SHUT_WR);
        }
        std::string reply;
        bool closed = false;
        FdWatch watch = RunLoop::main().watchFd(fd, kFdReadable, [&](unsigned) {
            char buffer[256];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                reply.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                closed = true;
            }
        });
        EXPECT_TRUE(loop().runFor(kLimit, [&] { return closed; })) << "the connection is closed";
        ::close(fd);
        return reply;
    }

    std::string folder() const { return (scratch.root / "instance").string(); }

    Scratch scratch;
};

TEST_F(SingleInstanceTest, ALaunchThatFindsTheLockHeldHasTheHolderOpenItsPanel) {
    auto first = SingleInstance::claim(folder(), kLimit);
    ASSERT_EQ(first.outcome, Outcome::first) << first.message;
    EXPECT_EQ(first.message, "") << "the first serves other launches";
    int opened = 0;
    first.instance->serve([&] {
        ++opened;
        return std::string("its panel was opened");
    });

    auto second = claimWhileServing();
    EXPECT_EQ(second.outcome, Outcome::handedOver) << second.message;
    EXPECT_EQ(second.message, "its panel was opened");
    EXPECT_EQ(second.instance, nullptr);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(readText(folder() + "/" + SingleInstance::kLockName),
              std::to_string(::getpid()) + "\n");
}

TEST_F(SingleInstanceTest, AHolderThatDoesNotAnswerStopsTheLaunchAtItsLimit) {
    auto first = SingleInstance::claim(folder(), kLimit);
    ASSERT_EQ(first.outcome, Outcome::first);
    // Never served: its loop does not turn, as in a hung instance.
    const auto started = std::chrono::steady_clock::now();
    auto second = SingleInstance::claim(folder(), 0.3);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    EXPECT_EQ(second.outcome, Outcome::noAnswer);
    EXPECT_EQ(second.instance, nullptr);
    const std::string pid = std::to_string(::getpid());
    EXPECT_NE(second.message.find("already running (process " + pid + ")"), std::string::npos)
        << second.message;
    EXPECT_NE(second.message.find("kill " + pid), std::string::npos) << second.message;
}

TEST_F(SingleInstanceTest, FilesLeftByAnInstanceThatEndedStopNoLaunch) {
    {
        auto first = SingleInstance::claim(folder(), kLimit);
        ASSERT_EQ(first.outcome, Outcome::first);
    }
    // A killed instance leaves its lock file and a socket nobody listens on.
    const std::string socketPath = folder() + "/" + SingleInstance::kSocketName;
    const int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(dead, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(dead);
    ASSERT_TRUE(fs::exists(folder() + "/" + SingleInstance::kLockName));

    auto next = SingleInstance::claim(folder(), kLimit);
    ASSERT_EQ(next.outcome, Outcome::first) << next.message;
    EXPECT_EQ(next.message, "");
    int opened = 0;
    next.instance->serve([&] {
        ++opened;
        return std::string("its panel was opened");
    });
    EXPECT_EQ(claimWhileServing().outcome, Outcome::handedOver) << "its own socket replaced it";
    EXPECT_EQ(opened, 1);
}

TEST_F(SingleInstanceTest, AnythingButTheOneRequestLineIsClosedUnanswered) {
    auto first = SingleInstance::claim(folder(), kLimit);
    ASSERT_EQ(first.outcome, Outcome::first);
    int opened = 0;
    first.instance->serve([&] {
        ++opened;
        return std::string("its panel was opened");
    });
    struct Case {
        std::string name;
        std::string bytes;
        bool keepOpen = false;
    };
    const Case cases[] = {
        {"nothing", ""},
        {"another request", "quit\n"},
        {"the request without its line end", "open-panel"},
        {"the request with more after it", "open-panel please\n"},
        {"a line longer than any request", std::string(200, 'x')},
        {"a peer that never finishes (closed at its 2 s limit)", "open", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exchange(c.bytes, c.keepOpen), "") << c.name;
    }
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(exchange(SingleInstance::kRequest), "its panel was opened\n")
        << "the first still serves";
    EXPECT_EQ(opened, 1);
}

TEST_F(SingleInstanceTest, ALockThatCannotBeTakenNorAskedLeavesTheLaunchUnguarded) {
    struct Case {
        std::string name;
        std::function<void()> plant;
        std::string said;
    };
    const std::string lock = folder() + "/" + SingleInstance::kLockName;
    const Case cases[] = {
        {"a file where the folder should be", [&] { std::ofstream(folder()) << "x"; },
         "Could not create the folder"},
        {"the lock file is a link",
         [&] {
             fs::create_directories(folder());
             fs::create_symlink(scratch.root / "elsewhere", lock);
         },
         "could not open " + lock},
    };
    for (const Case& c : cases) {
        fs::remove_all(folder());
        c.plant();
        auto claim = SingleInstance::claim(folder(), kLimit);
        EXPECT_EQ(claim.outcome, Outcome::unguarded) << c.name;
        EXPECT_EQ(claim.instance, nullptr) << c.name;
        EXPECT_NE(claim.message.find(c.said), std::string::npos) << c.name << ": " << claim.message;
        EXPECT_FALSE(fs::exists(scratch.root / "elsewhere")) << c.name;
    }
}

// The built program, twice. Each runs offscreen on the simulated machine (or the real one where
// a case says so) with a home of its own, reaching no D-Bus, its standard error in a file.
class OrvelProcess {
  public:
    // `display`: an X server to draw on instead of offscreen.
    OrvelProcess(const fs::path& home, const fs::path& runtime, bool simulate,
                 const std::string& name, const std::string& display = "")
        : log_(home / (name + ".log")) {
        const fs::path data = home / "data" / "Orvel" / (simulate ? "simulation" : "");
        fs::create_directories(data);
        // The agreement was accepted before, so start-up goes on to the tray.
        std::ofstream(data / "eula-assent.json")
            << R"({"version":"1.0-draft","sha256":"","timestamp":0,"appVersion":"test",)"
               R"("build":"0","scrolledToEnd":true})";
        std::vector<std::string> env = {
            "HOME=" + home.string(),
            "XDG_CONFIG_HOME=" + (home / "config").string(),
            "XDG_DATA_HOME=" + (home / "data").string(),
            "XDG_RUNTIME_DIR=" + runtime.string(),
            display.empty() ? "QT_QPA_PLATFORM=offscreen" : "DISPLAY=" + display,
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "no-bus").string(),
            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (home / "no-bus").string(),
        };
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("PATH=", 0) == 0 || entry.rfind("LANG=", 0) == 0) {
                env.push_back(entry);
            }
        }
        std::vector<char*> envp;
        for (auto& entry : env) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        std::string program = ORVEL_PROGRAM;
        std::string option = "--simulate";
        std::vector<char*> argv = {program.data()};
        if (simulate) {
            argv.push_back(option.data());
        }
        argv.push_back(nullptr);
        const int out = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out, STDERR_FILENO);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
    }
    ~OrvelProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    std::string log() const { return readText(log_); }
    bool running() { return pid_ > 0 && !status_ && !exitedWithin(0); }
    // Whether its start-up has run through, tray or none.
    bool ready() const { return log().find("[app] info: ready: ") != std::string::npos; }
    // Waits for the end; its exit status, or nothing when it did not end within the limit.
    std::optional<int> exitStatus(double limitSeconds = kLimit) {
        exitedWithin(limitSeconds);
        if (!status_) {
            return std::nullopt;
        }
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : 128 + WTERMSIG(*status_);
    }
    void signal(int number) { ::kill(pid_, number); }
    // The saved session of a simulated run says a session was running.
    static std::optional<bool> savedSessionWasActive(const fs::path& home) {
        auto defaults = parseJson(readText(home / "config/orvel/simulation/defaults.json"));
        const Json::json_pointer where("/session/$data");
        Data bytes;
        if (!defaults || !defaults.value().contains(where) ||
            !defaults.value()[where].is_string() ||
            !base64Decode(defaults.value()[where].get<std::string>(), bytes)) {
            return std::nullopt;
        }
        auto session = parseJson(std::string(bytes.begin(), bytes.end()));
        if (!session || !session.value().contains("wasActive") ||
            !session.value()["wasActive"].is_boolean()) {
            return std::nullopt;
        }
        return session.value()["wasActive"].get<bool>();
    }
    // Leaves a running session saved, as a run that was still holding left it.
    static void saveRunningSession(const fs::path& home) {
        Json session = {{"wasActive", true},
                        {"options",
                         {{"preventDisplaySleep", false},
                          {"preventIdleSleep", true},
                          {"preventDiskSleep", false},
                          {"preventSystemSleep", false},
                          {"declareUserActive", false},
                          {"timeout", 0}}},
                        {"preset", "indefinite"}};
        const std::string text = session.dump();
        Json defaults = {{"session", {{"$data", base64Encode(Data(text.begin(), text.end()))}}}};
        fs::create_directories(home / "config/orvel/simulation");
        std::ofstream(home / "config/orvel/simulation/defaults.json") << defaults.dump();
    }

  private:
    bool exitedWithin(double limitSeconds) {
        return waitUntil(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                    status_ = status;
                }
                return status_.has_value();
            },
            limitSeconds);
    }

    fs::path log_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class TwoInstancesTest : public ::testing::Test {
  protected:
    fs::path home(const std::string& name) {
        const fs::path made = scratch.root / name;
        fs::create_directories(made);
        return made;
    }
    fs::path runtime() {
        const fs::path made = scratch.root / "run";
        fs::create_directories(made);
        fs::permissions(made, fs::perms::owner_all, fs::perm_options::replace);
        return made;
    }
    static bool up(OrvelProcess& orvel, const fs::path& socket) {
        return waitUntil([&] { return !orvel.running() || orvel.ready() || fs::exists(socket); }) &&
               orvel.running();
    }

    Scratch scratch;
};

TEST_F(TwoInstancesTest, ASecondLaunchOpensTheFirstsPanelAndEndsWithStatusZero) {
    struct Case {
        std::string name;
        bool simulate;
        // The second launch's home; one login session all the same.
        std::string secondHome;
    };
    const Case cases[] = {
        {"simulated, on one home", true, "one"},
        {"real, in one login session", false, "other"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder =
            c.simulate ? home("one") / "config/orvel/simulation" : runtime() / "orvel";
        OrvelProcess first(home("one"), runtime(), c.simulate, "first");
        ASSERT_TRUE(up(first, folder / SingleInstance::kSocketName)) << first.log();

        OrvelProcess second(home(c.secondHome), runtime(), c.simulate, "second");
        const auto status = second.exitStatus();
        EXPECT_EQ(status, 0) << "the second launch ran on: " << second.log();
        EXPECT_EQ(second.log(), "Orvel is already running; its panel was opened.\n");
        EXPECT_TRUE(first.running());
        if (c.simulate) {
            EXPECT_TRUE(waitUntil([&] {
                return first.log().find(
                           "Another launch of Orvel handed over to this one: its "
                           "panel was opened.") != std::string::npos;
            })) << first.log();
        }
        first.signal(SIGTERM);
        EXPECT_EQ(first.exitStatus(), 0) << first.log();
        fs::remove_all(scratch.root / "one");
        fs::remove_all(scratch.root / "other");
    }
}

TEST_F(TwoInstancesTest, TwoSimulatedHomesRunSideBySide) {
    OrvelProcess one(home("one"), runtime(), true, "one");
    OrvelProcess other(home("other"), runtime(), true, "other");
    ASSERT_TRUE(waitUntil([&] { return one.ready() && other.ready(); }))
        << one.log() << other.log();
    EXPECT_TRUE(one.running());
    EXPECT_TRUE(other.running());
    // Offscreen, with no bus, nothing shows the item: the log says so and claims no tray.
    EXPECT_NE(one.log().find("ready: no tray shows the item yet"), std::string::npos) << one.log();
    EXPECT_EQ(one.log().find("tray item drawn"), std::string::npos) << one.log();
    for (OrvelProcess* orvel : {&one, &other}) {
        orvel->signal(SIGTERM);
        EXPECT_EQ(orvel->exitStatus(), 0) << orvel->log();
    }
}

TEST_F(TwoInstancesTest, AKilledInstanceDoesNotStopTheNextStart) {
    const fs::path folder = home("one") / "config/orvel/simulation";
    {
        OrvelProcess killed(home("one"), runtime(), true, "killed");
        ASSERT_TRUE(up(killed, folder / SingleInstance::kSocketName)) << killed.log();
        ASSERT_TRUE(waitUntil([&] { return killed.ready(); })) << killed.log();
        killed.signal(SIGKILL);
        ASSERT_EQ(killed.exitStatus(), 128 + SIGKILL);
    }
    EXPECT_TRUE(fs::exists(folder / SingleInstance::kSocketName)) << "left behind";

    OrvelProcess next(home("one"), runtime(), true, "next");
    EXPECT_TRUE(waitUntil([&] { return next.ready() || !next.running(); }) && next.running())
        << next.log();
    next.signal(SIGTERM);
    EXPECT_EQ(next.exitStatus(), 0) << next.log();
}

TEST_F(TwoInstancesTest, ASignalOrTheLostDisplayQuitsPromptlyWithTheSessionSavedAsEnded) {
    struct Case {
        std::string name;
        bool endDisplay;
    };
    const Case cases[] = {{"SIGTERM", false}, {"the X server ends", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = home(c.endDisplay ? "lost" : "term");
        test::Xvfb xvfb;
        if (xvfb.display().empty()) {
            GTEST_SKIP() << "Xvfb is not installed or did not start";
        }
        OrvelProcess::saveRunningSession(folder);
        OrvelProcess orvel(folder, runtime(), true, "orvel", xvfb.display());
        ASSERT_TRUE(waitUntil([&] { return orvel.ready() || !orvel.running(); }) && orvel.running())
            << orvel.log();
        // Resuming rewrites the record, so it reads as running once the session is back.
        ASSERT_TRUE(waitUntil([&] { return OrvelProcess::savedSessionWasActive(folder) == true; }))
            << orvel.log();
        const auto asked = std::chrono::steady_clock::now();
        if (c.endDisplay) {
            xvfb.end();
        } else {
            orvel.signal(SIGTERM);
        }
        EXPECT_EQ(orvel.exitStatus(), 0) << orvel.log();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - asked;
        std::printf("%s: Orvel ended %.3f s after\n", c.name.c_str(), took.count());
        EXPECT_EQ(OrvelProcess::savedSessionWasActive(folder), false)
            << "the next start must not resume it unasked\n"
            << orvel.log();
    }
}

}  // namespace
}  // namespace orvel
