#include "automations/ApplicationChooser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/UiTest.h"
#include "ui/HeadlessHost.h"
#include "ui/Inspector.h"

namespace orvel {
namespace {

const std::string kApps = "/sim/applications/";

class ApplicationChooserTest : public test::UiTest {
  protected:
    void TearDown() override {
        window.reset();
        UiTest::TearDown();
    }
    void install(const std::string& id, const std::string& name) {
        sim().workspace().install(kApps + id + ".desktop", id, name);
    }
    void run(const std::string& id, const std::string& name) {
        sim().workspace().launch(id, name, ActivationPolicy::regular, kApps + id + ".desktop");
    }
    void present() {
        ui::OpenPanelOptions other = ApplicationChooser::filePanel(sim().workspace());
        ApplicationChooser::present(window, sim().workspace(), "Pick", "Take", other,
                                    [this](const std::string& url) { chosen.push_back(url); });
        loop().drain();
    }
    ui::HeadlessWindow& shown() { return static_cast<ui::HeadlessWindow&>(*window); }
    ui::Inspector view() { return shown().inspect(); }
    void search(const std::string& text) {
        ASSERT_TRUE(view().clearText("Search applications"));
        ASSERT_TRUE(view().type("Search applications", text)) << view().lastFailure();
        loop().drain();
    }

    std::unique_ptr<ui::Window> window;
    std::vector<std::string> chosen;
};

TEST_F(ApplicationChooserTest, RunningApplicationsComeFirstThenTheLanguagesOrderOfNames) {
    for (const auto& [id, name] : std::vector<std::pair<std::string, std::string>>{
             {"zulu", "zulu"},
             {"eclair", "\u00C9clair"},
             {"apple", "Apple"},
             {"banana", "banana"},
             {"apfel", "\u00C4pfel"},
             {"mail", "Mail"},
             {"zebra", "Zebra"},
             {"copy", "Copy"},
         }) {
        install(id, name);
    }
    // Programs that run in a terminal: offered only while one runs.
    for (const char* id : {"top", "vim"}) {
        sim().workspace().install(kApps + id + ".desktop", id, id, {}, true);
    }
    run("vim", "vim");
    run("zebra", "Zebra");
    run("mail", "Mail");
    // Another copy of an installed application, and one with no entry: neither marks it.
    sim().workspace().launch(std::string("copy"), std::string("Copy"), ActivationPolicy::regular,
                             std::string("/elsewhere/copy.desktop"));
    sim().workspace().launch(std::string("tool"), std::string("Tool"));
    present();
    EXPECT_EQ(view().listRows(), (std::vector<std::string>{
                                     "Mail Running", "vim Running", "Zebra Running", "\u00C4pfel",
                                     "Apple", "banana", "Copy", "\u00C9clair", "zulu"}));
}

TEST_F(ApplicationChooserTest, TheSearchKeepsTheNamesThatHoldItAndSaysWhenNoneDoes) {
    install("editor", "Text Editor");
    install("edit", "Editor");
    install("mail", "Mail");
    present();
    const struct {
        const char* query;
        std::vector<std::string> rows;
    } cases[] = {
        {"", {"Editor", "Mail", "Text Editor"}},
        {"EDIT", {"Editor", "Text Editor"}},
        {"  mail ", {"Mail"}},
        {"\u00E9dit", {}},
        {"xyz", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        search(c.query);
        EXPECT_EQ(view().listRows(), c.rows);
        EXPECT_EQ(view().isEnabled(*view().control("Take")), !c.rows.empty());
    }
    EXPECT_TRUE(view().contains("No application is called \u201Cxyz\u201D."));
}

TEST_F(ApplicationChooserTest, TakeChoosesTheSelectedEntryOrTheFirstOneShownThenCloses) {
    install("editor", "Text Editor");
    install("mail", "Mail");
    present();
    search("e");
    ASSERT_TRUE(view().selectRow("Text Editor")) << view().lastFailure();
    loop().drain();
    search("mail");
    EXPECT_EQ(view().selectedRow(), "Mail") << "the selection follows what is shown";
    ASSERT_TRUE(view().click("Take"));
    loop().drain();
    EXPECT_EQ(chosen, std::vector<std::string>{kApps + "mail.desktop"});
    EXPECT_FALSE(shown().isVisible());
}

TEST_F(ApplicationChooserTest, OtherOpensAFilePanelAndACancelledOneKeepsTheChooser) {
    install("mail", "Mail");
    present();
    host().scriptOpenPanel(std::nullopt);
    ASSERT_TRUE(view().click("Other\u2026"));
    loop().drain();
    EXPECT_TRUE(chosen.empty());
    EXPECT_TRUE(shown().isVisible());

    host().scriptOpenPanel(std::vector<std::string>{"/opt/tool/tool.desktop"});
    ASSERT_TRUE(view().click("Other\u2026"));
    loop().drain();
    EXPECT_EQ(chosen, std::vector<std::string>{"/opt/tool/tool.desktop"});
    EXPECT_FALSE(shown().isVisible());
    ASSERT_EQ(host().openPanelsShown().size(), 2u);
    const ui::OpenPanelOptions& panel = host().openPanelsShown().back();
    EXPECT_EQ(panel.allowedExtensions, std::vector<std::string>{"desktop"});
    EXPECT_EQ(panel.directory, "/sim/applications");
    EXPECT_FALSE(panel.allowsMultipleSelection);
}

TEST_F(ApplicationChooserTest, CancelAndAnEmptyMachineChooseNothing) {
    present();
    EXPECT_TRUE(view().contains("No applications are installed."));
    EXPECT_FALSE(view().isEnabled(*view().control("Take")));
    ASSERT_TRUE(view().click("Cancel"));
    loop().drain();
    EXPECT_FALSE(shown().isVisible());
    EXPECT_TRUE(chosen.empty());
}

}  // namespace
}  // namespace orvel
