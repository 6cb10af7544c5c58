#include "devices/KeyboardBacklight.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/OrvelTest.h"

namespace orvel {
namespace {

using Route = SimKeyboardBacklight::Route;
namespace kb = keyboard_backlight;

const std::string kNotFound = "No controllable keyboard backlight found on this computer.";
const std::string kNoResponse =
    "The backlight did not respond. Every known route was tried; neither UPower's keyboard "
    "backlight nor the kernel's LED device takes a new level on this model.";
const std::string kUnreadable =
    "The keyboard backlight level could not be read, so it was left as it is.";

class KeyboardBacklightTest : public test::OrvelTest {
  protected:
    SimKeyboardBacklight& device() { return sim().keyboardBacklightRoutes(); }
    KeyboardBacklight& backlight() { return services().keyboardBacklight(); }
    std::vector<std::string> logLines() { return sim().log().messages("backlight"); }
    std::vector<double> writesBy(Route route) {
        std::vector<double> values;
        for (const auto& write : device().writes()) {
            if (write.route == route) {
                values.push_back(write.value);
            }
        }
        return values;
    }
};

TEST_F(KeyboardBacklightTest, WithNoRouteOnlyTheFailureIsRecorded) {
    device().setHasClient(false);
    device().setHasService(false);
    EXPECT_EQ(backlight().isAvailable(), KeyboardBacklight::Availability::Unknown);
    for (bool off : {true, false}) {
        backlight().setOff(off);
        EXPECT_EQ(backlight().isAvailable(), KeyboardBacklight::Availability::Unavailable);
        EXPECT_EQ(backlight().lastFailure(), kNotFound);
        EXPECT_FALSE(backlight().savedLevel());
        EXPECT_TRUE(device().writes().empty());
    }
}

TEST_F(KeyboardBacklightTest, NormalisesTheRegistryValueByItsSize) {
    struct Case {
        int max;
        double value;
        double level;
    };
    const Case cases[] = {{255, 128, 128.0 / 255}, {100, 40, 0.40}, {1, 0.7, 0.7}};
    device().setHasClient(false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.max);
        device().setDevice(c.max, false);
        device().setDeviceValue(c.value);
        ASSERT_TRUE(backlight().level());
        EXPECT_DOUBLE_EQ(*backlight().level(), c.level);
    }
}

TEST_F(KeyboardBacklightTest, ProvesEachWriteByReadingItBack) {
    struct Case {
        const char* name;
        bool client, clientApplies, registryApplies;
        int max;
        bool tellsRange;
        std::vector<double> clientWrites, registryWrites;
        bool proved;
        std::string route;
        double deviceAfter;
    };
    const Case cases[] = {
        {"the client proves itself", true, true, true, 1, false, {0.5}, {}, true, "UPower", 0.5},
        {"a client that says yes but changes nothing",
         true,
         false,
         true,
         1,
         false,
         {0.5},
         {0.5},
         true,
         "LED \u00d71",
         0.5},
        {"a driver of whole percent",
         false,
         true,
         true,
         100,
         false,
         {},
         {0.5, 50},
         true,
         "LED \u00d7100",
         50},
        {"a driver that tells its 0-255 range",
         false,
         true,
         true,
         255,
         true,
         {},
         {0.5},
         true,
         "LED \u00d71",
         128},
        {"a driver that tells its 3 steps",
         false,
         true,
         true,
         3,
         true,
         {},
         {0.5},
         true,
         "LED \u00d71",
         2},
        {"a driver that keeps nothing",
         false,
         true,
         false,
         1,
         false,
         {},
         {0.5, 50, 128},
         false,
         "none",
         0.2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device().setHasClient(c.client);
        device().setClientAppliesWrites(c.clientApplies);
        device().setRegistryAppliesWrites(c.registryApplies);
        device().setDevice(1, false);
        device().setDeviceValue(0.2);
        device().setDevice(c.max, c.tellsRange);
        device().clearWrites();
        EXPECT_EQ(backlight().setLevel(0.5), c.proved);
        EXPECT_EQ(backlight().route(), c.route);
        EXPECT_EQ(writesBy(Route::Client), c.clientWrites);
        EXPECT_EQ(writesBy(Route::Registry), c.registryWrites);
        EXPECT_NEAR(device().deviceValue(), c.deviceAfter, 1e-9);
    }
}

TEST_F(KeyboardBacklightTest, ChecksTheClientsMethodsBeforeCallingThem) {
    struct Case {
        const char* name;
        std::optional<std::string> setter;
        bool clientCalled;
        std::optional<std::string> logged;
    };
    const Case cases[] = {
        {"same signature, other offsets", "B32@0:8f20Q24", true, std::nullopt},
        {"other return type", "c28@0:8f16Q20", true,
         "private selector return type differs; proceeding"},
        {"an argument fewer", "B20@0:8f16", false,
         "private selector arity changed \u2014 skipping"},
        {"no such method", std::nullopt, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device().setClientEncoding(kb::kWriteSelector, c.setter);
        device().clearWrites();
        sim().log().clear();
        EXPECT_TRUE(backlight().setLevel(0.3));
        EXPECT_EQ(writesBy(Route::Client).size(), c.clientCalled ? 1u : 0u);
        EXPECT_EQ(backlight().route(), c.clientCalled ? "UPower" : "LED \u00d71");
        const auto lines = logLines();
        if (c.logged) {
            EXPECT_NE(std::find(lines.begin(), lines.end(), *c.logged), lines.end());
        } else {
            EXPECT_TRUE(lines.empty());
        }
    }
}

TEST_F(KeyboardBacklightTest, SwitchingOffTwiceKeepsTheFirstLevelAndRestoringPutsItBack) {
    device().setDeviceValue(0.6);
    backlight().setOff(true);
    device().setDeviceValue(0.3);  // changed while held off; never the level to save
    backlight().setOff(true);
    EXPECT_EQ(backlight().savedLevel(), 0.6);
    EXPECT_TRUE(backlight().isReapplying());
    backlight().setOff(false);
    EXPECT_DOUBLE_EQ(device().deviceValue(), 0.6);
    EXPECT_FALSE(backlight().savedLevel());
    EXPECT_FALSE(backlight().isReapplying());

    device().clearWrites();
    backlight().setOff(false);
    EXPECT_TRUE(device().writes().empty());
}

TEST_F(KeyboardBacklightTest, WhileHeldOffTheLevelReturnsToOffWithinHalfASecond) {
    struct Case {
        double raisedTo;
        double after;
    };
    const Case cases[] = {{0.5, 0.0}, {0.021, 0.0}, {0.02, 0.02}};
    backlight().setOff(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raisedTo);
        device().setDeviceValue(c.raisedTo);
        loop().drain();
        EXPECT_EQ(device().deviceValue(), c.raisedTo);
        loop().advance(0.5);
        EXPECT_EQ(device().deviceValue(), c.after);
    }
}

TEST_F(KeyboardBacklightTest, AFailedSwitchOffKeepsTheLevelToRestore) {
    device().setHasClient(false);
    device().setRegistryAppliesWrites(false);
    backlight().setOff(true);
    EXPECT_EQ(backlight().lastFailure(), kNoResponse);
    EXPECT_EQ(backlight().route(), "none");
    EXPECT_EQ(backlight().savedLevel(), 0.5);
    EXPECT_FALSE(backlight().isReapplying());

    device().setRegistryAppliesWrites(true);
    device().setDeviceValue(0.9);
    backlight().setOff(false);
    EXPECT_DOUBLE_EQ(device().deviceValue(), 0.5);
    EXPECT_FALSE(backlight().lastFailure());
}

TEST_F(KeyboardBacklightTest, AnUnreadableLevelIsNeitherSavedNorChanged) {
    device().setHasClient(false);
    device().setRegistryReadable(false);
    backlight().setOff(true);
    EXPECT_FALSE(backlight().savedLevel());
    EXPECT_FALSE(backlight().isReapplying());
    EXPECT_TRUE(device().writes().empty());
    EXPECT_EQ(backlight().lastFailure(), kUnreadable);
    EXPECT_EQ(logLines(), std::vector<std::string>{kUnreadable});
}

TEST_F(KeyboardBacklightTest, ARefusedReplyIsRecordedAndTheNextTickReadsTheTrueLevel) {
    device().setHasClient(false);
    backlight().setOff(true);
    device().setDeviceValue(0.8);
    device().refuseNextWrite();
    loop().advance(0.5);  // the tick writes 0, which is refused on the next turn
    loop().drain();
    EXPECT_EQ(backlight().route(), "none");
    EXPECT_EQ(backlight().lastFailure(), kNoResponse);
    EXPECT_EQ(device().deviceValue(), 0.8);
    loop().advance(0.5);
    EXPECT_EQ(device().deviceValue(), 0.0);
    EXPECT_EQ(backlight().route(), "LED \u00d71");
    backlight().setOff(false);
    EXPECT_DOUBLE_EQ(device().deviceValue(), 0.5);
}

TEST_F(KeyboardBacklightTest, DiagnosticsNameTheRoutesTheLevelAndTheLastRoute) {
    device().setHasClient(false);
    device().setDevice(255, false);
    device().setDeviceValue(128);
    EXPECT_EQ(
        backlight().diagnostics(),
        "UPower keyboard backlight unavailable \u00b7 LED device found \u00b7 level 0.50 \u00b7 "
        "route: none");
    device().setHasService(false);
    EXPECT_EQ(
        backlight().diagnostics(),
        "UPower keyboard backlight unavailable \u00b7 LED device not found \u00b7 route: none");
    EXPECT_EQ(backlight().isAvailable(), KeyboardBacklight::Availability::Unavailable);
}

}  // namespace
}  // namespace orvel
