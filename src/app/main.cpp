// The Orvel program: the tray application on the real machine, or on a simulated one.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "app/AppDelegate.h"
#include "app/SimulatedMachine.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "app/compose/Services.h"
#include "foundation/AppInfo.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"
#include "menubar/StatusItemController.h"
#include "platform/Paths.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxPlatform.h"
#include "ui/qt/MemoryGiveBack.h"
#include "ui/qt/QtShell.h"

namespace {

constexpr const char* kUsage =
    "Usage: Orvel [--simulate]\n"
    "\n"
    "Keeps this computer awake for as long as you ask, from an icon in the system tray.\n"
    "\n"
    "Options:\n"
    "  --simulate   run on a simulated machine: every feature works, nothing on this\n"
    "               system is held or changed; its settings are kept apart\n"
    "  --version    print the version and exit\n"
    "  --help       print this help and exit\n";

struct Options {
    bool simulate = false;
};

// Long enough for an instance that is still starting (its platform waits for the buses).
constexpr double kAnswerSeconds = 10;

// One Orvel per login session on the real machine; under --simulate, one per simulated home, whose
// settings would otherwise be shared.
std::string instanceFolder(const Options& options) {
    using namespace orvel;
    return options.simulate ? SimulatedMachine::SimulationPaths().configDirectory()
                            : LinuxPaths().runtimeDirectory();
}

// Nothing on success; an exit status to end with otherwise.
std::optional<int> parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("Orvel %s (build %s)\n", orvel::appVersion(), orvel::appBuild());
            return 0;
        }
        if (argument == "--simulate") {
            options.simulate = true;
            continue;
        }
        std::fprintf(stderr, "Orvel: unknown option \"%s\" (see Orvel --help)\n", argument.c_str());
        return 2;
    }
    return std::nullopt;
}

// The services newest first, then the small singletons they used.
void releaseServices(std::unique_ptr<orvel::Services>& services) {
    services.reset();
    orvel::Registry::reset();
    // Every setting written so far reaches the disk before the program ends.
    orvel::Platform::current().userDefaults().synchronize();
}

void sayWhyNoWindows() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    const char* named = wayland != nullptr && *wayland != '\0' ? wayland
                        : x11 != nullptr && *x11 != '\0'       ? x11
                                                               : nullptr;
    if (named != nullptr) {
        std::fprintf(stderr, "Orvel cannot reach the display \"%s\": ", named);
    } else {
        std::fputs("Orvel needs a display: ", stderr);
    }
    std::fputs(
        "start it in a desktop session, under a virtual display (xvfb-run Orvel), or "
        "with QT_QPA_PLATFORM=offscreen.\n",
        stderr);
}

