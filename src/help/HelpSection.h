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
        {HelpSection::whatItDoes, "whatItDoes", "What Orvel does"},
        {HelpSection::theMenu, "theMenu", "The panel, and Settings"},
        {HelpSection::sleepSwitches, "sleepSwitches", "Sleep switches"},
        {HelpSection::deviceSwitches, "deviceSwitches", "Device switches"},
        {HelpSection::durations, "durations", "Durations"},
        {HelpSection::triggers, "triggers", "Triggers"},
        {HelpSection::drives, "drives", "Drive keep-alive"},
        {HelpSection::batteryPower, "batteryPower", "Battery & UPS"},
        {HelpSection::permissions, "permissions", "Permissions"},
        {HelpSection::commandLine, "commandLine", "Command line equivalents"},
        {HelpSection::persistence, "persistence", "Sleep, wake and restart"},
        {HelpSection::shortcuts, "shortcuts", "Keyboard shortcuts"},
        {HelpSection::troubleshooting, "troubleshooting", "Troubleshooting"},
        {HelpSection::accessibility, "accessibility", "Accessibility"},
        {HelpSection::languages, "languages", "Languages"},
        {HelpSection::acknowledgments, "acknowledgments", "Acknowledgments"},
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
