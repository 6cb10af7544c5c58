#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "core/ActivityLog.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "foundation/Localization.h"
#include "foundation/RawEnum.h"
#include "help/Contacts.h"
#include "help/HelpSection.h"
#include "menubar/MainMenu.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticReport.h"
#include "reports/PermissionAudit.h"
#include "reports/SelfTest.h"
#include "settings/SettingsView.h"
#include "support/Catalogues.h"
#include "support/SessionTest.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerTestSupport.h"
#include "ui/Markdown.h"

namespace orvel {
namespace {

using ui::Node;
using ui::NodeKind;
using ui::View;

// Words of another system that no text of Orvel may use. "Mac", Dock and Finder are whole words
// with their capital, so a redacted "MAC address", a model id such as "MacBookPro18,3" and a USB
// dock do not count; the others are matched in any case. The reports, read by support, may name
// the platform layer's assertion types and result codes; nothing else a user reads may.
struct MacWord {
    const char* name;
    std::regex pattern;
    bool inReports = true;
};

const std::vector<MacWord>& macWords() {
    const auto icase = std::regex::ECMAScript | std::regex::icase;
    static const std::vector<MacWord> words{
        {"Mac", std::regex(R"(\bMac\b)")},
        {"macOS", std::regex(R"(macOS)", icase)},
        {"\u2318", std::regex("\u2318")},
        {"Dock", std::regex(R"(\bDock\b)")},
        {"System Settings", std::regex(R"(System Settings)", icase)},
        {"IOKit", std::regex(R"(IOKit)", icase)},
        {"tccutil", std::regex(R"(tccutil)", icase)},
        {"pmset", std::regex(R"(\bpmset\b)", icase)},
        {"Location Services", std::regex(R"(Location Services)", icase)},
        {"Apple silicon", std::regex(R"(Apple silicon)", icase)},
        {"Finder", std::regex(R"(\bFinder\b)")},
        {"Xcode", std::regex(R"(Xcode)", icase)},
        {"Sparkle", std::regex(R"(\bSparkle\b)", icase)},
        {"stays orvel", std::regex(R"(\bstays orvel\b)", icase)},
        {"Stay orvel", std::regex(R"(\bstay orvel\b)", icase)},
        {"translucent material", std::regex(R"(translucent material)", icase)},
        {"assertion name",
         std::regex(
             R"(\bPrevent(UserIdleSystemSleep|UserIdleDisplaySleep|SystemSleep|DiskIdle)\b)"),
         false},
        {"result code", std::regex(R"(\b0x[eE]00002[0-9a-fA-F]{2}\b)"), false},
    };
    return words;
}

std::vector<std::string> macWordsIn(const std::string& text, bool report = false) {
    std::vector<std::string> found;
    for (const auto& word : macWords()) {
        if ((!report || word.inReports) && std::regex_search(text, word.pattern)) {
            found.emplace_back(word.name);
        }
    }
    return found;
}

// Whether a shown text is one the catalogues know: a key as it stands, or a key whose
// placeholders hold known texts, numbers or the names of things the test made. A text put
// together in code, or handed up bare by the platform layer, is known to none and stays English
// in every language.
class KnownTexts {
  public:
    explicit KnownTexts(const std::map<std::string, test::PoEntry>& template_) {
        for (const auto& [key, entry] : template_) {
            add(key);
            if (entry.msgidPlural) {
                add(*entry.msgidPlural);
            }
        }
    }
    void addName(const std::string& name) { names_.insert(name); }

    bool knows(std::string_view text, int depth = 0) const {
        if (keys_.contains(std::string(text)) || names_.contains(std::string(text)) ||
            isData(text)) {
            return true;
        }
        if (depth > 2) {
            return false;
        }
        if (std::any_of(patterns_.begin(), patterns_.end(),
                        [&](const Pattern& pattern) { return matches(text, pattern, 0, depth); })) {
            return true;
        }
        // Parts joined by a sign every language reads alike.
        for (const std::string_view joiner : {" \u00b7 ", " \u2192 "}) {
            for (auto at = text.find(joiner); at != std::string_view::npos;
                 at = text.find(joiner, at + 1)) {
                if (knows(text.substr(0, at), depth + 1) &&
                    knows(text.substr(at + joiner.size()), depth + 1)) {
                    return true;
                }
            }
        }
        return false;
    }

  private:
    // Numbers, times, key combinations and command lines (the command preview stays a real
    // command line).
    static bool isData(std::string_view text) {
        static const std::regex data(R"([-/].*|(Ctrl|Alt|Shift|Super)\+.*|\d{1,2}:\d\d( [AP]M)?)");
        return std::none_of(text.begin(), text.end(),
                            [](unsigned char c) { return std::isalpha(c) != 0; }) ||
               std::regex_match(text.begin(), text.end(), data);
    }

