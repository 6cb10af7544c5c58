#pragma once

#include <cstdint>

#include "ui/ViewComponent.h"

namespace orvel {

// The Automations & Triggers page of the Settings window. Its least form: it names the sub-tab
// its binding holds (stored under "atSubTab"); the rule editors are not written yet.
class AutomationsAndTriggersView final : public ui::ViewComponent {
  public:
    explicit AutomationsAndTriggersView(ui::Binding<std::int64_t> subTab);

    ui::View body() override;

  private:
    ui::Binding<std::int64_t> subTab_;
};

}  // namespace orvel
