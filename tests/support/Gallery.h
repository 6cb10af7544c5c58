#pragma once

#include <memory>
#include <string>

#include "foundation/Published.h"
#include "ui/ViewComponent.h"

namespace orvel::test {

// A view that uses every node kind and modifier of the view tree, with state of its own. The
// view-layer tests render it in both hosts.
class Gallery final : public ui::ViewComponent {
  public:
    Gallery();

    ui::View body() override;

    Published<std::string> name{*this, "Orvel"};
    Published<std::string> secret{*this, ""};
    Published<bool> enabled{*this, true};
    Published<bool> compact{*this, false};
    Published<std::string> flavour{*this, "dark"};
    Published<std::string> page{*this, "controls"};
    Published<std::int64_t> minutes{*this, 15};
    Published<double> level{*this, 3};
    Published<Date> when{*this, Date{789000000}};
    Published<std::string> chosen{*this, ""};
    int appeared = 0;
    int disappeared = 0;
    int ticks = 0;

  private:
    ui::View controlsPage();
    ui::View shapesPage();
};

}  // namespace orvel::test
