#include "help/HelpPages.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/Preferences.h"
#include "devices/InputBlocker.h"
#include "foundation/AppInfo.h"
#include "foundation/Localization.h"
#include "help/Contacts.h"
#include "help/HelpSection.h"
#include "platform/sim/SimPlatform.h"
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

std::string bundled(const std::string& command) {
    return command + " " + kBundleIdentifier;
}

class Page final : public ui::ViewComponent {
  public:
    explicit Page(HelpSection section) : section_(section) {}
    ui::View body() override { return HelpPages::shared().pageBody(section_); }

  private:
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

class HelpPagesTest : public test::UiTest {
  protected:
    std::vector<ui::View> blocks(HelpSection section) {
        const ui::View page = HelpPages::shared().pageBody(section);
        return page.node().children;
    }
    std::string dump(HelpSection section) {
        window = host().makeWindow();
        window->setContent(std::make_shared<Page>(section));
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

TEST_F(HelpPagesTest, EveryPageIsOneLeadingStackOfItsBlocksAtItsSpacing) {
    struct Case {
        HelpSection section;
        std::size_t blocks;
        double spacing;
    };
    for (const auto& c :
         {Case{whatItDoes, 8, 14}, Case{theMenu, 15, 14}, Case{sleepSwitches, 13, 14},
          Case{deviceSwitches, 12, 14}, Case{durations, 11, 14}, Case{triggers, 30, 14},
          Case{drives, 9, 14}, Case{batteryPower, 14, 14}, Case{permissions, 20, 14},
          Case{commandLine, 29, 14}, Case{persistence, 15, 14}, Case{shortcuts, 9, 14},
          Case{troubleshooting, 63, 16}, Case{accessibility, 9, 14}, Case{languages, 6, 14}}) {
        const ui::View page = HelpPages::shared().pageBody(c.section);
        EXPECT_EQ(page.node().kind, ui::NodeKind::vstack) << rawValue(c.section);
        EXPECT_EQ(page.node().hAlign, ui::HAlign::leading) << rawValue(c.section);
        EXPECT_EQ(page.node().spacing, c.spacing) << rawValue(c.section);
        EXPECT_EQ(page.node().children.size(), c.blocks) << rawValue(c.section);
    }
}

// Compares a page's dump with tests/data/help/<case>.txt, the build's architecture standing
// there as "{arch}". ORVEL_UPDATE_GOLDEN=1 writes the files instead.
TEST_F(HelpPagesTest, EachPageDumpsAsItsGoldenFile) {
    for (const HelpSection section : kTextPages) {
        std::string text = dump(section);
        const std::string arch = "Should report " + machine() + ".";
        if (const auto at = text.find(arch); at != std::string::npos) {
            text.replace(at, arch.size(), "Should report {arch}.");
        }
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

TEST_F(HelpPagesTest, QuotedLiteralsStandVerbatimInTheirBlocks) {
    struct Case {
        HelpSection section;
        std::size_t block;  // counted from 1
        const char* literal;
    };
    const Case cases[] = {
        {whatItDoes, 1,
         "Everything it does is reversible — quitting Orvel always restores normal behaviour, "
         "even if it crashes."},
        {whatItDoes, 2, "Two engines"},
        {whatItDoes, 3, "**Native**"},
        {whatItDoes, 3, "No child process, nothing to leak."},
        {whatItDoes, 4, "`/usr/bin/caffeinate`"},
        {whatItDoes, 4, "Settings › Advanced"},
        {whatItDoes, 6, "Since 1.5"},
        {whatItDoes, 6, "Drive keep-alive"},
        {whatItDoes, 8, "Settings › General › Show in Dock"},
        {whatItDoes, 8, "The change is live — no relaunch."},
        {theMenu, 1,
         "Clicking the menu bar icon toggles Orvel straight away without opening anything. "
         "Right-clicking it opens the Orvel panel."},
        {theMenu, 1, "Settings › General › Menu bar icon clicks swaps the two."},
        {theMenu, 2, "What's in the panel"},
        {theMenu, 3, "**The switch at the top**"},
        {theMenu, 6, "Sleep all displays now"},
        {theMenu, 8, "**Pause Triggers**"},
        {theMenu, 8, "Resume Triggers"},
        {theMenu, 10, "**Started by:**"},
        {theMenu, 10, "Manual sessions keep the normal icon."},
        {theMenu, 13, "That explanation appears once."},
        {theMenu, 13, "Reset all settings"},
        {theMenu, 15, "**Automations & Triggers**"},
        {theMenu, 15, "the sub-tab you last used is remembered"},
        {theMenu, 15, "**Troubleshooting**"},
        {sleepSwitches, 2, "Prevent Display Sleep — `-d`"},
        {sleepSwitches, 9, "**Only effective on AC power**"},
        {sleepSwitches, 10, "Declare User Active — `-u`"},
        {sleepSwitches, 11, "`-u -t seconds`"},
        {sleepSwitches, 12, "Sleep All Displays"},
        {deviceSwitches, 1, "**built-in**"},
        {deviceSwitches, 1, "so you can't lock yourself out"},
        {deviceSwitches, 1, "(Mac Studio, mini, Pro)"},
        {deviceSwitches, 2, "Disable Built-In Keyboard / Trackpad"},
        {deviceSwitches, 3, "`BuiltIn`"},
        {deviceSwitches, 4, "30-second"},
        {deviceSwitches, 8, "Settings › Devices"},
        {deviceSwitches, 12, "Your normal setting is untouched."},
        {durations, 1, "**not**"},
        {durations, 3, "No timer. Runs until you stop it."},
        {durations, 5, "15 minutes through 5 hours. Each becomes `-t seconds`."},
        {durations, 6, "Custom…"},
        {durations, 9, "`caffeinate -w PID`"},
        {durations, 9, "MANUAL"},
        {durations, 9, "**Change App…**"},
        {durations, 9, "**Make this a rule…**"},
        {durations, 10, "Launch an app and caffeinate until it exits"},
        {triggers, 1, "Settings › Automations & Triggers › Triggers"},
        {triggers, 1, "Schedule, Bluetooth, Network and Apps sub-tabs"},
        {triggers, 1, "Delete All Rules"},
        {triggers, 3, "**Bluetooth rules**"},
        {triggers, 3, "Combining conditions means writing several rules."},
        {triggers, 4, "**Only while on AC power**"},
        {triggers, 5,
         "Clearing is symmetric by default — leaving the SSID that started a session ends it."},
        {triggers, 5, "*Do nothing*"},
        {triggers, 7, "Deactivate events end only sessions a trigger started."},
        {triggers, 8, "**any**"},
        {triggers, 8, "Battery & UPS"},
        {triggers, 10, "Schedule › Bluetooth › WiFi (SSID) › Network › Apps"},
        {triggers, 10, "up and down buttons reorder"},
        {triggers, 10, "*shielded*"},
        {triggers, 11, "**Battery & UPS safety · ALWAYS FIRST**"},
        {triggers, 11, "moved below a rule"},
        {triggers, 13, "Rules are edge-triggered."},
        {triggers, 15, "The running session, if any, is unaffected."},
        {triggers, 17, "**repeating window**"},
        {triggers, 17, "FIRED"},
        {triggers, 17,
         "Missed fires catch up within 30 minutes, otherwise they're skipped and logged as "
         "missed."},
        {triggers, 18, "**Lock to the password screen at fire**"},
        {triggers, 18, "Every start also reads keep-alive drives and remounts vanished shares."},
        {triggers, 20, "**Watch background processes**"},
        {triggers, 22, "Green started a session, red ended one, orange re-armed, blue was a Test."},
        {triggers, 24, "**Export Settings…**"},
        {triggers, 24, "*unavailable on this Mac*"},
        {triggers, 25, "**Delete All Rules…** asks twice before doing anything."},
        {triggers, 27, "**Export Settings First…**"},
        {triggers, 28, "**Also clear Orvel's macOS permission grants**"},
        {triggers, 28, "System Settings › Privacy & Security › Location Services"},
        {triggers, 30, "Trigger sessions never survive a reboot"},
        {drives, 1, "4 KB"},
        {drives, 1, "Reads only — Orvel never writes to your drives."},
        {drives, 3, "**Only while Orvel is on**"},
        {drives, 3, "default every 3 minutes"},
        {drives, 7, "OFFLINE"},
        {drives, 9, "(-m)"},
        {drives, 9, "Turn -m back on manually if you really want both."},
        {batteryPower, 1, "Settings › Automations & Triggers › Battery/Power"},
        {batteryPower, 1, "no permissions, ever"},
        {batteryPower, 1, "*any*"},
        {batteryPower, 3, "*or full*"},
        {batteryPower, 3, "A manual toggle wins until the power state next changes."},
        {batteryPower, 5, "**End session when battery drops below X%**"},
        {batteryPower, 7, "**Re-enable when battery recovers above Y%**"},
        {batteryPower, 7, "**all**"},
        {batteryPower, 9, "**Inverted**"},
        {batteryPower, 11, "*connected*"},
        {batteryPower, 13, "−m"},
        {batteryPower, 13, "No yellow note means no conflict."},
        {batteryPower, 14, "“waiting to re-enable”"},
        {batteryPower, 14, "CONFLICTS"},
        {batteryPower, 14, "the Simulate buttons on the Advanced tab"},
        {permissions, 1, "when Wake the Mac is first switched on for a rule"},
        {permissions, 1,
         "starting a session, restoring after a reboot or waking from sleep will never raise a "
         "dialog"},
        {permissions, 3, "Orvel asks for nothing until you ask it to"},
        {permissions, 4, "A fresh install performs no permission check of any kind."},
        {permissions, 5, "**WiFi SSID rule**"},
        {permissions, 5,
         "Nothing else in the app can raise a permission dialog — trigger rules firing in the "
         "background never do."},
        {permissions, 7, "Orvel still does its main job completely."},
        {permissions, 8,
         "You lose the two built-in input switches, possibly the keyboard backlight, and the "
         "global shortcut. Everything else is unaffected."},
        {permissions, 10, "**off by default**"},
        {permissions, 16, "**+**"},
        {permissions, 17,
         "Accessibility takes effect immediately. Input Monitoring usually needs Orvel quit and "
         "relaunched."},
        {permissions, 19, "**−**"},
        {permissions, 19, "it stopped working"},
        {commandLine, 1,
         "Everything on the sleep side of Orvel is available from Terminal. These are the exact "
         "equivalents."},
        {commandLine, 10, "Inspecting what's holding the Mac orvel"},
        {commandLine, 18, "Factory wipe from Terminal"},
        {commandLine, 24,
         "Quit Orvel before any of these; grants take effect at the next launch. Location "
         "Services lives outside TCC — remove it by hand in System Settings › Privacy & Security "
         "› Location Services."},
        {persistence, 2, "Indefinite sessions are re-asserted automatically after every wake."},
        {persistence, 3,
         "Only true system sleep counts. Display sleep and screen lock don't end anything."},
        {persistence, 4, "**Wake the Mac**"},
        {persistence, 4,
         "catches up within 30 minutes of its moment — later than that it is skipped and logged "
         "as missed"},
        {persistence, 6,
         "Condition changes that happen during sleep are ignored until the next "
         "live event."},
        {persistence, 8, "A timed session comes back as indefinite"},
        {persistence, 9, "Trigger-started sessions never survive a reboot."},
        {persistence, 11, "**Re-enable when battery recovers**"},
        {persistence, 13, "System Settings › General › Login Items"},
        {persistence, 15,
         "In compatibility mode the caffeinate child process is terminated with the app."},
        {shortcuts, 2, "**⌃⌥⌘C** toggles Orvel from anywhere — **off by default**."},
        {shortcuts, 5,
         "**Left-click toggles Orvel immediately** without opening anything — the fastest way to "
         "use it. Right-click opens the panel."},
        {shortcuts, 5, "Settings › General › Menu bar icon clicks swaps the two."},
        {shortcuts, 7,
         "**⌘,** opens Settings, **⌘Q** quits, **⌘W** closes a window, and the usual Edit "
         "shortcuts work in the Custom Duration fields."},
        {shortcuts, 9, "**⌘W** closes the window."},
        {troubleshooting, 2, "`pmset -g assertions`"},
        {troubleshooting, 2, "`-s` in particular is ignored on battery by design."},
        {troubleshooting, 5,
         "Look at Settings › Devices. The **Input Monitoring** and **Last attempt failed** lines "
         "tell you which half is wrong."},
        {troubleshooting, 6, "*Insufficient privileges*"},
        {troubleshooting, 6, "Ticking and unticking is not enough."},
        {troubleshooting, 7,
         "*Not granted* means it was never approved. Turning the switch on "
         "will prompt."},
        {troubleshooting, 8, "Orvel.app"},
        {troubleshooting, 10, "Settings › Troubleshooting › **Reset All Settings…**"},
        {troubleshooting, 17, "*CoreBrightness unavailable · IOKit driver not found*"},
        {troubleshooting, 19, "Zero brightness is not real display sleep."},
        {troubleshooting, 30, "but if a dialog sits unanswered for 45 seconds it moves on"},
        {troubleshooting, 32, "in this order"},
        {troubleshooting, 32, "The activity log states the reason for every ignored event"},
        {troubleshooting, 34,
         "That's usually the shield: a higher-priority activate condition still holds, or the "
         "running session is manual and untouchable. The log entry names the shielding rule."},
        {troubleshooting, 40,
         "Enabling per-drive keep-alive does that deliberately — per-drive is replacing the "
         "global flag. The activity log records it."},
        {troubleshooting, 46,
         "Gatekeeper quarantine. Clear it, then right-click the app and choose Open the first "
         "time."},
        {troubleshooting, 49,
         "Quit Orvel — every device change is reversed on quit, unconditionally."},
        {troubleshooting, 52,
         "Settings › Troubleshooting has two buttons at the bottom. Both copy straight to the "
         "clipboard, so you can paste the result into a message."},
        {troubleshooting, 53, "**About Orvel › Feedback…**"},
        {troubleshooting, 53, "Orvel itself sends nothing"},
        {troubleshooting, 54, "PASS"},
        {troubleshooting, 59, "*FAIL — internal device found*"},
        {troubleshooting, 60, "On Macs with a T1 or T2 controller that is normal"},
        {troubleshooting, 61,
         "*FAIL — Input Monitoring* or *Accessibility* is a stale or "
         "missing grant. See above."},
        {troubleshooting, 62, "If you'd rather use Terminal"},
        {accessibility, 1,
         "Orvel mirrors the system's accessibility settings — there are no separate in-app "
         "accessibility switches to configure."},
        {accessibility, 3, "and the product is capped between 50% and 200%"},
        {accessibility, 3, "Past a 480-point width the panel stops widening and wraps instead"},
        {accessibility, 5, "**Toggle Orvel**"},
        {accessibility, 7,
         "The confirmation when disabling built-in input waits 30 seconds normally and **90 "
         "seconds while VoiceOver is running**, so there is time to hear it and answer."},
        {accessibility, 9,
         "Everything reachable by mouse is reachable by keyboard: the global shortcut toggles "
         "sessions, ⌘, opens Settings, ⌘Q quits, and Tab + Space drive the panel, every Settings "
         "tab, and the EULA window."},
        {languages, 1, "System Settings › General › Language & Region"},
        {languages, 1, "Language & Region › Applications › + › Orvel"},
        {languages, 2,
         "Languages in this release: English, Spanish (Spain, Latin America and United States), "
         "French, German, Portuguese (Brazil and Portugal), Italian, Japanese, Simplified "
         "Chinese, Swedish, Norwegian Bokmål, Danish, Finnish and Dutch."},
        {languages, 2, "Anything untranslated falls back to English rather than showing a blank."},
        {languages, 4,
         "The License Agreement (its English text governs — the gate says so in your language), "
         "diagnostics reports (they are read by support), and the command preview (it is a real "
         "command line)."},
        {languages, 5, "Spotted an awkward translation?"},
        {languages, 6, "no reinstall needed beyond it"},
    };
    for (const auto& c : cases) {
        const auto page = blocks(c.section);
        ASSERT_LE(c.block, page.size()) << rawValue(c.section);
        const std::string texts = joined(rawTexts(page[c.block - 1]));
        EXPECT_NE(texts.find(c.literal), std::string::npos)
            << rawValue(c.section) << " block " << c.block << " lacks " << c.literal;
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
          "Why a global shortcut needs one", "Why scanning devices needs one",
          "Declining one permission at a time", "Granting them", "After every rebuild"}},
        {troubleshooting,
         {1, 4, 12, 14, 16, 18, 20, 22, 25, 27, 29, 31, 33, 35, 37, 39, 41, 43, 45, 48, 51, 58, 62},
         {"The Mac still sleeps",
          "Built-in keyboard or trackpad won't disable",
          "The cursor still moves",
          "Gestures still work",
          "Keyboard backlight doesn't respond",
          "The screen or backlight comes back briefly",
          "Built-in display switch does nothing",
          "A switch does nothing and never asks for permission",
          "Settings shows Not granted after I granted it",
          "I never saw the explanation about permissions",
          "Only one of the two permission dialogs appeared",
          "A rule never fires",
          "An end event was ignored",
          "SSID rule shows NEEDS LOCATION",
          "A share keeps going OFFLINE",
          "Prevent Disk Sleep turned itself off",
          "A battery rule ended the session and it never came back",
          "The UPS section is greyed out",
          "The app won't open on another Mac",
          "Something is stuck",
          "Reporting a problem",
          "Reading the self-test",
          "If you'd rather use Terminal"}},
        {accessibility,
         {2, 4, 6, 8},
         {"What mirrors macOS automatically", "VoiceOver", "The safety countdown", "Keyboard"}},
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

std::vector<Command> expectedCommands(HelpSection section) {
    const std::string id = kBundleIdentifier;
    switch (section) {
        case permissions:
            return {{20,
                     bundled("tccutil reset All") + "\n" + bundled("tccutil reset ListenEvent") +
                         "\n" + bundled("tccutil reset Accessibility") + "\n" +
                         bundled("tccutil reset BluetoothAlways"),
                     "All = every grant at once. Individually: ListenEvent is Input Monitoring, "
                     "then Accessibility, then Bluetooth. Quit Orvel first — grants take effect "
                     "at the next launch. Location Services is not TCC-resettable: remove it by "
                     "hand in System Settings › Privacy & Security › Location Services."}};
        case commandLine:
            return {
                {3, "caffeinate -d", "Prevent display sleep until you press ⌃C."},
                {4, "caffeinate -dimsu",
                 "Everything at once: display, idle, disk, system, and declare user active."},
                {5, "caffeinate -d -t 3600", "Prevent display sleep for one hour, then exit."},
                {6, "caffeinate -w 4242", "Stay orvel until process 4242 exits."},
                {7, "caffeinate -d /Applications/Xcode.app/Contents/MacOS/Xcode",
                 "Launch a program and caffeinate for exactly as long as it runs."},
                {9, "pgrep -x Xcode", "Prints the process ID of a running app by name."},
                {11, "pmset -g assertions",
                 "Lists every power assertion and which process owns it. Orvel's appears under "
                 "PreventUserIdleDisplaySleep or PreventSystemSleep."},
                {12, "pmset -g log | grep -i \"sleep\\|wake\"",
                 "Recent sleep and wake history with reasons."},
                {14, "pmset displaysleepnow",
                 "Blank every display immediately. Equivalent to Orvel's Sleep All Displays."},
                {16, "log stream --predicate 'subsystem == \"" + id + "\"' --level info",
                 "Live log of what Orvel is doing — engine starts, input seizes, backlight "
                 "changes."},
                {17, bundled("defaults read"), "Print every stored preference."},
                {18, bundled("defaults delete"),
                 "Factory wipe from Terminal: every stored preference goes. Quit Orvel first."},
                {20, bundled("tccutil reset All"),
                 "Every grant at once — same command the Reset All Settings checkbox runs."},
                {21, bundled("tccutil reset ListenEvent"),
                 "Input Monitoring only (ListenEvent is its internal name)."},
                {22, bundled("tccutil reset Accessibility"), "Accessibility only."},
                {23, bundled("tccutil reset BluetoothAlways"), "Bluetooth only."},
                {26, "lipo -info /Applications/Orvel.app/Contents/MacOS/Orvel",
                 "Should report " + machine() + "."},
                {27, "codesign -dv --verbose=4 /Applications/Orvel.app",
                 "Show the signing identity."},
                {28, "spctl -a -vvv /Applications/Orvel.app", "Check Gatekeeper acceptance."},
                {29, "xattr -dr com.apple.quarantine /Applications/Orvel.app",
                 "Clear the quarantine flag after copying the app from another Mac."},
            };
        case troubleshooting:
            return {
                {3, "pmset -g assertions", std::nullopt},
                {9, bundled("tccutil reset All"),
                 "Clears every grant for Orvel in one pass. Per-service versions — ListenEvent "
                 "(Input Monitoring), Accessibility, BluetoothAlways — are on the Command line "
                 "equivalents page."},
                {47, "xattr -dr com.apple.quarantine /Applications/Orvel.app", std::nullopt},
                {50, bundled("defaults delete"),
                 "Nuclear option: reset every preference. Quit Orvel first."},
                {63,
                 "log show --predicate 'subsystem == \"" + id +
                     "\"' --last 30m --info > ~/Desktop/orvel-log.txt",
                 std::nullopt},
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
        const auto expected = expectedCommands(section);
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
    auto& client = WakeHelperClient::shared();

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
        (void)HelpPages::shared().pageBody(permissions);
    }
    dump(permissions);
    EXPECT_EQ(sim.permissions().checkCount(), checks) << "the page probed";
    EXPECT_FALSE(InputBlocker::cachedPermissions());

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
        InputBlocker::permissionStatus();
        expectRows(std::nullopt, c.mark, "input permissions");
    }
}

TEST_F(HelpPagesTest, PermissionMarksAreASnapshotTakenWhenTheBodyIsEvaluated) {
    dump(permissions);
    WakeHelperClient::shared().state = WakeHelperClient::State::active;
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
    InputBlocker::permissionStatus();
    WakeHelperClient::shared().state = WakeHelperClient::State::active;
    Preferences::shared().swapMenuButtons = true;
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

TEST_F(HelpPagesTest, TextsAreKeysButCommandsAndNotesAreNeverLookedUp) {
    const std::string key = "No timer. Runs until you stop it.";
    Localization::shared().setTable({
        {key, "Sin temporizador. **Funciona** hasta que lo detengas."},
        {"caffeinate -d", "cafeína -d"},
        {"Prevent display sleep until you press ⌃C.", "Evita el reposo"},
    });
    const auto durationTexts = shownTexts(durations);
    EXPECT_EQ(durationTexts.at(2), "Sin temporizador. Funciona hasta que lo detengas.");
    EXPECT_EQ(std::count(durationTexts.begin(), durationTexts.end(), key), 0);
    const auto commandTexts = shownTexts(commandLine);
    EXPECT_EQ(commandTexts.at(2), "caffeinate -d");
    EXPECT_EQ(commandTexts.at(3), "Prevent display sleep until you press ⌃C.");
    Localization::shared().setTable({});
    EXPECT_EQ(shownTexts(durations).at(2), key);
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
                  "⌃⌥⌘C toggles Orvel from anywhere — off by default. Turn it on in Settings › "
                  "General. Registering a system-wide hot key installs a keyboard handler, which "
                  "macOS may ask you to approve; after that it registers silently at every "
                  "launch."},
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
    for (const char* word : {"gatekeeper", "lipo", "CoreBrightness", "Bokmål"}) {
        EXPECT_TRUE(filterHelpSections(word).empty()) << word;
    }
}

}  // namespace
}  // namespace orvel::help
