#include "help/AboutView.h"

#include <string>

#include "core/OrvelController.h"
#include "foundation/AppInfo.h"
#include "help/HelpSection.h"
#include "menubar/AppWindows.h"

namespace orvel {

AboutView::AboutView(OrvelController& controller) : c_(controller) {}

std::vector<ObservableObject*> AboutView::observedObjects() {
    return {&c_};
}

ui::View AboutView::body() {
    using namespace ui;
    const std::string version = std::string("Version ") + appVersion() + " (" + appBuild() + ")";
    return VStack(HAlign::center, 10,
                  {
                      Image("cup.and.saucer").font(Font::system(48)),
                      TextVerbatim(kAppName).font(Font::system(22, FontWeight::bold)),
                      TextVerbatim(version)
                          .font(Font::style(TextStyle::caption))
                          .foregroundStyle(Hierarchy::secondary)
                          .textSelection(),
                      Text(c_.isActive() ? "Keeping your computer awake." : "Not active.")
                          .foregroundStyle(Hierarchy::secondary),
                      HStack({
                          Button("Open Source Licenses",
                                 [] {
                                     if (auto* windows = AppWindows::current()) {
                                         windows->showHelpSection(HelpSection::acknowledgments);
                                     }
                                 }),
                          Button("Help",
                                 [] {
                                     if (auto* windows = AppWindows::current()) {
                                         windows->showHelp();
                                     }
                                 }),
                      }),
                  })
        .padding(EdgeInsets{40, 32, 24, 32})
        .frame(320);
}

}  // namespace orvel
