#include "help/HelpBlocks.h"

#include "foundation/Localization.h"
#include "ui/Host.h"

namespace orvel::help {

using namespace ui;

namespace {

constexpr double kHeadingSize = 15;
constexpr double kHeadingTopSpace = 6;
constexpr double kBodySize = 13;
constexpr double kBodyLineSpacing = 3;
constexpr double kCommandSize = 12;
constexpr double kNoteSize = 11;
constexpr double kBoxInset = 10;
constexpr double kBoxFillOpacity = 0.05;
constexpr double kBoxCornerRadius = 7;
constexpr double kFeatureColumnWidth = 250;
constexpr double kLossColumnWidth = 190;

// Within the page's column, at its leading edge.
View column(View content) {
    return content.frame(Frame().withMaxWidth(kBlockMaxWidth).withAlignment(Alignment::leading()));
}

// Wraps onto as many lines as it needs, in all the width it is offered.
View wrapping(View text) {
    return text.fixedSize(false, true)
        .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading()));
}

}  // namespace

View textBox(View content) {
    return column(
        content.padding(kBoxInset)
            .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading()))
            .background(Color::named(NamedColor::primaryLabel).withOpacity(kBoxFillOpacity),
                        Shape::rounded(kBoxCornerRadius)));
}

View H::body() const {
    return TextMarkdown(text)
        .font(Font::system(kHeadingSize, FontWeight::semibold))
        .padding(kEdgeTop, kHeadingTopSpace);
}

View P::body() const {
    return column(
        wrapping(TextMarkdown(text).font(Font::system(kBodySize)).lineSpacing(kBodyLineSpacing)));
}

void Cmd::copy() const {
    UiHost::current().pasteboard().setString(command);
}

View Cmd::body() const {
    const View box =
        textBox(HStack(VAlign::top, 10,
                       {
                           wrapping(TextVerbatim(command)
                                        .font(Font::system(kCommandSize).withMonospaced())
                                        .textSelection()),
                           Spacer(8),
                           Button(Image("doc.on.doc"), [self = *this] { self.copy(); })
                               .buttonStyle(StandardButtonStyle::borderless)
                               .help("Copy")
                               .accessibilityLabel("Copy"),
                       }));
    std::vector<View> rows{box};
    if (note) {
        rows.push_back(wrapping(TextVerbatim(*note)
                                    .font(Font::system(kNoteSize))
                                    .foregroundStyle(Hierarchy::secondary)));
    }
    return column(VStack(HAlign::leading, 5, std::move(rows)));
}

View PermRow::body() const {
    std::vector<View> items{
        wrapping(TextVerbatim(feature).font(Font::system(kBodySize)))
            .frame(Frame::fixed(kFeatureColumnWidth).withAlignment(Alignment::leading())),
        TextVerbatim(permission)
            .font(Font::system(kBodySize))
            .foregroundStyle(permission == "None" ? Hierarchy::secondary : Hierarchy::primary),
        Spacer(6),
    };
    if (granted) {
        items.push_back(
            *granted
                ? Image("checkmark.circle.fill").foregroundStyle(Color::green()).help("Granted")
                : Image("exclamationmark.circle.fill")
                      .foregroundStyle(Color::orange())
                      .help("Not granted"));
    }
    return column(HStack(VAlign::firstTextBaseline, 10, std::move(items)));
}

View LossRow::body() const {
    return column(
        HStack(VAlign::top, 12,
               {
                   // A long permission name takes more lines in its column, never more width.
                   wrapping(TextVerbatim(localizedFormat("Without %@", {permission}))
                                .font(Font::system(kBodySize, FontWeight::medium)))
                       .frame(Frame::fixed(kLossColumnWidth).withAlignment(Alignment::leading())),
                   wrapping(TextMarkdown(loss)
                                .font(Font::system(kBodySize))
                                .lineSpacing(kBodyLineSpacing)
                                .foregroundStyle(Hierarchy::secondary)),
               }));
}

}  // namespace orvel::help
