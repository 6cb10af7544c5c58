#pragma once

#include "help/HelpPages.h"
#include "ui/ViewComponent.h"

namespace orvel::test {

// One help page alone as a window's content, to read it apart from the Help window.
class ShownPage final : public ui::ViewComponent {
  public:
    explicit ShownPage(HelpSection section) : section_(section) {}
    ui::View body() override { return HelpPages::shared().pageBody(section_); }

  private:
    HelpSection section_;
};

}  // namespace orvel::test
