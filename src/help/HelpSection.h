#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/RawEnum.h"

namespace orvel {

// The help pages, in sidebar order.
enum class HelpSection {
    whatItDoes,
    theMenu,
    sleepSwitches,
    deviceSwitches,
    durations,
    triggers,
    drives,
    batteryPower,
    permissions,
    commandLine,
    persistence,
    shortcuts,
    troubleshooting,
    accessibility,
    languages,
    acknowledgments,
};

template <>
struct EnumTraits<HelpSection> {
    static constexpr std::array<EnumCase<HelpSection>, 16> cases{{
        {HelpSection::whatItDoes, "whatItDoes", textKey("What Orvel does")},
        {HelpSection::theMenu, "theMenu", textKey("The panel, and Settings")},
        {HelpSection::sleepSwitches, "sleepSwitches", textKey("Sleep switches")},
        {HelpSection::deviceSwitches, "deviceSwitches", textKey("Device switches")},
        {HelpSection::durations, "durations", textKey("Durations")},
        {HelpSection::triggers, "triggers", textKey("Triggers")},
        {HelpSection::drives, "drives", textKey("Drive keep-alive")},
        {HelpSection::batteryPower, "batteryPower", textKey("Battery & UPS")},
        {HelpSection::permissions, "permissions", textKey("Permissions")},
        {HelpSection::commandLine, "commandLine", textKey("Command line equivalents")},
        {HelpSection::persistence, "persistence", textKey("Sleep, wake and restart")},
        {HelpSection::shortcuts, "shortcuts", textKey("Keyboard shortcuts")},
        {HelpSection::troubleshooting, "troubleshooting", textKey("Troubleshooting")},
        {HelpSection::accessibility, "accessibility", textKey("Accessibility")},
        {HelpSection::languages, "languages", textKey("Languages")},
        {HelpSection::acknowledgments, "acknowledgments", textKey("Acknowledgments")},
    }};
};

// The page's localised title, the symbol before it in the sidebar, and the hidden English words
// the search also matches.
std::string title(HelpSection section);
std::string_view symbol(HelpSection section);
std::string_view keywords(HelpSection section);

// The pages the sidebar shows for the search text, in sidebar order: the text is trimmed of
// tabs and spaces (never of line breaks) and matched as one run against each title, else its
// keywords, ignoring case by the current locale; nothing left after trimming shows every page.
std::vector<HelpSection> filterHelpSections(std::string_view query);

// What the sidebar says when nothing matches, with the search text as typed.
std::string helpSearchEmptyText(std::string_view query);

// Posted with a HelpSection value to open the Help window's page.
inline constexpr const char* kOpenHelpSectionNotification = "orvelOpenHelpSection";

}  // namespace orvel
