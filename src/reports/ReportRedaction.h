#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel {

class DriveKeepAlive;
class SystemInfo;
class TriggerEngine;

// Takes personal names and hardware identifiers out of a finished report or self-test before it
// leaves the machine: each becomes its redactedIdentifier token, so the same text always gets
// the same token. Names go first, longest first (three code points or more, replaced also
// inside longer words), then the device-name, MAC-address and UUID patterns. No replacement
// rewrites inside a token put in before it, and a word the report's own formats write (see
// ReportWords.h) is never cut into or replaced. Main thread only.
class ReportRedaction {
  public:
    // The drives come through an accessor: the keep-alive starts scanning when it is built.
    ReportRedaction(SystemInfo& system, const TriggerEngine& engine,
                    std::function<const DriveKeepAlive&()> drives);
    ReportRedaction(const ReportRedaction&) = delete;
    ReportRedaction& operator=(const ReportRedaction&) = delete;

    // The device and power-source line pattern (group 2 is the name), then MAC and UUID shapes,
    // in ICU's syntax.
    static constexpr const char* kDeviceLinePattern =
        "(?m)(^\\s*(?:internal|external|INTERNAL)\\s+\u2014\\s+)([^\u00B7\\n]+?)(\\s+\u00B7)";
    static constexpr const char* kMACPattern = "\\b(?:[0-9A-Fa-f]{2}:){5}[0-9A-Fa-f]{2}\\b";
    static constexpr const char* kUUIDPattern =
        "\\b[0-9A-Fa-f]{8}-(?:[0-9A-Fa-f]{4}-){3}[0-9A-Fa-f]{12}\\b";

    // The names the text may carry: the user's full and login names, the home folder's last
    // component, the computer's name, every rule's name, device name and address and network
    // text, every kept-alive drive's name and remount address; deduplicated.
    std::vector<std::string> gatheredNames() const;
    // The text with the gathered names and the pattern matches replaced.
    std::string obfuscate(std::string_view text) const;
    // The same with the names given.
    static std::string obfuscate(std::string_view text, const std::vector<std::string>& names);
    // The text with each match's `group` replaced by the token of its own text; a pattern that
    // does not compile leaves the text as it is.
    static std::string replaceMatches(std::string_view text, std::string_view pattern, int group);

  private:
    SystemInfo& system_;
    const TriggerEngine& engine_;
    std::function<const DriveKeepAlive&()> drives_;
};

}  // namespace orvel
