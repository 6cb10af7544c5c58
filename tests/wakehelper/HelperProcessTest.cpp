#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <random>
#include <thread>

#include "HelperProcess.h"
#include "foundation/Json.h"
#include "foundation/WakeHelperProtocol.h"

namespace orvel {
namespace {

namespace wp = wake_protocol;
using test::HelperProcess;
using test::readText;
using test::waitUntil;

double wallClock() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string scheduleFrame(const std::vector<double>& unixSeconds) {
    std::vector<Date> dates;
    for (const double seconds : unixSeconds) {
        dates.push_back(Date::fromUnix(seconds));
    }
    return wp::encodeFrame(wp::encodeScheduleWakes(dates));
}

std::string alarmFor(double unixSeconds) {
    return std::to_string(static_cast<long long>(std::ceil(unixSeconds)));
}

class HelperProcessTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(helper.start()) << "the helper did not start"; }

    HelperProcess helper{"helper-process"};
};

TEST_F(HelperProcessTest, AnswersPingsAndArmsTheAlarmAtTheEarliestDate) {
    EXPECT_EQ(helper.exchange(wp::encodeFrame(wp::encodePing())),
              R"({"version":"orvel-wake-helper 1.0"})");
    const double now = wallClock();
    EXPECT_EQ(helper.exchange(scheduleFrame({now + 7200, now + 3600.5, now - 10})),
              R"({"status":0})");
    EXPECT_EQ(readText(helper.wakealarm), alarmFor(now + 3600.5));
    auto kept = parseJson(readText(helper.state));
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(kept->size(), 2u) << "the past date is not kept";

    EXPECT_EQ(helper.exchange(scheduleFrame({})), R"({"status":0})");
    EXPECT_EQ(readText(helper.wakealarm), "0");
}

TEST_F(HelperProcessTest, BadFramesAreAnsweredWithTheirCodeAndClosedLeavingTheWakesAlone) {
    const double now = wallClock();
    ASSERT_EQ(helper.exchange(scheduleFrame({now + 3600})), R"({"status":0})");
    const std::string kept = readText(helper.state);
    const std::string alarm = readText(helper.wakealarm);

    std::string dates65 = R"({"op":"scheduleWakes","dates":[)";
    for (int i = 0; i < 65; ++i) {
        dates65 += (i ? "," : "") + std::to_string(static_cast<long long>(now) + 100 + i);
    }
    dates65 += "]}";
    struct Case {
        const char* what;
        std::string bytes;
        bool endAfter;
        std::int32_t status;
    };
    const Case cases[] = {
        {"a truncated length", std::string("\0\0", 2), true, wp::kStatusTruncated},
        {"a truncated payload", std::string("\0\0\0\x20", 4) + R"({"op":)", true,
         wp::kStatusTruncated},
        {"length 0", std::string("\0\0\0\0", 4), false, wp::kStatusBadLength},
        {"length 4097", std::string("\0\0\x10\x01", 4) + std::string(4097, ' '), false,
         wp::kStatusBadLength},
        {"not JSON", wp::encodeFrame("hello"), false, wp::kStatusNotJson},
        {"an extra member", wp::encodeFrame(R"({"op":"ping","pid":1})"), false,
         wp::kStatusExtraMember},
        {"string dates", wp::encodeFrame(R"({"op":"scheduleWakes","dates":["1"]})"), false,
         wp::kStatusBadDates},
        {"1e300", wp::encodeFrame(R"({"op":"scheduleWakes","dates":[1e300]})"), false,
         wp::kStatusBadDates},
        {"65 dates", wp::encodeFrame(dates65), false, wp::kStatusTooManyDates},
        {"an unknown operation", wp::encodeFrame(R"({"op":"setAlarm"})"), false,
         wp::kStatusUnknownOp},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(helper.exchange(c.bytes, c.endAfter), wp::encodeStatus(c.status)) << c.what;
    }
    EXPECT_TRUE(helper.alive());
    EXPECT_EQ(readText(helper.state), kept);
    EXPECT_EQ(readText(helper.wakealarm), alarm);

    // A frame split byte by byte is one frame.
    const int fd = helper.connect();
    const std::string ping = wp::encodeFrame(wp::encodePing());
    for (const char byte : ping) {
        ::send(fd, &byte, 1, MSG_NOSIGNAL);
    }
    EXPECT_EQ(HelperProcess::readReply(fd), wp::encodeVersion());
    ::close(fd);
}

