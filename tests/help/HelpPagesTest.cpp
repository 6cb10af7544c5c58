#include "help/HelpPages.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/Preferences.h"
#include "core/SleepOptions.h"
#include "devices/InputBlocker.h"
#include "foundation/AppInfo.h"
#include "foundation/Localization.h"
#include "help/Contacts.h"
#include "help/HelpSection.h"
#include "platform/sim/SimPlatform.h"
#include "support/Catalogues.h"
#include "support/UiTest.h"
#include "triggers/WakeHelperClient.h"
#include "ui/HeadlessHost.h"
#include "ui/Inspector.h"
#include "ui/ViewComponent.h"

namespace orvel::help {
namespace {

using enum HelpSection;

std::string machine() {
    utsname name{};
    ::uname(&name);
    return name.machine;
}

class Page final : public ui::ViewComponent {
  public:
    Page(Services& services, HelpSection section) : services_(services), section_(section) {}
    ui::View body() override { return services_.helpPages().pageBody(section_); }

  private:
    Services& services_;
    HelpSection section_;
};

void walk(const ui::Node& node, const std::function<void(const ui::Node&)>& visit) {
    visit(node);
    for (const auto& child : node.children) {
        walk(child.node(), visit);
    }
}

// The texts a block holds as written: keys with their Markdown, commands and notes.
std::vector<std::string> rawTexts(const ui::View& block) {
    std::vector<std::string> texts;
    walk(block.node(), [&](const ui::Node& n) {
        if (n.kind == ui::NodeKind::text) {
            texts.push_back(n.text);
        }
    });
    return texts;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& t : texts) {
        out += t + "\n";
    }
    return out;
}

const ui::Node* copyButton(const ui::View& block) {
    const ui::Node* found = nullptr;
    walk(block.node(), [&](const ui::Node& n) {
        if (n.kind == ui::NodeKind::button && n.accessibilityLabel == "Copy") {
            found = &n;
        }
    });
    return found;
}

// A heading is its text with the space above it; nothing else starts that way.
bool isHeading(const ui::View& block) {
    const auto& n = block.node();
    return n.kind == ui::NodeKind::padding && n.children.size() == 1 &&
           n.children[0].node().kind == ui::NodeKind::text;
}

std::vector<std::string> marks(const ui::View& row) {
    std::vector<std::string> out;
    walk(row.node(), [&](const ui::Node& n) {
        if (n.kind == ui::NodeKind::image) {
            out.push_back(n.systemImage);
        }
    });
    return out;
}

// Where Orvel's caffeinate is in these tests: never at the path the panel's command names.
constexpr const char* kOwnCaffeinate = "/usr/libexec/orvel/caffeinate";

class HelpPagesTest : public test::UiTest {
  protected:
    // The window goes before the host it belongs to.
    void TearDown() override {
        window.reset();
        UiTest::TearDown();
    }
    void SetUp() override {
        test::UiTest::SetUp();
        sim().processes().setStandIn(kCaffeinatePath, kOwnCaffeinate);
    }
    std::string resources() { return sim().paths().resourcesDirectory(); }
    std::vector<ui::View> blocks(HelpSection section) {
        const ui::View page = services().helpPages().pageBody(section);
        return page.node().children;
    }
    std::string dump(HelpSection section) {
        window = host().makeWindow();
        window->setContent(std::make_shared<Page>(services(), section));
        window->makeKeyAndOrderFront();
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window).inspect().dump();
    }
    std::vector<std::string> shownTexts(HelpSection section) {
        dump(section);
        return static_cast<ui::HeadlessWindow&>(*window).inspect().texts();
    }
    // The marks of the feature table's rows, in order.
    std::vector<std::vector<std::string>> featureMarks() {
        const auto table = blocks(permissions).at(1);
        EXPECT_EQ(table.node().kind, ui::NodeKind::padding);
        const auto& stack = table.node().children.at(0).node();
        std::vector<std::vector<std::string>> out;
        for (const auto& row : stack.children) {
            // Every row has no symbol but its mark.
            out.push_back(marks(row));
        }
        return out;
    }

