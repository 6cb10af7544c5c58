#include "automations/AutomationsAndTriggersView.h"

#include <string>

namespace orvel {

AutomationsAndTriggersView::AutomationsAndTriggersView(ui::Binding<std::int64_t> subTab)
    : subTab_(std::move(subTab)) {}

ui::View AutomationsAndTriggersView::body() {
    using namespace ui;
    return VStack(HAlign::leading, 8,
                  {TextVerbatim("Automations & Triggers, sub-tab " + std::to_string(subTab_())),
                   Spacer()})
        .padding(24);
}

}  // namespace orvel
