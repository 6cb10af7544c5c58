#include "help/HelpPages.h"

#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/SleepOptions.h"
#include "devices/InputBlocker.h"
#include "foundation/AppInfo.h"
#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/Result.h"
#include "help/Acknowledgments.h"
#include "help/Contacts.h"
#include "help/EULAGate.h"
#include "help/HelpBlocks.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "triggers/WakeHelperClient.h"
#include "ui/Markdown.h"
#include "ui/View.h"

namespace orvel::help {

using namespace ui;

namespace {

constexpr double kPageSpacing = 14;
// The longest page breathes a little more.
constexpr double kTroubleshootingSpacing = 16;
constexpr double kFeatureRowSpacing = 9;
constexpr double kFeatureTableInset = 4;
constexpr double kLossRowSpacing = 12;
// Far above any page; a larger file is not one of them.
constexpr std::size_t kMaxPageSize = 256 * 1024;

// Rows 5 and 6 mark only once a probe has run in this process: before that nobody has looked,
// and looking here would be a check the user did not ask for.
std::optional<bool> builtInInputGranted(const InputBlocker& blocker) {
    const auto cached = blocker.cachedPermissions();
    if (!cached) {
        return std::nullopt;
    }
    return cached->inputMonitoring && cached->accessibility;
}

void replaceAll(std::string& text, std::string_view name, std::string_view value) {
    const std::string marker = "{{" + std::string(name) + "}}";
    for (auto at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + value.size())) {
        text.replace(at, marker.size(), value);
    }
}

std::string withValues(std::string text, const PageValues& values) {
    replaceAll(text, "caffeinate", values.caffeinate);
    replaceAll(text, "resources", values.resources);
    replaceAll(text, "bundleIdentifier", kBundleIdentifier);
    replaceAll(text, "architecture", ORVEL_ARCHITECTURE);
    replaceAll(text, "supportAddress", kSupportAddress);
    replaceAll(text, "feedbackAddress", kFeedbackAddress);
    return text;
}

// The name of a computed part when `text` is only its "{{name}}".
std::optional<std::string> placeholder(std::string_view text) {
    if (text.size() > 4 && text.starts_with("{{") && text.ends_with("}}")) {
        return std::string(text.substr(2, text.size() - 4));
    }
    return std::nullopt;
}

Result<std::optional<bool>> mark(const std::string& cell, const PageMarks& marks) {
    if (cell.empty()) {
        return std::optional<bool>();
    }
    if (cell == "{{wakeHelperGranted}}") {
        return marks.wakeHelperGranted;
    }
    if (cell == "{{builtInInputGranted}}") {
        return marks.builtInInputGranted;
    }
    return Error{"no mark is called “" + cell + "”"};
}

Result<View> table(const MarkdownBlock& block, const PageMarks& marks) {
    const auto& header = block.rows.front();
    std::vector<View> rows;
    // Tables are told apart by their shape, since a translated page translates the headers.
    if (header.size() == 3) {
        for (std::size_t i = 1; i < block.rows.size(); ++i) {
            const auto& cells = block.rows[i];
            if (cells.size() != 3) {
                return Error{"a row of the feature table does not have 3 cells"};
            }
            auto granted = mark(cells[2], marks);
            if (!granted) {
                return granted.error();
            }
            rows.push_back(PermRow{cells[0], cells[1], *granted});
        }
        return VStack(HAlign::leading, kFeatureRowSpacing, std::move(rows))
            .padding(kEdgeVertical, kFeatureTableInset);
    }
    if (header.size() == 2) {
        for (std::size_t i = 1; i < block.rows.size(); ++i) {
            const auto& cells = block.rows[i];
            if (cells.size() != 2) {
                return Error{"a row of the table of losses does not have 2 cells"};
            }
            rows.push_back(LossRow{cells[0], cells[1]});
        }
        return VStack(HAlign::leading, kLossRowSpacing, std::move(rows));
    }
    return Error{"a table must have 3 columns (feature, permission, granted) or 2 (without, loss)"};
}

Result<std::vector<View>> blocksOf(const std::string& markdown, const PageValues& values,
                                   const PageMarks& marks, const ComputedBlocks& computed) {
    using Kind = MarkdownBlock::Kind;
    const auto parsed = parseMarkdownBlocks(withValues(markdown, values));
    std::vector<View> blocks;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const MarkdownBlock& block = parsed[i];
        switch (block.kind) {
            case Kind::heading:
                blocks.push_back(H{block.text});
                break;
            case Kind::code: {
                std::optional<std::string> note;
                if (i + 1 < parsed.size() && parsed[i + 1].kind == Kind::quote) {
                    note = parsed[++i].text;
                }
                blocks.push_back(Cmd{block.text, std::move(note)});
                break;
            }
            case Kind::table: {
                auto drawn = table(block, marks);
                if (!drawn) {
                    return drawn.error();
                }
                blocks.push_back(std::move(*drawn));
                break;
            }
            case Kind::quote:
                return Error{"a quote stands only under a command, as its note"};
            case Kind::paragraph: {
                const auto name = placeholder(block.text);
                if (!name) {
                    blocks.push_back(P{block.text});
                    break;
                }
                const auto part = computed.find(*name);
                if (part == computed.end()) {
                    return Error{"no part of this page is called “" + block.text + "”"};
                }
                for (View& view : part->second()) {
                    blocks.push_back(std::move(view));
                }
                break;
            }
        }
    }
    if (blocks.empty()) {
        return Error{"the page is empty"};
    }
    return blocks;
}

