#pragma once

#include <vector>

#include "foundation/Published.h"
#include "ui/View.h"

namespace orvel::ui {

// A view object: its body() is a pure function of its own state (Published members) and of the
// services it observes. Hosts re-evaluate the body on the next loop turn after the view itself
// or any observed object announces a change, once per turn however many changes there were.
// Main thread only.
class ViewComponent : public ObservableObject {
  public:
    ~ViewComponent() override = default;

    virtual View body() = 0;
    // The services this view reads; the host listens to each of them.
    virtual std::vector<ObservableObject*> observedObjects() { return {}; }
};

}  // namespace orvel::ui
