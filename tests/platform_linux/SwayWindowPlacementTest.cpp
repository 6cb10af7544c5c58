#include "platform/linux/SwayWindowPlacement.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/FakeSway.h"
#include "support/PrivateBus.h"

namespace orvel {
namespace {

using Box = SwayWindowPlacement::Box;
using test::FakeSway;
using test::SwayIpcTest;
using test::waitFor;

TEST(SwayWindowPlacement, ThePanelStandsByThePointerInsideTheUsableArea) {
    struct Case {
        const char* name;
        int pointerX, pointerY;
        Box area;
        int expectedX, expectedY;
        Box output = {0, 0, 1280, 800};
    };
    // A 322×522 panel, 4 px off the pointer; a 1280×800 output with a 30 px bar on top, at the
    // bottom, on the left or none.
    const Box topBar{0, 30, 1280, 770};
    const Box bottomBar{0, 0, 1280, 770};
    const std::vector<Case> cases = {
        {"icon at the right end of a top bar", 1252, 15, topBar, 958, 30},
        {"icon at the left end of a top bar", 10, 15, topBar, 0, 30},
        {"icon on a top bar of a 1280×720 output",
         1252,
         15,
         {0, 30, 1280, 690},
         958,
         30,
         {0, 0, 1280, 720}},
        {"pointer in the middle", 640, 270, topBar, 479, 274},
        {"icon on a bottom bar", 1252, 785, bottomBar, 958, 248},
        {"icon at the left end of a bottom bar", 10, 785, bottomBar, 0, 248},
        {"icon on a bar on the left", 15, 400, {30, 0, 1250, 800}, 30, 0},
        // Where sway had to move the panel and no bar is there, it stays over the pointer.
        {"pointer low in the area", 640, 600, topBar, 479, 278},
        {"pointer at the top edge, no bar", 1252, 2, {0, 0, 1280, 800}, 958, 0},
        {"second output right of the first",
         1300,
         15,
         {1280, 30, 1920, 1050},
         1280,
         30,
         {1280, 0, 1920, 1080}},
        {"area smaller than the panel", 100, 100, {0, 0, 200, 300}, 0, 0, {0, 0, 200, 300}},
    };
    // What sway's tree shows after "move position cursor": centred on the pointer, then moved
    // inside the output.
    auto keptInside = [](int start, int size, int outputStart, int outputSize) {
        return std::max(outputStart, std::min(start, outputStart + outputSize - size));
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Box centred{keptInside(c.pointerX - 161, 322, c.output.x, c.output.width),
                          keptInside(c.pointerY - 261, 522, c.output.y, c.output.height), 322, 522};
        EXPECT_EQ(SwayWindowPlacement::placed({7, centred, c.area, c.output}, 4),
                  (Box{c.expectedX, c.expectedY, 322, 522}));
    }
}

// sway's tree, trimmed: a 1280×800 output with a bar, another Orvel's panel, a container sway
// leaves untitled (null) and this Orvel's floating panel, centred on the pointer at (1252, 15)
// and kept inside the output by sway.
constexpr const char* kTree = R"({"id": 1, "type": "root", "name": "root", "rect": {"x": 0,
  "y": 0, "width": 1280, "height": 800}, "nodes": [{"id": 3, "type": "output",
  "name": "HEADLESS-1", "rect": {"x": 0, "y": 0, "width": 1280, "height": 800},
  "nodes": [{"id": 4, "type": "workspace", "name": "1", "rect": {"x": 0, "y": 30,
  "width": 1280, "height": 770}, "nodes": [{"id": 5, "type": "con", "name": null, "pid": null,
  "rect": {"x": 0, "y": 30, "width": 1280, "height": 770}, "nodes": [{"id": 6, "type": "con",
  "name": "Orvel Panel", "pid": 99, "rect": {"x": 0, "y": 30, "width": 640, "height": 770},
  "nodes": []}]}], "floating_nodes": [{"id": 7, "type": "floating_con", "name": "Orvel Panel",
  "pid": 4242, "rect": {"x": 958, "y": 0, "width": 322, "height": 522}, "nodes": []}]}]}]})";

