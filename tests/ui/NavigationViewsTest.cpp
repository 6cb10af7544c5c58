#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Published.h"
#include "support/UiTest.h"
#include "ui/HeadlessHost.h"
#include "ui/ViewComponent.h"

namespace orvel::ui {
namespace {

// A sidebar of fruit with a search field, and the chosen fruit beside it.
class FruitBrowser final : public ViewComponent {
  public:
    View body() override {
        Binding<std::string> selection{[this] { return chosen(); },
                                       [this](const std::string& tag) { chosen = tag; }};
        Binding<std::string> search{[this] { return query(); },
                                    [this](const std::string& text) { query = text; }};
        std::vector<View> rows;
        for (const char* fruit : {"Apple", "Banana", "Cherry"}) {
            if (query().empty() || std::string(fruit).find(query()) != std::string::npos) {
                rows.push_back(Label(fruit, "circle").tag(fruit).id(fruit));
            }
        }
        return SplitView(VStack({SearchField("Search Fruit", search), List(selection, rows)}),
                         TextVerbatim("Showing " + chosen()), {150, 180, 240});
    }

    Published<std::string> chosen{*this, "Banana"};
    Published<std::string> query{*this, ""};
};

class NavigationViewsTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        window = host().makeWindow();
        window->setContent(browser);
        window->makeKeyAndOrderFront();
        loop().drain();
    }
    void TearDown() override {
        window.reset();
        UiTest::TearDown();
    }
    Inspector ui() { return static_cast<HeadlessWindow&>(*window).inspect(); }

    std::shared_ptr<FruitBrowser> browser = std::make_shared<FruitBrowser>();
    std::unique_ptr<Window> window;
};

TEST_F(NavigationViewsTest, ClickingARowSelectsItsTagAndHighlightsOnlyIt) {
    EXPECT_EQ(ui().selectedRow(), "Banana");
    ASSERT_TRUE(ui().selectRow("Cherry"));
    EXPECT_EQ(browser->chosen(), "Cherry");
    loop().drain();
    EXPECT_EQ(ui().selectedRow(), "Cherry");
    EXPECT_TRUE(ui().contains("Showing Cherry"));
    EXPECT_FALSE(ui().selectRow("Durian"));
}

TEST_F(NavigationViewsTest, ASelectionNoRowCarriesHighlightsNothing) {
    browser->chosen = "Durian";
    loop().drain();
    EXPECT_EQ(ui().selectedRow(), std::nullopt);
    EXPECT_EQ(ui().listRows(), (std::vector<std::string>{"Apple", "Banana", "Cherry"}));
}

TEST_F(NavigationViewsTest, TheSearchFieldWritesEachKeystrokeAndClears) {
    std::vector<std::string> seen;
    auto watch = browser->query.subscribe([&](const std::string& q) { seen.push_back(q); });
    ASSERT_TRUE(ui().type("Search Fruit", "an"));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "an"}));
    loop().drain();
    EXPECT_EQ(ui().listRows(), (std::vector<std::string>{"Banana"}));
    EXPECT_EQ(ui().control("Search Fruit")->node->kind, NodeKind::searchField);
    ASSERT_TRUE(ui().clearText("Search Fruit"));
    EXPECT_EQ(browser->query(), "");
    EXPECT_FALSE(ui().clearText("Showing Banana")) << "a text is no field";
}

TEST_F(NavigationViewsTest, TheDumpShowsTheSidebarWidthsAndTheSelection) {
    const std::string dump = ui().dump();
    EXPECT_NE(dump.find("SplitView sidebar=150/180/240"), std::string::npos) << dump;
    EXPECT_NE(dump.find("List selection=Banana"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SearchField \"\""), std::string::npos) << dump;
}

}  // namespace
}  // namespace orvel::ui
