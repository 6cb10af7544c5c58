#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "help/HelpSection.h"
#include "ui/View.h"

namespace orvel {
class InputBlocker;
class LicenseAgreement;
class Paths;
class Processes;
class WakeHelperClient;
}  // namespace orvel

// The help pages. Each is a Markdown file installed with the program, "help/<raw value>.md" in
// the resources folder, drawn as the blocks of help/HelpBlocks.h:
// - "## text" is a heading, any other run of lines a paragraph (both localised, inline Markdown);
// - a "```" fenced block is a command with its copy button, and "> " lines right after it its
//   note (both as they stand);
// - a table headed "| Feature | Permission | Granted |" lists features and what they need; its
//   Granted cell is empty or names a mark computed when the page is drawn,
//   {{wakeHelperGranted}} or {{builtInInputGranted}};
// - a table headed "| Without | … |" lists what is lost without each permission;
// - {{bundleIdentifier}}, {{architecture}}, {{supportAddress}} and {{feedbackAddress}} stand for
//   those values anywhere, and so do the page's own values (PageValues);
// - a paragraph of only "{{name}}" is a part of the page its code computes.
// A page whose file cannot be read or understood says so in one line instead.
namespace orvel::help {

// The page's parts computed by its code, by the name standing for them in its file.
using ComputedBlocks = std::map<std::string, std::function<std::vector<ui::View>()>>;

// What the feature table's marks read, taken as the page is drawn.
struct PageMarks {
    std::optional<bool> wakeHelperGranted;
    std::optional<bool> builtInInputGranted;
};

// Values of this machine the pages name: {{caffeinate}}, the program Orvel runs for caffeinate,
// and {{resources}}, the folder of Orvel's resources (its udev rule's installer among them).
struct PageValues {
    std::string caffeinate;
    std::string resources;
};

// The page drawn from the file at `path`, its blocks `spacing` apart.
ui::View markdownPage(const std::string& path, HelpSection section, double spacing,
                      const PageValues& values, const PageMarks& marks = {},
                      const ComputedBlocks& computed = {});

// The one page with more than its file: the installed licences.
struct HelpAcknowledgments {
    static constexpr double kSpacing = 12;
    std::string licensesDirectory;
    std::function<void()> showAgreement;
    ComputedBlocks parts() const;
};

}  // namespace orvel::help

namespace orvel {

// Draws the help pages with what they show of the running program: the wake helper's state,
// the installed licence texts and the agreement's window. Main thread only.
class HelpPages {
  public:
    // The wake helper comes through an accessor: it reads its registration when it is built,
    // which belongs to the moment its page is shown.
    HelpPages(std::function<const WakeHelperClient&()> wakeHelper, Paths& paths,
              Processes& processes, LicenseAgreement& agreement, const InputBlocker& blocker);
    HelpPages(const HelpPages&) = delete;
    HelpPages& operator=(const HelpPages&) = delete;

    // Where the page's file is: its translation for the language texts read in, else English.
    std::string pagePath(HelpSection section) const;
    // The page of a section.
    ui::View pageBody(HelpSection section) const;

  private:
    std::function<const WakeHelperClient&()> wakeHelper_;
    Paths& paths_;
    Processes& processes_;
    LicenseAgreement& agreement_;
    const InputBlocker& blocker_;
};

}  // namespace orvel
