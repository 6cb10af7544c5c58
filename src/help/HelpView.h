#pragma once

#include <string>

#include "foundation/Published.h"
#include "foundation/Signal.h"
#include "help/HelpPages.h"
#include "help/HelpSection.h"
#include "ui/ViewComponent.h"

namespace orvel {

// The Help window's content: the pages' list with its search on the left, the chosen page on
// the right. The page and the search text live as long as the view (the window keeps it while
// hidden); "orvelOpenHelpSection" with a HelpSection value turns to that page. Typing a search
// never changes the page: one the search hides stays shown, with no row highlighted; Return in the
// search field opens the first page found.
class HelpView final : public ui::ViewComponent {
  public:
    explicit HelpView(const HelpPages& pages, HelpSection section = HelpSection::whatItDoes,
                      std::string query = {});

    ui::View body() override;

    Published<HelpSection> section;
    Published<std::string> query;

  private:
    ui::View sidebar();
    ui::View detail();

    const HelpPages& pages_;
    Subscription openSection_;
};

}  // namespace orvel
