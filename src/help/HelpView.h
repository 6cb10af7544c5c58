#pragma once

#include <string>

#include "foundation/Published.h"
#include "foundation/Signal.h"
#include "help/HelpSection.h"
#include "ui/ViewComponent.h"

namespace orvel {

// The Help window's content: the page shown and the search text, and the page asked for by
// "orvelOpenHelpSection". Its least form: the sidebar, the pages' text and the search filter
// are not written yet; it shows the chosen page's title and a line saying so.
class HelpView final : public ui::ViewComponent {
  public:
    HelpView();

    ui::View body() override;

    Published<HelpSection> section{*this, HelpSection::whatItDoes};
    Published<std::string> query{*this, ""};

  private:
    Subscription openSection_;
};

}  // namespace orvel