    // A key's literal pieces; a placeholder stands between each two.
    using Pattern = std::vector<std::string>;

    void add(const std::string& key) {
        const std::string plain = ui::plainText(ui::parseInlineMarkdown(key));
        static const std::regex placeholder(R"(%(\d+\$)?(@|lld))");
        std::vector<std::string> pieces;
        std::size_t from = 0;
        for (std::sregex_iterator it(plain.begin(), plain.end(), placeholder), end; it != end;
             ++it) {
            pieces.push_back(plain.substr(from, it->position() - from));
            from = it->position() + it->length();
        }
        pieces.push_back(plain.substr(from));
        if (pieces.size() == 1) {
            keys_.insert(std::regex_replace(plain, std::regex("%%"), "%"));
        } else {
            patterns_.push_back(std::move(pieces));
        }
    }
    bool matches(std::string_view text, const Pattern& pattern, std::size_t piece,
                 int depth) const {
        const std::string& literal = pattern[piece];
        if (!text.starts_with(literal)) {
            return false;
        }
        text.remove_prefix(literal.size());
        if (piece + 1 == pattern.size()) {
            return text.empty();
        }
        // The argument runs to some later place where the next piece starts.
        for (std::size_t end = 0; end <= text.size(); ++end) {
            if (matches(text.substr(end), pattern, piece + 1, depth) &&
                knows(text.substr(0, end), depth + 1)) {
                return true;
            }
        }
        return false;
    }

    std::set<std::string> keys_;
    std::set<std::string> names_;
    std::vector<Pattern> patterns_;
};

// Every text shown, each once, with the first place it was seen.
class ShownTexts {
  public:
    void add(const std::string& where, const std::string& text) {
        if (!text.empty() && seen_.insert(text).second) {
            texts_.push_back({where, text});
        }
        ++counts_[where];
    }
    void addLines(const std::string& where, const std::string& text) {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            add(where, line);
        }
    }
    void addKey(const std::string& where, const std::string& key) { add(where, localized(key)); }

    // Every text of a view tree a user can read or hear: texts, titles, tool tips, accessibility
    // texts, menu items and tab titles.
    void addTree(const std::string& where, const View& view) {
        const Node& n = view.node();
        switch (n.kind) {
            case NodeKind::text:
            case NodeKind::label:
            case NodeKind::labeledContent:
                add(where,
                    n.verbatim ? n.text : ui::plainText(ui::parseInlineMarkdown(ui::rawText(n))));
                break;
            default:
                if (!n.text.empty()) {
                    add(where, n.verbatim ? n.text : localized(n.text));
                }
        }
        for (const auto* key : {&n.help, &n.accessibilityHint}) {
            if (*key) {
                addKey(where, **key);
            }
        }
        add(where, ui::accessibilityLabelOf(n));
        add(where, ui::accessibilityValueOf(n));
        auto items = n.menuItems;
        if (n.menuContent) {
            const auto more = n.menuContent();
            items.insert(items.end(), more.begin(), more.end());
        }
        for (const auto& item : items) {
            add(where, item.verbatim ? item.title : localized(item.title));
        }
        for (const auto& tab : n.tabs) {
            addKey(where, tab.title);
        }
        if (n.header) {
            addTree(where, *n.header);
        }
        // Only the page shown: every page is visited by choosing it.
        const bool tabs = n.kind == NodeKind::tabView && n.textBinding.get;
        for (std::size_t i = 0; i < n.children.size(); ++i) {
            if (!tabs || (i < n.tabs.size() && n.tabs[i].tag == n.textBinding.get())) {
                addTree(where, n.children[i]);
            }
        }
        if (n.footer) {
            addTree(where, *n.footer);
        }
    }

    std::vector<std::string> all() const {
        std::vector<std::string> out;
        for (const auto& [where, text] : texts_) {
            out.push_back(text);
        }
        return out;
    }

    // "where: text" for each text no catalogue knows; the help pages are files of their own.
    std::vector<std::string> unknownTo(const KnownTexts& known) const {
        std::vector<std::string> out;
        for (const auto& [where, text] : texts_) {
            if (!where.starts_with("Help page") && !known.knows(text)) {
                out.push_back(where + ": \"" + text + "\"");
            }
        }
        return out;
    }

    // How many texts (repeats included) a place showed.
    int countAt(const std::string& where) const {
        const auto it = counts_.find(where);
        return it == counts_.end() ? 0 : it->second;
    }