    std::unique_ptr<ui::Window> window;
};

const std::vector<HelpSection> kTextPages{
    whatItDoes,  theMenu,   sleepSwitches,   deviceSwitches, durations,
    triggers,    drives,    batteryPower,    permissions,    commandLine,
    persistence, shortcuts, troubleshooting, accessibility,  languages};

// A translated page under help/<language>/ is read in that language, every other page in
// English; the sidebar finds pages by their translated titles and still by the English keywords.
TEST_F(HelpPagesTest, PagesReadInTheTextsLanguageWhereTranslatedAndInEnglishElsewhere) {
    test::writeTranslatedHelpPage(resources(), "de", "languages",
                                  "Orvel folgt der Sprache **deines** Desktops.\n");
    const auto english = shownTexts(languages);
    ASSERT_FALSE(english.empty());

    const test::ScopedLanguage german(ORVEL_TEST_LOCALE, "de");
    EXPECT_EQ(shownTexts(languages),
              std::vector<std::string>{"Orvel folgt der Sprache deines Desktops."});
    EXPECT_EQ(shownTexts(durations), [&] {
        const test::ScopedLanguage back(ORVEL_TEST_LOCALE, "en");
        return shownTexts(durations);
    }()) << "a page without a translation reads in English";
    EXPECT_EQ(filterHelpSections("sprach"), std::vector<HelpSection>{languages});
    EXPECT_EQ(filterHelpSections("translation"), std::vector<HelpSection>{languages});
}

// Every language shipped has every page, and each reads as a page, not as the line that says it
// could not be shown.
TEST_F(HelpPagesTest, EveryShippedTranslationHasEveryPageAndEachReads) {
    namespace fs = std::filesystem;
    const std::string help = std::string(ORVEL_RESOURCES) + "/help";
    std::vector<std::string> english;
    for (const auto& entry : fs::directory_iterator(help)) {
        if (entry.is_regular_file()) {
            english.push_back(entry.path().filename().string());
        }
    }
    std::sort(english.begin(), english.end());
    int languagesSeen = 0;
    for (const auto& folder : fs::directory_iterator(help)) {
        if (!folder.is_directory()) {
            continue;
        }
        const std::string language = folder.path().filename().string();
        SCOPED_TRACE(language);
        ++languagesSeen;
        std::vector<std::string> pages;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            pages.push_back(entry.path().filename().string());
        }
        std::sort(pages.begin(), pages.end());
        EXPECT_EQ(pages, english);
        const test::ScopedLanguage scoped(ORVEL_TEST_LOCALE, language);
        for (const HelpSection section : kTextPages) {
            const auto texts = shownTexts(section);
            ASSERT_GT(texts.size(), 2u) << rawValue(section);
            EXPECT_EQ(texts.front().rfind("This page could not be shown", 0), std::string::npos)
                << rawValue(section) << ": " << texts.front();
        }
    }
    EXPECT_GT(languagesSeen, 0);
}

