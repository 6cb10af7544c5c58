#include "help/HelpView.h"

#include <any>

#include "foundation/NotificationCenter.h"

namespace orvel {

HelpView::HelpView() {
    openSection_ = NotificationCenter::shared().observe(
        kOpenHelpSectionNotification, [this](const std::any& object) {
            if (const auto* asked = std::any_cast<HelpSection>(&object)) {
                section = *asked;
            }
        });
}

ui::View HelpView::body() {
    using namespace ui;
    return VStack(HAlign::leading, 12,
                  {
                      Text(label(section())).font(Font::style(TextStyle::title)),
                      TextVerbatim("The help pages are not written yet.")
                          .foregroundStyle(Hierarchy::secondary),
                      Spacer(),
                  })
        .padding(24)
        .frame(Frame().withMaxWidth(kInfinity).withMaxHeight(kInfinity).withAlignment(
            Alignment::topLeading()));
}

}  // namespace orvel
