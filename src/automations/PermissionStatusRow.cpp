#include "automations/PermissionStatusRow.h"

namespace orvel {

ui::View PermissionStatusRow(const std::string& title, const std::string& status, bool granted,
                             std::function<void()> enable) {
    using namespace ui;
    std::vector<View> items = {
        TextVerbatim(title), Spacer(),
        TextVerbatim(status).foregroundStyle(granted ? ForegroundStyle(Hierarchy::secondary)
                                                     : ForegroundStyle(Color::orange()))};
    if (!granted && enable) {
        items.push_back(Button("Enable", std::move(enable)).controlSize(ControlSize::small));
    }
    return HStack(VAlign::center, 10, std::move(items)).font(Font::style(TextStyle::caption));
}

}  // namespace orvel