    // "where: text [words]" for each text with a word of another system.
    std::vector<std::string> offenders(bool reports) const {
        std::vector<std::string> out;
        for (const auto& [where, text] : texts_) {
            const auto words = macWordsIn(text, reports);
            if (!words.empty()) {
                std::string line = where + ": \"" + text + "\" [";
                for (std::size_t i = 0; i < words.size(); ++i) {
                    line += (i ? ", " : "") + words[i];
                }
                out.push_back(line + "]");
            }
        }
        return out;
    }

  private:
    struct Shown {
        std::string where;
        std::string text;
    };
    std::vector<Shown> texts_;
    std::set<std::string> seen_;
    std::map<std::string, int> counts_;
};

void expectNoMacWords(const ShownTexts& shown, bool reports = false) {
    const auto offenders = shown.offenders(reports);
    std::string listing;
    for (const auto& line : offenders) {
        listing += "  " + line + "\n";
    }
    EXPECT_TRUE(offenders.empty()) << offenders.size() << " texts speak of another system:\n"
                                   << listing;
}

TEST(MacWordsTest, WholeWordsWithTheirCapitalAndPhrasesInAnyCase) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"Keeps this Mac awake", {"Mac"}},
        {"your Mac's display", {"Mac"}},
        {"MAC address <redacted>", {}},
        {"model MacBookPro18,3", {}},
        {"machine", {}},
        {"needs MACOS 14", {"macOS"}},
        {"Open Settings (\u2318,)", {"\u2318"}},
        {"Show in Dock", {"Dock"}},
        {"a USB dock is docked", {}},
        {"Open system settings", {"System Settings"}},
        {"IOKit error", {"IOKit"}},
        {"run tccutil reset", {"tccutil"}},
        {"pmset -g assertions", {"pmset"}},
        {"location services", {"Location Services"}},
        {"Apple Silicon", {"Apple silicon"}},
        {"Reveal in Finder", {"Finder"}},
        {"pathfinder", {}},
        {"/Applications/Xcode.app", {"Xcode"}},
        {"the Sparkle package", {"Sparkle"}},
        {"System stays orvel while idle", {"stays orvel"}},
        {"Stay Orvel for", {"Stay orvel"}},
        {"Stay awake for; Orvel stays in the tray", {}},
        {"replaces the system's translucent material", {"translucent material"}},
        {"could not take PreventUserIdleSystemSleep (error 0xe00002c7)",
         {"assertion name", "result code"}},
        {"PreventDiskIdle held", {"assertion name"}},
        {"logind is not running on this system.", {}},
    };
    for (const auto& [text, words] : cases) {
        EXPECT_EQ(macWordsIn(text), words) << text;
    }
}

// Every key looked up while the guard's places are built: the keys the program shows. With
// ORVEL_SHOWN_KEYS set, they are written there, one C-escaped key a line, for scripts/update-po.
class ShownKeys : public ::testing::Environment {
  public:
    // Each test's registry is new: its fixture tells the new Localization, and keeps the
    // test's own keys in `test`.
    static void observe(std::set<std::string>& test) {
        Localization::shared().setLookupObserver([&test](std::string_view key) {
            if (!key.empty()) {  // an empty text, not a key
                keys_.emplace(key);
                test.emplace(key);
            }
        });
    }
    void TearDown() override {
        const char* path = std::getenv("ORVEL_SHOWN_KEYS");
        if (path == nullptr || *path == '\0') {
            return;
        }
        std::ofstream out(path);
        for (const auto& key : keys_) {
            out << escaped(key) << '\n';
        }
    }
    static std::string escaped(const std::string& key) {
        std::string out;
        for (const char c : key) {
            switch (c) {
                case '\n':
                    out += "\\n";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                default:
                    out += c;
            }
        }
        return out;
    }

  private:
    static inline std::set<std::string> keys_;
};

const auto* const kShownKeys = ::testing::AddGlobalTestEnvironment(new ShownKeys);

class WordingGuardTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
        ShownKeys::observe(keys);
        AppWindows::current() = delegate.get();
        sim().powerSources().setOnAC(true);
    }
    void TearDown() override {
        AppWindows::current() = nullptr;
        delegate.reset();
        SessionTest::TearDown();
    }

    ui::HeadlessWindow& headless(const std::unique_ptr<ui::Window>& window) {
        return static_cast<ui::HeadlessWindow&>(*window);
    }
    void addWindow(const std::string& where, const std::unique_ptr<ui::Window>& window) {
        loop().drain();
        ASSERT_TRUE(window) << where;
        shown.add(where, window->title());
        shown.addTree(where, headless(window).viewHost()->tree());
    }
    void addPanel(const std::string& where) {
        statusItem().showPopover();
        loop().drain();
        auto& popover = static_cast<ui::HeadlessPopover&>(statusItem().popover());
        shown.addTree(where, popover.viewHost()->tree());
        const auto& look = statusItem().item().look();
        for (const auto* text : {&look.title, &look.toolTip, &look.accessibilityLabel,
                                 &look.accessibilityValue, &look.symbolDescription}) {
            shown.add(where + " (tray icon)", *text);
        }
        popover.close();
        loop().drain();
    }
    void addSettings(const std::string& where) {
        delegate->openSettings();
        for (const std::int64_t tab :
             {SettingsView::kGeneralTab, SettingsView::kAutomationsTab, SettingsView::kDevicesTab,
              SettingsView::kDrivesTab, SettingsView::kAdvancedTab,
              SettingsView::kTroubleshootingTab}) {
            sim().userDefaults().setInteger(SettingsView::kTabKey, tab);
            addWindow(where + " tab " + std::to_string(tab), delegate->settingsWindow);
        }
        sim().userDefaults().setInteger(SettingsView::kTabKey, SettingsView::kAutomationsTab);
        for (std::int64_t sub = 0; sub <= 5; ++sub) {
            sim().userDefaults().setInteger(SettingsView::kSubTabKey, sub);
            addWindow(where + " automations sub-tab " + std::to_string(sub),
                      delegate->settingsWindow);
        }
    }
    void addReports(const std::string& state) {
        const auto report = services().diagnosticReport().forSupport(false, false);
        ASSERT_TRUE(report) << state;
        shown.addLines("diagnostic report, " + state, *report);
        const auto redacted = services().diagnosticReport().forSupport(false, true);
        ASSERT_TRUE(redacted) << state;
        shown.addLines("redacted diagnostic report, " + state, *redacted);
        shown.addLines("permission audit, " + state, services().permissionAudit().reportSections());
        shown.addLines("self-test, " + state, services().selfTest().selfTest());
        shown.addLines("conflicts report, " + state, services().conflictsReport().text());
    }
    void addMenuBar(const std::string& where, const std::vector<ui::MenuBarItem>& items) {
        for (const auto& item : items) {
            shown.add(where, item.title);
            addMenuBar(where + " \u203A " + item.title, item.submenu);
        }
    }
    // The alerts, notifications, activity entries and announcements so far.
    void addMessages() {
        for (const auto& alert : host().alerts()) {
            const auto& c = alert->content();
            shown.add("alert", c.messageText);
            shown.add("alert \"" + c.messageText + "\"", c.informativeText);
            for (const auto& button : c.buttons) {
                shown.add("alert \"" + c.messageText + "\" button", button);
            }
            if (c.checkbox) {
                shown.add("alert \"" + c.messageText + "\" checkbox", c.checkbox->first);
            }
            if (c.secureFieldPlaceholder) {
                shown.add("alert \"" + c.messageText + "\" field", *c.secureFieldPlaceholder);
            }
        }
        for (const auto& posted : sim().notifications().posted()) {
            shown.add("notification", posted.title);
            shown.add("notification \"" + posted.title + "\"", posted.body);
        }
        for (const auto& entry : services().activityLog().entries()) {
            shown.add("activity log", entry.title);
            shown.add("activity log \"" + entry.title + "\"", entry.detail);
        }
        for (const auto& spoken : host().announcements()) {
            shown.add("announcement", spoken);
        }
    }
    // Neither the assertions nor caffeinate can hold: the start fails and says why.
    void startWithBothEnginesFailing() {
        controller().stop(false);
        sim().powerAssertions().refuseAll(kIOReturnNotPermitted);
        sim().processes().setExecutable("/usr/bin/caffeinate", false);
        EXPECT_FALSE(controller().start());
        loop().drain();
    }
    // One rule of each kind, added as the rule editors add them.
    void addOneRuleOfEachKind() {
        for (const TriggerSource source : allCases<TriggerSource>()) {
            services().triggerEngine().add(
                test::makeRule(source, std::string(rawValue(source)) + " rule"));
        }
        loop().drain();
    }

    // The names of what the test and the simulated machine made, shown as they are.
    std::vector<std::string> madeNames() {
        std::vector<std::string> names{"Orvel",
                                       "logind",
                                       kAuthorName,
                                       kSupportAddress,
                                       sim().systemInfo().architecture(),
                                       sim().systemInfo().osName(),
                                       sim().systemInfo().kernelRelease()};
        // The keyboard backlight's diagnostic line, which the help pages quote as it stands.
        names.push_back(services().keyboardBacklight().diagnostics());
        for (const auto& rule : services().triggerEngine().rules()) {
            names.push_back(rule.name);
        }
        return names;
    }

    std::unique_ptr<AppDelegate> delegate;
    ShownTexts shown;
    std::set<std::string> keys;  // looked up in this test
};

