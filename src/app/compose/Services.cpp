#include "app/compose/Services.h"

#include <memory>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "core/SessionControl.h"
#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "devices/PermissionPrimer.h"
#include "devices/ScreenSaverBlock.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Localization.h"
#include "foundation/Registry.h"
#include "help/EULAGate.h"
#include "help/HelpPages.h"
#include "menubar/SystemA11y.h"
#include "platform/Platform.h"
#include "platform/SystemInfo.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticReport.h"
#include "reports/PermissionAudit.h"
#include "reports/ReportRedaction.h"
#include "reports/SelfTest.h"
#include "settings/UpdateSchedule.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {

Services::~Services() {
    if (receivesEntries_) {
        ActivityLog::setInstalled(std::move(previousReceiver_));
    }
    built_.reset();
}

void Services::receiveActivityEntries() {
    auto previous = ActivityLog::setInstalled([this]() -> ActivityLog& { return activityLog(); });
    if (!receivesEntries_) {
        previousReceiver_ = std::move(previous);
        receivesEntries_ = true;
    }
}

// The session core: the settings, the log and the controller.

Preferences& Services::preferences() {
    return build<Preferences>([this] {
        return std::make_unique<Preferences>(platform_->userDefaults(), platform_->systemInfo());
    });
}

ActivityLog& Services::activityLog() {
    return build<ActivityLog>(
        [this] { return std::make_unique<ActivityLog>(platform_->userDefaults()); });
}

OrvelController& Services::controller() {
    return build<OrvelController>([this] {
        ServiceNeighbours neighbours;
        // Each takes the controller back, so each is reached once the controller stands: it
        // restores a saved session on its next turn. A session's end reaches the devices before
        // the drives; its start reaches the drives first, as soon as the engine holds (their
        // sessionHolding), and the devices once it is in place.
        neighbours.participants = {
            later<SessionParticipant, &Services::deviceState>(),
            later<SessionParticipant, &Services::driveKeepAlive>(),
            later<SessionParticipant, &Services::triggerEngine>(),
            later<SessionParticipant, &Services::powerCenter>(),
        };
        neighbours.oneOffWatch = later<OneOffWatch, &Services::appSource>();
        neighbours.powerSafety = later<PowerSafety, &Services::powerCenter>();
        Platform& platform = *platform_;
        return std::make_unique<OrvelController>(
            preferences(), platform.workspace(), platform.powerAssertions(), platform.processes(),
            platform.powerSources(), platform.notifications(), std::move(neighbours));
    });
}

// The devices the session quiets and the drives it keeps spinning.

ScreenSaverBlock& Services::screenSaverBlock() {
    return build<ScreenSaverBlock>(
        [this] { return std::make_unique<ScreenSaverBlock>(platform_->powerAssertions()); });
}

BuiltInDisplay& Services::builtInDisplay() {
    return build<BuiltInDisplay>([this] {
        return std::make_unique<BuiltInDisplay>(platform_->displays(), platform_->backlight());
    });
}

KeyboardBacklight& Services::keyboardBacklight() {
    return build<KeyboardBacklight>([this] {
        return std::make_unique<KeyboardBacklight>(platform_->keyboardBacklightRoutes());
    });
}

InputBlocker& Services::inputBlocker() {
    return build<InputBlocker>([this] {
        Platform& platform = *platform_;
        return std::make_unique<InputBlocker>(platform.hidDevices(), platform.inputBlocking(),
                                              platform.permissions(), platform.workspace(),
                                              platform.cursor(), platform.eventTap());
    });
}

PermissionPrimer& Services::permissionPrimer() {
    return build<PermissionPrimer>([this] {
        return std::make_unique<PermissionPrimer>(platform_->userDefaults(), inputBlocker());
    });
}