Result<std::vector<View>> readPage(const std::string& path, const PageValues& values,
                                   const PageMarks& marks, const ComputedBlocks& computed) {
    auto bytes = readFile(path, kMaxPageSize);
    if (!bytes) {
        return Error{bytes.error().message};
    }
    auto blocks = blocksOf(stringFromData(*bytes), values, marks, computed);
    if (!blocks) {
        return Error{path + ": " + blocks.error().message};
    }
    return blocks;
}

}  // namespace

View markdownPage(const std::string& path, HelpSection section, double spacing,
                  const PageValues& values, const PageMarks& marks,
                  const ComputedBlocks& computed) {
    auto blocks = readPage(path, values, marks, computed);
    if (!blocks) {
        Logger("help").error("Help page " + std::string(rawValue(section)) + ": " +
                             blocks.error().message);
        return VStack(HAlign::leading, spacing,
                      {TextVerbatim(localizedFormat("This page could not be shown. %@.",
                                                    {blocks.error().message}))
                           .fixedSize(false, true)});
    }
    return VStack(HAlign::leading, spacing, std::move(*blocks));
}

}  // namespace orvel::help

namespace orvel {

using namespace help;

HelpPages::HelpPages(std::function<const WakeHelperClient&()> wakeHelper, Paths& paths,
                     Processes& processes, LicenseAgreement& agreement, const InputBlocker& blocker)
    : wakeHelper_(std::move(wakeHelper)),
      paths_(paths),
      processes_(processes),
      agreement_(agreement),
      blocker_(blocker) {}

std::string HelpPages::pagePath(HelpSection section) const {
    const std::string folder = paths_.resourcesDirectory() + "/help/";
    const std::string name = std::string(rawValue(section)) + ".md";
    // A page not translated yet reads in English, as a key without a translation does.
    const std::string& language = Localization::shared().language();
    if (language != "en") {
        const std::string translated = folder + language + "/" + name;
        if (::access(translated.c_str(), R_OK) == 0) {
            return translated;
        }
    }
    return folder + name;
}

View HelpPages::pageBody(HelpSection section) const {
    const PageValues values{processes_.resolve(kCaffeinatePath), paths_.resourcesDirectory()};
    switch (section) {
        case HelpSection::acknowledgments: {
            const HelpAcknowledgments page{licensesDirectory(paths_), [&agreement = agreement_] {
                                               agreement.showAgreementText();
                                           }};
            return markdownPage(pagePath(section), section, HelpAcknowledgments::kSpacing, values,
                                {}, page.parts());
        }
        case HelpSection::troubleshooting:
            return markdownPage(pagePath(section), section, kTroubleshootingSpacing, values);
        case HelpSection::permissions: {
            PageMarks marks;
            if (wakeHelper_().state() == WakeHelperClient::State::active) {
                marks.wakeHelperGranted = true;
            }
            marks.builtInInputGranted = builtInInputGranted(blocker_);
            return markdownPage(pagePath(section), section, kPageSpacing, values, marks);
        }
        default:
            return markdownPage(pagePath(section), section, kPageSpacing, values);
    }
}

}  // namespace orvel
