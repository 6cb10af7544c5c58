#pragma once

#include "app/compose/Services.h"
#include "help/HelpPages.h"
#include "ui/ViewComponent.h"

namespace orvel::test {

// One help page alone as a window's content, to read it apart from the Help window.
class ShownPage final : public ui::ViewComponent {
  public:
    ShownPage(Services& services, HelpSection section) : services_(services), section_(section) {}
    ui::View body() override { return services_.helpPages().pageBody(section_); }

  private:
    Services& services_;
    HelpSection section_;
};

}  // namespace orvel::test
