#include "menubar/SystemA11y.h"

#include <gtest/gtest.h>

#include "support/OrvelTest.h"

namespace orvel {
namespace {

class SystemA11yTest : public test::OrvelTest {
  protected:
    SimAccessibilityDisplay& display() { return sim().accessibilityDisplay(); }
    SystemA11y& a11y() { return services().systemA11y(); }
};

TEST_F(SystemA11yTest, TextFactorIsTheBodySizeOverThirteenWithinLimits) {
    struct Case {
        double bodySize, factor;
    };
    const Case cases[] = {{13, 1.0}, {15.6, 1.2}, {6, 0.5}, {30, 2.0}};
    for (const auto& c : cases) {
        display().setBodyFontSize(c.bodySize);
        a11y().refresh();
        EXPECT_NEAR(a11y().textFactor(), c.factor, 1e-9) << c.bodySize;
    }
}

TEST_F(SystemA11yTest, SmallTextFactorChangesAreNotPublished) {
    struct Case {
        double factor;
        bool published;
    };
    const Case cases[] = {{1.008, false}, {1.02, true}};
    for (const auto& c : cases) {
        display().setBodyFontSize(13);
        a11y().refresh();
        int changes = 0;
        auto watch = a11y().objectWillChange.subscribe([&] { ++changes; });
        display().setBodyFontSize(13 * c.factor);
        a11y().refresh();
        EXPECT_EQ(changes > 0, c.published) << c.factor;
        EXPECT_NEAR(a11y().textFactor(), c.published ? c.factor : 1.0, 1e-9);
    }
}

TEST_F(SystemA11yTest, ARefreshWithNothingChangedSendsNoChange) {
    display().setIncreaseContrast(true);
    display().setBodyFontSize(15.6);
    a11y().refresh();
    int changes = 0;
    auto watch = a11y().objectWillChange.subscribe([&] { ++changes; });
    a11y().refresh();
    loop().advance(30);  // three timed refreshes
    EXPECT_EQ(changes, 0);
}

TEST_F(SystemA11yTest, AnnouncedChangesAreMirroredOnTheNextTurnAndTextSizeWithinTenSeconds) {
    a11y();
    display().setReduceTransparency(true);
    EXPECT_FALSE(a11y().reduceTransparency()) << "not within the announcement";
    loop().drain();
    EXPECT_TRUE(a11y().reduceTransparency());
    display().setIncreaseContrast(true);
    display().setDifferentiateWithoutColor(true);
    loop().drain();
    EXPECT_TRUE(a11y().increaseContrast());
    EXPECT_TRUE(a11y().differentiateWithoutColor());

    display().setBodyFontSize(19.5);
    loop().drain();
    EXPECT_DOUBLE_EQ(a11y().textFactor(), 1.0) << "a text size change is not announced";
    loop().advance(SystemA11y::kRefreshInterval);
    EXPECT_DOUBLE_EQ(a11y().textFactor(), 1.5);
}

TEST_F(SystemA11yTest, ADesktopThatAnnouncesTextSizeIsNeverPolled) {
    display().setAnnouncesTextSizeChanges(true);
    a11y();
    EXPECT_FALSE(loop().nextTimerIn());
    display().setBodyFontSize(19.5);
    loop().drain();
    EXPECT_DOUBLE_EQ(a11y().textFactor(), 1.5);
}

}  // namespace
}  // namespace orvel