// The page in place of a file that is missing, unreadable or not understood: one line in words,
// the reason logged, and the other pages unharmed.
TEST_F(HelpPagesTest, APageWhoseFileCannotBeUsedSaysWhyInOneLine) {
    namespace fs = std::filesystem;
    const std::string folder = sim().paths().resourcesDirectory() + "/help";
    fs::remove(folder);
    fs::copy(std::string(ORVEL_RESOURCES) + "/help", folder);
    struct Case {
        HelpSection section;
        std::function<void(const std::string& path)> spoil;
        std::string before;  // the path
        std::string after;
    };
    const auto write = [](const std::string& text) {
        return [text](const std::string& path) { std::ofstream(path, std::ios::binary) << text; };
    };
    const Case cases[] = {
        {durations, [](const std::string& path) { fs::remove(path); }, "Could not open ",
         ": No such file or directory"},
        {acknowledgments, [](const std::string& path) { fs::remove(path); }, "Could not open ",
         ": No such file or directory"},
        {drives,
         [](const std::string& path) {
             fs::remove(path);
             fs::create_directory(path);
         },
         "Could not read ", ": Is a directory"},
        {shortcuts, write(std::string(300 * 1024, 'a')), "Could not read ",
         ": it is too large (300 KiB, over the limit of 256 KiB)"},
        {languages, write("Text\n\n| Name | Value | Unit | Note |\n|-|-|-|-|\n| a | b | c | d |\n"),
         "", ": a table must have 3 columns (feature, permission, granted) or 2 (without, loss)"},
        {permissions, write("| Feature | Permission | Granted |\n|-|-|-|\n| a | b | {{x}} |\n"), "",
         ": no mark is called “{{x}}”"},
        {permissions, write("| Feature | Permission | Granted |\n|-|-|-|\n| a | b |\n"), "",
         ": a row of the feature table does not have 3 cells"},
        {permissions, write("| Without | Loss |\n|-|-|\n| a |\n"), "",
         ": a row of the table of losses does not have 2 cells"},
        {troubleshooting, write("Text\n\n> a quote alone\n"), "",
         ": a quote stands only under a command, as its note"},
        {accessibility, write("Text\n\n{{components}}\n"), "",
         ": no part of this page is called “{{components}}”"},
        {batteryPower, write("\n \n"), "", ": the page is empty"},
    };
    for (const auto& c : cases) {
        const std::string path = services().helpPages().pagePath(c.section);
        SCOPED_TRACE(path);
        fs::copy_file(
            std::string(ORVEL_RESOURCES) + "/help/" + std::string(rawValue(c.section)) + ".md",
            path + ".saved", fs::copy_options::overwrite_existing);
        c.spoil(path);
        const std::string why = c.before + path + c.after;
        EXPECT_EQ(shownTexts(c.section),
                  std::vector<std::string>{"This page could not be shown. " + why + "."});
        const auto& records = sim().log().records();
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.back().level, LogLevel::Error);
        EXPECT_EQ(records.back().message,
                  "Help page " + std::string(rawValue(c.section)) + ": " + why);
        EXPECT_GT(shownTexts(whatItDoes).size(), 5u) << "another page";
        fs::remove_all(path);
        fs::rename(path + ".saved", path);
    }
    for (const HelpSection section : allCases<HelpSection>()) {
        EXPECT_GT(shownTexts(section).size(), 3u) << rawValue(section) << " restored";
    }
}

TEST_F(HelpPagesTest, EveryPageIsOneLeadingStackOfItsBlocksAtItsSpacing) {
    struct Case {
        HelpSection section;
        std::size_t blocks;
        double spacing;
    };
    for (const auto& c :
         {Case{whatItDoes, 8, 14}, Case{theMenu, 15, 14}, Case{sleepSwitches, 13, 14},
          Case{deviceSwitches, 11, 14}, Case{durations, 11, 14}, Case{triggers, 30, 14},
          Case{drives, 9, 14}, Case{batteryPower, 14, 14}, Case{permissions, 19, 14},
          Case{commandLine, 27, 14}, Case{persistence, 15, 14}, Case{shortcuts, 9, 14},
          Case{troubleshooting, 63, 16}, Case{accessibility, 9, 14}, Case{languages, 6, 14}}) {
        const ui::View page = services().helpPages().pageBody(c.section);
        EXPECT_EQ(page.node().kind, ui::NodeKind::vstack) << rawValue(c.section);
        EXPECT_EQ(page.node().hAlign, ui::HAlign::leading) << rawValue(c.section);
        EXPECT_EQ(page.node().spacing, c.spacing) << rawValue(c.section);
        EXPECT_EQ(page.node().children.size(), c.blocks) << rawValue(c.section);
    }
}

