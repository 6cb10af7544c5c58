#pragma once

#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;
class Preferences;
class DeviceState;

// The panel shown from the tray item: the session's state and switch, and the way out.
//
// This is its first form: a header with the status line and the session switch, the
// equivalent command line and Quit. The full panel (durations, triggers, sleep switches,
// devices, footer) is built on this same view.
class MenuView final : public ui::ViewComponent {
  public:
    MenuView();

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

  private:
    OrvelController& c_;
    Preferences& prefs_;
    DeviceState& dev_;
};

}  // namespace orvel
