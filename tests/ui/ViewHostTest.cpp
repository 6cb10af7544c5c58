#include "ui/ViewHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/OrvelTest.h"

namespace orvel::ui {
namespace {

// Content that the test swaps: a piece with a child and a grandchild, each reporting its appear
// and disappear to one list, and the piece's timer reporting its ticks there too.
class Swapper final : public ViewComponent {
  public:
    explicit Swapper(std::vector<std::string>& calls) : calls_(calls) {}

    Published<std::string> piece{*this, "a"};
    Published<int> header{*this, 0};

    View body() override {
        return VStack({TextVerbatim("Header " + std::to_string(header())), make(piece())});
    }

  private:
    View tracked(View view, const std::string& name) {
        return view.onAppear([this, name] { calls_.push_back("appear " + name); })
            .onDisappear([this, name] { calls_.push_back("disappear " + name); });
    }
    View make(const std::string& name) {
        if (name.empty()) {
            return EmptyView();
        }
        const int shownHeader = header();
        return tracked(VStack({tracked(HStack({tracked(TextVerbatim(name), name + ".child.grand")}),
                                       name + ".child")}),
                       name)
            .onTimer(1.0,
                     [this, name, shownHeader] {
                         calls_.push_back("tick " + name + " " + std::to_string(shownHeader));
                     })
            .id(name);
    }

    std::vector<std::string>& calls_;
};

class ViewHostTest : public test::OrvelTest {
  protected:
    std::vector<std::string> take() { return std::exchange(calls, {}); }

    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST_F(ViewHostTest, ReplacedContentDisappearsBeforeItsSuccessorAppears) {
    auto swapper = std::make_shared<Swapper>(calls);
    ViewHost host(swapper);
    EXPECT_EQ(take(), Calls{}) << "hidden content runs nothing";
    host.setShown(true);
    EXPECT_EQ(take(), (Calls{"appear a", "appear a.child", "appear a.child.grand"}));
    loop().advance(2);
    EXPECT_EQ(take(), (Calls{"tick a 0", "tick a 0"}));

    swapper->piece = "b";
    EXPECT_EQ(take(), Calls{}) << "not before the loop turns";
    loop().drain();
    EXPECT_EQ(take(), (Calls{"disappear a", "disappear a.child", "disappear a.child.grand",
                             "appear b", "appear b.child", "appear b.child.grand"}));

    // The old piece's timer stopped with it; the new one's first tick is one interval after
    // it appeared.
    loop().advance(0.5);
    EXPECT_EQ(take(), Calls{});
    loop().advance(0.5);
    EXPECT_EQ(take(), Calls{"tick b 0"});

    swapper->piece = "";
    loop().drain();
    EXPECT_EQ(take(), (Calls{"disappear b", "disappear b.child", "disappear b.child.grand"}));
    loop().advance(3);
    EXPECT_EQ(take(), Calls{}) << "no timer without its content";

    swapper->piece = "c";
    loop().drain();
    EXPECT_EQ(take(), (Calls{"appear c", "appear c.child", "appear c.child.grand"}));
    host.setShown(false);
    EXPECT_EQ(take(), (Calls{"disappear c", "disappear c.child", "disappear c.child.grand"}));
    loop().advance(3);
    EXPECT_EQ(take(), Calls{}) << "no timer while hidden";
}

TEST_F(ViewHostTest, ContentKeptAcrossEvaluationsKeepsItsTimerAndRunsItsLatestActions) {
    auto swapper = std::make_shared<Swapper>(calls);
    ViewHost host(swapper);
    host.setShown(true);
    take();
    loop().advance(1.5);
    EXPECT_EQ(take(), Calls{"tick a 0"});

    swapper->header = 1;
    loop().drain();
    EXPECT_EQ(take(), Calls{}) << "the same piece neither disappears nor appears again";
    loop().advance(0.5);
    EXPECT_EQ(take(), Calls{"tick a 1"}) << "on its old cadence, with the new body's action";
}

// A section of rows, some keyed and some not, under a header and over a footer, each reporting
// its appear and disappear to one list.
class Rows final : public ViewComponent {
  public:
    explicit Rows(std::vector<std::string>& calls) : calls_(calls) {}

    View body() override {
        std::vector<View> rows{tracked(TextVerbatim("First"), "first")};
        for (int i = 1; i <= 10; ++i) {
            rows.push_back(tracked(TextVerbatim("Row"), "row " + std::to_string(i))
                               .id("row-" + std::to_string(i)));
        }
        rows.push_back(tracked(TextVerbatim("Last"), "last"));
        rows.push_back(tracked(TextVerbatim("After last"), "after last"));
        return Form({Section(tracked(TextVerbatim("Header"), "header"), std::move(rows),
                             tracked(TextVerbatim("Footer"), "footer"))});
    }

  private:
    View tracked(View view, const std::string& name) {
        return view.onAppear([this, name] { calls_.push_back("appear " + name); })
            .onDisappear([this, name] { calls_.push_back("disappear " + name); });
    }

    std::vector<std::string>& calls_;
};

TEST_F(ViewHostTest, SiblingsAppearAndDisappearInTheOrderTheyAreShown) {
    ViewHost host(std::make_shared<Rows>(calls));
    std::vector<std::string> shown{"header", "first"};
    for (int i = 1; i <= 10; ++i) {
        shown.push_back("row " + std::to_string(i));
    }
    shown.push_back("last");
    shown.push_back("after last");
    shown.push_back("footer");

    host.setShown(true);
    Calls appeared;
    for (const auto& name : shown) {
        appeared.push_back("appear " + name);
    }
    EXPECT_EQ(take(), appeared);

    host.setShown(false);
    Calls disappeared;
    for (const auto& name : shown) {
        disappeared.push_back("disappear " + name);
    }
    EXPECT_EQ(take(), disappeared);
}

}  // namespace
}  // namespace orvel::ui
