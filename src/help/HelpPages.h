#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "help/HelpSection.h"
#include "ui/View.h"

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
//   those values anywhere;
// - a paragraph of only "{{name}}" is a part of the page its code computes.
// A page whose file cannot be read or understood says so in one line instead.
namespace orvel::help {

// The page's parts computed by its code, by the name standing for them in its file.
using ComputedBlocks = std::map<std::string, std::function<std::vector<ui::View>()>>;

// Where the page's file is.
std::string helpPagePath(HelpSection section);

// The page drawn from its file, its blocks `spacing` apart.
ui::View markdownPage(HelpSection section, double spacing, const ComputedBlocks& computed = {});

// The one page with more than its file: the installed licences.
struct HelpAcknowledgments {
    ui::View body() const;
};

// The page of a section.
ui::View pageBody(HelpSection section);

}  // namespace orvel::help
