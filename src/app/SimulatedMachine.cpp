#include "app/SimulatedMachine.h"

namespace orvel {

namespace {

std::shared_ptr<DBusConnection> sessionBusOrNone() {
    auto bus = DBusConnection::open(DBusConnection::Bus::session);
    if (!bus) {
        Logger("platform").notice(bus.error().message + " The desktop's colour scheme is unknown.");
        return nullptr;
    }
    return bus.value();
}

}  // namespace

SimulatedMachine::SimulationPaths::SimulationPaths() {
    LinuxPaths real;
    data_ = real.applicationSupportDirectory() + "/simulation";
    config_ = real.configDirectory() + "/simulation";
    resources_ = real.resourcesDirectory();
    runtime_ = real.runtimeDirectory() + "/simulation";
}

SimulatedMachine::SimulatedMachine()
    : defaults_(std::make_unique<FileUserDefaults>(paths_.configDirectory())),
      log_(std::make_shared<StderrLogSink>()),
      desktopSettings_(sessionBusOrNone()) {
    installApplications();
}

// A desktop's worth of applications to choose from, two of them running.
void SimulatedMachine::installApplications() {
    struct App {
        const char* id;
        const char* name;
        const char* icon;
        bool running;
    };
    static constexpr App kApps[] = {
        {"org.example.Calculator", "Calculator", "accessories-calculator", false},
        {"org.example.Browser", "Web Browser", "web-browser", true},
        {"org.example.Terminal", "Terminal", "utilities-terminal", false},
        {"org.example.TextEditor", "Text Editor", "accessories-text-editor", true},
        {"org.example.Music", "Music Player", "multimedia-audio-player", false},
        {"org.example.Photos", "Image Viewer", "image-viewer", false},
        {"org.example.Mail", "Mail", "internet-mail", false},
        {"org.example.Files", "Files", "system-file-manager", false},
    };
    SimWorkspace& workspace = sim_.workspace();
    for (const App& app : kApps) {
        const std::string url =
            std::string(workspace.applicationFolders().front()) + "/" + app.id + ".desktop";
        workspace.install(url, app.id, app.name, app.icon);
        if (app.running) {
            workspace.launch(std::string(app.id), std::string(app.name), ActivationPolicy::regular,
                             url);
        }
    }
}

}  // namespace orvel