TEST_F(HelperProcessTest, TenThousandRandomFramesAreEachAnsweredOrClosedAndChangeNothing) {
    const double now = wallClock();
    ASSERT_EQ(helper.exchange(scheduleFrame({now + 3600})), R"({"status":0})");
    const std::string kept = readText(helper.state);
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> size(0, 80);
    for (int i = 0; i < 10000; ++i) {
        std::string bytes;
        const int n = size(random);
        if (i % 2 == 0) {
            // A plausible length, then noise.
            bytes = std::string("\0\0\0", 3) + static_cast<char>(n);
        }
        for (int k = 0; k < n; ++k) {
            bytes.push_back(static_cast<char>(byte(random)));
        }
        const auto reply = helper.exchange(bytes, true);
        if (reply) {
            auto parsed = wp::parseReply(*reply);
            ASSERT_TRUE(parsed.ok()) << i;
            ASSERT_TRUE(parsed->status.has_value()) << i;
            ASSERT_GT(*parsed->status, 0) << i;
        }
    }
    EXPECT_TRUE(helper.alive());
    EXPECT_EQ(helper.exchange(wp::encodeFrame(wp::encodePing())), wp::encodeVersion());
    EXPECT_EQ(readText(helper.state), kept);
}

TEST_F(HelperProcessTest, AnUnfinishedFrameIsAnsweredAfterFiveSecondsAndANinthPeerIsTurnedAway) {
    std::vector<int> idle;
    for (std::size_t i = 0; i < wp::kMaxConnections; ++i) {
        idle.push_back(helper.connect());
        // Each is served (and so counted) before the next arrives.
        const std::string ping = wp::encodeFrame(wp::encodePing());
        ::send(idle.back(), ping.data(), ping.size(), MSG_NOSIGNAL);
        ASSERT_EQ(HelperProcess::readReply(idle.back()), wp::encodeVersion());
    }
    EXPECT_EQ(helper.exchange(wp::encodeFrame(wp::encodePing())),
              wp::encodeStatus(wp::kStatusBusy));
    ::send(idle.front(), "\0\0", 2, MSG_NOSIGNAL);
    EXPECT_EQ(HelperProcess::readReply(idle.front()), wp::encodeStatus(wp::kStatusTimedOut));
    EXPECT_TRUE(HelperProcess::closes(idle.front()));
    for (const int fd : idle) {
        ::close(fd);
    }
    EXPECT_TRUE(waitUntil(
        [&] { return helper.exchange(wp::encodeFrame(wp::encodePing())) == wp::encodeVersion(); }));
}

TEST_F(HelperProcessTest, TwoClientsAtOnceLeaveOneRequestsDatesWhole) {
    const double now = wallClock();
    const std::vector<double> first = {now + 1000, now + 2000};
    const std::vector<double> second = {now + 3000};
    auto client = [&](const std::vector<double>& dates) {
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(helper.exchange(scheduleFrame(dates)), R"({"status":0})");
        }
    };
    std::thread a(client, first);
    std::thread b(client, second);
    a.join();
    b.join();
    auto kept = parseJson(readText(helper.state));
    ASSERT_TRUE(kept.ok());
    std::vector<double> final;
    for (const auto& wake : kept.value()) {
        final.push_back(wake.at("date").get<double>());
    }
    ASSERT_TRUE(final == first || final == second) << readText(helper.state);
    EXPECT_EQ(readText(helper.wakealarm), alarmFor(final.front()));
}

