#include "support/Gallery.h"

namespace orvel::test {

using namespace ui;

Gallery::Gallery() = default;

template <class T>
static Binding<T> bind(Published<T>& value) {
    return Binding<T>{[&value] { return value(); }, [&value](const T& v) { value = v; }};
}

View Gallery::controlsPage() {
    return Form({
        Section(Text("**Session**"),
                {
                    Toggle("Enabled", bind(enabled)).toggleStyle(ToggleStyle::switchStyle),
                    Toggle("Compact rows", bind(compact)).toggleStyle(ToggleStyle::checkbox),
                    Picker("Flavour", bind(flavour),
                           {Text("Light").tag("light"), Text("Dark").tag("dark"),
                            Text("Automatic").tag("auto")})
                        .pickerStyle(PickerStyle::segmented),
                    Picker("Style", bind(flavour),
                           {Text("Light").tag("light"), Text("Dark").tag("dark")})
                        .pickerStyle(PickerStyle::radioGroup),
                    TextField("Name", bind(name)).frame(Frame::fixed(180)),
                    SecureField("Passphrase", bind(secret)),
                    IntegerField("Minutes", bind(minutes))
                        .multilineTextAlignment(TextAlignment::trailing)
                        .frame(Frame::fixed(60)),
                    Stepper(TextVerbatim("Level " + std::to_string(static_cast<int>(level()))),
                            bind(level), 1, 10, 1),
                    DatePicker("Starts", bind(when), kDateComponentDate | kDateComponentHourMinute),
                    LabeledContent("Engine", TextVerbatim("IOKit power assertions")),
                },
                Text("A footer with `code`, *emphasis* and a [link](https://example.org).")
                    .font(Font::style(TextStyle::caption))
                    .foregroundStyle(Hierarchy::secondary)),
        Section(
            Text("Actions"),
            {
                HStack(VAlign::center, 8,
                       {
                           Button("Save", [this] { chosen = "save"; })
                               .keyboardShortcut(KeyboardShortcut::defaultAction())
                               .buttonStyle(StandardButtonStyle::borderedProminent),
                           Button(
                               "Delete", [this] { chosen = "delete"; }, ButtonRole::destructive),
                           Button("Plain", [this] { chosen = "plain"; })
                               .buttonStyle(StandardButtonStyle::plain),
                           Button("Borderless", [this] { chosen = "borderless"; })
                               .buttonStyle(StandardButtonStyle::borderless),
                       }),
                Menu("More",
                     {MenuItem{"Duplicate", [this] { chosen = "duplicate"; }}, MenuItem::divider(),
                      MenuItem{"Remove", [this] { chosen = "remove"; }, ButtonRole::destructive}})
                    .menuIndicatorHidden(false),
                Button(HStack(VAlign::center, 8,
                              {Image("checkmark").font(Font::system(11, FontWeight::semibold)),
                               Text("Menu row"), Spacer(),
                               TextVerbatim("-t 900")
                                   .font(Font::system(10).withMonospaced())
                                   .foregroundStyle(Hierarchy::tertiary)}),
                       [this] { chosen = "row"; })
                    .buttonStyle(MenuRowStyle{0, 1.0}),
                ProgressView(0.4),
                ProgressView().controlSize(ControlSize::small),
            }),
    });
}

View Gallery::shapesPage() {
    return VStack(
        HAlign::leading, 10,
        {
            HStack(
                VAlign::center, 12,
                {
                    ShapeFill(Shape::circle(), Color::green()).frame(Frame::fixed(16, 16)),
                    ShapeStroke(Shape::rounded(6), Color::orange(), 2).frame(Frame::fixed(40, 24)),
                    Image("lock", 45).foregroundStyle(Color::orange()),
                    Label("Help", "info.circle"),
                }),
            TextVerbatim("/usr/bin/caffeinate -dimsu")
                .font(Font::system(11).withMonospaced())
                .foregroundStyle(Color::dynamic({0.06, 0.42, 0.16, 1}, {0.36, 0.85, 0.44, 1}))
                .textSelection()
                .padding(8)
                .background(Color::black().withOpacity(0.18), Shape::rounded(7))
                .overlay(Stroke{Color::named(NamedColor::separator), 1, Shape::rounded(7)}),
            Text("A long line that wraps onto several lines when the window is narrow enough.")
                .lineLimit(3)
                .fixedSize(false, true),
        });
}

View Gallery::body() {
    return VStack(
               HAlign::leading, 0,
               {
                   HStack(VAlign::top, 12,
                          {
                              Image(enabled() ? "cup.and.saucer.fill" : "cup.and.saucer")
                                  .font(Font::system(20)),
                              VStack(HAlign::leading, 2,
                                     {Text("Gallery").font(Font::style(TextStyle::headline)),
                                      TextVerbatim("Hello, " + name())
                                          .foregroundStyle(Hierarchy::secondary)
                                          .help("The name field's text")}),
                              Spacer(),
                          })
                       .padding(kEdgeHorizontal, 12)
                       .padding(kEdgeTop, 8),
                   Divider().padding(kEdgeVertical, 6),
                   If(!chosen().empty(),
                      [&] {
                          return TextVerbatim("Chose " + chosen()).foregroundStyle(Color::orange());
                      }),
                   TabView(bind(page),
                           {TabItem{"controls", "Controls", "slider.horizontal.3"},
                            TabItem{"shapes", "Shapes", "circle"}},
                           {controlsPage(), ScrollView(shapesPage())})
                       .frame(Frame::fixed(std::nullopt, 520)),
                   Text("Ticks: " + std::to_string(ticks))
                       .onAppear([this] { ++appeared; })
                       .onDisappear([this] { ++disappeared; })
                       .onTimer(1.0, [this] { ++ticks; })
                       .accessibilityLabel("Tick counter")
                       .opacity(compact() ? 0.45 : 1.0)
                       .disabled(compact()),
               })
        .padding(6)
        .frame(Frame::fixed(480))
        .fontWeight(FontWeight::regular);
}

}  // namespace orvel::test
