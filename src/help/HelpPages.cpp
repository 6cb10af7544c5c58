#include "help/HelpPages.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/InputBlocker.h"
#include "foundation/AppInfo.h"
#include "foundation/Registry.h"
#include "help/Acknowledgments.h"
#include "help/Contacts.h"
#include "help/EULAGate.h"
#include "help/HelpBlocks.h"
#include "triggers/WakeHelperClient.h"
#include "ui/View.h"

namespace orvel::help {

using namespace ui;

namespace {

// Each page is a leading-aligned column of blocks.
View page(double spacing, std::vector<View> blocks) {
    return VStack(HAlign::leading, spacing, std::move(blocks));
}

constexpr double kPageSpacing = 14;
// The longest page breathes a little more.
constexpr double kTroubleshootingSpacing = 16;

}  // namespace

View HelpWhatItDoes::body() const {
    return page(kPageSpacing,
                {
                    P{"Orvel stops your Mac from going to sleep and, if you want, silences the "
                      "built-in keyboard, trackpad, display and keyboard backlight while it runs. "
                      "Everything it does is reversible — quitting Orvel always restores normal "
                      "behaviour, even if it crashes."},
                    H{"Two engines"},
                    P{"**Native** is the default engine: Orvel takes a power-management assertion "
                      "directly through IOKit, the same mechanism that `caffeinate` itself uses "
                      "one layer down. No child process, nothing to leak."},
                    P{"**Compatibility mode** runs the real `/usr/bin/caffeinate` program as a "
                      "child process instead. Turn it on in Settings › Advanced for behaviour "
                      "identical to the command line, or to see the process in Activity Monitor."},
                    H{"Triggers"},
                    P{"Since 1.5, rules can start a session: a Bluetooth device connecting, a WiFi "
                      "network joined or a network condition appearing can start one, and the "
                      "reverse can end it. Selected drives can also be kept spinning with "
                      "periodic reads. See the Triggers and Drive keep-alive pages."},
                    H{"Tray only or full app"},
                    P{"Settings › General › Show in Dock switches between menu-bar-only and a "
                      "normal Dock app. The change is live — no relaunch."},
                });
}

View HelpTheMenu::body() const {
    return page(
        kPageSpacing,
        {
            P{"Clicking the menu bar icon toggles Orvel straight away without opening anything. "
              "Right-clicking it opens the Orvel panel. Settings › General › Menu bar icon clicks "
              "swaps the two."},
            H{"What's in the panel"},
            P{"**The switch at the top** turns sessions on and off, with a line underneath "
              "summarising what is being prevented."},
            P{"**Duration**: eight length options. Choosing one configures the next session "
              "rather than starting one; if a session is already running, it re-bases from now."},
            P{"**Sleep**: the five caffeinate flags, each with its letter and a one-line "
              "description."},
            P{"**Built-In Devices**: keyboard, trackpad, backlight, screen saver and display "
              "switches, plus Sleep all displays now."},
            P{"**The equivalent command**, in a box at the bottom, shows exactly what the "
              "selection amounts to."},
            P{"After those come **Pause Triggers** (shown once rules exist; it becomes Resume "
              "Triggers while paused), About, Help, Settings and Quit. The panel stays open while "
              "you flip switches and closes when you click elsewhere."},
            H{"When a rule started the session"},
            P{"The header shows **Started by:** with the rule's name, and the menu-bar cup turns "
              "a medium brown, so you can tell a rule-started session apart before opening the "
              "panel. Manual sessions keep the normal icon."},
            H{"The first time you disable built-in input"},
            P{"Orvel explains what Input Monitoring and Accessibility are for, and why it needs "
              "both, before macOS asks for either. The two system dialogs then come one after the "
              "other: they cannot be shown at the same time, so Orvel waits for the first before "
              "raising the second."},
            P{"That explanation appears once. It comes back after Reset all settings, since that "
              "is starting over."},
            H{"Settings"},
            P{"The Settings window's tabs, in order: **General** (appearance, menu text "
              "size/bold/opacity, login, shortcut, default duration); **Automations & Triggers** "
              "(wake and notification automations, then the Triggers, Schedule, Bluetooth, "
              "Network, Apps and Battery/Power sub-tabs; the sub-tab you last used is "
              "remembered); **Devices** (built-in input switches plus permission status); "
              "**Drives** (volume keep-alive plus access status); **Advanced** (engine, settings "
              "export/import, simulate power events); **Troubleshooting** (what this Mac can do, "
              "the self-test, diagnostics and Reset All Settings)."},
        });
}

View HelpSleepSwitches::body() const {
    return page(kPageSpacing,
                {
                    P{"Each switch maps one-to-one onto a `caffeinate` flag. The live command "
                      "preview at the bottom of the menu shows exactly what your selection "
                      "amounts to."},
                    H{"Prevent Display Sleep — `-d`"},
                    P{"The screen stays on. This is what most people want."},
                    H{"Prevent Idle Sleep — `-i`"},
                    P{"The system won't sleep from inactivity. The display may still turn off."},
                    H{"Prevent Disk Sleep — `-m`"},
                    P{"Stops disks spinning down. Largely a no-op on SSDs."},
                    H{"Prevent System Sleep — `-s`"},
                    P{"A stronger assertion that also survives some sleep requests. **Only "
                      "effective on AC power**: macOS ignores it on battery, which is why Orvel "
                      "greys the switch out when the Mac is unplugged."},
                    H{"Declare User Active — `-u`"},
                    P{"Behaves as though you had just touched the keyboard: it wakes the display "
                      "if it is asleep and resets the idle timer. Combined with a duration it "
                      "becomes `-u -t seconds`."},
                    H{"Sleep All Displays"},
                    P{"Not a caffeinate flag: it asks the window server to blank every display "
                      "immediately while the system itself stays up. Useful for a long download "
                      "at a desk you are leaving."},
                });
}

View HelpDeviceSwitches::body() const {
    return page(
        kPageSpacing,
        {
            P{"These switches exist for the closed-lid and cat-on-keyboard cases and only ever "
              "affect **built-in** hardware: external keyboards, mice and trackpads are never "
              "touched, so you can't lock yourself out. On Macs with no built-in keyboard or "
              "trackpad at all (Mac Studio, mini, Pro) the whole section, backlight included, "
              "shows greyed out with a notice that there is nothing to block. Orvel detects this "
              "from the absence of a built-in display, which needs no permissions."},
            H{"Disable Built-In Keyboard / Trackpad"},
            P{"Orvel installs a system event tap and drops events that originated from the "
              "internal hardware. It identifies internal devices through IOKit (`BuiltIn` and not "
              "Bluetooth), then matches incoming events by timing."},
            P{"The first time either switch is enabled, Orvel shows a 30-second confirmation. If "
              "you don't confirm (because your only input was just disabled) it releases "
              "automatically. A watchdog also releases everything if the app stops responding."},
            P{"Cursor movement is handled specially: the window server moves the pointer before "
              "any event tap runs, so Orvel also warps it back to where the external mouse last "
              "left it. Expect slight jitter if you touch the internal trackpad while blocking."},
            P{"Three- and four-finger gestures are suppressed too, but Mission Control and App "
              "Exposé swipes are consumed by the window server before any app-level tap sees "
              "them, so those may still get through."},
            H{"Turn Off Keyboard Backlight"},
            P{"Saves the current level, sets it to zero, and puts it back when the session stops "
              "or Orvel quits. Settings › Devices shows a diagnostic line telling which mechanism "
              "answered on this Mac."},
            H{"Turn Off Built-In Display"},
            P{"Darkens the internal panel only; external displays keep their brightness. On a "
              "laptop with the lid shut there is nothing to darken, so it does nothing until the "
              "lid opens."},
            H{"Disable Screen Saver"},
            P{"Stops the screen saver starting while a session runs. Your normal setting is "
              "untouched."},
        });
}

View HelpDurations::body() const {
    return page(
        kPageSpacing,
        {
            P{"Choosing a duration does **not** start a session: it configures the next one, "
              "which the switch at the top of the menu or the global shortcut actually starts. If "
              "a session is already running, changing the duration re-bases it from now."},
            H{"Indefinitely"},
            P{"No timer. Runs until you stop it."},
            H{"Preset lengths"},
            P{"15 minutes through 5 hours. Each becomes `-t seconds`."},
            H{"Custom…"},
            P{"Opens a small window for hours and minutes that shows the resulting end time. It "
              "is a separate window rather than inline in the menu because the menu dismisses on "
              "any click outside, which makes typing unreliable."},
            H{"Until an app quits"},
            P{"Pick a running application and the session stays on until it exits. It rides the "
              "same watcher as app rules (compatibility mode uses `caffeinate -w PID` instead), "
              "but no rule is involved: it is a one-off, and a MANUAL session, so rules never end "
              "it. The Apps sub-tab shows the watch while it runs: **Change App…** switches the "
              "watch to a different application mid-session, and **Make this a rule…** (in the "
              "menu or on that sub-tab) stages a pre-filled, disabled app rule for review."},
            H{"Launch an app and caffeinate until it exits"},
            P{"The same idea, but Orvel starts the app itself and stays on for the app's "
              "lifetime."},
        });
}
View HelpTriggers::body() const {
    return page(
        kPageSpacing,
        {
            P{"Rules watch for something in the world (a Bluetooth device, a WiFi network, a "
              "network fact) and start or end sessions when it changes. The master switch, "
              "priority order and activity log live in Settings › Automations & Triggers › "
              "Triggers, the rules themselves in the Schedule, Bluetooth, Network and Apps "
              "sub-tabs, export/import and Delete All Rules in Advanced."},
            H{"Rules"},
            P{"A rule names one thing to watch and what each direction does. **Bluetooth rules** "
              "pick a paired device, with separate actions for connect and disconnect. **Network "
              "rules** pick exactly one matcher (WiFi SSID, IPv4 range (CIDR), gateway IP, DNS "
              "search domain, interface type, or VPN connected), with actions for the condition "
              "appearing and clearing. Combining conditions means writing several rules."},
            P{"Each rule also carries its own session duration (indefinite or timed), an **Only "
              "while on AC power** checkbox, and a **Test** button that fires its action "
              "immediately, marked as simulated in the log."},
            P{"Clearing is symmetric by default — leaving the SSID that started a session ends "
              "it. Setting the clearing action to *Do nothing* overrides that per rule."},
            H{"What rules can and cannot touch"},
            P{"Deactivate events end only sessions a trigger started. A session you started by "
              "hand is untouchable: a rule firing during it is simply ignored and re-arms. "
              "Likewise only one trigger session runs at a time: a second rule firing is ignored "
              "too."},
            P{"Battery, Low Power Mode and UPS safety triggers are the one exception: they end "
              "**any** session, manual included, and sit outside the priority order. See the "
              "Battery & UPS page."},
            H{"Priority and the shield"},
            P{"The Triggers sub-tab orders all five rule families, by default Schedule › "
              "Bluetooth › WiFi (SSID) › Network › Apps; each row's up and down buttons reorder "
              "them. While a higher-priority activate condition still holds (the headphones are "
              "still connected, the overnight window is still open), deactivate events from lower "
              "priorities are ignored. The activity log records these as *shielded*."},
            P{"Above the numbered list sits a pinned row, **Battery & UPS safety · ALWAYS "
              "FIRST**. Those triggers (battery floor, on-battery off, Low Power Mode, UPS "
              "reaction) are enforcement, not presence signals: they end any session, manual "
              "included, and so cannot be ranked. If they could be moved below a rule, the shield "
              "would apply to them too, and a holding rule (headphones connected, window open) "
              "would silently suppress a low-battery shutoff. The row shows which safety switches "
              "are currently enabled; they are configured on the Battery/Power sub-tab."},
            H{"Re-arming"},
            P{"Rules are edge-triggered. When you end a session by hand while a rule's condition "
              "still holds, that rule stays quiet until its condition clears and happens again: "
              "disconnecting and reconnecting the headphones, not just waiting."},
            H{"Pause"},
            P{"**Pause Triggers** in the menu (or the Triggers tab) suspends all rules for an "
              "hour, until tomorrow morning, or until re-enabled, without touching the rules "
              "themselves. The running session, if any, is unaffected."},
            H{"Schedule rules"},
            P{"The Schedule sub-tab offers two kinds. A **repeating window** (start and end time, "
              "day-of-week picker) holds like any other condition, so shield, priority and re-arm "
              "apply; leaving off the end time makes it fire at the start time only. A "
              "**one-time** rule fires once at a date and time, then disables itself with a FIRED "
              "badge; reuse it by editing the date and switching it back on. Missed fires catch "
              "up within 30 minutes, otherwise they're skipped and logged as missed."},
            P{"Per rule: **Wake the Mac** (installs the wake helper: one admin approval, never at "
              "launch; remove it on the Schedule sub-tab), **Lock to the password screen at "
              "fire** (system lock, display held lit until sign-in), **Also end manual sessions** "
              "(enforcement: normally rules never touch manual sessions), and AC-only. Every "
              "start also reads keep-alive drives and remounts vanished shares."},
            H{"App rules"},
            P{"The Apps sub-tab: pick an application and its launch and quit become trigger "
              "events. Windowed apps report instantly, with no polling and no permissions. "
              "Menu-bar or background apps need **Watch background processes** (chosen "
              "automatically when you pick such an app), which checks every few seconds while "
              "such a rule is on. An app already running when Orvel starts counts as a live "
              "event."},
            H{"The activity log"},
            P{"The last 50 events, newest first, in plain language: what happened, what Orvel did "
              "about it, and why not when it didn't (shielded, paused, re-arm pending, AC-only, "
              "session already running). Green started a session, red ended one, orange re-armed, "
              "blue was a Test."},
            H{"Export and import"},
            P{"In Settings › Advanced, **Export Settings…** writes rules, priority, drive "
              "configuration and every preference to one JSON file; a checkbox encrypts it with a "
              "passphrase. Safety acknowledgments never travel: each Mac keeps its own first-run "
              "explanation and confirmations. Importing a rule for hardware this Mac has never "
              "seen leaves it disabled with an *unavailable on this Mac* badge; it becomes usable "
              "automatically once the device shows up."},
            P{"**Delete All Rules…** asks twice before doing anything."},
            H{"Reset All Settings"},
            P{"Found in Settings › Troubleshooting. It asks twice, the first dialog offering "
              "**Export Settings First…**, then returns every preference on every tab to defaults "
              "and deletes all trigger rules (imported ones included), the drive keep-alive "
              "configuration and the activity log, which afterwards holds a single entry "
              "recording the reset. Launch at login is preserved, the first-run explanation is "
              "shown again, and the app keeps running."},
            P{"macOS permission grants normally survive the reset too. The final confirmation has "
              "a checkbox, **Also clear Orvel's macOS permission grants**, that resets Input "
              "Monitoring, Accessibility and Bluetooth in one pass (the same tccutil reset as in "
              "Terminal); macOS then prompts again the next time a feature needs one. Location "
              "Services is managed outside that system and has to be removed by hand in System "
              "Settings › Privacy & Security › Location Services."},
            H{"After login"},
            P{"Trigger sessions never survive a reboot. But hardware reconnecting after login is "
              "a live event, so rules typically re-fire on their own moments after startup."},
        });
}

View HelpDrives::body() const {
    return page(
        kPageSpacing,
        {
            P{"Settings › Drives keeps chosen volumes spinning by reading one uncached 4 KB block "
              "from each on a schedule. Reads only — Orvel never writes to your drives."},
            H{"Choosing drives"},
            P{"The list shows local volumes and network shares. Each drive has its own switch, a "
              "lifecycle (**Always** or **Only while Orvel is on**) and an optional interval "
              "override; the global interval (default every 3 minutes) lives at the top. **Read "
              "now** fires a single read so you can hear or see the drive respond."},
            H{"Always is passive"},
            P{"An Always drive stays spinning only while the Mac itself is up: drive keep-alive "
              "never holds the Mac up on its own. Combine it with a sleep switch if the Mac must "
              "stay up too."},
            H{"Network shares"},
            P{"A share that unmounts is remounted automatically from its stored address using "
              "only the Keychain, never a credentials dialog, and keep-alive resumes. Until it "
              "returns, the row shows OFFLINE."},
            H{"The global disk flag"},
            P{"Enabling any per-drive keep-alive turns the global Prevent Disk Sleep (-m) flag "
              "off, and the Drives tab says so, since per-drive selection is replacing it. Turn "
              "-m back on manually if you really want both."},
        });
}

View HelpBatteryPower::body() const {
    return page(
        kPageSpacing,
        {
            P{"Settings › Automations & Triggers › Battery/Power reacts to the Mac's own power "
              "state. Everything there uses public IOKit and ProcessInfo — no permissions, ever. "
              "These are **safety triggers**: unlike Bluetooth and network rules, they end *any* "
              "session, manual or automatic, and sit outside the priority order."},
            H{"While charging"},
            P{"**Turn on Orvel automatically while charging** starts a session when power arrives "
              "(charging *or full*, so a full battery on AC stays on) and ends it on unplugging. "
              "It has its own session duration, separate from the menu's. A manual toggle wins "
              "until the power state next changes."},
            H{"On battery"},
            P{"**Disable Orvel while on battery** ends the session when the Mac unplugs, "
              "immediately or after a configurable delay. **End session when battery drops below "
              "X%** (default 20) is the harder floor and fires while draining no matter how the "
              "session started. **End session when Low Power Mode turns on** also blocks new "
              "sessions: the menu toggle greys out until Low Power Mode is off again."},
            H{"Recovery"},
            P{"**Re-enable when battery recovers above Y%** (default 50, always above X) resumes "
              "only sessions that battery rules ended and never starts fresh ones; a timed "
              "session comes back with the time it had left. If several batteries tripped (the "
              "Mac's and a device's), **all** must recover above their own levels first. Ending "
              "the session by hand in between cancels the resume, and a pending resume does not "
              "survive a restart. Both the end and the automatic re-enable post a notification."},
            H{"UPS"},
            P{"With a USB-connected UPS, **React when a UPS becomes the power source** has two "
              "modes. **Symmetric** starts an indefinite session while the UPS carries the Mac "
              "and ends it when wall power returns. **Inverted** ends any running session the "
              "moment the UPS takes over, to shed load and stretch the runtime. The section is "
              "greyed out with a note when no UPS is attached."},
            H{"Device batteries"},
            P{"Bluetooth rules carry their own per-device floors, **End sessions when battery "
              "drops below** and **Re-enable when it recovers above**, set inside each rule on "
              "the Bluetooth sub-tab. macOS reports battery only for *connected* devices, so a "
              "device that dies away from the Mac is caught by its disconnect rule instead."},
            H{"Conflict warnings"},
            P{"When two settings can fight (the low-battery floor against UPS Symmetric, Low "
              "Power Mode against UPS sessions, the on-battery switch against a UPS, a rule that "
              "starts on disconnect against its own battery floor, the global shortcut against "
              "the disabled built-in keyboard, or per-drive keep-alive against the global −m "
              "flag), a small yellow note is shown beneath each of them, naming the other setting "
              "and saying which one wins. No yellow note means no conflict. The precedence is "
              "enforced, not just described: the battery floor beats UPS Symmetric, Low Power "
              "Mode blocks every start until it turns off (blocked starts retry then), and the "
              "on-battery switch treats UPS power as external power."},
            P{"An actively-firing conflict also shows as one yellow line at the top of the menu, "
              "including “waiting to re-enable” states with the live battery level; clicking it "
              "opens the setting behind it. Diagnostics reports carry a CONFLICTS section listing "
              "configured and currently-active conflicts, labeled; the Simulate buttons on the "
              "Advanced tab fire these power paths for real (low battery, recovery, Low Power "
              "Mode, UPS takeover), so the whole chain can be verified without draining a "
              "battery."},
        });
}

namespace {

std::string withBundle(std::string_view command) {
    return std::string(command) + " " + kBundleIdentifier;
}

// Rows 5 and 6 mark only once a probe has run in this process: before that nobody has looked,
// and looking here would be a check the user did not ask for.
std::optional<bool> builtInInputGranted() {
    const auto cached = InputBlocker::cachedPermissions();
    if (!cached) {
        return std::nullopt;
    }
    return cached->inputMonitoring && cached->accessibility;
}

View featureTable(std::optional<bool> wakeHelperGranted) {
    const auto input = builtInInputGranted();
    std::vector<View> rows{
        PermRow{"All sleep prevention", "None", std::nullopt},
        PermRow{"Screen saver, display off, backlight", "None", std::nullopt},
        PermRow{"App rules, schedule windows, one-shots", "None", std::nullopt},
        PermRow{"Schedule rules that wake the Mac", "Wake helper (one admin approval)",
                wakeHelperGranted},
        PermRow{"Disable Built-In Keyboard", "Input Monitoring + Accessibility", input},
        PermRow{"Disable Built-In Trackpad", "Input Monitoring + Accessibility", input},
        PermRow{"Turn Off Keyboard Backlight", "May ask for Input Monitoring", std::nullopt},
        PermRow{"Global shortcut (⌃⌥⌘C)", "Input Monitoring", std::nullopt},
        PermRow{"Global shortcut (custom)", "Input Monitoring + Accessibility", std::nullopt},
        PermRow{"Scan devices in Settings", "Input Monitoring", std::nullopt},
        PermRow{"Bluetooth rules", "Bluetooth (first rule added)", std::nullopt},
        PermRow{"WiFi SSID rules", "Location Services (first SSID rule)", std::nullopt},
        PermRow{"Network, drive and VPN rules", "None", std::nullopt},
        PermRow{"Battery, Low Power Mode and UPS triggers", "None", std::nullopt},
        PermRow{"Bluetooth device battery levels", "None (system-reported)", std::nullopt},
        PermRow{"Drive keep-alive on shares/external drives",
                "Files & Folders (asked on first read)", std::nullopt},
        PermRow{"Launch at login", "Login Items approval", std::nullopt},
        PermRow{"Session-ended notifications", "Notifications", std::nullopt},
    };
    return VStack(HAlign::leading, 9, std::move(rows)).padding(kEdgeVertical, 4);
}

View lossTable() {
    return VStack(
        HAlign::leading, 12,
        {
            LossRow{"Input Monitoring",
                    "Built-in keyboard and trackpad blocking, the global shortcut, the device "
                    "scanner, and possibly the keyboard backlight. Orvel can no longer tell which "
                    "physical device an event came from, so it can't safely suppress one keyboard "
                    "without risking your external one."},
            LossRow{"Accessibility",
                    "Also required for keyboard and trackpad blocking: Input Monitoring lets Orvel "
                    "observe devices, but only Accessibility lets it suppress events."},
            LossRow{"Bluetooth",
                    "Bluetooth rules can't watch device connections, so they never fire. Every "
                    "other rule type still works."},
            LossRow{"Location Services",
                    "macOS hides WiFi network names, so SSID rules show NEEDS LOCATION and never "
                    "match. Match by gateway, IPv4 range or search domain instead — those need "
                    "nothing."},
            LossRow{"Notifications",
                    "The alert when a timed session ends. The countdown in the menu bar still "
                    "works; you just aren't told after the fact."},
            LossRow{"Login Items",
                    "Launching at login. Everything works normally once you start Orvel yourself, "
                    "including restoring your previous session."},
        });
}

}  // namespace

View HelpPermissions::body() const {
    return page(
        kPageSpacing,
        {
            P{"Most of Orvel needs nothing at all. Only the features in the table below prompt, "
              "and only when you turn them on — starting a session, restoring after a reboot or "
              "waking from sleep will never raise a dialog. One special case: schedule rules with "
              "**Wake the Mac** use a tiny helper whose sole ability is registering wake times. "
              "Installing it asks for admin approval once, when Wake the Mac is first switched on "
              "for a rule; Enable and Remove live on the Schedule sub-tab."},
            featureTable(wakeHelperGranted),
            H{"Orvel asks for nothing until you ask it to"},
            P{"A fresh install performs no permission check of any kind. Not at launch, not when "
              "the menu opens, not when Settings opens. The state shows as unknown rather than "
              "not granted, because Orvel has not looked."},
            P{"Everything allowed to check or ask is a click you made: turning on **Disable "
              "Built-In Keyboard** or **Disable Built-In Trackpad** (which shows the one-time "
              "explanation first), turning on **Turn Off Keyboard Backlight**, pressing any "
              "**Enable**, **Scan** or **Check** button in Settings, running **Run Self-Test** or "
              "**Copy Report**, and adding the first **Bluetooth** or **WiFi SSID rule**. Nothing "
              "else in the app can raise a permission dialog — trigger rules firing in the "
              "background never do."},
            H{"If you grant nothing at all"},
            P{"Orvel still does its main job completely. With zero permissions you keep every "
              "sleep switch, every duration including timers and watch-an-app, the screen saver "
              "switch, both display switches, and both engines."},
            P{"You lose the two built-in input switches, possibly the keyboard backlight, and the "
              "global shortcut. Everything else is unaffected."},
            H{"Why a global shortcut needs one"},
            P{"Registering a system-wide hot key installs a keyboard handler, which macOS treats "
              "as Input Monitoring on current versions, so the shortcut is **off by default**. "
              "Turn it on in Settings › General; once the grant exists it registers silently at "
              "every later launch."},
            H{"Why scanning devices needs one"},
            P{"Asking macOS for the list of attached input devices is itself gated, even though "
              "nothing is read from them. That is why Settings › Devices has a Scan button "
              "instead of showing the list on open."},
            H{"Declining one permission at a time"},
            lossTable(),
            H{"Granting them"},
            P{"The grants live in System Settings › Privacy & Security › Input Monitoring, and "
              "the same under Accessibility. Add Orvel with the **+** if it isn't listed, or tick "
              "it if it is. The Enable buttons in Settings › Devices do this for you, and open "
              "the right pane if macOS has no dialog left to show."},
            P{"Accessibility takes effect immediately. Input Monitoring usually needs Orvel quit "
              "and relaunched. Settings › Devices re-checks every couple of seconds, so you can "
              "watch the status change without closing the window."},
            H{"After every rebuild"},
            P{"A permission grant is tied to the app's code signature, so replacing the app "
              "invalidates it while macOS keeps showing the old entry as ticked. Remove Orvel "
              "with the **−** from both lists and re-add it. This is the single most common "
              "cause of “it stopped working”."},
            Cmd{withBundle("tccutil reset All") + "\n" + withBundle("tccutil reset ListenEvent") +
                    "\n" + withBundle("tccutil reset Accessibility") + "\n" +
                    withBundle("tccutil reset BluetoothAlways"),
                "All = every grant at once. Individually: ListenEvent is Input Monitoring, then "
                "Accessibility, then Bluetooth. Quit Orvel first — grants take effect at the next "
                "launch. Location Services is not TCC-resettable: remove it by hand in System "
                "Settings › Privacy & Security › Location Services."},
        });
}

View HelpCommandLine::body() const {
    const std::string logPredicate = std::string("log stream --predicate 'subsystem == \"") +
                                     kBundleIdentifier + "\"' --level info";
    return page(
        kPageSpacing,
        {
            P{"Everything on the sleep side of Orvel is available from Terminal. These are the "
              "exact equivalents."},
            H{"Basic sessions"},
            Cmd{"caffeinate -d", "Prevent display sleep until you press ⌃C."},
            Cmd{"caffeinate -dimsu",
                "Everything at once: display, idle, disk, system, and declare user active."},
            Cmd{"caffeinate -d -t 3600", "Prevent display sleep for one hour, then exit."},
            Cmd{"caffeinate -w 4242", "Stay orvel until process 4242 exits."},
            Cmd{"caffeinate -d /Applications/Xcode.app/Contents/MacOS/Xcode",
                "Launch a program and caffeinate for exactly as long as it runs."},
            H{"Finding a PID to wait on"},
            Cmd{"pgrep -x Xcode", "Prints the process ID of a running app by name."},
            H{"Inspecting what's holding the Mac orvel"},
            Cmd{"pmset -g assertions",
                "Lists every power assertion and which process owns it. Orvel's appears under "
                "PreventUserIdleDisplaySleep or PreventSystemSleep."},
            Cmd{R"(pmset -g log | grep -i "sleep\|wake")",
                "Recent sleep and wake history with reasons."},
            H{"Sleeping the displays"},
            Cmd{"pmset displaysleepnow",
                "Blank every display immediately. Equivalent to Orvel's Sleep All Displays."},
            H{"Checking Orvel itself"},
            Cmd{logPredicate,
                "Live log of what Orvel is doing — engine starts, input seizes, backlight "
                "changes."},
            Cmd{withBundle("defaults read"), "Print every stored preference."},
            Cmd{withBundle("defaults delete"),
                "Factory wipe from Terminal: every stored preference goes. Quit Orvel first."},
            H{"Permission grants (TCC)"},
            Cmd{withBundle("tccutil reset All"),
                "Every grant at once — same command the Reset All Settings checkbox runs."},
            Cmd{withBundle("tccutil reset ListenEvent"),
                "Input Monitoring only (ListenEvent is its internal name)."},
            Cmd{withBundle("tccutil reset Accessibility"), "Accessibility only."},
            Cmd{withBundle("tccutil reset BluetoothAlways"), "Bluetooth only."},
            P{"Quit Orvel before any of these; grants take effect at the next launch. Location "
              "Services lives outside TCC — remove it by hand in System Settings › Privacy & "
              "Security › Location Services."},
            H{"Verifying the build"},
            Cmd{"lipo -info /Applications/Orvel.app/Contents/MacOS/Orvel",
                std::string("Should report ") + ORVEL_ARCHITECTURE + "."},
            Cmd{"codesign -dv --verbose=4 /Applications/Orvel.app", "Show the signing identity."},
            Cmd{"spctl -a -vvv /Applications/Orvel.app", "Check Gatekeeper acceptance."},
            Cmd{"xattr -dr com.apple.quarantine /Applications/Orvel.app",
                "Clear the quarantine flag after copying the app from another Mac."},
        });
}

View HelpPersistence::body() const {
    return page(
        kPageSpacing,
        {
            H{"Sleep and wake"},
            P{"Indefinite sessions are re-asserted automatically after every wake. Timed sessions "
              "end on sleep rather than resuming with a stale countdown: the time you set was "
              "wall-clock time, and it kept running."},
            P{"Only true system sleep counts. Display sleep and screen lock don't end anything."},
            P{"Schedule rules add two wrinkles. A rule with **Wake the Mac** on registers a "
              "system wake through the helper, so its start can pull the Mac out of sleep. And "
              "anything scheduled that fired while the Mac couldn't act catches up within 30 "
              "minutes of its moment — later than that it is skipped and logged as missed."},
            H{"Trigger sessions across sleep"},
            P{"Trigger-started sessions always resume after wake. A timed one freezes its "
              "remaining time while the Mac sleeps and picks up where it left off, unlike manual "
              "timed sessions, which end at sleep. Condition changes that happen during sleep "
              "are ignored until the next live event."},
            H{"Restart and shutdown"},
            P{"If a session was on at shutdown, it comes back on at login with the same flags and "
              "device settings. A timed session comes back as indefinite, since a two-hour timer "
              "from before a reboot no longer means anything."},
            P{"Trigger-started sessions never survive a reboot. Hardware reconnecting after login "
              "counts as a fresh live event, so a rule usually re-fires on its own within seconds "
              "of your AirPods or network coming back."},
            H{"Battery safety and resume"},
            P{"When a battery rule ends a session (the on-battery switch, the low-battery floor, "
              "or a device battery floor) and **Re-enable when battery recovers** is on, Orvel "
              "remembers what it ended and resumes it once every tripped battery is back above "
              "its recovery level. A timed session resumes with the time it had left. Turning the "
              "session off by hand in between cancels the pending resume, and a pending resume "
              "does not survive a restart."},
            H{"Launch at login"},
            P{"The switch is in Settings › General. It uses the modern login-item registration, "
              "so Orvel is listed under System Settings › General › Login Items, where you can "
              "remove it independently."},
            H{"Crash safety"},
            P{"Input blocking is released on quit, on crash, and by a three-second watchdog if "
              "the app stops responding. In compatibility mode the caffeinate child process is "
              "terminated with the app."},
        });
}

View HelpShortcuts::body() const {
    return page(
        kPageSpacing,
        {
            H{"Global"},
            P{"**⌃⌥⌘C** toggles Orvel from anywhere — **off by default**. Turn it on in Settings "
              "› General. Registering a system-wide hot key installs a keyboard handler, which "
              "macOS may ask you to approve; after that it registers silently at every launch."},
            P{"A custom shortcut uses a modern event monitor instead, which needs Accessibility "
              "as well."},
            H{"Menu bar icon"},
            P{"**Left-click toggles Orvel immediately** without opening anything — the fastest "
              "way to use it. Right-click opens the panel. Settings › General › Menu bar icon "
              "clicks swaps the two."},
            H{"In windows"},
            P{"**⌘,** opens Settings, **⌘Q** quits, **⌘W** closes a window, and the usual Edit "
              "shortcuts work in the Custom Duration fields. These come from Orvel's main menu, "
              "which is installed whether or not the app shows in the Dock."},
            H{"In Settings"},
            P{"**⌘W** closes the window."},
        });
}

View HelpTroubleshooting::body() const {
    const std::string feedback =
        std::string("[") + kFeedbackAddress + "](mailto:" + kFeedbackAddress + ")";
    return page(
        kTroubleshootingSpacing,
        {
            H{"The Mac still sleeps"},
            P{"Check whether something outranks Orvel: `pmset -g assertions` shows every "
              "assertion. A closed lid on battery, or a scheduled sleep, can override a user "
              "assertion. `-s` in particular is ignored on battery by design."},
            Cmd{"pmset -g assertions", std::nullopt},
            H{"Built-in keyboard or trackpad won't disable"},
            P{"Look at Settings › Devices. The **Input Monitoring** and **Last attempt failed** "
              "lines tell you which half is wrong."},
            P{"*Insufficient privileges* means the grant is stale: remove Orvel from both Input "
              "Monitoring and Accessibility with the **−**, re-add it, then quit and relaunch. "
              "Ticking and unticking is not enough."},
            P{"*Not granted* means it was never approved. Turning the switch on will prompt."},
            P{"*Not granted* while System Settings shows Orvel ticked ON is a stale grant under a "
              "changed code signature, typical after replacing a build run from Xcode with the "
              "downloaded (Developer ID) app: macOS keys grants to the signature, so the ticked "
              "row belongs to the old copy. The remedy, in order: quit Orvel, run the tccutil "
              "reset below, delete every other copy of Orvel.app on this Mac (old builds are what "
              "poisoned the rows), relaunch from /Applications and approve the fresh prompts."},
            Cmd{withBundle("tccutil reset All"),
                "Clears every grant for Orvel in one pass. Per-service versions — ListenEvent "
                "(Input Monitoring), Accessibility, BluetoothAlways — are on the Command line "
                "equivalents page."},
            P{"If you would rather not use Terminal, Settings › Troubleshooting › **Reset All "
              "Settings…** runs the same clearing, with **Also clear Orvel's macOS permission "
              "grants** ticked on its final confirmation. It also resets every other setting — "
              "that is what it is for."},
            P{"If the device lists under Settings › Devices show the internal keyboard as "
              "external, or don't show it at all, please send those names: the classification is "
              "what everything else depends on."},
            H{"The cursor still moves"},
            P{"Some jitter is expected: the window server moves the pointer before Orvel can "
              "intervene, so it is warped back rather than prevented. If it moves freely, the "
              "trackpad isn't being recognised as internal; check the device lists in Settings › "
              "Devices."},
            H{"Gestures still work"},
            P{"Mission Control and App Exposé swipes are handled above the app layer and can't be "
              "blocked by an event tap. Pinch, rotate and in-app swipes should stop."},
            H{"Keyboard backlight doesn't respond"},
            P{"Settings › Devices shows a diagnostic line. *CoreBrightness unavailable · IOKit "
              "driver not found* means this Mac exposes no controllable backlight (a desktop, or "
              "an external keyboard only). If it names a route but the light stays on, something "
              "is re-asserting it: Orvel holds the level down twice a second, so expect a brief "
              "flicker rather than a steady glow."},
            H{"The screen or backlight comes back briefly"},
            P{"Zero brightness is not real display sleep. A screen capture, a brightness key, or "
              "the ambient light sensor all restore the panel instantly, with no notification "
              "from macOS; Orvel re-zeroes it twice a second, which turns a re-wake into a short "
              "flash. There is no supported way to prevent it outright with the lid open."},
            H{"Built-in display switch does nothing"},
            P{"With the lid shut there is no internal panel online to darken. Orvel keeps the "
              "switch visible because the Mac is still a laptop, but defers until the lid "
              "opens."},
            H{"A switch does nothing and never asks for permission"},
            P{"Check Settings › Devices: if Input Monitoring or Accessibility says *Not granted*, "
              "press **Enable** beside it. If that button seems to do nothing, macOS has already "
              "recorded a decision and has no dialog left to show; Orvel then opens the right "
              "settings pane itself."},
            P{"Accessibility applies immediately; Input Monitoring usually needs Orvel quit and "
              "relaunched."},
            H{"Settings shows Not granted after I granted it"},
            P{"Input Monitoring generally doesn't take effect until the app restarts. The status "
              "re-checks every couple of seconds, so if it still reads Not granted after a "
              "relaunch, the grant is attached to a different copy of the app: remove Orvel from "
              "the list with **−** and re-add the one in /Applications."},
            H{"I never saw the explanation about permissions"},
            P{"The explanation shows once, the first time Disable Built-In Keyboard or Trackpad "
              "is turned on. Settings › Troubleshooting › Reset All Settings brings it back along "
              "with everything else."},
            H{"Only one of the two permission dialogs appeared"},
            P{"macOS shows one at a time and discards a second raised while the first is up. "
              "Orvel waits for the first to be answered before raising the second, but if a "
              "dialog sits unanswered for 45 seconds it moves on. The Enable buttons in Settings "
              "› Devices ask again; they are the only other place Orvel ever requests a "
              "permission."},
            H{"A rule never fires"},
            P{"Check, in this order: is the master switch on, and not paused; is the rule "
              "enabled, and not badged *unavailable on this Mac*; is it AC-only while on battery; "
              "is it awaiting re-arm (the session was turned off by hand while the rule's "
              "condition held); is a session already running. The activity log states the reason "
              "for every ignored event, and **Test** on the rule shows what it would do right "
              "now."},
            H{"An end event was ignored"},
            P{"That's usually the shield: a higher-priority activate condition still holds, or "
              "the running session is manual and untouchable. The log entry names the shielding "
              "rule."},
            H{"SSID rule shows NEEDS LOCATION"},
            P{"macOS hides WiFi names from apps without Location Services. Adding the first SSID "
              "rule brings the prompt, or approve Orvel under System Settings › Privacy & "
              "Security › Location Services. Gateway or IPv4-range rules match the same network "
              "with no permission at all."},
            H{"A share keeps going OFFLINE"},
            P{"Orvel remounts the share silently with stored credentials. If macOS has none in "
              "the Keychain the remount fails without a dialog by design. Mount it once by hand "
              "in Finder and save the password to the Keychain; the automatic remount works from "
              "then on."},
            H{"Prevent Disk Sleep turned itself off"},
            P{"Enabling per-drive keep-alive does that deliberately — per-drive is replacing the "
              "global flag. The activity log records it."},
            H{"A battery rule ended the session and it never came back"},
            P{"Re-enabling needs all of: the **Re-enable when battery recovers above** switch on, "
              "the battery actually crossing that level, every device with a battery rule back "
              "above its own recovery level, no manual off in between (that cancels the resume), "
              "and no restart (a pending resume doesn't survive one). The activity log shows what "
              "it's still waiting for."},
            H{"The UPS section is greyed out"},
            P{"No UPS is attached, or macOS doesn't report one. Orvel looks for a UPS power "
              "source over USB; a UPS that only signals over the network isn't visible to it."},
            H{"The app won't open on another Mac"},
            P{"Gatekeeper quarantine. Clear it, then right-click the app and choose Open the "
              "first time."},
            Cmd{"xattr -dr com.apple.quarantine /Applications/Orvel.app", std::nullopt},
            H{"Something is stuck"},
            P{"Quit Orvel — every device change is reversed on quit, unconditionally. If input is "
              "still seized after that, log out and back in: nothing Orvel does survives a "
              "session."},
            Cmd{withBundle("defaults delete"),
                "Nuclear option: reset every preference. Quit Orvel first."},
            H{"Reporting a problem"},
            P{"Settings › Troubleshooting has two buttons at the bottom. Both copy straight to "
              "the clipboard, so you can paste the result into a message."},
            P{"For feedback, feature requests and suggestions other than problem reports, "
              "**About Orvel › Feedback…** opens your default e-mail program with a new message "
              "to " +
              feedback + ", after a confirmation. Orvel itself sends nothing."},
            P{"**Run Self-Test** actually exercises the hardware: it dims the keyboard backlight, "
              "reads the level back and restores it, does the same for the internal display, "
              "then checks both permissions, whether any device was classified as built-in, and "
              "which engine is running. Each line is marked PASS or FAIL with the measured "
              "values, so a switch that silently does nothing becomes a visible failure. It "
              "takes about a second and restores everything it touched, including if a step "
              "fails."},
            P{"Self-Test also records a POWER section: internal battery presence and level, any "
              "attached UPS and whether it is providing power, and Low Power Mode. The Obfuscate "
              "names checkbox hashes battery and UPS names like every other identifier."},
            P{"**Copy Report** captures the current state without changing anything: macOS "
              "version, Mac model, architecture, every permission, every switch, live power "
              "assertions, all attached displays, and a full device report listing each keyboard "
              "and pointing device with its bus, BuiltIn flag and vendor ID."},
            P{"That device report is usually the thing worth reading first: anything shown as "
              "*external* that is actually built into the Mac, or the reverse, explains most "
              "device-switch problems on its own, since classification is what every other step "
              "depends on."},
            H{"Reading the self-test"},
            P{"*FAIL — internal device found* means nothing matched as built-in, so blocking "
              "cannot engage no matter what the switches say. The device report tells why."},
            P{"*FAIL — dims to zero* with a route named means the write succeeded and something "
              "put the level back. On Macs with a T1 or T2 controller that is normal; Orvel "
              "re-asserts twice a second to hold it."},
            P{"*FAIL — Input Monitoring* or *Accessibility* is a stale or missing grant. See "
              "above."},
            H{"If you'd rather use Terminal"},
            Cmd{std::string("log show --predicate 'subsystem == \"") + kBundleIdentifier +
                    "\"' --last 30m --info > ~/Desktop/orvel-log.txt",
                std::nullopt},
        });
}

View HelpAccessibility::body() const {
    return page(
        kPageSpacing,
        {
            P{"Orvel mirrors the system's accessibility settings — there are no separate in-app "
              "accessibility switches to configure."},
            H{"What mirrors macOS automatically"},
            P{"**Reduce Transparency** renders the menu panel opaque (the Settings › General "
              "opaque option still exists; whichever asks for opaque wins). **Increase "
              "Contrast** promotes the panel's faintest captions to a stronger gray. "
              "**Differentiate Without Color** is already satisfied, since every state carries "
              "words or a glyph, never color alone. The system's per-app **Text Size** scales the "
              "whole menu, the in-app Menu text size control multiplies on top, and the product "
              "is capped between 50% and 200%. Past a 480-point width the panel stops widening "
              "and wraps instead, while the command box scrolls sideways rather than wrapping."},
            H{"VoiceOver"},
            P{"The menu bar icon announces Orvel plus its state: Active, Inactive, or Active with "
              "the rule that started it. Its Actions menu (VO-Space) offers **Toggle Orvel** and "
              "**Open Menu**, ordered to match your mouse-button preference in Settings › "
              "General. Inside the panel every switch announces its name and on/off state, and "
              "Esc closes the panel. The License Agreement window announces the moment Agree "
              "becomes available."},
            H{"The safety countdown"},
            P{"The confirmation when disabling built-in input waits 30 seconds normally and **90 "
              "seconds while VoiceOver is running**, so there is time to hear it and answer."},
            H{"Keyboard"},
            P{"Everything reachable by mouse is reachable by keyboard: the global shortcut "
              "toggles sessions, ⌘, opens Settings, ⌘Q quits, and Tab + Space drive the panel, "
              "every Settings tab, and the EULA window."},
        });
}

View HelpLanguages::body() const {
    const std::string support =
        std::string("[") + kSupportAddress + "](mailto:" + kSupportAddress + ")";
    return page(
        kPageSpacing,
        {
            P{"Orvel follows your Mac's language automatically: System Settings › General › "
              "Language & Region decides what you see. To run just Orvel in a different language, "
              "go to Language & Region › Applications › + › Orvel."},
            P{"Languages in this release: English, Spanish (Spain, Latin America and United "
              "States), French, German, Portuguese (Brazil and Portugal), Italian, Japanese, "
              "Simplified Chinese, Swedish, Norwegian Bokmål, Danish, Finnish and Dutch. Anything "
              "untranslated falls back to English rather than showing a blank."},
            H{"What stays in English on purpose"},
            P{"The License Agreement (its English text governs — the gate says so in your "
              "language), diagnostics reports (they are read by support), and the command "
              "preview (it is a real command line)."},
            H{"Spotted an awkward translation?"},
            P{"Translations are machine-generated and reviewed opportunistically. E-mail the "
              "exact text and what it should say to " +
              support + "; corrections ship in the next update, no reinstall needed beyond it."},
        });
}

}  // namespace orvel::help