TEST_F(SwayIpcTest, ThePanelIsPutByThePointerOnceSwayHoldsIt) {
    FakeSway sway(socketPath());
    ASSERT_TRUE(sway.isListening());
    SwayWindowPlacement placement(socketPath(), 4242);
    ASSERT_TRUE(placement.isAvailable());
    std::vector<std::pair<Box, std::vector<LayoutOutput>>> placed;
    placement.placeByPointer("Orvel Panel", 4,
                             [&](const Box& window, const std::vector<LayoutOutput>& outputs) {
                                 placed.emplace_back(window, outputs);
                             });

    const std::string ok = R"([ { "success": true } ])";
    const std::string unmapped = R"([ { "success": false, "error": "No matching node." } ])";
    const std::string ask =
        "i3-ipc 0 [pid=4242 title=\"^Orvel Panel$\"] floating enable, move position cursor";
    // Not in the tree yet; then it is, and goes below the bar at the right end.
    for (const std::string& answer : {unmapped, ok, std::string(kTree), ok}) {
        ASSERT_TRUE(waitFor([&] { return sway.serveOne(answer); }));
    }
    EXPECT_EQ(sway.requests,
              (std::vector<std::string>{ask, ask, "i3-ipc 4 ",
                                        "i3-ipc 0 [con_id=7] move absolute position 958 30"}));
    EXPECT_TRUE(log->messages("ui").empty());
    // Where it went, told once sway has moved it: what a cover around it needs.
    ASSERT_TRUE(waitFor([&] { return !placed.empty(); }));
    EXPECT_EQ(placed, (std::vector<std::pair<Box, std::vector<LayoutOutput>>>{
                          {{958, 30, 322, 522}, {{"HEADLESS-1", {0, 0, 1280, 800}}}}}));

    // A panel that closes before sway answers is not looked for again.
    placement.placeByPointer("Orvel Panel", 4);
    placement.cancel();
    ASSERT_TRUE(waitFor([&] { return sway.serveOne(unmapped); }));
    EXPECT_FALSE(test::loop().runFor(0.3, [&] { return sway.serveOne(ok); }))
        << "asked again after the panel closed";
}

TEST_F(SwayIpcTest, TheFocusIsLostWhenSwayGivesItToAnotherWindowOrWorkspace) {
    FakeSway sway(socketPath());
    ASSERT_TRUE(sway.isListening());
    SwayWindowPlacement placement(socketPath(), 4242);
    placement.placeByPointer("Orvel Panel", 4);
    const std::string ok = R"([ { "success": true } ])";
    for (const std::string& answer : {ok, std::string(kTree), ok}) {
        ASSERT_TRUE(waitFor([&] { return sway.serveOne(answer); }));
    }
    auto window = [](const char* change, int pid, const char* name) {
        return std::string(R"({"change": ")") + change + R"(", "container": {"id": 9, "pid": )" +
               std::to_string(pid) + R"(, "name": ")" + name + R"("}})";
    };
    constexpr auto kWindow = SwaySubscription::kWindowEvent;
    constexpr auto kWorkspace = SwaySubscription::kWorkspaceEvent;
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::string>> events;
        int lost;
    };
    const std::vector<Case> cases = {
        {"the panel itself takes the focus", {{kWindow, window("focus", 4242, "Orvel Panel")}}, 0},
        {"another window changes its title", {{kWindow, window("title", 77, "Terminal")}}, 0},
        {"a window of Orvel's own of another title",
         {{kWindow, window("focus", 4242, "Orvel Settings")}},
         1},
        {"another program's window", {{kWindow, window("focus", 77, "Orvel Panel")}}, 1},
        {"another workspace, nothing on it", {{kWorkspace, R"({"change": "focus"})"}}, 1},
        {"told once, however often it leaves",
         {{kWindow, window("focus", 77, "Terminal")}, {kWorkspace, R"({"change": "focus"})"}},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int lost = 0;
        placement.watchFocus([&] { ++lost; });
        ASSERT_TRUE(waitFor([&] { return sway.acceptSubscription(); }));
        EXPECT_EQ(sway.requests.back(), R"(i3-ipc 2 ["window","workspace"])");
        for (const auto& [type, payload] : c.events) {
            sway.event(type, payload);
        }
        if (c.lost > 0) {
            EXPECT_TRUE(waitFor([&] { return lost > 0; }));
        }
        test::loop().runFor(0.2, [] { return false; });
        EXPECT_EQ(lost, c.lost);
    }
    // Once the panel closes, sway's word goes nowhere.
    int lost = 0;
    placement.watchFocus([&] { ++lost; });
    ASSERT_TRUE(waitFor([&] { return sway.acceptSubscription(); }));
    placement.cancel();
    sway.event(kWorkspace, R"({"change": "focus"})");
    test::loop().runFor(0.2, [] { return false; });
    EXPECT_EQ(lost, 0);
}

TEST(SwayWindowPlacement, FindsOnlyThisProcesssWindowWithThatTitle) {
    auto tree = parseJson(kTree);
    ASSERT_TRUE(tree);
    auto found = SwayWindowPlacement::find(*tree, 4242, "Orvel Panel");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->id, 7);
    EXPECT_EQ(found->area, (Box{0, 30, 1280, 770}));
    EXPECT_EQ(found->output, (Box{0, 0, 1280, 800}));
    EXPECT_EQ(SwayWindowPlacement::find(*tree, 4242, "Orvel"), std::nullopt);
    EXPECT_EQ(SwayWindowPlacement::find(*tree, 1, "Orvel Panel"), std::nullopt);
}

}  // namespace
}  // namespace orvel