DeviceState& Services::deviceState() {
    return build<DeviceState>([this] {
        Platform& platform = *platform_;
        return std::make_unique<DeviceState>(
            preferences(), inputBlocker(), screenSaverBlock(), builtInDisplay(),
            keyboardBacklight(), permissionPrimer(),
            DeviceState::Machine{platform.displays(), platform.accessibilityDisplay(),
                                 platform.systemInfo(), platform.processes()},
            // The controller tells the device state of its sessions: asked without building it,
            // none yet means no session.
            [this] {
                const auto* controller = existing<OrvelController>();
                return controller != nullptr && controller->isActive();
            });
    });
}

DriveKeepAlive& Services::driveKeepAlive() {
    return build<DriveKeepAlive>([this] {
        Platform& platform = *platform_;
        return std::make_unique<DriveKeepAlive>(platform.volumes(), platform.uncachedReader(),
                                                platform.networkShares(), platform.userDefaults(),
                                                later<OrvelController, &Services::controller>());
    });
}

// The trigger sources, the rules engine and the power centre. The sources are built before the
// engine, which they reach back on first use; the controller, whose participants the engine and
// the power centre are, and the wake helper, which reads its registration as it is built, are
// reached on first use too.

WakeHelperClient& Services::wakeHelper() {
    return build<WakeHelperClient>([this] {
        return std::make_unique<WakeHelperClient>(platform_->helperService(),
                                                  platform_->helperConnection());
    });
}

NetworkTriggerSource& Services::networkSource() {
    return build<NetworkTriggerSource>([this] {
        return std::make_unique<NetworkTriggerSource>(
            platform_->network(), later<TriggerEngine, &Services::triggerEngine>());
    });
}

AppTriggerSource& Services::appSource() {
    return build<AppTriggerSource>([this] {
        return std::make_unique<AppTriggerSource>(platform_->workspace(),
                                                  later<TriggerEngine, &Services::triggerEngine>(),
                                                  later<OrvelController, &Services::controller>());
    });
}

BluetoothTriggerSource& Services::bluetoothSource() {
    return build<BluetoothTriggerSource>([this] {
        return std::make_unique<BluetoothTriggerSource>(
            platform_->bluetooth(), later<TriggerEngine, &Services::triggerEngine>(),
            later<PowerTriggerCenter, &Services::powerCenter>(),
            later<OrvelController, &Services::controller>());
    });
}

ScheduleTriggerSource& Services::scheduleSource() {
    return build<ScheduleTriggerSource>([this] {
        Platform& platform = *platform_;
        return std::make_unique<ScheduleTriggerSource>(
            platform.workspace(), platform.userDefaults(), platform.screenLock(),
            platform.powerAssertions(),
            ScheduleNeighbours{
                .engine = later<TriggerEngine, &Services::triggerEngine>(),
                .wakeHelper = later<WakeHelperClient, &Services::wakeHelper>(),
                .controller = later<OrvelController, &Services::controller>(),
                .drives = later<DriveKeepAlive, &Services::driveKeepAlive>(),
            });
    });
}

TriggerEngine& Services::triggerEngine() {
    return build<TriggerEngine>([this] {
        Platform& platform = *platform_;
        return std::make_unique<TriggerEngine>(TriggerEngineNeighbours{
            .defaults = platform.userDefaults(),
            .bluetooth = platform.bluetooth(),
            .workspace = platform.workspace(),
            .powerSources = platform.powerSources(),
            .notifications = platform.notifications(),
            .activityLog = activityLog(),
            .bluetoothSource = bluetoothSource(),
            .networkSource = networkSource(),
            .scheduleSource = scheduleSource(),
            .appSource = appSource(),
            .wakeHelper = later<WakeHelperClient, &Services::wakeHelper>(),
            .controller = later<OrvelController, &Services::controller>(),
            .session = later<SessionControl, &Services::controller>(),
        });
    });
}

PowerTriggerCenter& Services::powerCenter() {
    return build<PowerTriggerCenter>([this] {
        Platform& platform = *platform_;
        return std::make_unique<PowerTriggerCenter>(platform.powerSources(),
                                                    platform.notifications(), preferences(),
                                                    later<OrvelController, &Services::controller>(),
                                                    later<SessionControl, &Services::controller>());
    });
}

