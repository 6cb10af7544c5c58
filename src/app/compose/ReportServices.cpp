#include "app/compose/Compose.h"

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Registry.h"
#include "help/EULAGate.h"
#include "help/HelpPages.h"
#include "platform/Platform.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticReport.h"
#include "reports/PermissionAudit.h"
#include "reports/ReportRedaction.h"
#include "reports/SelfTest.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {
namespace {

const DriveKeepAlive& drives() {
    return DriveKeepAlive::shared();
}

}  // namespace

// The report builders, which read every service, and what the help and About windows show.
void provideReportServices() {
    Registry::provide<ReportRedaction>([] {
        return std::make_unique<ReportRedaction>(Platform::current().systemInfo(),
                                                 TriggerEngine::shared(), drives);
    });
    Registry::provide<DiagnosticReport>([] {
        Platform& platform = Platform::current();
        return std::make_unique<DiagnosticReport>(DiagnosticReport::Neighbours{
            .controller = OrvelController::shared(),
            .preferences = Preferences::shared(),
            .blocker = InputBlocker::shared(),
            .processes = platform.processes(),
            .display = BuiltInDisplay::shared(),
            .backlight = KeyboardBacklight::shared(),
            .engine = TriggerEngine::shared(),
            .permissions = platform.permissions(),
            .assertions = platform.powerAssertions(),
            .powerSources = platform.powerSources(),
            .system = platform.systemInfo(),
            .redaction = ReportRedaction::shared(),
        });
    });
    Registry::provide<PermissionAudit>([] {
        Platform& platform = Platform::current();
        return std::make_unique<PermissionAudit>(PermissionAudit::Neighbours{
            .bluetooth = platform.bluetooth(),
            .network = platform.network(),
            .notifications = platform.notifications(),
            .volumes = platform.volumes(),
            .workspace = platform.workspace(),
            .permissions = platform.permissions(),
            .loginItems = platform.loginItems(),
            .networkSource = NetworkTriggerSource::shared(),
            .engine = TriggerEngine::shared(),
            .drives = drives,
            .controller = OrvelController::shared(),
            .blocker = InputBlocker::shared(),
        });
    });
    Registry::provide<SelfTest>([] {
        Platform& platform = Platform::current();
        return std::make_unique<SelfTest>(SelfTest::Neighbours{
            .backlight = KeyboardBacklight::shared(),
            .display = BuiltInDisplay::shared(),
            .permissions = platform.permissions(),
            .blocker = InputBlocker::shared(),
            .controller = OrvelController::shared(),
            .processes = platform.processes(),
            .powerSources = platform.powerSources(),
            .system = platform.systemInfo(),
            .report = DiagnosticReport::shared(),
            .audit = PermissionAudit::shared(),
            .redaction = ReportRedaction::shared(),
        });
    });
    Registry::provide<ConflictsReport>([] {
        return std::make_unique<ConflictsReport>(ConflictsReport::Neighbours{
            .preferences = Preferences::shared(),
            .engine = TriggerEngine::shared(),
            .controller = OrvelController::shared(),
            .drives = drives,
            .power = PowerTriggerCenter::shared(),
        });
    });
    Registry::provide<LicenseAgreement>([] {
        return std::make_unique<LicenseAgreement>(Platform::current().paths(),
                                                  Platform::current().userDefaults());
    });
    Registry::provide<HelpPages>([] {
        return std::make_unique<HelpPages>(
            []() -> const WakeHelperClient& { return WakeHelperClient::shared(); },
            Platform::current().paths(), Platform::current().processes(),
            LicenseAgreement::shared(), InputBlocker::shared());
    });
}

}  // namespace orvel
