#pragma once

#include <functional>
#include <string>
#include <vector>

#include "foundation/RawEnum.h"
#include "menubar/AppWindows.h"

namespace orvel::test {

// Records the window operations the panel and the tray ask for.
class RecordingWindows final : public AppWindows {
  public:
    std::vector<std::string> calls;
    std::function<void()> onSettings;
    void showHelp() override { calls.emplace_back("help"); }
    void showHelpSection(HelpSection section) override {
        calls.emplace_back("help " + std::string(rawValue(section)));
    }
    void openSettings() override {
        calls.emplace_back("settings");
        if (onSettings) {
            onSettings();
        }
    }
    void showAbout() override { calls.emplace_back("about"); }
    void showCustomDuration() override { calls.emplace_back("custom"); }
    void makeRuleFromWatchedApp() override { calls.emplace_back("makeRule"); }
    void chooseAppToWatch() override { calls.emplace_back("chooseApp"); }
};

}  // namespace orvel::test
