#include "menubar/MenuView.h"

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "ui/Host.h"

namespace orvel {

using namespace ui;

MenuView::MenuView()
    : c_(OrvelController::shared()), prefs_(Preferences::shared()), dev_(DeviceState::shared()) {}

std::vector<ObservableObject*> MenuView::observedObjects() {
    return {&c_, &prefs_, &dev_};
}

View MenuView::body() {
    OrvelController& c = c_;
    const Binding<bool> session{[&c] { return c.isActive(); },
                                [&c](const bool& on) {
                                    if (on) {
                                        c.start();
                                    } else {
                                        c.stop(true);
                                    }
                                }};
    std::vector<View> rows{
        HStack(VAlign::top, 12,
               {
                   VStack(HAlign::leading, 2,
                          {Text("Orvel").font(Font::system(15, FontWeight::semibold)),
                           TextVerbatim(c.statusText())
                               .font(Font::system(11))
                               .foregroundStyle(Hierarchy::secondary)}),
                   Spacer(),
                   Toggle(Text(""), session)
                       .labelsHidden()
                       .toggleStyle(ToggleStyle::switchStyle)
                       .accessibilityLabel("Orvel session"),
               })
            .padding(kEdgeHorizontal, 12)
            .padding(kEdgeTop, 8),
        Divider().padding(kEdgeVertical, 6),
        VStack(HAlign::leading, 4,
               {Text(c.engineKind() == EngineKind::caffeinate ? "RUNNING COMMAND"
                                                              : "EQUIVALENT COMMAND")
                    .font(Font::system(9, FontWeight::semibold))
                    .foregroundStyle(Hierarchy::secondary),
                TextVerbatim(c.effectiveOptions().commandLine())
                    .font(Font::system(11).withMonospaced())
                    .textSelection()})
            .padding(8)
            .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading()))
            .background(Color::black().withOpacity(0.18), Shape::rounded(7))
            .padding(kEdgeHorizontal, 10)
            .padding(kEdgeTop, 8),
    };
    if (c.lastError()) {
        rows.push_back(TextVerbatim(*c.lastError())
                           .font(Font::system(11))
                           .foregroundStyle(Color::orange())
                           .padding(kEdgeHorizontal, 12)
                           .padding(kEdgeTop, 4));
    }
    rows.push_back(Divider().padding(kEdgeVertical, 6));
    rows.push_back(Button("Quit Orvel", [] {
                       UiHost::current().application().terminate();
                   }).buttonStyle(MenuRowStyle{20, 1.0}));
    return VStack(HAlign::leading, 0, std::move(rows)).padding(6).frame(Frame::fixed(320));
}

}  // namespace orvel