// Keys shown that no catalogue needs: the product's name.
const std::set<std::string> kEnglishOnly{"Orvel"};

// Every text shown is one the catalogues know, so it reads in each language.
void expectKnownToTheCatalogues(const ShownTexts& shown, const std::vector<std::string>& names) {
    const auto pot = test::readPo(ORVEL_PO "/orvel.pot");
    ASSERT_TRUE(pot) << pot.error().message;
    KnownTexts known(*pot);
    for (const auto& name : names) {
        known.addName(name);
    }
    const auto unknown = shown.unknownTo(known);
    std::string listing;
    for (const auto& line : unknown) {
        listing += "  " + line + "\n";
    }
    EXPECT_TRUE(unknown.empty()) << unknown.size() << " texts no catalogue knows:\n" << listing;
}

// Every key shown is in po/orvel.pot (else scripts/update-po was not run after it was written)
// and translated in each catalogue under po/.
void expectEveryKeyInEachCatalogue(const std::set<std::string>& keys) {
    ASSERT_FALSE(keys.empty());
    const auto pot = test::readPo(ORVEL_PO "/orvel.pot");
    ASSERT_TRUE(pot) << pot.error().message;
    std::string missing;
    for (const auto& key : keys) {
        if (!pot->contains(key) && !kEnglishOnly.contains(key)) {
            missing += "  \"" + key + "\"\n";
        }
    }
    EXPECT_TRUE(missing.empty()) << "not in po/orvel.pot (run scripts/update-po):\n" << missing;
    for (const auto& language : test::poLanguages(ORVEL_PO)) {
        const auto catalogue = test::readPo(ORVEL_PO "/" + language + ".po");
        ASSERT_TRUE(catalogue) << catalogue.error().message;
        std::string untranslated;
        for (const auto& key : keys) {
            const auto it = catalogue->find(key);
            const bool translated =
                it != catalogue->end() &&
                std::none_of(it->second.msgstr.begin(), it->second.msgstr.end(),
                             [](const std::string& text) { return text.empty(); });
            if (!translated && !kEnglishOnly.contains(key)) {
                untranslated += "  \"" + key + "\"\n";
            }
        }
        EXPECT_TRUE(untranslated.empty()) << "untranslated in po/" << language << ".po:\n"
                                          << untranslated;
    }
}

TEST_F(WordingGuardTest, WindowsAndThePanelSpeakOfThisSystem) {
    addOneRuleOfEachKind();
    addPanel("panel, idle");
    addSettings("Settings, idle,");
    for (const HelpSection section : allCases<HelpSection>()) {
        delegate->showHelpSection(section);
        addWindow(std::string("Help page ") + std::string(rawValue(section)), delegate->helpWindow);
    }
    delegate->showAbout();
    addWindow("About", delegate->aboutWindow);
    delegate->showCustomDuration();
    addWindow("Custom Duration", delegate->customDurationWindow);

    ASSERT_TRUE(controller().start());
    loop().drain();
    addPanel("panel, active");
    controller().stop(false);
    controller().startForSeconds(3600);
    loop().drain();
    addPanel("panel, timed");
    prefs().keyboardBacklightOff = true;
    prefs().builtInDisplayOff = true;
    prefs().preventScreenSaver = true;
    loop().drain();
    addPanel("panel, timed with device switches");
    addSettings("Settings, timed with device switches,");
    // Where the displays cannot be slept, the row says why (the window system is no setting the
    // panel follows, so a setting it does follow draws it again).
    sim().systemInfo().setWindowSystem(SystemInfo::WindowSystem::wayland);
    prefs().menuBold = !prefs().menuBold();
    addPanel("panel, a Wayland compositor that cannot sleep the displays");
    sim().systemInfo().setWindowSystem(SystemInfo::WindowSystem::none);
    prefs().menuBold = !prefs().menuBold();
    addPanel("panel, no graphical session");

    for (const auto* place : {"panel, idle", "panel, timed", "Settings, idle, tab 0",
                              "Settings, idle, automations sub-tab 5", "Help page whatItDoes",
                              "About", "Custom Duration"}) {
        EXPECT_GT(shown.countAt(place), 0) << place << " showed nothing";
    }
    expectNoMacWords(shown);
    expectEveryKeyInEachCatalogue(keys);
    expectKnownToTheCatalogues(shown, madeNames());
}