// Compares a page's dump with tests/data/help/<case>.txt, the build's architecture standing
// there as "{arch}" and the resources folder as "{resources}". ORVEL_UPDATE_GOLDEN=1 writes the
// files instead.
TEST_F(HelpPagesTest, EachPageDumpsAsItsGoldenFile) {
    const auto replaceAll = [](std::string& text, const std::string& from, const std::string& to) {
        for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
            text.replace(at, from.size(), to);
        }
    };
    for (const HelpSection section : kTextPages) {
        std::string text = dump(section);
        replaceAll(text, "this build is for " + machine() + ".", "this build is for {arch}.");
        replaceAll(text, resources(), "{resources}");
        const std::string path =
            std::string(ORVEL_TEST_DATA) + "/help/" + std::string(rawValue(section)) + ".txt";
        if (std::getenv("ORVEL_UPDATE_GOLDEN") != nullptr) {
            std::ofstream(path, std::ios::binary) << text;
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << "missing golden file " << path;
        std::ostringstream golden;
        golden << in.rdbuf();
        EXPECT_EQ(text, golden.str()) << rawValue(section);
    }
}

TEST_F(HelpPagesTest, HeadingsAreQuotedWholeAndStandWhereTheyBelong) {
    struct Case {
        HelpSection section;
        std::vector<std::size_t> at;  // counted from 1
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {sleepSwitches,
         {2, 4, 6, 8, 10, 12},
         {"Prevent Display Sleep — `-d`", "Prevent Idle Sleep — `-i`", "Prevent Disk Sleep — `-m`",
          "Prevent System Sleep — `-s`", "Declare User Active — `-u`", "Sleep All Displays"}},
        {durations,
         {2, 4, 6, 8, 10},
         {"Indefinitely", "Preset lengths", "Custom…", "Until an app quits",
          "Launch an app and caffeinate until it exits"}},
        {drives,
         {2, 4, 6, 8},
         {"Choosing drives", "Always is passive", "Network shares", "The global disk flag"}},
        {permissions,
         {3, 6, 9, 11, 13, 15, 18},
         {"Orvel asks for nothing until you ask it to", "If you grant nothing at all",
          "The global shortcut", "Scanning devices", "Declining one permission at a time",
          "Granting them", "Taking them back"}},
        {troubleshooting,
         {1, 4, 12, 14, 16, 18, 20, 22, 25, 27, 29, 31, 33, 35, 37, 39, 41, 43, 45, 48, 51, 58, 62},
         {"The computer still sleeps",
          "Built-in keyboard or trackpad won't disable",
          "The cursor still moves",
          "Gestures still work",
          "Keyboard backlight doesn't respond",
          "The screen or backlight comes back briefly",
          "Built-in display switch does nothing",
          "A switch does nothing and never asks for permission",
          "Settings shows Not granted after I granted it",
          "I never saw the explanation about permissions",
          "The password dialog never appeared",
          "A rule never fires",
          "An end event was ignored",
          "An SSID rule never matches",
          "A share keeps going OFFLINE",
          "Prevent Disk Sleep turned itself off",
          "A battery rule ended the session and it never came back",
          "The UPS section is greyed out",
          "Orvel won't start",
          "Something is stuck",
          "Reporting a problem",
          "Reading the self-test",
          "If you'd rather use a terminal"}},
        {accessibility,
         {2, 4, 6, 8},
         {"What follows your desktop automatically", "Screen readers", "The safety countdown",
          "Keyboard"}},
        {languages,
         {3, 5},
         {"What stays in English on purpose", "Spotted an awkward translation?"}},
    };
    for (const auto& c : cases) {
        const auto page = blocks(c.section);
        std::vector<std::size_t> at;
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < page.size(); ++i) {
            if (isHeading(page[i])) {
                at.push_back(i + 1);
                texts.push_back(rawTexts(page[i]).at(0));
            }
        }
        EXPECT_EQ(at, c.at) << rawValue(c.section);
        EXPECT_EQ(texts, c.texts) << rawValue(c.section);
    }
}

// Every command of the three pages with one, in page order, with its note.
struct Command {
    std::size_t block;
    std::string command;
    std::optional<std::string> note;
};

