#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "automations/BatteryPowerSettingsView.h"
#include "automations/RuleTabTest.h"
#include "core/Preferences.h"
#include "foundation/DateFormatting.h"
#include "triggers/PowerTriggerCenter.h"
#include "ui/Inspector.h"
#include "ui/ViewHost.h"

namespace orvel {
namespace {

// The Battery sub-tab's "Amount" field, worked through the headless host in several locales.
class LocaleIntegerFieldTest : public test::RuleTabTest<BatteryPowerSettingsView> {
  protected:
    void SetUp() override {
        RuleTabTest::SetUp();
        prefs().deactivateOnBattery = true;
        prefs().batteryOffAfterEnabled = true;
        show();
    }
    void TearDown() override {
        RuleTabTest::TearDown();
        setCurrentLocaleIdentifier(std::nullopt);
    }
    std::shared_ptr<BatteryPowerSettingsView> makePage() override {
        return std::make_shared<BatteryPowerSettingsView>(prefs(), services().powerCenter(),
                                                          engine(), sim().powerSources());
    }
    // True when the amount field itself, not some other text, reads `text`.
    bool amountShows(const std::string& text) {
        ui::Inspector shown = view();
        const auto field = shown.control("Amount");
        const auto found = shown.find(text);
        return field && found && found->node == field->node;
    }
};

TEST_F(LocaleIntegerFieldTest, TheAmountShowsTheLocalesGroupingAndFollowsALocaleChange) {
    struct Case {
        const char* locale;
        std::int64_t stored;
        std::string shown;
    };
    // Values above the stepper's 999 come from an imported file.
    const Case cases[] = {
        {"en_US", 2500, "2,500"}, {"de_DE", 2500, "2.500"},   {"fr_FR", 2500, "2\u202F500"},
        {"en_US", 999, "999"},    {"de_DE", -1000, "-1.000"},
    };
    for (const auto& c : cases) {
        setCurrentLocaleIdentifier(c.locale);
        prefs().batteryOffValue = c.stored;
        EXPECT_TRUE(amountShows(c.shown)) << c.locale << " " << c.shown;
    }
    prefs().batteryOffValue = 2500;
    setCurrentLocaleIdentifier("en_US");
    EXPECT_TRUE(amountShows("2,500"));
    setCurrentLocaleIdentifier("de_DE");
    EXPECT_TRUE(amountShows("2.500")) << "the next rendering writes the new locale's way";
    EXPECT_FALSE(amountShows("2,500"));
}

TEST_F(LocaleIntegerFieldTest, TypedTextIsStoredOnlyWhenItIsAWholeNumberOfTheLocale) {
    struct Case {
        const char* locale;
        const char* typed;
        std::int64_t stored;  // from 45; above 999 stores 999
    };
    const Case cases[] = {
        {"en_US", "1,000", 999},
        {"en_US", "1000", 999},
        {"en_US", "120", 120},
        {"en_US", " 120 ", 120},
        {"en_US", "-0", 0},
        {"en_US", "1.000", 45},
        {"en_US", "12a", 45},
        {"en_US", "", 45},
        {"en_US", "1,00", 45},
        {"de_DE", "1.000", 999},
        {"de_DE", "1000", 999},
        {"de_DE", "1,000", 45},
        {"de_DE", "1,5", 45},
        {"fr_FR", "1 000", 999},
        {"fr_FR", "1\u202F000", 999},
        {"fr_FR", "1.000", 45},
        {"en_US", "-9,223,372,036,854,775,808", INT64_MIN},
        {"en_US", "99999999999999999999", 45},
    };
    for (const auto& c : cases) {
        setCurrentLocaleIdentifier(c.locale);
        prefs().batteryOffValue = 45;
        ASSERT_TRUE(view().type("Amount", c.typed)) << c.locale << " \"" << c.typed << "\"";
        EXPECT_EQ(prefs().batteryOffValue(), c.stored) << c.locale << " \"" << c.typed << "\"";
    }
}

TEST_F(LocaleIntegerFieldTest, RefusedTextLeavesTheFieldShowingTheStoredValue) {
    setCurrentLocaleIdentifier("de_DE");
    prefs().batteryOffValue = 45;
    ASSERT_TRUE(view().type("Amount", "1,5"));
    EXPECT_TRUE(amountShows("45"));
    EXPECT_FALSE(view().contains("1,5"));
    EXPECT_TRUE(view().contains("Turns off 45 minutes after unplugging"));
}

}  // namespace
}  // namespace orvel
