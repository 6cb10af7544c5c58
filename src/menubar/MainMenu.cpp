#include "menubar/MainMenu.h"

#include <optional>
#include <utility>
#include <vector>

#include "foundation/Localization.h"
#include "foundation/WeakRef.h"
#include "menubar/AppWindows.h"

namespace orvel {

namespace {

using ui::KeyboardShortcut;
using ui::MenuBarItem;
using ui::StandardAction;

constexpr unsigned kCommand = ui::kModifierCommand;

std::optional<KeyboardShortcut> key(const char* key, unsigned modifiers = kCommand) {
    return KeyboardShortcut{key, modifiers};
}

MenuBarItem standard(std::string title, StandardAction action,
                     std::optional<KeyboardShortcut> shortcut = std::nullopt) {
    MenuBarItem item;
    item.title = std::move(title);
    item.keyEquivalent = std::move(shortcut);
    item.standardAction = action;
    return item;
}

MenuBarItem toDelegate(std::string title, AppWindows& delegate, void (AppWindows::*operation)(),
                       std::optional<KeyboardShortcut> shortcut = std::nullopt) {
    MenuBarItem item;
    item.title = std::move(title);
    item.keyEquivalent = std::move(shortcut);
    item.action = [weakDelegate = weakRef(delegate), operation] {
        if (auto* d = weakDelegate.get()) {
            (d->*operation)();
        }
    };
    return item;
}

MenuBarItem menu(std::string title, std::vector<MenuBarItem> items,
                 ui::MenuRole role = ui::MenuRole::none) {
    MenuBarItem item;
    item.title = std::move(title);
    item.submenu = std::move(items);
    item.role = role;
    return item;
}

}  // namespace

void MainMenu::install(AppWindows& delegate, const std::string& name) {
    ui::UiHost::current().setMainMenu(
        {applicationMenu(name, delegate), editMenu(), windowMenu(), helpMenu(name, delegate)});
}

MenuBarItem MainMenu::applicationMenu(const std::string& name, AppWindows& delegate) {
    // Services, and hiding or showing other applications, are the desktop's: no item for them.
    return menu(
        name,
        {toDelegate(localizedFormat("About %@", {name}), delegate, &AppWindows::showAbout),
         MenuBarItem::divider(),
         toDelegate(localized("Settings\u2026"), delegate, &AppWindows::openSettings, key(",")),
         MenuBarItem::divider(),
         standard(localizedFormat("Hide %@", {name}), StandardAction::hide, key("h")),
         MenuBarItem::divider(),
         standard(localizedFormat("Quit %@", {name}), StandardAction::quit, key("q"))});
}

MenuBarItem MainMenu::editMenu() {
    return menu(
        localized("Edit"),
        {standard(localized("Undo"), StandardAction::undo, key("z")),
         standard(localized("Redo"), StandardAction::redo, key("z", kCommand | ui::kModifierShift)),
         MenuBarItem::divider(), standard(localized("Cut"), StandardAction::cut, key("x")),
         standard(localized("Copy"), StandardAction::copy, key("c")),
         standard(localized("Paste"), StandardAction::paste, key("v")),
         standard(localized("Delete"), StandardAction::deleteSelection),
         standard(localized("Select All"), StandardAction::selectAll, key("a"))});
}

MenuBarItem MainMenu::windowMenu() {
    return menu(localized("Window"),
                {standard(localized("Minimize"), StandardAction::minimize, key("m")),
                 standard(localized("Zoom"), StandardAction::zoom), MenuBarItem::divider(),
                 // Raising all of an application's windows at once is the desktop's too.
                 standard(localized("Close"), StandardAction::close, key("w"))},
                ui::MenuRole::windows);
}

MenuBarItem MainMenu::helpMenu(const std::string& name, AppWindows& delegate) {
    return menu(
        localized("Help"),
        {toDelegate(localizedFormat("%@ Help", {name}), delegate, &AppWindows::showHelp, key("?"))},
        ui::MenuRole::help);
}

}  // namespace orvel