// What the helper answers a process of another user: a child of this test that becomes `uid`
// and sends `bytes`. Nothing when it could not connect or got no reply.
std::optional<std::string> exchangeAs(uid_t uid, const HelperProcess& helper,
                                      const std::string& bytes) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) {
            ::_exit(3);
        }
        const auto reply = helper.exchange(bytes);
        if (reply) {
            [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], reply->data(), reply->size());
        }
        ::_exit(reply ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string reply;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return reply;
}

TEST_F(HelperProcessTest, TwoUsersDatesAreKeptApartAndTheAlarmIsTheEarliestOfBoth) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "A client of another uid is a child that changes its uid, which needs "
                        "root; CI runs the tests as root.";
    }
    constexpr uid_t kOther = 1000;
    const double now = wallClock();
    struct Step {
        const char* what;
        uid_t uid;
        std::vector<double> dates;
        std::string alarm;
        std::size_t kept;
    };
    const Step steps[] = {
        {"the other user asks for two hours ahead", kOther, {now + 7200}, alarmFor(now + 7200), 1},
        {"root asks for one hour ahead", 0, {now + 3600}, alarmFor(now + 3600), 2},
        {"root clears its own", 0, {}, alarmFor(now + 7200), 1},
        {"root picks ten minutes ahead", 0, {now + 600}, alarmFor(now + 600), 2},
        {"the other user clears its own", kOther, {}, alarmFor(now + 600), 1},
        {"root clears", 0, {}, "0", 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const std::string frame = scheduleFrame(step.dates);
        EXPECT_EQ(step.uid == 0 ? helper.exchange(frame) : exchangeAs(step.uid, helper, frame),
                  R"({"status":0})");
        EXPECT_EQ(readText(helper.wakealarm), step.alarm);
        auto kept = parseJson(readText(helper.state));
        ASSERT_TRUE(kept.ok());
        EXPECT_EQ(kept->size(), step.kept) << readText(helper.state);
    }
    const std::string log = readText(helper.folder / "helper.log");
    EXPECT_NE(log.find("uid 1000 (process "), std::string::npos) << log;
    EXPECT_NE(log.find("uid 0 (process "), std::string::npos) << log;
}

TEST_F(HelperProcessTest, TheNextDateIsArmedOnceTheArmedOnePasses) {
    const double now = wallClock();
    ASSERT_EQ(helper.exchange(scheduleFrame({now + 2, now + 3600})), R"({"status":0})");
    EXPECT_EQ(readText(helper.wakealarm), alarmFor(now + 2));
    EXPECT_TRUE(waitUntil([&] { return readText(helper.wakealarm) == alarmFor(now + 3600); }))
        << readText(helper.wakealarm);
}

TEST_F(HelperProcessTest, ARestartedHelperArmsTheKeptDatesAndCancelsThemOnTheNextRequest) {
    const double now = wallClock();
    ASSERT_EQ(helper.exchange(scheduleFrame({now + 3600})), R"({"status":0})");
    helper.stop();
    std::ofstream(helper.wakealarm) << "0";
    ASSERT_TRUE(helper.start());
    EXPECT_TRUE(waitUntil([&] { return readText(helper.wakealarm) == alarmFor(now + 3600); }));
    EXPECT_EQ(helper.exchange(scheduleFrame({})), R"({"status":0})");
    EXPECT_EQ(readText(helper.wakealarm), "0");
}

TEST(HelperAdmissionTest, AnotherProgramIsClosedUnread) {
    HelperProcess helper("helper-admission");
    ASSERT_TRUE(helper.start("/usr/lib/orvel/not-this-program"));
    const int fd = helper.connect();
    ASSERT_GE(fd, 0);
    const std::string ping = wp::encodeFrame(wp::encodePing());
    ::send(fd, ping.data(), ping.size(), MSG_NOSIGNAL);
    EXPECT_EQ(HelperProcess::readReply(fd), std::nullopt);
    ::close(fd);
    EXPECT_TRUE(helper.alive());
    EXPECT_TRUE(waitUntil([&] {
        return readText(helper.folder / "helper.log").find("was refused") != std::string::npos;
    }));
}

}  // namespace
}  // namespace orvel