namespace orvel {

using namespace help;

HelpPages::HelpPages(std::function<const WakeHelperClient&()> wakeHelper, Paths& paths,
                     LicenseAgreement& agreement)
    : wakeHelper_(std::move(wakeHelper)), paths_(paths), agreement_(agreement) {}

HelpPages& HelpPages::shared() {
    return Registry::instance<HelpPages>();
}

View HelpPages::pageBody(HelpSection section) const {
    switch (section) {
        case HelpSection::whatItDoes:
            return HelpWhatItDoes{}.body();
        case HelpSection::theMenu:
            return HelpTheMenu{}.body();
        case HelpSection::sleepSwitches:
            return HelpSleepSwitches{}.body();
        case HelpSection::deviceSwitches:
            return HelpDeviceSwitches{}.body();
        case HelpSection::durations:
            return HelpDurations{}.body();
        case HelpSection::triggers:
            return HelpTriggers{}.body();
        case HelpSection::drives:
            return HelpDrives{}.body();
        case HelpSection::batteryPower:
            return HelpBatteryPower{}.body();
        case HelpSection::permissions: {
            std::optional<bool> wakeHelperGranted;
            if (wakeHelper_().state() == WakeHelperClient::State::active) {
                wakeHelperGranted = true;
            }
            return HelpPermissions{wakeHelperGranted}.body();
        }
        case HelpSection::commandLine:
            return HelpCommandLine{}.body();
        case HelpSection::persistence:
            return HelpPersistence{}.body();
        case HelpSection::shortcuts:
            return HelpShortcuts{}.body();
        case HelpSection::troubleshooting:
            return HelpTroubleshooting{}.body();
        case HelpSection::accessibility:
            return HelpAccessibility{}.body();
        case HelpSection::languages:
            return HelpLanguages{}.body();
        case HelpSection::acknowledgments:
            return HelpAcknowledgments{licensesDirectory(paths_),
                                       [&agreement = agreement_] { agreement.showAgreementText(); }}
                .body();
    }
    return EmptyView();
}

}  // namespace orvel