TEST_F(WordingGuardTest, AlertsNotificationsAndTheActivityLogSpeakOfThisSystem) {
    addOneRuleOfEachKind();
    MainMenu::install(*delegate, "Orvel");
    addMenuBar("main menu", host().mainMenu());
    auto& engine = services().triggerEngine();
    ASSERT_EQ(engine.rules().size(), allCases<TriggerSource>().size());
    for (const auto& rule : engine.rules()) {
        engine.simulate(rule);
        loop().drain();
    }
    engine.pause(3600);
    engine.resume();
    for (const auto kind : {PowerTriggerCenter::SimulationKind::lowBattery,
                            PowerTriggerCenter::SimulationKind::batteryRecovery,
                            PowerTriggerCenter::SimulationKind::lowPowerModeOn,
                            PowerTriggerCenter::SimulationKind::lowPowerModeOff,
                            PowerTriggerCenter::SimulationKind::upsTakeover,
                            PowerTriggerCenter::SimulationKind::wallPowerReturns}) {
        services().powerCenter().simulate(kind);
        loop().drain();
    }
    controller().stop(false);
    ASSERT_TRUE(controller().start());
    loop().drain();
    sim().powerAssertions().stopService("logind", {"PreventUserIdleSystemSleep"});
    loop().drain();
    sim().powerAssertions().startService("logind");
    loop().drain();
    controller().stop(false);
    controller().startForSeconds(60);
    loop().advance(61);
    prefs().blockBuiltInKeyboard = true;
    loop().drain();
    sim().powerAssertions().refuseCreation(1, kIOReturnNotPermitted);
    controller().start();
    loop().drain();
    addPanel("panel, after a refused start");
    startWithBothEnginesFailing();
    addPanel("panel, both engines failing");
    addMessages();

    EXPECT_GT(shown.countAt("main menu"), 0);
    EXPECT_GT(shown.countAt("activity log"), 0);
    EXPECT_GT(shown.countAt("notification"), 0);
    expectNoMacWords(shown);
    expectEveryKeyInEachCatalogue(keys);
    expectKnownToTheCatalogues(shown, madeNames());
}

// As `LANGUAGE=de Orvel` starts, on a machine without a locale of its own.
TEST_F(WordingGuardTest, TheLanguageOfTheEnvironmentShowsInThePanel) {
    const test::ScopedLanguage restore(ORVEL_TEST_LOCALE, "en");
    ::setenv("LANGUAGE", "de", 1);
    std::setlocale(LC_MESSAGES, "C");
    ASSERT_EQ(Localization::shared().useEnvironmentLanguage(ORVEL_TEST_LOCALE), "de");
    addPanel("panel");
    MainMenu::install(*delegate, "Orvel");
    addMenuBar("main menu", host().mainMenu());
    std::vector<std::string> texts;
    for (const auto& text : shown.all()) {
        texts.push_back(text);
    }
    for (const auto* german :
         {"Bildschirmabschaltung verhindern", "Bereitschaft erlaubt", "Orvel beenden"}) {
        EXPECT_NE(std::find(texts.begin(), texts.end(), german), texts.end()) << german;
    }
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "Prevent Display Sleep"), texts.end());
}

TEST_F(WordingGuardTest, ReportsSpeakOfThisSystemInTheMachinesCommonStates) {
    addReports("idle");
    addOneRuleOfEachKind();
    prefs().keyboardBacklightOff = true;
    prefs().builtInDisplayOff = true;
    ASSERT_TRUE(controller().start());
    loop().drain();
    addReports("active with device switches and a rule of each kind");
    controller().stop(false);
    sim().powerAssertions().refuseCreation(1, kIOReturnNotPermitted);
    controller().start();
    loop().drain();
    addReports("after a refused start");
    startWithBothEnginesFailing();
    addReports("both engines failing");

    for (const auto* report : {"diagnostic report, idle", "permission audit, idle",
                               "self-test, idle", "conflicts report, idle"}) {
        EXPECT_GT(shown.countAt(report), 0) << report << " was empty";
    }
    expectNoMacWords(shown, true);
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

// What the Settings window shows in one language: its title, each tab's title and texts, and
// each Automations sub-tab's.
struct SettingsTexts {
    std::string root;
    struct Page {
        std::string title;
        std::vector<std::string> texts;
        std::vector<Page> pages;  // sub-tabs
    };
    std::vector<Page> tabs;
};

const Node* firstTabView(const Node& node) {
    if (node.kind == NodeKind::tabView) {
        return &node;
    }
    for (const auto& child : node.children) {
        if (const Node* found = firstTabView(child.node())) {
            return found;
        }
    }
    return nullptr;
}

// The title and texts of a tab view's selected page.
SettingsTexts::Page selectedPage(const Node& tabs) {
    SettingsTexts::Page page;
    for (std::size_t i = 0; i < tabs.tabs.size() && i < tabs.children.size(); ++i) {
        if (tabs.tabs[i].tag == tabs.textBinding.get()) {
            page.title = localized(tabs.tabs[i].title);
            ShownTexts shown;
            shown.addTree("page", tabs.children[i]);
            page.texts = shown.all();
        }
    }
    return page;
}

std::string withoutMarkers(std::string text) {
    for (std::size_t at; (at = text.find('*')) != std::string::npos;) {
        text.erase(at, 1);
    }
    return text;
}

// The paragraphs of a help page, each on one line.
std::vector<std::string> paragraphs(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out(1);
    bool code = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("```")) {
            code = !code;
        } else if (code || line.empty() || line.starts_with("#")) {
            out.emplace_back();
        } else {
            out.back() +=
                (out.back().empty() ? "" : " ") + (line.starts_with("> ") ? line.substr(2) : line);
        }
    }
    return out;
}

