#include "menubar/MenuView.h"

#include <algorithm>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "foundation/Calendar.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "menubar/AppWindows.h"
#include "menubar/SystemA11y.h"
#include "platform/Processes.h"
#include "platform/UserDefaults.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "ui/Host.h"

namespace orvel {

using namespace ui;

namespace {

constexpr double kMaxWidth = 480;
constexpr double kBaseWidth = 320;
constexpr double kHeightWithoutScreen = 760;
constexpr double kScreenMargin = 40;
constexpr double kDimmed = 0.45;
constexpr double kTomorrowMorning = 28800;
constexpr const char* kLocksHelp = "Needs Input device access and Input device control";

const RGBA kRuleDot{0.69, 0.486, 0.31, 1.0};
const RGBA kRuleText{0.788, 0.608, 0.431, 1.0};
const RGBA kCommandLight{0.06, 0.42, 0.16, 1.0};
const RGBA kCommandDark{0.36, 0.85, 0.44, 1.0};

View sectionDivider() {
    return Divider().padding(kEdgeVertical, 6);
}

// Calls a window operation of the running application, if there is one.
void withWindows(void (AppWindows::*operation)()) {
    if (AppWindows* windows = AppWindows::current()) {
        (windows->*operation)();
    }
}

// An orange caveat under a row, wrapped onto as many lines as it needs.
View note(View text, double s) {
    return text.font(Font::system(10 * s))
        .foregroundStyle(Color::orange())
        .padding(kEdgeHorizontal, 12);
}

}  // namespace

MenuView::MenuView(const Services& services)
    : c_(services.controller),
      prefs_(services.prefs),
      dev_(services.devices),
      blocker_(services.inputBlocker),
      display_(services.display),
      triggers_(services.triggers),
      power_(services.power),
      a11y_(services.a11y),
      defaults_(services.defaults),
      processes_(services.processes) {}

std::vector<ObservableObject*> MenuView::observedObjects() {
    return {&c_, &prefs_, &dev_, &triggers_, &power_, &a11y_};
}

// Frame and building blocks --------------------------------------------------------------------

double MenuView::scale() const {
    const double product = prefs_.menuScale() * a11y_.textFactor();
    return std::min(std::max(product, 0.5), 2.0);
}

double MenuView::width(double scale) {
    return std::min(kBaseWidth * scale, kMaxWidth);
}

double MenuView::maxHeight() {
    if (auto screen = UiHost::current().mainScreenVisibleFrame()) {
        return screen->height - kScreenMargin;
    }
    return kHeightWithoutScreen;
}

View MenuView::switchLabel(const std::string& title, const std::string& caption) const {
    const double s = scale();
    return VStack(HAlign::leading, 1,
                  {Text(title).font(Font::system(13 * s)).fixedSize(false, true),
                   Text(caption)
                       .font(Font::system(10 * s))
                       .foregroundStyle(Hierarchy::tertiary)
                       .fixedSize(false, true)});
}

View MenuView::gatedRowLabel(const std::string& title, bool gated,
                             std::optional<std::string> help) const {
    const double s = scale();
    std::vector<View> parts{Text(title).font(Font::system(13 * s)).fixedSize(false, true)};
    if (gated) {
        // Only the cache is read: drawing the panel never starts a permission probe.
        const auto status = blocker_.cachedPermissions();
        const bool missing = status && (!status->inputMonitoring || !status->accessibility);
        const std::string symbol = status && !missing ? "lock.open" : "lock";
        parts.push_back(Image(symbol)
                            .font(Font::system(9 * s))
                            .foregroundStyle(missing ? ForegroundStyle(Color::orange())
                                                     : ForegroundStyle(Color::secondary()))
                            .help(help.value_or(kLocksHelp)));
    }
    return HStack(VAlign::center, 5, std::move(parts));
}

Binding<bool> MenuView::optionBinding(bool SleepOptions::*field) const {
    OrvelController* c = &c_;
    return Binding<bool>{[c, field] { return c->options().*field; },
                         [c, field](const bool& value) { c->setOption(field, value); }};
}

void MenuView::openSettingsTab(std::int64_t subTab) const {
    UserDefaults& d = defaults_;
    d.setInteger("atSubTab", subTab);
    d.setInteger("settingsTabSelection", 1);
    withWindows(&AppWindows::openSettings);
}

double MenuView::secondsUntilTomorrowMorning() {
    return secondsUntilNextDay(RunLoop::main().now(), kTomorrowMorning);
}

Color MenuView::commandTextColor() {
    return Color::dynamic(kCommandLight, kCommandDark);
}

std::string MenuView::durationFlag(DurationPreset preset) const {
    switch (preset) {
        case DurationPreset::indefinite:
            return "\u2014";
        case DurationPreset::custom: {
            const std::int64_t seconds = prefs_.customSeconds();
            return seconds > 0 ? "-t " + std::to_string(seconds) : "-t n";
        }
        case DurationPreset::untilAppQuits:
            return "-w pid";
        default:
            return "-t " + std::to_string(fixedSeconds(preset).value_or(0));
    }
}

// The panel -------------------------------------------------------------------------------------

View MenuView::body() {
    const double s = scale();
    OrvelController& c = c_;

    std::vector<View> sections;
    sections.push_back(header(s));
    if (power_.notice()) {
        sections.push_back(noticeRow(s));
    }
    sections.push_back(sectionDivider());

    sections.push_back(sectionHeader("DURATION", s));
    std::vector<View> durations;
    for (const auto& entry : EnumTraits<DurationPreset>::cases) {
        durations.push_back(durationRow(entry.value, s).id(std::string(entry.raw)));
    }
    sections.push_back(Group(std::move(durations)));
    if (c.isActive() && c.preset() == DurationPreset::untilAppQuits && c.watchedAppName()) {
        sections.push_back(makeRuleRow(*c.watchedAppName(), s));
    }
    sections.push_back(sectionDivider());

    sections.push_back(triggersSection(s));

    sections.push_back(sectionHeader("SLEEP", s));
    const bool onAC = c.isOnAC();
    sections.push_back(sleepRow("Prevent Display Sleep", "Screen stays on", "-d",
                                &SleepOptions::preventDisplaySleep, true, s));
    // Told whether the switch is on or off, so it is known before it is flipped.
    if (const auto& shortfall = c.displayShortfall()) {
        sections.push_back(note(TextVerbatim(*shortfall).fixedSize(false, true), s));
    }
    sections.push_back(sleepRow("Prevent Idle Sleep", "System stays awake while idle", "-i",
                                &SleepOptions::preventIdleSleep, true, s));
    sections.push_back(sleepRow("Prevent Disk Sleep", "Keeps disks spun up", "-m",
                                &SleepOptions::preventDiskSleep, true, s));
    // The stored choice stays as it is on battery; the effective options leave it out there.
    sections.push_back(sleepRow(
        "Prevent System Sleep",
        onAC ? textKey("Only while on power") : textKey("Ignored \u2014 running on battery"), "-s",
        &SleepOptions::preventSystemSleep, onAC, s));
    sections.push_back(sleepRow("Declare User Active", "Wakes the display if asleep", "-u",
                                &SleepOptions::declareUserActive, true, s));
    sections.push_back(sectionDivider());

    sections.push_back(sectionHeader("BUILT-IN DEVICES", s));
    sections.push_back(builtInDevicesSection(s));
    sections.push_back(commandBlock(s));

    if (c.lastError()) {
        sections.push_back(TextVerbatim(*c.lastError())
                               .font(Font::system(11 * s))
                               .foregroundStyle(Color::orange())
                               .padding(kEdgeHorizontal, 12)
                               .padding(kEdgeTop, 4));
    }
    sections.push_back(footer(s));

    View panel =
        ScrollView(VStack(HAlign::leading, 0, std::move(sections)).padding(6), false, true);
    if (prefs_.menuBold()) {
        panel = panel.fontWeight(FontWeight::bold);
    }
    const bool opaque = prefs_.menuOpaque() || a11y_.reduceTransparency();
    Frame limit;
    limit.withMaxHeight(maxHeight()).withAlignment(Alignment::center());
    return panel.frame(Frame::fixed(width(s)))
        .frame(limit)
        .background(Background{opaque ? Color::windowBackground() : Color::clear(),
                               Shape::rectangle(), true});
}

View MenuView::sectionHeader(const std::string& title, double s) {
    return Text(title)
        .font(Font::system(10 * s, FontWeight::semibold))
        .foregroundStyle(a11y_.increaseContrast() ? Hierarchy::secondary : Hierarchy::tertiary)
        .padding(kEdgeHorizontal, 12)
        .padding(kEdgeBottom, 4);
}

// Header, notice and footer ---------------------------------------------------------------------

View MenuView::header(double s) {
    OrvelController& c = c_;
    std::string title;
    if (!c.isActive()) {
        title = localized("Sleep allowed");
    } else if (c.secondsRemaining() > 0) {
        title = localizedFormat("Awake for %@", {c.formatRemaining()});
    } else {
        title = localized("Awake indefinitely");
    }
    std::vector<View> lines{
        // A long word of another language wraps rather than push the switch aside.
        TextVerbatim(title).font(Font::system(15 * s, FontWeight::semibold)).fixedSize(false, true),
        TextVerbatim(c.statusText())
            .font(Font::system(11 * s))
            .foregroundStyle(Hierarchy::secondary)
            .fixedSize(false, true),
    };
    if (c.startedByRuleName()) {
        lines.push_back(
            HStack(VAlign::center, 5,
                   {ShapeFill(Shape::circle(), Color{kRuleDot, std::nullopt, 1.0})
                        .frame(Frame::fixed(7, 7)),
                    TextVerbatim(localizedFormat("Started by: %@", {*c.startedByRuleName()}))
                        .font(Font::system(11 * s))
                        .foregroundStyle(Color{kRuleText, std::nullopt, 1.0})})
                .padding(kEdgeTop, 1));
    }
    // The switch never looks at the value it is given: it turns the session over.
    const Binding<bool> session{[&c] { return c.isActive(); },
                                [&c](const bool&) {
                                    OrvelController& controller = c;
                                    if (controller.isActive()) {
                                        controller.stop(true);
                                    } else {
                                        controller.start();
                                    }
                                }};
    const auto& blocked = c.powerBlockReason();
    return HStack(VAlign::top, 12,
                  {VStack(HAlign::leading, 2, std::move(lines)), Spacer(),
                   Toggle(Text(""), session)
                       .labelsHidden()
                       .toggleStyle(ToggleStyle::switchStyle)
                       .accessibilityLabel("Keep Awake")
                       .accessibilityValue(c.isActive() ? "on" : "off")
                       .disabled(blocked.has_value())
                       .help(blocked.value_or(""))})
        .padding(kEdgeHorizontal, 12)
        .padding(kEdgeTop, 8)
        // The time left ticks by the second only while the panel shows it.
        .onAppear([this] { countdown_ = c_.showCountdown(1); })
        .onDisappear([this] { countdown_.cancel(); });
}

View MenuView::noticeRow(double s) {
    const PowerTriggerCenter::Notice notice = *power_.notice();
    const Color yellow = Color::named(NamedColor::yellow);
    return Button(
               HStack(VAlign::top, 5,
                      {Image("exclamationmark.triangle")
                           .font(Font::system(9 * s))
                           .padding(kEdgeTop, 1),
                       TextVerbatim(notice.text).font(Font::system(11 * s)).fixedSize(false, true),
                       Spacer()})
                   .foregroundStyle(yellow),
               [this, subTab = notice.subTab] { openSettingsTab(subTab); })
        .buttonStyle(StandardButtonStyle::plain)
        .help("Open the setting behind this")
        .padding(kEdgeHorizontal, 12)
        .padding(kEdgeTop, 3);
}

View MenuView::footer(double s) {
    // The hint is the row's own shortcut, written as the desktop writes it.
    auto hinted = [s](const std::string& title, const KeyboardShortcut& shortcut) {
        return HStack(VAlign::center, std::nullopt,
                      {Text(title), Spacer(),
                       TextVerbatim(shortcutText(shortcut))
                           .font(Font::system(11 * s))
                           .foregroundStyle(Hierarchy::tertiary)})
            // The hint is not part of what the row is called.
            .accessibilityLabel(title);
    };
    const MenuRowStyle style{20, s};
    const KeyboardShortcut settings{",", kModifierCommand};
    const KeyboardShortcut quit{"q", kModifierCommand};
    return Group({
        sectionDivider(),
        Button(hinted("Settings\u2026", settings), [] { withWindows(&AppWindows::openSettings); })
            .buttonStyle(style)
            .keyboardShortcut(settings)
            .accessibilityLabel("Settings\u2026"),
        Button("Help\u2026", [] { withWindows(&AppWindows::showHelp); }).buttonStyle(style),
        Button("About Orvel", [] { withWindows(&AppWindows::showAbout); }).buttonStyle(style),
        Button(hinted("Quit Orvel", quit), [] { UiHost::current().application().terminate(); })
            .buttonStyle(style)
            .keyboardShortcut(quit)
            .accessibilityLabel("Quit Orvel"),
    });
}

// Durations and triggers ------------------------------------------------------------------------

View MenuView::durationRow(DurationPreset preset, double s) {
    const bool ticked = c_.preset() == preset;
    View row = HStack(VAlign::center, 8,
                      {Image("checkmark")
                           .font(Font::system(11 * s, FontWeight::semibold))
                           .opacity(ticked ? 1 : 0)
                           .frame(Frame::fixed(12 * s)),
                       TextVerbatim(label(preset)).fixedSize(false, true), Spacer(),
                       TextVerbatim(durationFlag(preset))
                           .font(Font::system(10 * s).withMonospaced())
                           .foregroundStyle(Hierarchy::tertiary)});
    OrvelController* c = &c_;
    View button = Button(std::move(row), [c, preset] {
                      switch (preset) {
                          case DurationPreset::custom:
                              withWindows(&AppWindows::showCustomDuration);
                              break;
                          case DurationPreset::untilAppQuits:
                              withWindows(&AppWindows::chooseAppToWatch);
                              break;
                          default:
                              c->selectPreset(preset);
                      }
                  }).buttonStyle(MenuRowStyle{0, s});
    // A reader hears the duration, not its flag, and which one the tick marks.
    return button.accessibilityLabelVerbatim(label(preset)).accessibilityChoice(ticked);
}

View MenuView::makeRuleRow(const std::string& appName, double s) {
    // The caption goes under the title, as a switch's does: beside it, a long name or language
    // left it no room.
    return Button(VStack(HAlign::leading, 1,
                         {Text("Make this a rule\u2026")
                              .foregroundStyle(Color::accent())
                              .fixedSize(false, true),
                          TextVerbatim(localizedFormat("pre-fills %@ in Apps", {appName}))
                              .font(Font::system(10 * s))
                              .foregroundStyle(Hierarchy::tertiary)
                              .fixedSize(false, true)}),
                  [] { withWindows(&AppWindows::makeRuleFromWatchedApp); })
        .buttonStyle(MenuRowStyle{20, s});
}

View MenuView::triggersSection(double s) {
    TriggerEngine* triggers = &triggers_;
    if (triggers_.isPaused()) {
        return Group({sectionHeader("TRIGGERS", s),
                      Button("Resume Triggers", [triggers] { triggers->resume(); })
                          .buttonStyle(MenuRowStyle{20, s}),
                      sectionDivider()});
    }
    if (triggers_.rules().empty()) {
        return EmptyView();
    }
    // The length of "Until Tomorrow" is taken at the click, not when the menu was drawn.
    std::vector<MenuItem> items{
        {"For 1 Hour", [triggers] { triggers->pause(3600.0); }},
        {"Until Tomorrow", [triggers] { triggers->pause(secondsUntilTomorrowMorning()); }},
        {"Until Re-enabled", [triggers] { triggers->pause(std::nullopt); }},
    };
    return Group({sectionHeader("TRIGGERS", s),
                  Menu("Pause Triggers", std::move(items))
                      .menuIndicatorHidden()
                      .buttonStyle(StandardButtonStyle::plain)
                      .font(Font::system(13 * s))
                      .padding(kEdgeLeading, 31)
                      .padding(kEdgeVertical, 4),
                  sectionDivider()});
}

// Sleep switches and devices --------------------------------------------------------------------

View MenuView::sleepRow(const std::string& label, const std::string& caption,
                        const std::string& flag, bool SleepOptions::*field, bool enabled,
                        double s) {
    return HStack(VAlign::center, 10,
                  {switchLabel(label, caption), Spacer(),
                   TextVerbatim(flag)
                       .font(Font::system(10 * s).withMonospaced())
                       .foregroundStyle(Hierarchy::tertiary),
                   Toggle(Text(""), optionBinding(field))
                       .labelsHidden()
                       .toggleStyle(ToggleStyle::switchStyle)
                       .controlSize(ControlSize::mini)
                       .accessibilityLabel(label)
                       .accessibilityHint(caption)})
        .opacity(enabled ? 1.0 : kDimmed)
        .disabled(!enabled)
        .padding(kEdgeHorizontal, 12)
        .padding(kEdgeVertical, 3);
}

View MenuView::deviceSwitchRow(const std::string& label, const std::string& caption,
                               Binding<bool> binding, bool gated, double s) {
    return HStack(VAlign::center, 10,
                  {VStack(HAlign::leading, 1,
                          {gatedRowLabel(
                               label, gated,
                               gated ? std::optional<std::string>(kLocksHelp) : std::nullopt),
                           Text(caption)
                               .font(Font::system(10 * s))
                               .foregroundStyle(Hierarchy::tertiary)
                               .fixedSize(false, true)}),
                   Spacer(),
                   Toggle(Text(""), std::move(binding))
                       .labelsHidden()
                       .toggleStyle(ToggleStyle::switchStyle)
                       .controlSize(ControlSize::mini)
                       .accessibilityLabel(label)
                       .accessibilityHint(caption)})
        .padding(kEdgeHorizontal, 12)
        .padding(kEdgeVertical, 3);
}

View MenuView::builtInDevicesSection(double s) {
    Preferences* prefs = &prefs_;
    auto setting = [prefs](Preferences::Setting<bool> Preferences::*member) {
        return Binding<bool>{[prefs, member] { return (prefs->*member)(); },
                             [prefs, member](const bool& on) { prefs->*member = on; }};
    };
    const auto note = [s](View text) { return orvel::note(std::move(text), s); };
    std::vector<View> rows;
    if (dev_.isLaptop()) {
        rows.push_back(deviceSwitchRow("Disable Built-In Keyboard",
                                       "Bluetooth and USB keyboards unaffected",
                                       setting(&Preferences::blockBuiltInKeyboard), true, s));
        rows.push_back(deviceSwitchRow("Disable Built-In Trackpad",
                                       "External mice and trackpads unaffected",
                                       setting(&Preferences::blockBuiltInTrackpad), true, s));
        const auto missing = blocker_.missingPermissions();
        if (!missing.empty()) {
            const std::string needs =
                missing.size() == 1
                    ? localizedFormat("Needs %@. Turning either switch on will ask.",
                                      {localized(missing[0])})
                    : localizedFormat("Needs %1$@ and %2$@. Turning either switch on will ask.",
                                      {localized(missing[0]), localized(missing[1])});
            rows.push_back(note(TextVerbatim(needs).fixedSize(false, true)));
        }
        if (const auto& failure = blocker_.lastFailure) {
            rows.push_back(note(Text(*failure).fixedSize(false, true)));
        }
        rows.push_back(note(Text("Turning the above two items on reads the event devices, so the "
                                 "first time Orvel may install its udev rule (pkexec asks for an "
                                 "administrator's password).")
                                .fixedSize(false, true)));
        rows.push_back(deviceSwitchRow("Turn Off Keyboard Backlight", "Restored when Orvel stops",
                                       setting(&Preferences::keyboardBacklightOff), false, s));
    } else {
        rows.push_back(Text("No built-in keyboard, trackpad, or backlight on this computer \u2014 "
                            "those switches live on laptops only.")
                           .font(Font::system(10 * s))
                           .foregroundStyle(Hierarchy::secondary)
                           .padding(kEdgeHorizontal, 12)
                           .fixedSize(false, true));
    }
    rows.push_back(deviceSwitchRow("Disable Screen Saver", "Stops it starting while Orvel runs",
                                   setting(&Preferences::preventScreenSaver), false, s));
    // The screen saver is held off through the display's hold, so it has the same limits.
    if (const auto& shortfall = c_.displayShortfall()) {
        rows.push_back(note(TextVerbatim(*shortfall).fixedSize(false, true)));
    }
    // The battery list is asked first; the displays only on a machine without one.
    if (!power_.internalBatteryDescriptions().empty() || display_.builtInDisplayID()) {
        rows.push_back(deviceSwitchRow("Turn Off Built-In Display",
                                       "Darkens the internal panel only",
                                       setting(&Preferences::builtInDisplayOff), false, s));
    }
    DeviceState* devices = &dev_;
    const auto cannotSleep = dev_.displaySleepUnavailable();
    rows.push_back(Button("Sleep all displays now", [devices] { devices->sleepDisplaysNow(); })
                       .buttonStyle(MenuRowStyle{2, s})
                       .disabled(cannotSleep.has_value()));
    if (cannotSleep) {
        rows.push_back(note(Text(*cannotSleep)));
    }
    if (const auto& slept = dev_.lastDisplaySleep()) {
        if (auto problem = DeviceState::displaySleepProblem(*slept)) {
            rows.push_back(note(TextVerbatim(*problem).fixedSize(false, true)));
        }
    }
    const bool heldOff = !dev_.hasExternalInput() &&
                         (prefs_.blockBuiltInKeyboard() || prefs_.blockBuiltInTrackpad());
    if (heldOff) {
        rows.push_back(note(Text("Held off \u2014 no external keyboard or mouse connected.")));
    }
    return Group(std::move(rows));
}

// Command block ---------------------------------------------------------------------------------

View MenuView::commandBlock(double s) {
    const bool caffeinate = c_.engineKind() == EngineKind::caffeinate;
    // Only a session of the caffeinate engine has a program running.
    const bool running = caffeinate && c_.isActive();
    // Orvel's own caffeinate, at the path that runs here: /usr/bin/caffeinate may be another
    // program or none.
    const std::string program = processes_.resolve(kCaffeinatePath);
    std::vector<View> lines{
        Text(running ? "RUNNING COMMAND" : "EQUIVALENT COMMAND")
            .font(Font::system(9 * s, FontWeight::semibold))
            .foregroundStyle(Hierarchy::secondary),
        TextVerbatim(c_.effectiveOptions().commandLine(program))
            .font(Font::system(11 * s).withMonospaced())
            .foregroundStyle(commandTextColor())
            .textSelection()
            .fixedSize(false, true),
    };
    if (!running) {
        lines.push_back(Text(caffeinate ? "Not running \u2014 Orvel runs it while a session is on."
                                        : "Held as logind inhibitor locks \u2014 no subprocess.")
                            .fixedSize(false, true)
                            .font(Font::system(9 * s))
                            .foregroundStyle(Hierarchy::tertiary));
    }
    return VStack(HAlign::leading, 4, std::move(lines))
        .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading()))
        .padding(8)
        .background(Color::black().withOpacity(0.18), Shape::rounded(7))
        .padding(kEdgeHorizontal, 10)
        .padding(kEdgeTop, 8);
}

}  // namespace orvel
