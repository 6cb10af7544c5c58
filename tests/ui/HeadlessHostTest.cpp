#include "ui/HeadlessHost.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "support/Gallery.h"
#include "support/UiTest.h"
#include "ui/Markdown.h"

namespace orvel::ui {
namespace {

using test::Gallery;

class HeadlessHostTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        gallery = std::make_shared<Gallery>();
        window = host().makeWindow();
        window->setTitle("Gallery");
        window->setContent(gallery);
        window->makeKeyAndOrderFront();
    }
    void TearDown() override {
        window.reset();
        gallery.reset();
        UiTest::TearDown();
    }
    HeadlessWindow& w() { return static_cast<HeadlessWindow&>(*window); }
    Inspector ui() { return w().inspect(); }

    std::shared_ptr<Gallery> gallery;
    std::unique_ptr<Window> window;
};

TEST_F(HeadlessHostTest, TheGalleryDumpsAsItsGoldenText) {
    const std::string golden = std::string(ORVEL_TEST_DATA) + "/ui/gallery.txt";
    const std::string dump = ui().dump();
    std::ifstream in(golden);
    const std::string expected((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (expected.empty()) {
        std::ofstream(golden + ".new") << dump;
        FAIL() << "no golden text; wrote " << golden << ".new to review";
    }
    EXPECT_EQ(dump, expected);
}

TEST_F(HeadlessHostTest, ChangesInOneTurnReEvaluateOnceOnTheNextTurn) {
    const auto before = w().viewHost()->evaluationCount();
    gallery->name = "A";
    gallery->name = "Ab";
    gallery->enabled = false;
    EXPECT_EQ(w().viewHost()->evaluationCount(), before) << "not before the loop turns";
    EXPECT_TRUE(ui().contains("Hello, Orvel"));
    loop().drain();
    EXPECT_EQ(w().viewHost()->evaluationCount(), before + 1);
    EXPECT_TRUE(ui().contains("Hello, Ab"));
    EXPECT_TRUE(ui().find("Gallery"));
}

TEST_F(HeadlessHostTest, ControlsReadAndWriteTheirBindings) {
    Inspector view = ui();
    EXPECT_EQ(view.toggleValue("Enabled"), true);
    ASSERT_TRUE(view.setToggle("Enabled", false)) << view.lastFailure();
    EXPECT_FALSE(gallery->enabled());

    ASSERT_TRUE(view.pick("Flavour", "light")) << view.lastFailure();
    EXPECT_EQ(gallery->flavour(), "light");
    EXPECT_FALSE(view.pick("Flavour", "purple"));
    EXPECT_NE(view.lastFailure().find("no option"), std::string::npos);

    int sets = 0;
    Subscription s = gallery->name.subscribe([&](const std::string&) { ++sets; });
    ASSERT_TRUE(view.type("Name", " rocks")) << view.lastFailure();
    EXPECT_EQ(gallery->name(), "Orvel rocks");
    EXPECT_EQ(sets, 6) << "one binding write per keystroke";

    ASSERT_TRUE(view.type("Minutes", "45"));
    EXPECT_EQ(gallery->minutes(), 45);
    ASSERT_TRUE(view.type("Minutes", "4x5"));
    EXPECT_EQ(gallery->minutes(), 45) << "text that is no whole number is discarded";

    ASSERT_TRUE(view.click("Save"));
    ASSERT_TRUE(view.chooseMenuItem("More", "Duplicate"));
    EXPECT_EQ(gallery->chosen(), "duplicate");
    loop().drain();
    EXPECT_TRUE(ui().contains("Chose duplicate"));
}

TEST_F(HeadlessHostTest, DisabledViewsCannotBeWorkedAndOpacityMultiplies) {
    gallery->compact = true;
    loop().drain();
    Inspector view = ui();
    auto counter = view.find("Tick counter");
    ASSERT_TRUE(counter);
    EXPECT_FALSE(view.isEnabled(*counter));
    EXPECT_DOUBLE_EQ(view.opacity(*counter), 0.45);
    EXPECT_FALSE(view.click("Nothing like this"));
    EXPECT_NE(view.lastFailure().find("nothing to work"), std::string::npos);
}

TEST_F(HeadlessHostTest, OnlyTheSelectedTabIsShown) {
    EXPECT_TRUE(ui().contains("Engine"));
    EXPECT_FALSE(ui().contains("/usr/bin/caffeinate -dimsu"));
    ASSERT_TRUE(ui().pick("Controls", "shapes"));
    loop().drain();
    EXPECT_FALSE(ui().contains("Engine"));
    EXPECT_TRUE(ui().contains("/usr/bin/caffeinate -dimsu"));
}

TEST_F(HeadlessHostTest, AppearDisappearAndTimersFollowWhatIsShown) {
    EXPECT_EQ(gallery->appeared, 1);
    loop().advance(3);
    EXPECT_EQ(gallery->ticks, 3);
    window->close();
    EXPECT_EQ(gallery->disappeared, 1);
    loop().advance(3);
    EXPECT_EQ(gallery->ticks, 3) << "no timer while hidden";
    window->makeKeyAndOrderFront();
    EXPECT_EQ(gallery->appeared, 2);
}

TEST_F(HeadlessHostTest, ClosingCallsOnCloseOnceAndKeepsTheWindowForReuse) {
    int closes = 0;
    window->onClose = [&] { ++closes; };
    EXPECT_TRUE(window->isKey());
    window->close();
    window->close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(host().keyWindow(), nullptr);
    EXPECT_EQ(host().window("Gallery"), &w());
}

// The machine's frames and links come only through what the host was handed.
TEST_F(HeadlessHostTest, FramesAndLinksGoThroughTheMachineTheHostWasHanded) {
    sim().userDefaults().setString("NSWindow Frame Saved", "10 20 300 200");
    HeadlessHost bare;
    struct Case {
        const char* what;
        UiHost& host;
        bool remembers;
    };
    const Case cases[] = {{"handed the machine", host(), true}, {"handed nothing", bare, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto opened = sim().workspace().openedURLs().size();
        EXPECT_EQ(c.host.makeWindow()->setFrameAutosaveName("Saved"), c.remembers);
        const Result<void> result = c.host.openLink("mailto:team@example.com");
        EXPECT_EQ(static_cast<bool>(result), c.remembers);
        EXPECT_EQ(sim().workspace().openedURLs().size(), opened + (c.remembers ? 1 : 0));
    }
    EXPECT_FALSE(bare.openLink("https://example.com").error().message.empty())
        << "a link that opens nothing says why";
}

// Alerts -----------------------------------------------------------------------------------------

TEST_F(HeadlessHostTest, AlertsAreAnsweredByTheirScriptsInOrder) {
    host().scriptAlert(HeadlessHost::answer(kAlertSecondButtonReturn));
    auto alert =
        host().makeAlert(AlertContent{AlertStyle::warning, "Quit?", "", {"Quit", "Cancel"}});
    EXPECT_EQ(alert->runModal(), kAlertSecondButtonReturn);
    auto unscripted = host().makeAlert(AlertContent{AlertStyle::warning, "Again?", "", {"OK"}});
    EXPECT_EQ(unscripted->runModal(), kModalResponseAbort);
    EXPECT_EQ(host().unscriptedAlerts(), 1);
    EXPECT_EQ(host().alerts().size(), 2u);
}

TEST_F(HeadlessHostTest, AnAlertCanBeRenamedAndEndedFromATimerWhileDefaultTimersWait) {
    auto alert = host().makeAlert(AlertContent{
        AlertStyle::warning, "Keep the keyboard disabled?", "", {"Keep Disabled (3)", "Cancel"}});
    int remaining = 3;
    bool defaultTimerFired = false;
    Timer held = loop().after(1, [&] { defaultTimerFired = true; });
    std::weak_ptr<Alert> weakAlert = alert;
    Timer countdown = loop().every(
        1,
        [&] {
            auto a = weakAlert.lock();
            if (!a)
                return;
            --remaining;
            if (remaining == 0) {
                a->stopModal(kAlertSecondButtonReturn);
            } else {
                a->setButtonTitle(0, "Keep Disabled (" + std::to_string(remaining) + ")");
            }
        },
        TimerMode::Common);
    std::vector<std::string> seen;
    host().scriptAlert([&](HeadlessAlert& a) {
        if (seen.empty() || seen.back() != a.buttonTitles()[0]) {
            seen.push_back(a.buttonTitles()[0]);
        }
        return std::optional<int>();
    });
    EXPECT_EQ(alert->runModal(), kAlertSecondButtonReturn);
    EXPECT_EQ(seen, (std::vector<std::string>{"Keep Disabled (3)", "Keep Disabled (2)",
                                              "Keep Disabled (1)"}));
    EXPECT_DOUBLE_EQ(loop().uptime(), 3);
    EXPECT_FALSE(defaultTimerFired) << "default-mode timers wait during the modal loop";
    loop().drain();
    EXPECT_TRUE(defaultTimerFired);
    alert->setButtonTitle(0, "after");
    EXPECT_EQ(alert->content().buttons[0], "Keep Disabled (1)") << "an ended alert ignores changes";
}

TEST_F(HeadlessHostTest, AnAlertCanBeAnsweredAfterSomeTimeOrWhenItSaysSomething) {
    host().scriptAlert(HeadlessHost::answerAfter(3, kAlertFirstButtonReturn));
    auto first = host().makeAlert(AlertContent{AlertStyle::informational, "Wait", "", {"OK"}});
    EXPECT_EQ(first->runModal(), kAlertFirstButtonReturn);
    EXPECT_DOUBLE_EQ(loop().uptime(), 3);

    host().scriptAlert([](HeadlessAlert& a) {
        a.setCheckbox(true);
        a.setSecureText("hunter2");
        return std::optional<int>(kAlertFirstButtonReturn);
    });
    AlertContent content{AlertStyle::warning, "Seal", "", {"Export", "Cancel"}};
    content.checkbox = std::make_pair(std::string("Don't ask again"), false);
    content.secureFieldPlaceholder = "Passphrase";
    auto second = host().makeAlert(content);
    EXPECT_EQ(second->runModal(), kAlertFirstButtonReturn);
    EXPECT_TRUE(second->checkboxState());
    EXPECT_EQ(second->secureText(), "hunter2");
}

// Host services ----------------------------------------------------------------------------------

TEST_F(HeadlessHostTest, MenusPanelsAndTerminationAreRecordedAndWorked) {
    int about = 0;
    host().setMainMenu({MenuBarItem{
        "Orvel",
        std::nullopt,
        nullptr,
        true,
        false,
        {MenuBarItem{"About Orvel", std::nullopt, [&] { ++about; }}, MenuBarItem::divider(),
         MenuBarItem{"Quit Orvel", KeyboardShortcut{"q"}, nullptr, false}}}});
    EXPECT_TRUE(host().performMenuItem({"Orvel", "About Orvel"}));
    EXPECT_EQ(about, 1);
    EXPECT_FALSE(host().performMenuItem({"Orvel", "Quit Orvel"})) << "disabled";
    EXPECT_FALSE(host().performMenuItem({"Edit"}));

    host().scriptSavePanel(std::string("/tmp/Orvel Settings.orvelconfig"));
    EXPECT_EQ(
        host().runSavePanel(SavePanelOptions{"Export", "Export", "", "Orvel Settings.orvelconfig"}),
        "/tmp/Orvel Settings.orvelconfig");
    EXPECT_EQ(host().runOpenPanel(OpenPanelOptions{}), std::nullopt) << "unscripted panels cancel";
    EXPECT_EQ(host().savePanelsShown()[0].nameFieldValue, "Orvel Settings.orvelconfig");

    host().pasteboard().setString("report");
    EXPECT_EQ(host().pasteboard().string(), "report");

    int terminating = 0;
    Subscription s = host().willTerminate.subscribe([&] { ++terminating; });
    host().application().terminate();
    host().application().terminate();
    EXPECT_EQ(terminating, 1);
}

// Components and Markdown ----------------------------------------------------------------------

class Counter final : public ViewComponent {
  public:
    Published<int> count{*this, 0};
    View body() override {
        return Button(TextVerbatim("Count " + std::to_string(count())),
                      [this] { count = count() + 1; });
    }
};

class Parent final : public ViewComponent {
  public:
    Published<int> generation{*this, 0};
    std::shared_ptr<Counter> counter = std::make_shared<Counter>();
    View body() override {
        return VStack({TextVerbatim("Generation " + std::to_string(generation())), Embed(counter)});
    }
};

TEST_F(HeadlessHostTest, EmbeddedComponentsKeepTheirStateAndAreObserved) {
    auto parent = std::make_shared<Parent>();
    window->setContent(parent);
    ASSERT_TRUE(ui().click("Count 0"));
    loop().drain();
    EXPECT_TRUE(ui().contains("Count 1")) << "the embedded view's own change re-evaluates";
    parent->generation = 1;
    loop().drain();
    EXPECT_TRUE(ui().contains("Generation 1"));
    EXPECT_TRUE(ui().contains("Count 1")) << "its state survives the parent's re-evaluation";
}

TEST_F(HeadlessHostTest, HostEntryPointsAbortOnAnotherThread) {
    if (!kChecksMainThread) {
        GTEST_SKIP() << "a release build does not check threads";
    }
    // The check aborts from a worker thread: death tests must not just fork this process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        std::string operation;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"UiHost::current", [] { UiHost::current(); }},
        {"UiHost::install", [] { UiHost::install(nullptr); }},
        {"HeadlessHost::makeWindow", [this] { host().makeWindow(); }},
        {"HeadlessHost::makeAlert", [this] { host().makeAlert({}); }},
        {"HeadlessHost::performMenuItem", [this] { host().performMenuItem({"Orvel"}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        EXPECT_DEATH(std::thread(c.call).join(), c.operation + " is main thread only");
    }
    EXPECT_EQ(&UiHost::current(), &host()) << "the main thread reaches the host";
}

TEST(MarkdownTest, SplitsInlineMarkupIntoRuns) {
    using R = TextRun;
    struct Case {
        const char* text;
        std::vector<TextRun> runs;
    };
    const Case cases[] = {
        {"plain", {R{"plain"}}},
        {"a **bold** word", {R{"a "}, R{"bold", true}, R{" word"}}},
        {"*it* and _it_", {R{"it", false, true}, R{" and "}, R{"it", false, true}}},
        {"run `orvel --help`", {R{"run "}, R{"orvel --help", false, false, true}}},
        {"see [help](orvel://help)", {R{"see "}, R{"help", false, false, false, "orvel://help"}}},
        {"**unclosed", {R{"**unclosed"}}},
        {"snake_case_name", {R{"snake_case_name"}}},
        {"\\*literal\\*", {R{"*literal*"}}},
        {"***both***", {R{"both", true, true}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseInlineMarkdown(c.text), c.runs) << c.text;
    }
    EXPECT_EQ(plainText(parseInlineMarkdown("a **b** [c](d)")), "a b c");
}

// Each unclosed marker used to rescan the rest of the text: 400,000 brackets took minutes.
TEST(MarkdownTest, LongRunsOfUnclosedMarkersStayPlainText) {
    for (const std::string unit : {"[", "[a](", "[a] "}) {
        std::string text;
        while (text.size() < 400'000) {
            text += unit;
        }
        const auto runs = parseInlineMarkdown(text);
        ASSERT_EQ(runs.size(), 1u) << unit;
        EXPECT_EQ(runs.front().text, text) << unit;
    }
}

TEST(MarkdownTest, SplitsADocumentIntoItsBlocks) {
    using K = MarkdownBlock::Kind;
    const auto heading = [](int level, std::string text) {
        return MarkdownBlock{K::heading, std::move(text), level, {}};
    };
    const auto block = [](K kind, std::string text) {
        return MarkdownBlock{kind, std::move(text)};
    };
    const auto table = [](std::vector<std::vector<std::string>> rows) {
        return MarkdownBlock{K::table, "", 0, std::move(rows)};
    };
    struct Case {
        const char* text;
        std::vector<MarkdownBlock> blocks;
    };
    const Case cases[] = {
        {"", {}},
        {"\n \n\t\n", {}},
        {"# One\n###### Six  \n####### seven\n#tag",
         {heading(1, "One"), heading(6, "Six"), block(K::paragraph, "####### seven #tag")}},
        {"a **b**\r\n  c\n\nd", {block(K::paragraph, "a **b** c"), block(K::paragraph, "d")}},
        {"text\n## Head\nmore",
         {block(K::paragraph, "text"), heading(2, "Head"), block(K::paragraph, "more")}},
        {"- item\n    code?", {block(K::paragraph, "- item code?")}},
        {"```sh\n  a | b\n\n# not a heading\n```\n> note\n> goes on\n\nafter",
         {block(K::code, "  a | b\n\n# not a heading"), block(K::quote, "note goes on"),
          block(K::paragraph, "after")}},
        {"```\n\nfirst line empty\n```", {block(K::code, "\nfirst line empty")}},
        {"```\nnever closed\n\nstill code", {block(K::code, "never closed\n\nstill code")}},
        {"```\n```", {block(K::code, "")}},
        {"| A | B |\n|---|:-:|\n|  x |  |\n| y | z | w\n",
         {table({{"A", "B"}, {"x", ""}, {"y", "z", "w"}})}},
        {"para\n| A |\n>q", {block(K::paragraph, "para"), table({{"A"}}), block(K::quote, "q")}},
    };
    for (const auto& c : cases) {
        const auto blocks = parseMarkdownBlocks(c.text);
        EXPECT_EQ(blocks, c.blocks) << c.text;
    }
}

}  // namespace
}  // namespace orvel::ui