bool startsAWord(unsigned char c) {
    return std::isalnum(c) != 0;
}

// The longest of `texts` (its trailing colon aside) that `rest` starts with as whole words.
std::optional<std::string> longestAtStart(std::string_view rest,
                                          const std::vector<std::string>& texts) {
    std::optional<std::string> best;
    for (std::string text : texts) {
        text = withoutMarkers(text);
        // The label's colon, ASCII or full-width, and the space before it.
        for (const std::string_view end : {":", "\uff1a", " ", "\u00a0", "\u202f"}) {
            while (text.ends_with(end)) {
                text.erase(text.size() - end.size());
            }
        }
        if (text.empty() || !rest.starts_with(text) || (best && best->size() >= text.size())) {
            continue;
        }
        if (rest.size() == text.size() || !startsAWord(rest[text.size()]) ||
            !startsAWord(text.back())) {
            best = text;
        }
    }
    return best;
}

// The "Settings › Tab › Control" paths of a paragraph that the window does not show.
std::vector<std::string> wrongPaths(const std::string& paragraph, const SettingsTexts& settings) {
    std::vector<std::string> wrong;
    const std::string text = withoutMarkers(paragraph);
    const std::string start = settings.root + " \u203A ";
    for (auto at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        std::string_view rest = std::string_view(text).substr(at + start.size());
        const SettingsTexts::Page* tab = nullptr;
        const SettingsTexts::Page* sub = nullptr;
        for (int level = 2;; ++level) {
            std::vector<std::string> candidates;
            if (level == 2) {
                for (const auto& t : settings.tabs) {
                    candidates.push_back(t.title);
                }
            } else {
                const auto& page = sub ? *sub : *tab;
                candidates = page.texts;
                for (const auto& p : page.pages) {
                    candidates.push_back(p.title);
                    candidates.insert(candidates.end(), p.texts.begin(), p.texts.end());
                }
            }
            const auto found = longestAtStart(rest, candidates);
            if (!found) {
                wrong.push_back(std::string(text.substr(at, 90)));
                break;
            }
            if (level == 2) {
                for (const auto& t : settings.tabs) {
                    tab = t.title == *found ? &t : tab;
                }
            } else if (!sub) {
                for (const auto& p : tab->pages) {
                    sub = p.title == *found ? &p : sub;
                }
            }
            rest.remove_prefix(found->size());
            if (!rest.starts_with(" \u203A ")) {
                break;
            }
            rest.remove_prefix(std::string_view(" \u203A ").size());
        }
    }
    return wrong;
}

// The single-asterisk spans of a paragraph: the texts it quotes.
std::vector<std::string> quotes(const std::string& paragraph) {
    std::vector<std::string> out;
    std::string text = paragraph;
    for (std::size_t at; (at = text.find("**")) != std::string::npos;) {
        text.replace(at, 2, "\x01");
    }
    for (auto open = text.find('*'); open != std::string::npos;) {
        const auto close = text.find('*', open + 1);
        if (close == std::string::npos) {
            break;
        }
        out.push_back(text.substr(open + 1, close - open - 1));
        open = text.find('*', close + 1);
    }
    return out;
}

