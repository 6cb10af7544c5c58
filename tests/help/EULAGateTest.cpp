#include "help/EULAGate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "foundation/AppInfo.h"
#include "foundation/FileIO.h"
#include "foundation/Sha256.h"
#include "platform/sim/RecordingLogSink.h"
#include "support/UiTest.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using Line = EULAGate::Line;
using Style = EULAGate::Line::Style;

class EULAGateTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        fs::create_directories(sim().paths().resourcesDirectory());
    }
    void installAgreement(const std::string& text) {
        std::ofstream(sim().paths().resourcesDirectory() + "/eula-1.0-draft.md", std::ios::binary)
            << text;
    }
    void installShippedAgreement() {
        fs::copy_file(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md",
                      sim().paths().resourcesDirectory() + "/eula-1.0-draft.md");
    }
    void writeAssent(const std::string& json) {
        const std::string folder = sim().paths().applicationSupportDirectory();
        fs::create_directories(folder);
        std::ofstream(folder + "/eula-assent.json") << json;
    }
    std::shared_ptr<EULAGate> shownGate() {
        auto gate = std::make_shared<EULAGate>(services().licenseAgreement());
        EULAGate::current() = gate;
        gate->show();
        loop().drain();
        return gate;
    }
    ui::HeadlessWindow& window(EULAGate& gate) {
        return static_cast<ui::HeadlessWindow&>(*gate.window());
    }
};

TEST_F(EULAGateTest, OnlyAnExactCurrentVersionCountsAsAssent) {
    const std::string rest =
        R"("sha256":"ab","timestamp":786297600.5,"appVersion":"0.1.0","build":"12","scrolledToEnd":true)";
    // The current version's record, padded with blanks to the given size.
    const auto padded = [&rest](std::size_t size) {
        const std::string text = R"({"version":"1.0-draft",)" + rest + "}";
        return text + std::string(size - text.size(), ' ');
    };
    struct Case {
        const char* name;
        std::optional<std::string> file;
        bool assent;
    };
    const Case cases[] = {
        {"missing file", std::nullopt, false},
        {"current version", R"({"version":"1.0-draft",)" + rest + "}", true},
        {"other digest", R"({"version":"1.0-draft","sha256":"00",)" + rest.substr(14) + "}", true},
        {"older version", R"({"version":"0.9",)" + rest + "}", false},
        {"trailing blank", R"({"version":"1.0-draft ",)" + rest + "}", false},
        {"other case", R"({"version":"1.0-DRAFT",)" + rest + "}", false},
        {"missing suffix", R"({"version":"1.0",)" + rest + "}", false},
        {"missing key",
         R"({"version":"1.0-draft","sha256":"ab","timestamp":1,"appVersion":"x","build":"y"})",
         false},
        {"extra key", R"({"version":"1.0-draft","note":"hi",)" + rest + "}", true},
        {"timestamp as text",
         R"({"version":"1.0-draft","sha256":"ab","timestamp":"today","appVersion":"x","build":"y","scrolledToEnd":true})",
         false},
        {"not JSON", "version=1.0-draft", false},
        {"at the size limit", padded(EULAGate::kMaxAssentSize), true},
        {"over the size limit", padded(EULAGate::kMaxAssentSize + 1), false},
    };
    for (const auto& c : cases) {
        fs::remove_all(sim().paths().applicationSupportDirectory());
        if (c.file) {
            writeAssent(*c.file);
        }
        EXPECT_EQ(services().licenseAgreement().hasCurrentAssent(), c.assent) << c.name;
    }
    EXPECT_TRUE(fs::is_directory(sim().paths().applicationSupportDirectory()))
        << "asking for the file's place creates its folder";
}

