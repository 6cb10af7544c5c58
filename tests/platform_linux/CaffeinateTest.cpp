#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "support/BusTest.h"

namespace orvel {
namespace {

using test::BusTest;
using test::LogindInhibitor;
using test::spawn;
using test::waitForExit;

// The built program, run as the compatibility engine runs it.
class CaffeinateTest : public BusTest {
  protected:
    pid_t start(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), ORVEL_CAFFEINATE);
        return spawn(arguments, busEnvironment(), output());
    }
    std::string output() const { return bus->folder() + "/caffeinate.out"; }
    std::string printed() const {
        std::ifstream in(output());
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> logindWhats() {
        std::vector<std::string> whats;
        for (const auto& inhibitor : logindInhibitors()) {
            whats.push_back(inhibitor.what + "/" + inhibitor.mode);
        }
        return whats;
    }
};

TEST_F(CaffeinateTest, BadOptionsPrintOneLineAndExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"-x"},         {"-dz"},      {"-t"}, {"-t", "abc"}, {"-t", "-5"},
        {"-t", "10s"},  {"-t", "0"},  {"-w"}, {"-w", "0"},   {"-w", "pid"},
        {"sleep", "5"}, {"-i", "--"}, {"-"},
    };
    for (const auto& arguments : cases) {
        std::string shown;
        for (const auto& a : arguments) {
            shown += " " + a;
        }
        SCOPED_TRACE(shown);
        std::remove(output().c_str());
        const pid_t pid = start(arguments);
        EXPECT_EQ(waitForExit(pid), 2);
        const std::string text = printed();
        EXPECT_EQ(text.rfind("caffeinate: ", 0), 0u) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_NE(text.find("usage: caffeinate [-dimsu] [-t timeout] [-w pid]"), std::string::npos);
    }
}

TEST_F(CaffeinateTest, HoldsWhatItsOptionsAskForUntilSigterm) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> logind;
        std::size_t screenSaver;
    };
    const Case cases[] = {
        {{}, {"idle/block"}, 0},
        {{"-d"}, {"idle/block"}, 1},
        {{"-i"}, {"idle/block"}, 0},
        {{"-s"}, {"sleep/block"}, 0},
        {{"-m", "-s"}, {"sleep/block"}, 0},
        {{"-dimsu"}, {"idle/block", "idle/block", "sleep/block"}, 1},
        {{"-d", "-t", "600"}, {"idle/block"}, 1},
    };
    startService("logind");
    startService("screensaver");
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.arguments) {
            shown += " " + a;
        }
        SCOPED_TRACE(shown);
        const pid_t pid = start(c.arguments);
        EXPECT_TRUE(eventually([&] {
            return logindWhats() == c.logind && screenSaverInhibitors().size() == c.screenSaver;
        }));
        ASSERT_EQ(::kill(pid, SIGTERM), 0);
        EXPECT_EQ(waitForExit(pid), 0);
        EXPECT_TRUE(waitUntilNothingHeld());
    }
}

TEST_F(CaffeinateTest, DeclaresTheUserActiveWithU) {
    startService("screensaver");
    const pid_t pid = start({"-u", "-d"});
    std::uint32_t count = 0;
    EXPECT_TRUE(eventually([&] {
        test::Reply reply = test::callAndWait(*probe, test::kScreenSaverMock, "ActivityCount");
        return reply && sd_bus_message_read(reply.get(), "u", &count) > 0 && count >= 1;
    }));
    ::kill(pid, SIGINT);
    EXPECT_EQ(waitForExit(pid), 0);
}

TEST_F(CaffeinateTest, EndsWhenItsTimeoutExpires) {
    startService("logind");
    const double started = test::loop().uptime();
    const pid_t pid = start({"-s", "-t", "1"});
    // On a busy machine its second may be over before a look at logind could see the lock, so
    // what it held is read from logind afterwards.
    EXPECT_EQ(waitForExit(pid), 0);
    EXPECT_GE(test::loop().uptime() - started, 1.0) << "not before its timeout";
    EXPECT_EQ(inhibitCalls("logind"), 1u) << "it took its lock";
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(CaffeinateTest, EndsWhenTheWatchedProcessExits) {
    startService("logind");
    const pid_t watched = spawn({"/bin/sleep", "600"}, {}, "");
    const pid_t pid = start({"-i", "-w", std::to_string(watched)});
    EXPECT_TRUE(
        eventually([&] { return logindWhats() == std::vector<std::string>{"idle/block"}; }));
    ::kill(watched, SIGKILL);
    EXPECT_EQ(waitForExit(watched), 128 + SIGKILL);
    EXPECT_EQ(waitForExit(pid), 0);
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(CaffeinateTest, AKilledHolderLosesItsInhibitorsWithItsLife) {
    startService("logind");
    startService("screensaver");
    const pid_t pid = start({"-dis"});
    EXPECT_TRUE(eventually(
        [&] { return logindWhats().size() == 3 && screenSaverInhibitors().size() == 1; }));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(waitForExit(pid), 128 + SIGKILL);
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(CaffeinateTest, TakesItsLocksAgainWhenLogindRestarts) {
    startService("logind");
    const pid_t pid = start({"-is"});
    const std::vector<std::string> locks{"idle/block", "sleep/block"};
    auto held = [&] {
        auto whats = logindWhats();
        std::sort(whats.begin(), whats.end());
        return whats;
    };
    ASSERT_TRUE(eventually([&] { return held() == locks; }));

    stopService("logind");
    startService("logind");
    EXPECT_TRUE(eventually([&] { return held() == locks; }));
    EXPECT_EQ(held(), locks);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(waitForExit(pid), 0) << "it kept running while logind was away";
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(CaffeinateTest, WhatCannotBeHeldEndsItWithOneLineAndStatusOne) {
    struct Case {
        std::vector<std::string> arguments;
        std::string line;
    };
    const Case cases[] = {
        {{"-s"},
         "caffeinate: Could not take a logind inhibitor lock: logind is not running on this "
         "system.\n"},
        {{"-w", "2147483600"}, "caffeinate: no process with pid 2147483600\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::remove(output().c_str());
        EXPECT_EQ(waitForExit(start(c.arguments)), 1);
        EXPECT_EQ(printed(), c.line);
    }
}

}  // namespace
}  // namespace orvel
