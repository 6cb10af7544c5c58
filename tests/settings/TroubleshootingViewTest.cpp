#include "settings/TroubleshootingView.h"

#include <gtest/gtest.h>

#include "app/compose/Services.h"
#include "reports/ConflictsReport.h"
#include "settings/SettingsReset.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

class TroubleshootingViewTest : public test::SessionTest {
  protected:
    // The window goes before the host it belongs to.
    void TearDown() override {
        window.reset();
        SessionTest::TearDown();
    }
    void open(std::string machineName = "x86_64") {
        machine = std::move(machineName);
        DiagnosticsSources sources;
        sources.selfTest = [] { return std::optional<std::string>("SELF-TEST Ada"); };
        sources.auditSections = [] { return std::string("AUDIT Ada"); };
        sources.report = [] { return std::optional<std::string>("REPORT Ada and Ada"); };
        sources.redact = [](const std::string& text) {
            std::string out = text;
            for (auto at = out.find("Ada"); at != std::string::npos; at = out.find("Ada", at)) {
                out.replace(at, 3, "id-7f3a");
            }
            return out;
        };
        sources.machine = [this] { return machine; };
        sources.conflicts = [this] { return services().conflictsReport().text(); };
        view =
            std::make_shared<TroubleshootingView>(controller(), sources, services().resetOwners());
        window = host().makeWindow();
        window->setContent(view);
        window->makeKeyAndOrderFront();
        loop().drain();
    }
    ui::Inspector shown() {
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window).inspect();
    }

    std::string machine;
    std::shared_ptr<TroubleshootingView> view;
    std::unique_ptr<ui::Window> window;
};

TEST_F(TroubleshootingViewTest, ArchitectureRowShowsTheKernelsMachineName) {
    const struct {
        const char* machine;
        const char* text;
    } cases[] = {{"armv7l", "armv7l"},
                 {"aarch64", "aarch64"},
                 {"i686", "i686"},
                 {"x86_64", "x86_64"},
                 {"", "Unknown"}};
    for (const auto& c : cases) {
        EXPECT_EQ(architectureText(c.machine), c.text) << c.machine;
    }
    open("armv7l");
    EXPECT_TRUE(shown().contains("armv7l"));
}

TEST_F(TroubleshootingViewTest, PowerAndEngineRowsFollowTheController) {
    sim().powerSources().setOnAC(true);
    open();
    EXPECT_TRUE(shown().contains("Connected to power"));
    EXPECT_TRUE(shown().contains(controller().engineName()));
    sim().powerSources().setOnAC(false);
    loop().advance(6);  // the controller's power ticker
    EXPECT_TRUE(shown().contains("On battery"));
    prefs().engine = EngineKind::caffeinate;
    EXPECT_TRUE(shown().contains(controller().engineName()));
    EXPECT_TRUE(shown().contains("\u2212s is ignored on battery"));
}

TEST_F(TroubleshootingViewTest, CopyReportJoinsReportAndConflictsAndRedactsTheWhole) {
    open();
    EXPECT_FALSE(shown().contains("Copied to clipboard"));
    ASSERT_TRUE(shown().click("Copy Report"));
    const std::string plain = "REPORT Ada and Ada\n\n" + services().conflictsReport().text();
    EXPECT_EQ(host().pasteboard().string(), plain);
    EXPECT_TRUE(shown().contains(plain));
    EXPECT_TRUE(shown().contains("Copied to clipboard"));

    ASSERT_TRUE(shown().setToggle("Obfuscate names", true));
    ASSERT_TRUE(shown().click("Run Self-Test"));
    const std::string redacted =
        "SELF-TEST id-7f3a\n\nAUDIT id-7f3a\n\n" + services().conflictsReport().text();
    EXPECT_EQ(host().pasteboard().string(), redacted);
    EXPECT_EQ(view->diagnosticText(), redacted);
}

TEST_F(TroubleshootingViewTest, AResetEmptiesTheDiagnosticTextAndStaysOnThisTab) {
    open();
    ASSERT_TRUE(shown().click("Copy Report"));
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    ASSERT_TRUE(shown().click("Reset All Settings\u2026"));
    EXPECT_TRUE(view->diagnosticText().empty());
    EXPECT_FALSE(shown().contains("Copied to clipboard"));
    EXPECT_EQ(sim().userDefaults().integerForKey(SettingsReset::kTabSelectionKey), 6);
}

}  // namespace
}  // namespace orvel
