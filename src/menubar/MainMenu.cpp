#include "menubar/MainMenu.h"

#include "ui/Host.h"

namespace orvel {

void MainMenu::install() {
    ui::UiHost::current().setMainMenu({});
}

}  // namespace orvel