SystemA11y& Services::systemA11y() {
    return build<SystemA11y>(
        [this] { return std::make_unique<SystemA11y>(platform_->accessibilityDisplay()); });
}

// The report builders, which read every service, and what the help and About windows show. The
// drive keep-alive is reached only when a report is written.

ReportRedaction& Services::reportRedaction() {
    return build<ReportRedaction>([this] {
        return std::make_unique<ReportRedaction>(
            platform_->systemInfo(), triggerEngine(),
            later<const DriveKeepAlive, &Services::driveKeepAlive>());
    });
}

DiagnosticReport& Services::diagnosticReport() {
    return build<DiagnosticReport>([this] {
        Platform& platform = *platform_;
        return std::make_unique<DiagnosticReport>(DiagnosticReport::Neighbours{
            .controller = controller(),
            .preferences = preferences(),
            .blocker = inputBlocker(),
            .processes = platform.processes(),
            .display = builtInDisplay(),
            .backlight = keyboardBacklight(),
            .engine = triggerEngine(),
            .permissions = platform.permissions(),
            .assertions = platform.powerAssertions(),
            .powerSources = platform.powerSources(),
            .system = platform.systemInfo(),
            .redaction = reportRedaction(),
            .conflicts = [this] { return conflictsReport().text(); },
        });
    });
}

PermissionAudit& Services::permissionAudit() {
    return build<PermissionAudit>([this] {
        Platform& platform = *platform_;
        return std::make_unique<PermissionAudit>(PermissionAudit::Neighbours{
            .bluetooth = platform.bluetooth(),
            .network = platform.network(),
            .notifications = platform.notifications(),
            .volumes = platform.volumes(),
            .workspace = platform.workspace(),
            .permissions = platform.permissions(),
            .loginItems = platform.loginItems(),
            .networkSource = networkSource(),
            .engine = triggerEngine(),
            .drives = later<const DriveKeepAlive, &Services::driveKeepAlive>(),
            .controller = controller(),
            .blocker = inputBlocker(),
        });
    });
}

SelfTest& Services::selfTest() {
    return build<SelfTest>([this] {
        Platform& platform = *platform_;
        return std::make_unique<SelfTest>(SelfTest::Neighbours{
            .backlight = keyboardBacklight(),
            .display = builtInDisplay(),
            .permissions = platform.permissions(),
            .blocker = inputBlocker(),
            .controller = controller(),
            .processes = platform.processes(),
            .powerSources = platform.powerSources(),
            .system = platform.systemInfo(),
            .report = diagnosticReport(),
            .audit = permissionAudit(),
            .redaction = reportRedaction(),
        });
    });
}

ConflictsReport& Services::conflictsReport() {
    return build<ConflictsReport>([this] {
        return std::make_unique<ConflictsReport>(ConflictsReport::Neighbours{
            .preferences = preferences(),
            .engine = triggerEngine(),
            .controller = controller(),
            .drives = later<const DriveKeepAlive, &Services::driveKeepAlive>(),
            .power = powerCenter(),
        });
    });
}

LicenseAgreement& Services::licenseAgreement() {
    return build<LicenseAgreement>([this] {
        return std::make_unique<LicenseAgreement>(platform_->paths(), platform_->userDefaults());
    });
}

HelpPages& Services::helpPages() {
    return build<HelpPages>([this] {
        return std::make_unique<HelpPages>(later<const WakeHelperClient, &Services::wakeHelper>(),
                                           platform_->paths(), platform_->processes(),
                                           licenseAgreement(), inputBlocker());
    });
}

UpdaterBridge& Services::updaterBridge() {
    return build<UpdaterBridge>([] { return std::make_unique<UpdaterBridge>(); });
}

// Built in the order a reset first used them.
SettingsReset& Services::settingsReset() {
    return build<SettingsReset>([this] {
        TriggerEngine& engine = triggerEngine();
        OrvelController& control = controller();
        PowerTriggerCenter& power = powerCenter();
        DriveKeepAlive& drives = driveKeepAlive();
        Platform& platform = *platform_;
        return std::make_unique<SettingsReset>(SettingsResetNeighbours{
            engine, control, power, drives, preferences(), activityLog(), platform.userDefaults(),
            platform.permissions(), platform.processes()});
    });
}

