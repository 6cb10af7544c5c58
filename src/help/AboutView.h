#pragma once

#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;

// The About window's content: the name, version and build, whether a session runs, and the
// two help links. Its least form: the agreement, privacy, diagnostics and feedback actions
// are not there yet.
class AboutView final : public ui::ViewComponent {
  public:
    explicit AboutView(OrvelController& controller);

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

  private:
    OrvelController& c_;
};

}  // namespace orvel
