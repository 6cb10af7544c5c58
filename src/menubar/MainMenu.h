#pragma once

namespace orvel {

// The application's main menu.
//
// This is its first, least form: an empty menu bar. The full menu (application, edit, window
// and help menus) replaces the body of install().
class MainMenu {
  public:
    static void install();
};

}  // namespace orvel
