#include "settings/SettingsView.h"

#include <string>

#include "core/Preferences.h"
#include "platform/Platform.h"
#include "platform/UserDefaults.h"

namespace orvel {

std::int64_t SettingsView::selectedTab() {
    return Platform::current().userDefaults().integerForKey("settingsTabSelection");
}

std::int64_t SettingsView::selectedSubTab() {
    return Platform::current().userDefaults().integerForKey("atSubTab");
}

std::vector<ObservableObject*> SettingsView::observedObjects() {
    return {&Preferences::shared()};
}

ui::View SettingsView::body() {
    using namespace ui;
    std::string page = "Settings page " + std::to_string(selectedTab());
    if (selectedTab() == 1) {
        page = "Automations & Triggers, sub-tab " + std::to_string(selectedSubTab());
    }
    return VStack(HAlign::leading, 12,
                  {
                      TextVerbatim(page).font(Font::style(TextStyle::title2)),
                      TextVerbatim("The settings pages are not written yet.")
                          .foregroundStyle(Hierarchy::secondary),
                      Spacer(),
                  })
        .padding(24)
        .frame(Frame().withMaxWidth(kInfinity).withMaxHeight(kInfinity).withAlignment(
            Alignment::topLeading()));
}

}  // namespace orvel