// The services, the windows, the platform and Qt, in that order. Each step's time is logged, so
// that a quit that keeps a logout waiting shows where.
void releaseEverything(const orvel::Logger& log, std::unique_ptr<orvel::Services>& services,
                       std::optional<orvel::ui::QtShell>& shell) {
    using namespace orvel;
    double mark = RunLoop::main().uptime();
    std::string steps;
    auto step = [&](const char* name, auto&& run) {
        run();
        const double now = RunLoop::main().uptime();
        char took[48];
        std::snprintf(took, sizeof took, "%s%s %.3f s", steps.empty() ? "" : ", ", name,
                      now - mark);
        steps += took;
        mark = now;
    };
    step("services", [&] { releaseServices(services); });
    step("windows", [] { ui::UiHost::install(nullptr); });
    step("platform", [] { Platform::install(nullptr); });
    // Qt's teardown takes the loop and its clock with it. Nothing is left to release: a display
    // that goes away now only ends the teardown, which must not wait on Qt's thread for it.
    shell->onDisplayLost(nullptr);
    const auto qtStarted = std::chrono::steady_clock::now();
    shell.reset();
    char took[48];
    std::snprintf(
        took, sizeof took, ", Qt %.3f s",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - qtStarted).count());
    log.info("quit: " + steps + took);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvel;
    ui::returnLargeBlocksWhenFreed();
    Options options;
    if (auto status = parse(argc, argv, options)) {
        return *status;
    }
    // Before anything is held: a launch that finds Orvel running hands over to it.
    SingleInstance::Claim instance = SingleInstance::claim(instanceFolder(options), kAnswerSeconds);
    switch (instance.outcome) {
        case SingleInstance::Outcome::handedOver:
            std::fprintf(stderr, "Orvel is already running; %s.\n", instance.message.c_str());
            return 0;
        case SingleInstance::Outcome::noAnswer:
            std::fprintf(stderr, "%s\n", instance.message.c_str());
            return 1;
        case SingleInstance::Outcome::first:
        case SingleInstance::Outcome::unguarded:
            break;
    }
    if (!ui::QtShell::canShowWindows()) {
        sayWhyNoWindows();
        return 1;
    }

    std::optional<ui::QtShell> shell(std::in_place, argc, argv);
    const double started = RunLoop::main().uptime();
    if (options.simulate) {
        Platform::install(std::make_unique<SimulatedMachine>());
    } else {
        auto platform = LinuxPlatform::make();
        LinuxPlatform& real = *platform;
        Platform::install(std::move(platform));
        real.waitForServices(2.0);
    }
    // The graph of services on it, each built as it is first asked for; log entries from any
    // thread go to its log.
    auto services = std::make_unique<Services>(Platform::current());
    services->receiveActivityEntries();
    shell->installHost(ui::HostCapabilities::of(Platform::current()));
    Logger log("app");
    log.info("texts in " +
             Localization::shared().useEnvironmentLanguage(LinuxPaths::defaultLocaleDirectory()));
    if (!instance.message.empty()) {
        log.notice(instance.message);
    }
    {
        AppDelegate delegate(*services);
        TerminationSignals signals([](int) { ui::UiHost::current().application().terminate(); });
        if (instance.instance) {
            instance.instance->serve([weakDelegate = weakRef(delegate)] {
                auto* running = weakDelegate.get();
                return running != nullptr ? running->reopen() : std::string();
            });
        }
        // Logging out ends the display before it ends Orvel: that is a quit, not a crash.
        shell->onDisplayLost([&delegate, &services] {
            delegate.applicationWillTerminate();
            releaseServices(services);
            Platform::install(nullptr);
        });
        // The wall time lets a benchmark measure from the moment it started the process.
        const auto now = [] {
            char when[64];
            std::snprintf(when, sizeof when, "%.3f", RunLoop::main().now().unixTime());
            return std::string(when);
        };
        Subscription trayWatch;
        RunLoop::main().async([&] {
            delegate.applicationDidFinishLaunching();
            if (StatusItemController* status = StatusItemController::current()) {
                if (status->item().isInTray() == true) {
                    log.info("ready: tray item drawn at unix time " + now());
                } else {
                    log.info("ready: no tray shows the item yet (unix time " + now() +
                             "); it is drawn once one does");
                    trayWatch = status->trayToldItem.subscribe([&log, &trayWatch, now] {
                        auto* shown = StatusItemController::current();
                        if (shown != nullptr && shown->item().isInTray() == true) {
                            log.info("tray item drawn at unix time " + now());
                            trayWatch.cancel();
                        }
                    });
                }
            }
            // Start-up touched much that a running Orvel never needs again.
            ui::giveBackMemorySoon();
        });
        RunLoop::main().run();
        // Quitting by any road ends here after the delegate's shutdown has run.
        delegate.applicationWillTerminate();
        log.info("main loop: " + std::to_string(RunLoop::main().timersFired()) +
                 " timer firings in " +
                 std::to_string(static_cast<long>(RunLoop::main().uptime() - started)) + " s");
    }
    releaseEverything(log, services, shell);
    return 0;
}
