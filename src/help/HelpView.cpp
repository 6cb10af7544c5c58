#include "help/HelpView.h"

#include <any>

#include "foundation/NotificationCenter.h"
#include "help/HelpPages.h"

namespace orvel {

using namespace ui;

namespace {

constexpr ColumnWidth kSidebarWidth{190, 210, 260};
constexpr double kMinWidth = 820;
constexpr double kMinHeight = 560;
constexpr double kHeadingSize = 22;
constexpr double kDetailSpacing = 18;
constexpr double kDetailInset = 28;
constexpr double kEmptyTextInset = 8;

// The English title, which the row looks up in the current language.
std::string titleKey(HelpSection s) {
    return std::string(EnumTraits<HelpSection>::cases[static_cast<std::size_t>(s)].label);
}

}  // namespace

HelpView::HelpView(const HelpPages& pages, HelpSection initialSection, std::string initialQuery)
    : section(*this, initialSection), query(*this, std::move(initialQuery)), pages_(pages) {
    openSection_ = NotificationCenter::shared().observe(
        kOpenHelpSectionNotification, [this](const std::any& object) {
            if (const auto* asked = std::any_cast<HelpSection>(&object)) {
                section = *asked;
            }
        });
}

View HelpView::sidebar() {
    const std::vector<HelpSection> shown = filterHelpSections(query());
    Binding<std::string> selection{[this] { return std::string(rawValue(section())); },
                                   [this](const std::string& tag) {
                                       if (auto chosen = fromRaw<HelpSection>(tag)) {
                                           section = *chosen;
                                       }
                                   }};
    std::vector<View> rows;
    rows.reserve(shown.size());
    for (const HelpSection s : shown) {
        const std::string raw(rawValue(s));
        // A long title wraps in the column rather than losing its end.
        rows.push_back(
            Label(titleKey(s), std::string(symbol(s))).fixedSize(false, true).tag(raw).id(raw));
    }
    Binding<std::string> search{[this] { return query(); },
                                [this](const std::string& text) { query = text; }};
    // Return opens the first page found, as a click on its row would; an empty search finds
    // nothing to open.
    auto openFirst = [this] {
        if (query().find_first_not_of(" \t") == std::string::npos) {
            return;
        }
        if (const auto found = filterHelpSections(query()); !found.empty()) {
            section = found.front();
        }
    };
    return VStack(HAlign::leading, 0,
                  {
                      SearchField("Search Help", search, openFirst).padding(8),
                      ZStack(Alignment::center(),
                             {
                                 List(selection, std::move(rows)),
                                 If(shown.empty(),
                                    [&] {
                                        return TextVerbatim(helpSearchEmptyText(query()))
                                            .font(Font::style(TextStyle::caption))
                                            .foregroundStyle(Hierarchy::secondary)
                                            .multilineTextAlignment(TextAlignment::center)
                                            // A long query wraps inside the sidebar.
                                            .fixedSize(false, true)
                                            .padding(kEmptyTextInset);
                                    }),
                             }),
                  });
}

View HelpView::detail() {
    return ScrollView(
               VStack(HAlign::leading, kDetailSpacing,
                      {
                          TextVerbatim(title(section()))
                              .font(Font::system(kHeadingSize, FontWeight::semibold)),
                          pages_.pageBody(section()),
                      })
                   .padding(kDetailInset)
                   .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::topLeading())))
        .textSelection();
}

View HelpView::body() {
    return SplitView(sidebar(), detail(), kSidebarWidth)
        .frame(Frame().withMinWidth(kMinWidth).withMinHeight(kMinHeight));
}

}  // namespace orvel