class HelpWordsTest : public WordingGuardTest {
  protected:
    SettingsTexts settingsTexts() {
        SettingsTexts out;
        delegate->openSettings();
        loop().drain();
        // As the tray menu names the window, without its ellipsis.
        out.root = localized("Settings\u2026");
        out.root.erase(out.root.rfind("\u2026"));
        while (!out.root.empty() && out.root.back() == ' ') {
            out.root.pop_back();
        }
        for (const std::int64_t tab :
             {SettingsView::kGeneralTab, SettingsView::kAutomationsTab, SettingsView::kDevicesTab,
              SettingsView::kDrivesTab, SettingsView::kAdvancedTab,
              SettingsView::kTroubleshootingTab}) {
            sim().userDefaults().setInteger(SettingsView::kTabKey, tab);
            loop().drain();
            const Node* tabs =
                firstTabView(headless(delegate->settingsWindow).viewHost()->tree().node());
            if (tabs == nullptr) {
                ADD_FAILURE() << "no tabs";
                return out;
            }
            out.tabs.push_back(selectedPage(*tabs));
            if (tab != SettingsView::kAutomationsTab) {
                continue;
            }
            for (std::int64_t sub = 0; sub <= 5; ++sub) {
                sim().userDefaults().setInteger(SettingsView::kSubTabKey, sub);
                loop().drain();
                const Node* outer =
                    firstTabView(headless(delegate->settingsWindow).viewHost()->tree().node());
                std::optional<SettingsTexts::Page> page;
                for (std::size_t i = 0; i < outer->children.size(); ++i) {
                    if (outer->tabs[i].tag == outer->textBinding.get()) {
                        if (const Node* inner = firstTabView(outer->children[i].node())) {
                            page = selectedPage(*inner);
                        }
                    }
                }
                if (page) {
                    out.tabs.back().pages.push_back(*page);
                }
            }
        }
        return out;
    }
    // What the reports print, in English in every language; a self-test line says PASS or FAIL.
    std::vector<std::string> reportLines() {
        std::istringstream in(services().selfTest().selfTest() + "\n" +
                              services().diagnosticReport().forSupport(false, false).value_or(""));
        // A machine without a keyboard backlight, and a built-in and an external device.
        sim().keyboardBacklightRoutes().setHasClient(false);
        sim().keyboardBacklightRoutes().setHasService(false);
        std::vector<std::string> lines{services().keyboardBacklight().diagnostics()};
        for (const bool builtIn : {true, false}) {
            lines.push_back(InputBlocker::deviceDescription(
                HidDevice{0, "Keyboard", "SPI", builtIn, 0x5ac, {hid_usage::kKeyboard}}));
        }
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
            for (const auto& [from, to] : {std::pair{"[PASS]", "[FAIL]"}, {"[FAIL]", "[PASS]"}}) {
                if (const auto at = line.find(from); at != std::string::npos) {
                    lines.push_back(std::string(line).replace(at, 6, to));
                }
            }
        }
        return lines;
    }
};

// A help page names each setting by the path the window shows, and quotes only what Orvel
// really prints, in every language.
TEST_F(HelpWordsTest, HelpPagesNameSettingsAndQuoteLinesAsOrvelShowsThem) {
    addOneRuleOfEachKind();
    const auto reports = reportLines();
    std::vector<std::string> languages{"en"};
    for (const auto& language : test::poLanguages(ORVEL_PO)) {
        languages.push_back(language);
    }
    for (const auto& language : languages) {
        SCOPED_TRACE(language);
        const test::ScopedLanguage use(ORVEL_LOCALE, language);
        const SettingsTexts settings = settingsTexts();
        ASSERT_EQ(settings.tabs.size(), 6u);
        // The texts a quote may come from: what the catalogue shows, and the reports.
        std::vector<std::string> shownTexts = reports;
        if (language != "en") {
            const auto catalogue = test::readPo(ORVEL_PO "/" + language + ".po");
            ASSERT_TRUE(catalogue);
            for (const auto& [key, entry] : *catalogue) {
                shownTexts.insert(shownTexts.end(), entry.msgstr.begin(), entry.msgstr.end());
            }
        } else {
            const auto pot = test::readPo(ORVEL_PO "/orvel.pot");
            ASSERT_TRUE(pot);
            for (const auto& [key, entry] : *pot) {
                shownTexts.push_back(key);
            }
        }
        const std::string folder =
            ORVEL_RESOURCES "/help" + (language == "en" ? std::string() : "/" + language);
        std::string faults;
        for (const HelpSection section : allCases<HelpSection>()) {
            const std::string page = folder + "/" + std::string(rawValue(section)) + ".md";
            for (const auto& paragraph : paragraphs(page)) {
                for (const auto& path : wrongPaths(paragraph, settings)) {
                    faults += "  " + page + ": no such setting: \"" + path + "\"\n";
                }
                for (const auto& quote : quotes(paragraph)) {
                    const bool printed = std::any_of(
                        shownTexts.begin(), shownTexts.end(),
                        [&](const auto& text) { return text.find(quote) != std::string::npos; });
                    if (!printed) {
                        faults +=
                            "  " + page + ": quotes what Orvel never shows: \"" + quote + "\"\n";
                    }
                }
            }
        }
        EXPECT_TRUE(faults.empty()) << faults;
    }
}

}  // namespace
}  // namespace orvel
