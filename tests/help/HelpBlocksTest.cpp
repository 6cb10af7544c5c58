#include "help/HelpBlocks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Localization.h"
#include "support/UiTest.h"
#include "ui/HeadlessHost.h"
#include "ui/ViewComponent.h"

namespace orvel::help {
namespace {

class Blocks final : public ui::ViewComponent {
  public:
    explicit Blocks(std::vector<ui::View> blocks) : blocks_(std::move(blocks)) {}
    ui::View body() override { return ui::VStack(ui::HAlign::leading, 14, blocks_); }

  private:
    std::vector<ui::View> blocks_;
};

class HelpBlocksTest : public test::UiTest {
  protected:
    // The window goes before the host it belongs to.
    void TearDown() override {
        window.reset();
        UiTest::TearDown();
    }
    ui::Inspector show(std::vector<ui::View> blocks) {
        window = host().makeWindow();
        window->setContent(std::make_shared<Blocks>(std::move(blocks)));
        window->makeKeyAndOrderFront();
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window).inspect();
    }
    static bool has(const std::string& dump, const std::string& line) {
        return dump.find(line) != std::string::npos;
    }

    std::unique_ptr<ui::Window> window;
};

TEST_F(HelpBlocksTest, CommandNotesArePresentOrAbsentNotEmptyOrFull) {
    struct Case {
        std::optional<std::string> note;
        std::vector<std::string> texts;
    };
    for (const auto& c : {Case{std::nullopt, {"pmset -g"}}, Case{"", {"pmset -g", ""}},
                          Case{"as root", {"pmset -g", "as root"}}}) {
        EXPECT_EQ(show({Cmd{"pmset -g", c.note}}).texts(), c.texts);
    }
}

TEST_F(HelpBlocksTest, CommandsAndTableCellsStandAsWrittenWhileParagraphsDrawMarkdown) {
    // A paragraph holds its page's words, in the page's language: no catalogue entry replaces it.
    Localization::shared().setTable({{"Use **bold** and `code`", "Nutze **fett** und `Code`"}});
    const auto texts = show({Cmd{"echo *a* `b`", "*note*"}, P{"Use **bold** and `code`"},
                             H{"*Heading*"}, PermRow{"**Feature**", "`perm`", std::nullopt}})
                           .texts();
    EXPECT_EQ(texts, (std::vector<std::string>{"echo *a* `b`", "*note*", "Use bold and code",
                                               "Heading", "**Feature**", "`perm`"}));
}

TEST_F(HelpBlocksTest, CopyReplacesThePasteboardWithTheCommandAlone) {
    host().pasteboard().setString("copied before");
    auto ui = show({Cmd{"defaults delete orvel", "a note"}});
    ASSERT_TRUE(ui.click("Copy"));
    EXPECT_EQ(host().pasteboard().string(), "defaults delete orvel");
    EXPECT_TRUE(host().announcements().empty());
}

TEST_F(HelpBlocksTest, PermissionRowsMarkGrantsAndDimOnlyExactlyNone) {
    struct Case {
        const char* permission;
        std::optional<bool> granted;
        const char* style;
        const char* mark;  // none: no symbol at all
    };
    for (const auto& c :
         {Case{"None", std::nullopt, "secondary", nullptr},
          Case{"none", true, "primary", "checkmark.circle.fill fg=green help=\"Granted\""},
          Case{"None ", false, "primary",
               "exclamationmark.circle.fill fg=orange help=\"Not granted\""}}) {
        SCOPED_TRACE(c.permission);
        const std::string dump = show({PermRow{"Keep awake", c.permission, c.granted}}).dump();
        EXPECT_TRUE(has(dump, "Text \"" + std::string(c.permission) + "\" font=13 fg=" + c.style))
            << dump;
        if (c.mark) {
            EXPECT_TRUE(has(dump, std::string("Image symbol=") + c.mark)) << dump;
        } else {
            EXPECT_FALSE(has(dump, "Image")) << dump;
        }
    }
}

TEST_F(HelpBlocksTest, LossRowsSayWithoutInMediumAndRenderTheLoss) {
    Localization::shared().setTable({{"Without %@", "Ohne %@"}});
    auto ui = show({LossRow{"Accessibility", "No *typing* block"}});
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{"Ohne Accessibility", "No typing block"}));
    const std::string dump = ui.dump();
    EXPECT_TRUE(has(dump, "Text \"Ohne Accessibility\" font=13 medium")) << dump;
    EXPECT_TRUE(has(dump, "Text \"No typing block\" font=13 fg=secondary lineSpacing=3")) << dump;
}

TEST_F(HelpBlocksTest, EveryBlockButTheHeadingKeepsToOneColumnWithItsMetrics) {
    struct Case {
        ui::View block;
        std::vector<std::string> lines;
        bool capped;
    };
    const std::vector<Case> cases{
        {H{"Heading"}, {"Padding 6,0,0,0", "Text \"Heading\" font=15 semibold"}, false},
        {P{"Paragraph"}, {"Text \"Paragraph\" font=13 lineSpacing=3"}, true},
        {Cmd{"ls"},
         {"VStack spacing=5", "Background primary@0.05 radius=7", "Padding 10,10,10,10",
          "HStack spacing=10", "Text \"ls\" font=12/mono selectable", "Spacer",
          "Button style=borderless ax=\"Copy\" help=\"Copy\""},
         true},
        {PermRow{"Feature", "Input Monitoring", true},
         {"HStack spacing=10", "Frame width=250", "Spacer"},
         true},
        {LossRow{"Bluetooth", "Loss"}, {"HStack spacing=12", "Frame width=190"}, true},
    };
    for (const auto& c : cases) {
        const std::string dump = show({c.block}).dump();
        for (const auto& line : c.lines) {
            EXPECT_TRUE(has(dump, line)) << line << "\n" << dump;
        }
        EXPECT_EQ(has(dump, "Frame maxWidth=620"), c.capped) << dump;
    }
}

}  // namespace
}  // namespace orvel::help
