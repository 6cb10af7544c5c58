#include "platform/linux/WlrClickCatcher.h"

#include <gtest/gtest.h>

#include <optional>

#include "foundation/Json.h"
#include "platform/linux/SwayIpc.h"
#include "platform/linux/SwayWindowPlacement.h"
#include "support/FakeCompositor.h"
#include "support/FakeSway.h"
#include "support/HeadlessSway.h"
#include "support/PrivateBus.h"
#include "support/VirtualPointer.h"

namespace orvel {
namespace {

using test::SwayIpcTest;
using test::waitFor;

TEST_F(SwayIpcTest, WithoutTheLayerShellNothingIsCoveredAndThatIsSaidOnce) {
    test::FakeCompositor compositor({{"FAKE-1", test::Takes::mode}}, false);
    ASSERT_FALSE(compositor.socket().empty());
    WlrClickCatcher catcher(compositor.socket());
    for (int attempt = 1; attempt <= 2; ++attempt) {
        catcher.cover({{"FAKE-1", {0, 0, 800, 600}}}, {10, 10, 100, 100},
                      [] { ADD_FAILURE() << "a press was heard"; });
        ASSERT_TRUE(waitFor([&] { return compositor.clientsGone == attempt; }))
            << "its connection closes";
        EXPECT_FALSE(catcher.isCovering());
    }
    EXPECT_EQ(log->messages("ui"),
              std::vector<std::string>{
                  "Orvel's panel closes on a click outside it only where the click moves the "
                  "focus: the Wayland compositor offers no layer shell."});
}

TEST_F(SwayIpcTest, OnARealSwayTheFirstPressOutsideTheSparedBoxIsHeardAndTakesTheCoverAway) {
    test::HeadlessSway sway;
    if (!sway.whyNot().empty()) {
        GTEST_SKIP() << sway.whyNot();
    }
    test::VirtualPointer pointer(sway.waylandDisplay());
    ASSERT_EQ(pointer.whyNot(), "");
    std::optional<std::vector<LayoutOutput>> outputs;
    auto asked = SwayRequest::send(
        sway.socket(), SwayRequest::kGetTree, "", 5, [&](Result<std::string> answer) {
            auto tree = answer ? parseJson(*answer) : Result<Json>(answer.error());
            outputs = tree ? SwayWindowPlacement::outputs(*tree) : std::vector<LayoutOutput>{};
        });
    ASSERT_TRUE(asked);
    ASSERT_TRUE(waitFor([&] { return outputs.has_value(); }));
    ASSERT_EQ(outputs->size(), 1u) << "sway's headless output";
    const LayoutBox screen = outputs->front().box;
    const LayoutBox spared{100, 100, 300, 200};

    WlrClickCatcher catcher(sway.waylandDisplay());
    int pressed = 0;
    catcher.cover(*outputs, spared, [&] { ++pressed; });
    ASSERT_TRUE(waitFor([&] { return catcher.isCovering(); }))
        << (log->messages("ui").empty() ? "" : log->messages("ui").front());
    ASSERT_TRUE(pointer.click(150, 150, screen.width, screen.height));
    EXPECT_FALSE(test::loop().runFor(0.3, [&] { return pressed > 0; }))
        << "a click on the spared box goes through";
    ASSERT_TRUE(pointer.click(screen.width - 10, 10, screen.width, screen.height));
    ASSERT_TRUE(waitFor([&] { return pressed > 0; }));
    EXPECT_FALSE(catcher.isCovering());
    ASSERT_TRUE(pointer.click(screen.width - 10, 10, screen.width, screen.height));
    EXPECT_FALSE(test::loop().runFor(0.3, [&] { return pressed > 1; })) << "heard once";

    // Taken away, a cover leaves the next click to what lies under it: here, another cover.
    catcher.cover(*outputs, spared, [&] { ++pressed; });
    ASSERT_TRUE(waitFor([&] { return catcher.isCovering(); }));
    catcher.uncover();
    WlrClickCatcher under(sway.waylandDisplay());
    bool heardUnder = false;
    under.cover(*outputs, {}, [&] { heardUnder = true; });
    ASSERT_TRUE(waitFor([&] { return under.isCovering(); }));
    ASSERT_TRUE(pointer.click(screen.width / 2, screen.height - 10, screen.width, screen.height));
    EXPECT_TRUE(waitFor([&] { return heardUnder; }));
    EXPECT_EQ(pressed, 1);
    EXPECT_TRUE(log->messages("ui").empty());
}

}  // namespace
}  // namespace orvel
