#pragma once

#include <string>

#include "ui/Host.h"

namespace orvel {

class AppWindows;

// The application's main menu: the application menu, Edit, Window and Help. About, Settings and
// Help go to the delegate's windows; every other item asks the host for a standard action on
// the key window or its focused field. Main thread only.
class MainMenu {
  public:
    // Replaces the application's main menu with a new one, `name` (the process name) in its
    // titles. The menu holds the delegate weakly.
    static void install(AppWindows& delegate, const std::string& name);

    static ui::MenuBarItem applicationMenu(const std::string& name, AppWindows& delegate);
    static ui::MenuBarItem editMenu();
    static ui::MenuBarItem windowMenu();
    static ui::MenuBarItem helpMenu(const std::string& name, AppWindows& delegate);
};

}  // namespace orvel