TEST_F(EULAGateTest, RendersTheLightMarkup) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<Line> lines;
    };
    const Case cases[] = {
        {"header dropped with the blank lines after it",
         "eula\nv\np\n\n\n# Title\nBody",
         {{"Title", Style::heading}, {"Body", Style::body}}},
        {"too short for a header",
         "eula\nv\np",
         {{"eula", Style::body}, {"v", Style::body}, {"p", Style::body}}},
        {"first line must be exactly eula", "EULA\nv\np\nx", {{"EULA"}, {"v"}, {"p"}, {"x"}}},
        {"empty second line: no header", "eula\n\np\nx", {{"eula"}, {""}, {"p"}, {"x"}}},
        {"prefixes",
         "## Sub\n# Head\n> Note\n### Three\n#NoSpace\nA **bold** word",
         {{"Sub", Style::subheading},
          {"Head", Style::heading},
          {"Note", Style::quote},
          {"### Three", Style::body},
          {"#NoSpace", Style::body},
          {"A bold word", Style::body}}},
        {"trailing line feed gives a final empty line", "a\n", {{"a"}, {""}}},
        {"Windows line ends keep their carriage return", "a\r\nb", {{"a\r"}, {"b"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EULAGate::renderAgreement(c.text), c.lines) << c.name;
    }
}

TEST_F(EULAGateTest, LoadsTheShippedAgreementWithTheDigestOfItsBytes) {
    installShippedAgreement();
    auto agreement = services().licenseAgreement().loadAgreement();
    ASSERT_TRUE(agreement);
    const auto bytes = readFile(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md");
    EXPECT_EQ(agreement->sha256, sha256Hex(*bytes));
    EXPECT_TRUE(std::regex_match(agreement->sha256, std::regex("[0-9a-f]{64}")));
    const auto lines = EULAGate::renderAgreement(agreement->text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], (Line{"Orvel End User License Agreement", Style::heading}));

    installAgreement("bad \xC3\x28 bytes");
    EXPECT_FALSE(services().licenseAgreement().loadAgreement()) << "not UTF-8";
}

TEST_F(EULAGateTest, AgreeIsEnabledOnlyOnceTheTextWasScrolledToItsEnd) {
    installShippedAgreement();
    auto gate = shownGate();
    auto& w = window(*gate);
    EXPECT_EQ(w.title(), "Orvel");
    EXPECT_EQ(w.style(), ui::kWindowTitled | ui::kWindowClosable);
    EXPECT_EQ(w.level(), ui::WindowLevel::floating);
    EXPECT_TRUE(w.isKey());
    ui::Inspector view = w.inspect();
    auto agree = view.control("Agree");
    ASSERT_TRUE(agree);
    EXPECT_FALSE(view.isEnabled(*agree));
    EXPECT_EQ(agree->node->shortcut, ui::KeyboardShortcut::defaultAction());
    EXPECT_EQ(view.control("Quit")->node->shortcut, ui::KeyboardShortcut::cancelAction());
    EXPECT_TRUE(view.contains("Scroll to the end to enable Agree."));
    const std::string versionLine = "Version 1.0-draft \u00B7 SHA-256 " + gate->sha().substr(0, 8) +
                                    "\u2026" + gate->sha().substr(60);
    EXPECT_TRUE(view.contains(versionLine));
    EXPECT_FALSE(view.click("Agree")) << "disabled";

    ASSERT_TRUE(view.scrollToEnd());
    loop().drain();
    view = w.inspect();
    EXPECT_TRUE(view.isEnabled(*view.control("Agree")));
    EXPECT_FALSE(view.contains("Scroll to the end to enable Agree."));
    view.scrollToEnd();
    EXPECT_EQ(host().announcements(),
              (std::vector<std::string>{"Agreement read to the end \u2014 Agree is now available"}))
        << "announced once";
}

TEST_F(EULAGateTest, AgreeRecordsTheAssentClosesTheWindowAndRunsOnAgreeLast) {
    installShippedAgreement();
    auto gate = shownGate();
    std::vector<std::string> order;
    gate->onAgree = [&] {
        order.push_back(services().licenseAgreement().hasCurrentAssent() ? "after write"
                                                                         : "before write");
        order.push_back(sim().userDefaults().stringForKey("eulaAcceptedVersion")
                            ? "after version"
                            : "before version");
        order.push_back(gate->agreed() ? "after agreed" : "before agreed");
        order.push_back(gate->window() == nullptr ? "after close" : "before close");
        order.push_back(EULAGate::current() == nullptr ? "after release" : "before release");
    };
    loop().setNow(Date{786297600.25});
    window(*gate).inspect().scrollToEnd();
    loop().drain();
    ASSERT_TRUE(window(*gate).inspect().click("Agree"));
    EXPECT_EQ(order, (std::vector<std::string>{"after write", "after version", "after agreed",
                                               "after close", "after release"}));
    EXPECT_FALSE(gate->window());
    EXPECT_FALSE(EULAGate::current());
    EXPECT_FALSE(host().application().terminated()) << "the close made by Agree does not quit";

    const auto bytes = readFile(services().licenseAgreement().assentFileURL());
    ASSERT_TRUE(bytes);
    auto json = parseJson(stringFromData(*bytes));
    ASSERT_TRUE(json);
    EXPECT_EQ(json->size(), 6u);
    EXPECT_EQ((*json)["version"], "1.0-draft");
    EXPECT_EQ((*json)["sha256"], gate->sha());
    EXPECT_DOUBLE_EQ((*json)["timestamp"].get<double>(), 786297600.25);
    EXPECT_TRUE((*json)["scrolledToEnd"].get<bool>());
    EXPECT_EQ((*json)["appVersion"], appVersion());
    EXPECT_EQ(sim().userDefaults().stringForKey("eulaAcceptedVersion"), "1.0-draft");
    loop().drain();
}

TEST_F(EULAGateTest, ARecordThatCannotBeWrittenIsLoggedAndStartUpGoesOn) {
    auto log = std::make_shared<RecordingLogSink>();
    const auto previous = installLogSink(log);
    installShippedAgreement();
    const std::string folder = sim().paths().applicationSupportDirectory();
    fs::create_directories(fs::path(folder).parent_path());
    std::ofstream(folder) << "a file where the folder belongs";
    auto gate = shownGate();
    bool started = false;
    gate->onAgree = [&] { started = true; };
    window(*gate).inspect().scrollToEnd();
    loop().drain();
    ASSERT_TRUE(window(*gate).inspect().click("Agree"));
    installLogSink(previous);

    EXPECT_TRUE(started);
    EXPECT_FALSE(gate->window());
    EXPECT_FALSE(services().licenseAgreement().hasCurrentAssent())
        << "the gate shows again at the next start";
    const auto lines = log->messages("agreement");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(
        lines[0].rfind("Could not record the agreement: Could not create the folder " + folder, 0),
        0u)
        << lines[0];
    loop().drain();
}

TEST_F(EULAGateTest, QuitEscapeOrClosingBeforeAgreeingEndsTheApplication) {
    installShippedAgreement();
    {
        auto gate = shownGate();
        ASSERT_TRUE(window(*gate).inspect().click("Quit"));
        EXPECT_TRUE(host().application().terminated());
    }
}

TEST_F(EULAGateTest, ClosingTheWindowBeforeAgreeingEndsTheApplication) {
    installShippedAgreement();
    auto gate = shownGate();
    window(*gate).userClose();
    EXPECT_TRUE(host().application().terminated());
}

TEST_F(EULAGateTest, AMissingAgreementKeepsAgreeDisabledAndSaysSo) {
    auto gate = shownGate();
    EXPECT_TRUE(gate->resourceMissing());
    EXPECT_EQ(gate->sha(), "");
    ui::Inspector view = window(*gate).inspect();
    EXPECT_TRUE(view.contains("Version 1.0-draft"));
    EXPECT_TRUE(view.contains("EULA resource missing from the app bundle."));
    EXPECT_TRUE(
        view.contains("Add Resources/eula-1.0-draft.md to the Orvel target (Copy Bundle "
                      "Resources) and rebuild."))
        << "it names the file the loader looks for";
    view.scrollToEnd();
    loop().drain();
    view = window(*gate).inspect();
    EXPECT_FALSE(view.isEnabled(*view.control("Agree")));
    EXPECT_TRUE(view.contains("EULA resource missing \u2014 Agree stays disabled. Fix the build."));
}

// The agreement's rows as drawn, top down: each text, or "gap <height>" for a blank line.
std::vector<std::string> agreementRows(const ui::Inspector& view) {
    const auto first = view.find("a");
    std::vector<std::string> rows;
    if (!first) {
        return rows;
    }
    auto stack = std::find_if(first->ancestors.rbegin(), first->ancestors.rend(),
                              [](const ui::Node* n) { return n->kind == ui::NodeKind::vstack; });
    if (stack == first->ancestors.rend()) {
        return rows;
    }
    for (const auto& child : (*stack)->children) {
        const ui::Node& n = child.node();
        const bool gap = n.kind == ui::NodeKind::frame && n.children.size() == 1 &&
                         n.children[0].node().kind == ui::NodeKind::spacer;
        rows.push_back(gap ? "gap " + std::to_string(n.frameValue.height.value_or(0))
                           : ui::Inspector::textsOf(n));
    }
    return rows;
}

TEST_F(EULAGateTest, BlankLinesOfTheAgreementAreParagraphGapsInBothWindows) {
    installAgreement("a\n\n# H\nb\n\n\nc");
    const std::string gap = "gap " + std::to_string(EULAGate::kParagraphGap);
    const std::vector<std::string> expected{"a", gap, "H", "b", gap, gap, "c"};
    auto gate = shownGate();
    EXPECT_EQ(agreementRows(window(*gate).inspect()), expected) << "the agreement window";

    services().licenseAgreement().showAgreementText();
    loop().drain();
    const auto copies = host().windows();
    const auto copy = std::find_if(copies.begin(), copies.end(), [](ui::HeadlessWindow* w) {
        return w->title() == "License Agreement \u2014 v1.0-draft";
    });
    ASSERT_NE(copy, copies.end());
    EXPECT_EQ(agreementRows((*copy)->inspect()), expected) << "the read-only copy";
}

TEST_F(EULAGateTest, TheReadOnlyAgreementWindowIsBuiltOnce) {
    installShippedAgreement();
    services().licenseAgreement().showAgreementText();
    services().licenseAgreement().showAgreementText();
    int count = 0;
    for (auto* w : host().windows()) {
        if (w->title() == "License Agreement \u2014 v1.0-draft") {
            ++count;
            EXPECT_TRUE(w->isVisible());
            EXPECT_TRUE(w->inspect().contains("Orvel End User License Agreement"));
        }
    }
    EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace orvel