std::vector<Command> expectedCommands(HelpSection section, const std::string& resources) {
    const std::string caffeinate = kOwnCaffeinate;
    const std::string removeRule = "pkexec " + resources + "/orvel-input-access --remove";
    const std::string defaults = "\"${XDG_CONFIG_HOME:-$HOME/.config}/orvel/defaults.json\"";
    switch (section) {
        case permissions:
            return {{19, removeRule,
                     "Removes Orvel's udev rule: Input device access and Input device control go "
                     "with it. Quit Orvel first. Someone in the input group keeps both until they "
                     "leave it (sudo gpasswd -d $USER input, then log out and in again)."}};
        case commandLine:
            return {
                {3, caffeinate + " -d", "Prevent display sleep until you press Ctrl+C."},
                {4, caffeinate + " -dimsu",
                 "Everything at once: display, idle, disk, system, and declare user active."},
                {5, caffeinate + " -d -t 3600", "Prevent display sleep for one hour, then exit."},
                {6, caffeinate + " -w 4242", "Stay awake until process 4242 exits."},
                {7,
                 "systemd-inhibit --what=idle:sleep --who=Orvel --why=\"Copying files\" cp -r "
                 "~/Videos /media/backup/",
                 "Run a program and keep the computer awake for exactly as long as it runs (idle "
                 "and system sleep; the display is the screen saver's and needs caffeinate -d)."},
                {9, "pgrep -x cp", "Prints the process ID of a running program by name."},
                {11, "systemd-inhibit --list",
                 "Lists every logind inhibitor lock and which program holds it. Orvel's appear "
                 "with WHO Orvel and WHAT idle or sleep; the screen saver's inhibit for the "
                 "display is not listed there."},
                {12, "journalctl -b -g \"suspend|sleep|wake\"",
                 "Sleep and wake history since this boot. The system's messages need membership "
                 "of the adm or systemd-journal group."},
                {14, "xset dpms force off",
                 "Blank every display immediately (X11). Equivalent to Orvel's Sleep All "
                 "Displays."},
                {16, "journalctl -f -t orvel",
                 "Live log of what Orvel is doing — engine starts, input devices switched off, "
                 "backlight changes."},
                {17, "cat " + defaults, "Print every stored preference."},
                {18, "rm " + defaults,
                 "Factory wipe from a terminal: every stored preference goes. Quit Orvel first."},
                {20, "ls -l /etc/udev/rules.d/70-orvel-input.rules",
                 "Shows whether Orvel's udev rule is installed."},
                {21, "pkexec " + resources + "/orvel-input-access",
                 "Installs it: Input device access and Input device control for the built-in "
                 "devices."},
                {22, removeRule, "Removes it — same command the Reset All Settings checkbox runs."},
                {23, "id -nG",
                 "Lists your groups: input among them grants access to every input device."},
                {26, "Orvel --version", "Prints the installed version and build."},
                {27, "file -L \"$(command -v Orvel)\"",
                 "Names the processor the program was built for; this build is for " + machine() +
                     "."},
            };
        case troubleshooting:
            return {
                {3, "systemd-inhibit --list", std::nullopt},
                {9, removeRule,
                 "Takes Orvel's udev rule out in one pass; Enable in Settings › Devices installs "
                 "it again. The other commands for it are on the Command line equivalents page."},
                {47, "Orvel", std::nullopt},
                {50, "rm " + defaults, "Nuclear option: reset every preference. Quit Orvel first."},
                {63, "journalctl -t orvel --since \"30 min ago\" > ~/orvel-log.txt", std::nullopt},
            };
        default:
            return {};
    }
}

