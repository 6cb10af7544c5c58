#include <gtest/gtest.h>

#include "core/DurationPreset.h"
#include "core/EngineKind.h"
#include "core/HotKeyStyle.h"
#include "core/SavedSession.h"

namespace orvel {
namespace {

template <class E>
std::vector<std::string> raws() {
    std::vector<std::string> out;
    for (E value : allCases<E>()) {
        out.emplace_back(rawValue(value));
    }
    return out;
}

TEST(SessionKindsTest, CasesKeepTheirDeclarationOrderAndRawStrings) {
    EXPECT_EQ(raws<DurationPreset>(),
              (std::vector<std::string>{"indefinite", "m15", "m30", "h1", "h2", "h5", "custom",
                                        "untilAppQuits"}));
    EXPECT_EQ(raws<EngineKind>(), (std::vector<std::string>{"assertions", "caffeinate"}));
    EXPECT_EQ(raws<HotKeyStyle>(), (std::vector<std::string>{"carbon", "monitor", "off"}));
}

TEST(SessionKindsTest, LabelsReadExactly) {
    EXPECT_EQ(label(DurationPreset::indefinite), "Indefinitely");
    EXPECT_EQ(label(DurationPreset::h1), "1 hour");
    EXPECT_EQ(label(DurationPreset::custom), "Custom\u2026");
    EXPECT_EQ(label(DurationPreset::untilAppQuits), "Until an app quits\u2026");
    EXPECT_EQ(label(DurationPreset::custom).size(), std::string("Custom").size() + 3)
        << "one ellipsis character (three UTF-8 bytes), not three full stops";
    EXPECT_EQ(label(EngineKind::assertions), "logind inhibitor locks (recommended)");
    EXPECT_EQ(label(EngineKind::caffeinate), "caffeinate command (compatibility mode)");
    EXPECT_EQ(label(HotKeyStyle::carbon), "Meta+Ctrl+Alt+C \u2014 no permission needed");
    EXPECT_EQ(label(HotKeyStyle::monitor), "Custom shortcut \u2014 needs Input device control");
    EXPECT_EQ(label(HotKeyStyle::off), "No global shortcut");
}

TEST(SessionKindsTest, RawStringsMatchExactlyOrNotAtAll) {
    EXPECT_EQ(fromRaw<DurationPreset>("h2"), DurationPreset::h2);
    EXPECT_EQ(fromRaw<DurationPreset>("H2"), std::nullopt);
    EXPECT_EQ(fromRaw<DurationPreset>("h2 "), std::nullopt);
    EXPECT_EQ(fromRaw<EngineKind>(""), std::nullopt);
    EXPECT_EQ(fromRaw<HotKeyStyle>("monitor"), HotKeyStyle::monitor);
    EXPECT_TRUE(enumFromJson<EngineKind>(Json("caffeinate"), "engine").ok());
    EXPECT_FALSE(enumFromJson<EngineKind>(Json("Caffeinate"), "engine").ok());
    EXPECT_FALSE(enumFromJson<EngineKind>(Json(1), "engine").ok());
    EXPECT_EQ(fixedSeconds(DurationPreset::m15), 900);
    EXPECT_EQ(fixedSeconds(DurationPreset::h5), 18000);
    EXPECT_EQ(fixedSeconds(DurationPreset::custom), std::nullopt);
}

TEST(SavedSessionTest, EncodesOnlyPresentOptionalKeysInOrder) {
    SavedSession session;
    EXPECT_EQ(
        dumpJson(session.toJson()).value(),
        R"({"wasActive":false,"options":{"preventDisplaySleep":false,"preventIdleSleep":false,)"
        R"("preventDiskSleep":false,"preventSystemSleep":false,"declareUserActive":false,)"
        R"("timeout":0},"preset":"indefinite"})");
    session.deadline = Date{100.5};
    session.watchBundleID = "org.example.App";
    const Json json = session.toJson();
    EXPECT_TRUE(json["deadline"].is_number());
    EXPECT_DOUBLE_EQ(json["deadline"].get<double>(), 100.5);
    auto back = SavedSession::fromJson(*parseJson(dumpJson(json).value()));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), session);
}

}  // namespace
}  // namespace orvel