StatusItemController::Services Services::statusItemServices() {
    Platform* platform = platform_;
    return StatusItemController::Services{controller(),
                                          preferences(),
                                          triggerEngine(),
                                          permissionPrimer(),
                                          platform->processes(),
                                          platform->notifications(),
                                          [this] { return menuViewServices(); }};
}

MenuView::Services Services::menuViewServices() {
    Platform& platform = *platform_;
    return MenuView::Services{controller(),        preferences(),    deviceState(),
                              inputBlocker(),      builtInDisplay(), triggerEngine(),
                              powerCenter(),       systemA11y(),     platform.userDefaults(),
                              platform.processes()};
}

AutomationServices Services::automationServices() {
    Platform& platform = *platform_;
    return AutomationServices{
        preferences(),           triggerEngine(),      activityLog(),      controller(),
        powerCenter(),           wakeHelper(),         bluetoothSource(),  networkSource(),
        platform.userDefaults(), platform.bluetooth(), platform.network(), platform.workspace(),
        platform.powerSources(), permissionAudit()};
}

SettingsTransfer::Owners Services::settingsTransferOwners() {
    Platform* platform = platform_;
    return SettingsTransfer::Owners{later<TriggerEngine, &Services::triggerEngine>(),
                                    later<DriveKeepAlive, &Services::driveKeepAlive>(),
                                    later<Preferences, &Services::preferences>(),
                                    [platform]() -> Bluetooth& { return platform->bluetooth(); }};
}

ResetOwners Services::resetOwners() {
    return ResetOwners{settingsTransferOwners(), later<SettingsReset, &Services::settingsReset>()};
}

// The self-test and the report built with the HID-access flag raised and the permission status
// fresh, the audit's sections, the redaction of the gathered names and the machine's facts. The
// builders are reached only when a button is pressed.
DiagnosticsSources Services::diagnosticsSources() {
    Platform* platform = platform_;
    SystemInfo& info = platform->systemInfo();
    DiagnosticsSources sources;
    // Not SelfTest::forSupport: it appends the audit and a conflicts section of its own, and
    // the page joins the pieces itself with the settings' conflicts report.
    sources.selfTest = [this]() -> std::optional<std::string> {
        InputBlocker& blocker = inputBlocker();
        blocker.permissionStatus();
        InputBlocker::HidAccessScope access(blocker);
        return selfTest().selfTest();
    };
    sources.auditSections = [this] { return permissionAudit().reportSections(); };
    sources.report = [this] { return diagnosticReport().forSupport(false, false); };
    sources.redact = [this](const std::string& text) { return reportRedaction().obfuscate(text); };
    sources.machine = [&info] { return info.architecture(); };
    sources.osVersion = [&info] {
        return info.osName() + " \u00B7 " + localizedFormat("kernel %@", {info.kernelRelease()});
    };
    sources.conflicts = [this] { return conflictsReport().text(); };
    return sources;
}

// Built in the order the window used to reach them, the first page's first.
SettingsServices Services::settingsServices() {
    Platform& platform = *platform_;
    OrvelController& control = controller();
    Preferences& prefs = preferences();
    PowerTriggerCenter& power = powerCenter();
    DeviceState& devices = deviceState();
    DriveKeepAlive& drives = driveKeepAlive();
    return SettingsServices{control,
                            prefs,
                            power,
                            devices,
                            drives,
                            keyboardBacklight(),
                            inputBlocker(),
                            builtInDisplay(),
                            platform.userDefaults(),
                            platform.permissions(),
                            platform.hotKeys(),
                            platform.loginItems(),
                            platform.processes(),
                            automationServices(),
                            licenseAgreement(),
                            diagnosticsSources(),
                            resetOwners(),
                            [this] { updaterBridge(); }};
}

}  // namespace orvel
