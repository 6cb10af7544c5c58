// Opening applications, addresses and the desktop's settings.

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "foundation/Localization.h"
#include "foundation/TextCompare.h"
#include "platform/linux/DesktopApplications.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/LinuxWorkspaceProc.h"
#include "platform/linux/Xdg.h"

namespace orvel {

namespace fs = std::filesystem;
using namespace procread;

namespace {

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

struct SettingsPanel {
    std::string_view anchor;
    std::string_view gnome;  // gnome-control-center's panel; empty: none
    std::string_view kde;    // systemsettings' module; empty: none
};

constexpr SettingsPanel kSettingsPanels[] = {
    {"Privacy_LocationServices", "location", ""},
    {"Privacy_Bluetooth", "bluetooth", "kcm_bluetooth"},
    {"Notifications", "notifications", "kcm_notifications"},
};

bool desktopIs(std::string_view desktops, std::string_view name) {
    while (!desktops.empty()) {
        const auto colon = desktops.find(':');
        if (equalIgnoringCase(desktops.substr(0, colon), name)) {
            return true;
        }
        desktops =
            colon == std::string_view::npos ? std::string_view() : desktops.substr(colon + 1);
    }
    return false;
}

}  // namespace

void LinuxWorkspace::openApplication(std::string_view url, OpenCompletion completion) {
    auto opening = std::make_unique<Opening>();
    Opening* raw = opening.get();
    opening->completion = std::move(completion);
    openings_.push_back(std::move(opening));

    const std::string path(url);
    const auto keys = xdg::readDesktopEntry(path);
    const auto value = [&keys](const char* key) {
        auto it = keys.find(key);
        return it == keys.end() ? std::string() : it->second;
    };
    const std::string name = value("Name").empty() ? fs::path(path).stem().string() : value("Name");
    const auto fail = [this, raw](std::string message) {
        // Never before openApplication() returns.
        raw->timer = RunLoop::main().after(
            0, [this, raw, message] { finishOpening(raw, Error{message}); }, TimerMode::Common);
    };
    if (keys.empty()) {
        return fail(localizedFormat("No application is installed at %@.", {path}));
    }
    const std::vector<std::string> words = xdg::launchWords(value("Exec"));
    if (words.empty() || words.front().empty()) {
        return fail(localizedFormat(
            "%@ cannot be started: its desktop entry has no command to run.", {name}));
    }
    const std::string executable = findProgram(words.front(), processes_);
    if (executable.empty()) {
        return fail(localizedFormat("%1$@ cannot be started: %2$@ is not installed.",
                                    {name, words.front()}));
    }
    raw->app.bundleIdentifier = entryID(path);
    raw->app.localizedName = name;
    raw->app.activationPolicy =
        value("NoDisplay") == "true" ? ActivationPolicy::accessory : ActivationPolicy::regular;
    raw->app.bundleURL = path;
    raw->program = execProgram(value("Exec"));
    const std::vector<pid_t> running = listProcesses(options_.procRoot);
    raw->before.insert(running.begin(), running.end());
    auto launched =
        processes_.launchDetached(LaunchRequest{executable, {words.begin() + 1, words.end()}});
    if (!launched) {
        return fail(
            localizedFormat("%1$@ cannot be started: %2$@.", {name, launched.error().message}));
    }
    raw->deadline = RunLoop::main().uptime() + options_.openTimeout;
    raw->timer = RunLoop::main().after(
        0, [this, raw] { lookForOpened(raw); }, TimerMode::Common);
}

// Only processes started since the launch are opened, and each only until it runs the program
// (a child shows the launcher's executable until its exec).
void LinuxWorkspace::lookForOpened(Opening* opening) {
    for (const pid_t pid : listProcesses(options_.procRoot)) {
        if (opening->before.count(pid) != 0) {
            continue;
        }
        const auto info = readProcess(fs::path(options_.procRoot) / std::to_string(pid), pid);
        if (!info || info->uid != user_) {
            continue;
        }
        if (programOf(*info) == opening->program) {
            RunningApplication app = opening->app;
            app.processIdentifier = pid;
            watchExit(app, info->startTime);
            return finishOpening(opening, app);
        }
    }
    if (RunLoop::main().uptime() >= opening->deadline) {
        return finishOpening(
            opening, Error{localizedFormat(
                         "%1$@ did not start within %2$@ seconds.",
                         {*opening->app.localizedName, formatSeconds(options_.openTimeout)})});
    }
    opening->timer = RunLoop::main().after(
        options_.openInterval, [this, opening] { lookForOpened(opening); }, TimerMode::Common);
}

void LinuxWorkspace::finishOpening(Opening* opening, Result<RunningApplication> result) {
    auto it = std::find_if(openings_.begin(), openings_.end(),
                           [opening](const auto& o) { return o.get() == opening; });
    if (it == openings_.end()) {
        return;
    }
    std::unique_ptr<Opening> done = std::move(*it);
    openings_.erase(it);
    done->completion(std::move(result));
}

// Opening URLs ---------------------------------------------------------------------------------

Result<void> LinuxWorkspace::openURL(std::string_view url) {
    if (url.empty() || url.front() == '-' || std::any_of(url.begin(), url.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        })) {
        return Error{localizedFormat("\u201c%@\u201d is not an address that can be opened.",
                                     {std::string(url)})};
    }
    if (!processes_.isExecutableFile(options_.opener)) {
        return Error{
            localizedFormat("Opening addresses is not available on this system (%@ is missing).",
                            {options_.opener})};
    }
    if (auto launched =
            processes_.launchDetached(LaunchRequest{options_.opener, {std::string(url)}});
        !launched) {
        return launched.error();
    }
    return {};
}

Result<void> LinuxWorkspace::openSettingsPanel(std::string_view anchor) {
    const std::string& desktop = options_.desktop;
    const auto* panel = std::find_if(std::begin(kSettingsPanels), std::end(kSettingsPanels),
                                     [&](const SettingsPanel& p) { return p.anchor == anchor; });
    std::vector<std::string> programs;
    std::string_view argument;
    if (panel == std::end(kSettingsPanels)) {
        return Error{
            localizedFormat("This desktop has no settings for %@.", {std::string(anchor)})};
    }
    if (desktopIs(desktop, "GNOME") && !panel->gnome.empty()) {
        programs = {"gnome-control-center"};
        argument = panel->gnome;
    } else if (desktopIs(desktop, "KDE") && !panel->kde.empty()) {
        programs = {"systemsettings", "systemsettings5"};
        argument = panel->kde;
    } else {
        return Error{
            desktop.empty()
                ? localizedFormat("This desktop has no settings for %@.", {std::string(anchor)})
                : localizedFormat("This desktop (%1$@) has no settings for %2$@.",
                                  {desktop, std::string(anchor)})};
    }
    for (const std::string& program : programs) {
        const std::string path = findProgram(program, processes_);
        if (path.empty()) {
            continue;
        }
        if (auto launched = processes_.launchDetached(LaunchRequest{path, {std::string(argument)}});
            !launched) {
            return launched.error();
        }
        return {};
    }
    return Error{
        localizedFormat("The desktop's settings program (%@) is missing.", {programs.front()})};
}

}  // namespace orvel
