#include "help/AboutView.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppDelegate.h"
#include "core/Preferences.h"
#include "foundation/AppInfo.h"
#include "help/Contacts.h"
#include "help/HelpView.h"
#include "menubar/AppWindows.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

class AboutViewTest : public test::SessionTest {
  protected:
    void SetUp() override {
        test::SessionTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
    }
    void TearDown() override {
        delegate.reset();
        SessionTest::TearDown();
    }
    ui::HeadlessWindow& about() {
        delegate->showAbout();
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*delegate->aboutWindow);
    }
    AboutView& view() { return dynamic_cast<AboutView&>(*about().content()); }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AboutViewTest, VersionLineIsTheVersionAndBuildThatDashDashVersionPrints) {
    EXPECT_EQ(AboutView::versionString("2.0", "17"), "2.0 (17)");
    EXPECT_TRUE(about().inspect().contains(std::string("Version ") + appVersion() + " (" +
                                           appBuild() + ")"));
    EXPECT_FALSE(about().inspect().contains("1.5 (1)"));
}

TEST_F(AboutViewTest, ShowsNameRowsLinksButtonsAndNotice) {
    const auto texts = about().inspect();
    for (const std::string& text :
         {std::string("Orvel"), std::string("Author"), std::string(kAuthorName),
          std::string("Contact"), std::string(kSupportAddress), std::string("Engine"),
          std::string("License Agreement"), std::string("Privacy Policy"),
          std::string("Open Source Licenses"), std::string("Help"), std::string("Copy Diagnostics"),
          std::string("Feedback…"),
          std::string("© 2026 Orvel Developers. Provided without warranty.")}) {
        EXPECT_TRUE(texts.contains(text)) << text;
    }
}

TEST_F(AboutViewTest, EngineRowFollowsTheEngineInUse) {
    ui::HeadlessWindow& window = about();
    prefs().engine = EngineKind::caffeinate;
    loop().drain();
    EXPECT_TRUE(window.inspect().contains("caffeinate"));
    prefs().engine = EngineKind::assertions;
    loop().drain();
    EXPECT_TRUE(window.inspect().contains("logind inhibitor locks"));
    EXPECT_FALSE(window.inspect().contains("caffeinate"));
}

TEST_F(AboutViewTest, LinksOpenTheirAddressOnce) {
    struct Case {
        const char* control;
        std::string url;
    };
    for (const auto& c : {Case{kSupportAddress, std::string("mailto:") + kSupportAddress},
                          Case{"Privacy Policy", kPrivacyPolicyURL}}) {
        const std::size_t before = sim().workspace().openedURLs().size();
        ASSERT_TRUE(about().inspect().click(c.control)) << c.control;
        loop().drain();
        ASSERT_EQ(sim().workspace().openedURLs().size(), before + 1) << c.control;
        EXPECT_EQ(sim().workspace().openedURLs().back(), c.url);
    }
}

TEST_F(AboutViewTest, LicenseAgreementShowsOneReadOnlyAgreementWindow) {
    std::filesystem::create_directories(sim().paths().resourcesDirectory());
    std::filesystem::copy_file(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md",
                               sim().paths().resourcesDirectory() + "/eula-1.0-draft.md");
    for (int press = 0; press < 2; ++press) {
        ASSERT_TRUE(about().inspect().click("License Agreement"));
        loop().drain();
    }
    int shown = 0;
    for (auto* w : host().windows()) {
        if (w->title().starts_with("License Agreement") && w->isVisible()) {
            ++shown;
            EXPECT_TRUE(w->inspect().contains("Orvel End User License Agreement"));
        }
    }
    EXPECT_EQ(shown, 1);
}

TEST_F(AboutViewTest, FeedbackOpensOneMailOnlyAfterOK) {
    struct Case {
        int response;
        std::vector<std::string> opened;
    };
    const std::string mail = std::string("mailto:") + kFeedbackAddress +
                             "?subject=Orvel%20App%20Feedback/Requests/Suggestions";
    for (const auto& c :
         {Case{ui::kAlertSecondButtonReturn, {}}, Case{ui::kAlertFirstButtonReturn, {mail}}}) {
        host().scriptAlert(ui::HeadlessHost::answer(c.response));
        const auto before = sim().workspace().openedURLs();
        ASSERT_TRUE(about().inspect().click("Feedback…"));
        loop().drain();
        auto opened = sim().workspace().openedURLs();
        opened.erase(opened.begin(), opened.begin() + static_cast<long>(before.size()));
        EXPECT_EQ(opened, c.opened);
    }
}

TEST_F(AboutViewTest, CopyDiagnosticsReplacesThePasteboardWithTheReportAlone) {
    host().pasteboard().setString("something copied before");
    view().diagnosticReport = [] { return std::string("Orvel diagnostic report\nline 2\n"); };
    ASSERT_TRUE(about().inspect().click("Copy Diagnostics"));
    EXPECT_EQ(host().pasteboard().string(), "Orvel diagnostic report\nline 2\n");
    EXPECT_TRUE(host().announcements().empty());
}

TEST_F(AboutViewTest, CopyDiagnosticsCopiesTheApplicationsReportAndNothingWithoutOne) {
    host().pasteboard().setString("something copied before");
    ASSERT_TRUE(about().inspect().click("Copy Diagnostics"));
    EXPECT_EQ(host().pasteboard().string()->rfind("ORVEL DIAGNOSTIC REPORT\n", 0), 0u);

    for (const std::function<std::string()>& report :
         {std::function<std::string()>(), std::function<std::string()>([] { return ""; })}) {
        host().pasteboard().setString("something copied before");
        view().diagnosticReport = report;
        ASSERT_TRUE(about().inspect().click("Copy Diagnostics"));
        EXPECT_EQ(host().pasteboard().string(), "something copied before");
    }
}

TEST_F(AboutViewTest, LicencesLinkOpensHelpOnAcknowledgmentsAndHelpKeepsThePage) {
    ASSERT_TRUE(about().inspect().click("Open Source Licenses"));
    ASSERT_TRUE(about().inspect().click("Help"));
    loop().drain();
    EXPECT_FALSE(delegate->helpWindow) << "before launch no delegate is reachable";

    AppWindows::current() = delegate.get();  // what launching does
    ASSERT_TRUE(about().inspect().click("Open Source Licenses"));
    loop().drain();
    ASSERT_TRUE(delegate->helpWindow);
    auto* help = dynamic_cast<HelpView*>(delegate->helpWindow->content().get());
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->section(), HelpSection::acknowledgments);
    ASSERT_TRUE(about().inspect().click("Help"));
    loop().drain();
    EXPECT_EQ(help->section(), HelpSection::acknowledgments) << "Help alone keeps the page";
    EXPECT_TRUE(delegate->helpWindow->isVisible());
}

}  // namespace
}  // namespace orvel