TEST_F(HelpPagesTest, CommandsAndNotesStandAsWrittenAndCopyTheCommandAlone) {
    for (const HelpSection section : kTextPages) {
        const auto page = blocks(section);
        std::vector<std::size_t> found;
        for (std::size_t i = 0; i < page.size(); ++i) {
            if (copyButton(page[i]) != nullptr) {
                found.push_back(i + 1);
            }
        }
        const auto expected = expectedCommands(section, resources());
        std::vector<std::size_t> expectedAt;
        for (const auto& c : expected) {
            expectedAt.push_back(c.block);
        }
        ASSERT_EQ(found, expectedAt) << rawValue(section);
        for (const auto& c : expected) {
            const auto& block = page[c.block - 1];
            std::vector<std::string> texts{c.command};
            if (c.note) {
                texts.push_back(*c.note);
            }
            EXPECT_EQ(rawTexts(block), texts) << rawValue(section) << " block " << c.block;
            host().pasteboard().setString("copied before");
            copyButton(block)->action();
            EXPECT_EQ(host().pasteboard().string(), c.command);
        }
    }
}

TEST_F(HelpPagesTest, FeatureRowsMarkOnlyTheWakeHelperAndTheCachedInputPermissions) {
    using State = WakeHelperClient::State;
    const std::string granted = "checkmark.circle.fill";
    const std::string refused = "exclamationmark.circle.fill";
    auto& sim = this->sim();
    auto& client = services().wakeHelper();

    const auto expectRows = [&](const std::optional<std::string>& row4,
                                const std::optional<std::string>& rows56, const char* label) {
        const auto rows = featureMarks();
        ASSERT_EQ(rows.size(), 18u) << label;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            std::vector<std::string> want;
            if (i == 3 && row4) {
                want = {*row4};
            }
            if ((i == 4 || i == 5) && rows56) {
                want = {*rows56};
            }
            EXPECT_EQ(rows[i], want) << label << ": row " << i + 1;
        }
    };

    for (const State state :
         {State::requiresApproval, State::notInstalled, State::missingFromBundle, State::active}) {
        client.state = state;
        expectRows(state == State::active ? std::optional(granted) : std::nullopt, std::nullopt,
                   "wake helper");
    }
    client.state = State::notInstalled;

    const auto checks = sim.permissions().checkCount();
    for (int i = 0; i < 10; ++i) {
        (void)services().helpPages().pageBody(permissions);
    }
    dump(permissions);
    EXPECT_EQ(sim.permissions().checkCount(), checks) << "the page probed";
    EXPECT_FALSE(services().inputBlocker().cachedPermissions());

    struct Case {
        ListenEventAccess listen;
        bool preflight;
        bool accessibility;
        const std::string& mark;
    };
    for (const auto& c : {Case{ListenEventAccess::granted, true, true, granted},
                          Case{ListenEventAccess::granted, true, false, refused},
                          Case{ListenEventAccess::denied, false, true, refused},
                          Case{ListenEventAccess::denied, false, false, refused}}) {
        sim.permissions().setListenEvent(c.listen);
        sim.permissions().setPreflight(c.preflight);
        sim.permissions().setAccessibility(c.accessibility);
        services().inputBlocker().permissionStatus();
        expectRows(std::nullopt, c.mark, "input permissions");
    }
}

TEST_F(HelpPagesTest, PermissionMarksAreASnapshotTakenWhenTheBodyIsEvaluated) {
    dump(permissions);
    services().wakeHelper().state = WakeHelperClient::State::active;
    loop().drain();
    // Nothing observed the change: the hosted page keeps what it read.
    EXPECT_EQ(
        static_cast<ui::HeadlessWindow&>(*window).inspect().dump().find("checkmark.circle.fill"),
        std::string::npos);
    EXPECT_NE(dump(permissions).find("checkmark.circle.fill"), std::string::npos);
}

TEST_F(HelpPagesTest, TheWakeHelperRowReadsTheRegistrationAsItIsWhenThePageIsShown) {
    dump(whatItDoes);
    sim().helperService().setStatus(helper_service_status::kEnabled);
    EXPECT_NE(dump(permissions).find("checkmark.circle.fill"), std::string::npos);
}

