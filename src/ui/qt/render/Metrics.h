#pragma once

#include <QColor>
#include <QMargins>

// The renderer's layout numbers in one place, in points: spacing, padding, sizes, and the tones
// of the panels that group rows.
namespace orvel::ui::render {

// Text and symbols.
inline constexpr double kBodyFontSize = 13;  // a node without a font; a menu row scales it
inline constexpr double kSectionHeaderFontSize = 11;
inline constexpr double kSectionFooterFontSize = 11;
inline constexpr double kTabFontSize = 12;
inline constexpr double kDefaultStrokeWidth = 1;   // a shape's, when the view gives none
inline constexpr double kSymbolToFontRatio = 1.2;  // a symbol stands a little taller than its text
inline constexpr int kLabelSymbolGap = 5;          // between a label's symbol and its title
inline constexpr int kWrapAfterCharacters = 48;    // wider texts without a line limit wrap
inline constexpr int kLineLimitSlack = 2;          // keeps the last allowed line's descenders
inline constexpr float kDisabledTextAlpha = 0.45f;

// Stacks and spacers.
inline constexpr double kDefaultStackSpacing = 8;
inline constexpr double kDefaultSpacerLength = 8;

// Labelled controls and the rows of sections and lists.
inline constexpr int kLabelControlGap = 8;  // a control's own label and the control
inline constexpr int kRowSpacing = 8;       // a row's label and its control
inline constexpr QMargins kSectionRowMargins{0, 6, 0, 6};
inline constexpr int kSectionRowMinHeight = 34;
inline constexpr QMargins kListRowMargins{10, 5, 10, 5};
inline constexpr double kSelectedRowCornerRadius = 5;

// Forms, sections, lists and tab views.
inline constexpr QMargins kFormMargins{12, 8, 12, 12};
inline constexpr int kFormSectionSpacing = 18;
inline constexpr int kSectionSpacing = 6;  // header, rows panel, footer
inline constexpr QMargins kSectionPanelMargins{12, 2, 12, 2};
inline constexpr QMargins kListPanelMargins{0, 4, 0, 4};
inline constexpr QMargins kSelectingListMargins{8, 4, 8, 4};
inline constexpr int kTabBarSpacing = 8;  // the tab bar and the page panel below it
inline constexpr QMargins kTabPanelMargins{10, 10, 10, 10};
inline constexpr double kPanelCornerRadius = 7;
inline constexpr double kPanelBorderWidth = 1;
// Within this distance of the end counts as the end: the last line is fully in view.
inline constexpr int kScrolledToEndTolerance = 6;
// The fade and chevron along a scroll view's bottom while more lies below.
inline constexpr const char* kMoreBelowName = "moreBelow";
inline constexpr int kMoreBelowHeight = 26;
inline constexpr double kMoreBelowChevronBottom = 6;
inline constexpr double kMoreBelowChevronHalfWidth = 6;
inline constexpr double kMoreBelowChevronHeight = 4;

// Buttons, menus and pickers.
inline constexpr int kMenuDropOffset = 2;  // a pull-down menu opens this far below its button
inline constexpr int kMenuIndicatorSize = 9;
inline constexpr int kPickerIconSize = 14;
inline constexpr double kPickerIconScale = 2.0;  // drawn at twice the size, sharp on dense screens
inline constexpr int kRadioSpacing = 4;

// Fields.
inline constexpr int kTextFieldMinWidth = 120;
inline constexpr int kIntegerFieldMinWidth = 40;

// Progress bars, by control size.
inline constexpr int kProgressSteps = 1000;
inline constexpr int kProgressMinWidth = 80;
inline constexpr int kProgressHeightMini = 4;
inline constexpr int kProgressHeightSmall = 6;
inline constexpr int kProgressHeightRegular = 8;
inline constexpr int kProgressHeightLarge = 12;

// The panels behind a section's rows and a tab view's pages.
struct PanelTone {
    QColor fill;
    QColor border;
};
inline constexpr PanelTone kSectionPanelLight{{255, 255, 255, 150}, {0, 0, 0, 22}};
inline constexpr PanelTone kSectionPanelDark{{255, 255, 255, 13}, {255, 255, 255, 26}};
inline constexpr PanelTone kTabPanelLight{{0, 0, 0, 10}, {0, 0, 0, 26}};
inline constexpr PanelTone kTabPanelDark{{0, 0, 0, 40}, {255, 255, 255, 24}};

}  // namespace orvel::ui::render