TEST_F(HelpPagesTest, StaticPagesReadTheSameWhateverTheMachineAndTheSettings) {
    std::vector<std::string> before;
    for (const HelpSection section : kTextPages) {
        before.push_back(dump(section));
    }
    sim().powerSources().setOnAC(false);
    sim().powerSources().setLowPowerMode(true);
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    sim().permissions().setPreflight(true);
    sim().permissions().setAccessibility(true);
    services().inputBlocker().permissionStatus();
    services().wakeHelper().state = WakeHelperClient::State::active;
    services().preferences().swapMenuButtons = true;
    loop().drain();
    for (std::size_t i = 0; i < kTextPages.size(); ++i) {
        const std::string after = dump(kTextPages[i]);
        if (kTextPages[i] == permissions) {
            EXPECT_NE(after, before[i]);
        } else {
            EXPECT_EQ(after, before[i]) << rawValue(kTextPages[i]);
        }
    }
}

// A page's texts are its file's words, translated as a file: no catalogue entry replaces a
// paragraph, a command or a note.
TEST_F(HelpPagesTest, PageTextsAreTheFilesWordsAndNeverLookedUp) {
    const std::string paragraph = "No timer. Runs until you stop it.";
    Localization::shared().setTable({
        {paragraph, "Sin temporizador. **Funciona** hasta que lo detengas."},
        {std::string(kOwnCaffeinate) + " -d", "cafeína -d"},
        {"Prevent display sleep until you press Ctrl+C.", "Evita el reposo"},
    });
    const auto durationTexts = shownTexts(durations);
    EXPECT_EQ(durationTexts.at(2), paragraph);
    const auto commandTexts = shownTexts(commandLine);
    EXPECT_EQ(commandTexts.at(2), std::string(kOwnCaffeinate) + " -d");
    EXPECT_EQ(commandTexts.at(3), "Prevent display sleep until you press Ctrl+C.");
}

TEST_F(HelpPagesTest, StyledSpansShowWithoutTheirMarkers) {
    struct Case {
        HelpSection section;
        std::size_t text;  // index among the shown texts
        const char* shown;
    };
    for (const auto& c : {
             Case{sleepSwitches, 1, "Prevent Display Sleep — -d"},
             Case{shortcuts, 1,
                  "Meta+Ctrl+Alt+C (Meta is the Super or Windows key) toggles Orvel from anywhere "
                  "— off by default. Turn it on in Settings › General. It is an X11 key grab, "
                  "which needs no permission; on Wayland no application may grab a key, so there "
                  "it does nothing yet."},
             Case{durations, 4, "15 minutes through 5 hours. Each becomes -t seconds."},
         }) {
        EXPECT_EQ(shownTexts(c.section).at(c.text), c.shown) << rawValue(c.section);
    }
    const std::string drivesDump = dump(drives);
    EXPECT_NE(drivesDump.find("Turn -m back on"), std::string::npos);
    EXPECT_EQ(drivesDump.find("−m"), std::string::npos);
    const std::string batteryDump = dump(batteryPower);
    EXPECT_NE(batteryDump.find("global −m flag"), std::string::npos);
    EXPECT_EQ(batteryDump.find("-m "), std::string::npos);
}

TEST_F(HelpPagesTest, AddressesAreMailtoLinksFromTheContacts) {
    const auto feedback = joined(rawTexts(blocks(troubleshooting).at(52)));
    EXPECT_NE(
        feedback.find(std::string("[") + kFeedbackAddress + "](mailto:" + kFeedbackAddress + ")"),
        std::string::npos);
    const auto support = joined(rawTexts(blocks(languages).at(5)));
    EXPECT_NE(
        support.find(std::string("[") + kSupportAddress + "](mailto:" + kSupportAddress + ")"),
        std::string::npos);
}

TEST_F(HelpPagesTest, SearchReadsTitlesAndKeywordsNeverThePagesTexts) {
    // Words that stand only in the pages' texts.
    for (const char* word : {"gpasswd", "Videos", "UPower", "Bokmål"}) {
        EXPECT_TRUE(filterHelpSections(word).empty()) << word;
    }
}

}  // namespace
}  // namespace orvel::help
