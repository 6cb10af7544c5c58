#include "reports/PermissionAudit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "core/OrvelController.h"
#include "drives/DriveKeepAlive.h"
#include "reports/DiagnosticsFixture.h"
#include "support/UiTest.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

using Kind = PermissionAudit::Probe::Kind;
using Listing = SimVolumes::Listing;

class PermissionAuditTest : public test::UiTest {
  protected:
    double elapsed(const std::function<void()>& action) {
        const double start = loop().uptime();
        action();
        return loop().uptime() - start;
    }
    std::vector<std::string> sectionLines() {
        std::vector<std::string> lines;
        std::istringstream in(services().permissionAudit().reportSections());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    bool hasLine(const std::string& line) {
        const auto lines = sectionLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

const VolumeInfo kShare{{}, "music", false, true, "/mnt/music", "//nas/music"};
const VolumeInfo kStick{{}, "STICK", true, true, "/media/stick", "/dev/sdb1", false};
const VolumeInfo kRoot{{}, {}, true, true, "/", "/dev/nvme0n1p2", true};

TEST_F(PermissionAuditTest, AFreshInstallationShowsItsSectionsExactly) {
    test::expectGolden("audit-fresh.txt", services().permissionAudit().reportSections());
}

TEST_F(PermissionAuditTest, NotificationAnswersMapToAVerdictWithinOneSecond) {
    using A = NotificationAuthorization;
    struct Case {
        A status;
        std::optional<double> delay;
        PermissionAudit::NotificationStatus expected;
        double waited;
    };
    const Case cases[] = {
        {A::authorized, 0, {true, "Granted"}, 0},
        {A::provisional, 0.5, {true, "Granted"}, 0.5},
        {A::notDetermined, 0, {std::nullopt, "Not asked yet"}, 0},
        {A::denied, 0, {false, "Denied"}, 0},
        {A::unknown, 0, {std::nullopt, "Unknown"}, 0},
        {A::authorized, 1.5, {std::nullopt, "Unknown"}, 1.0},  // too late
        {A::authorized, std::nullopt, {std::nullopt, "Unknown"}, 1.0},
    };
    for (const auto& c : cases) {
        sim().notifications().setAuthorizationStatus(c.status);
        sim().notifications().setStatusDelay(c.delay);
        PermissionAudit::NotificationStatus status;
        EXPECT_DOUBLE_EQ(
            elapsed([&] { status = services().permissionAudit().notificationStatus(); }), c.waited);
        EXPECT_EQ(status, c.expected) << static_cast<int>(c.status);
        loop().advance(5);  // a late answer finds its slot alive
    }
}

TEST_F(PermissionAuditTest, VolumeProbesListTheFirstMatchingVolumeAndGiveUpAfterTwoSeconds) {
    struct Case {
        const char* name;
        std::vector<VolumeInfo> volumes;
        bool network;
        Listing listing;
        PermissionAudit::Probe expected;
        double waited;
    };
    const Case cases[] = {
        {"no share",
         {kRoot, kStick},
         true,
         Listing::listed,
         {Kind::nothingMounted, "No shares mounted"},
         0},
        {"no removable drive",
         {kRoot, kShare},
         false,
         Listing::listed,
         {Kind::nothingMounted, "No external drives"},
         0},
        {"share listed", {kRoot, kShare}, true, Listing::listed, {Kind::granted, ""}, 0},
        {"share refused", {kShare}, true, Listing::refused, {Kind::denied, ""}, 0},
        {"share hangs", {kShare}, true, Listing::hangs, {Kind::timedOut, ""}, 2.0},
        {"stick listed", {kRoot, kShare, kStick}, false, Listing::listed, {Kind::granted, ""}, 0},
    };
    for (const auto& c : cases) {
        sim().volumes().setVolumes(c.volumes);
        for (const auto& v : c.volumes) {
            sim().volumes().setListing(v.path, c.listing);
        }
        PermissionAudit::Probe probe;
        EXPECT_DOUBLE_EQ(
            elapsed([&] { probe = services().permissionAudit().probeVolumes(c.network); }),
            c.waited)
            << c.name;
        EXPECT_EQ(probe, c.expected) << c.name;
    }
    // The hung listing answers at last and writes into a slot that is still there.
    ASSERT_EQ(sim().volumes().hungListings(), 1u);
    sim().volumes().releaseHungListings(true);
    loop().drain();
}

TEST_F(PermissionAuditTest, AHungShareFailsTheNetworkLineWithoutDelayingTheNextProbe) {
    sim().volumes().setVolumes({kShare, kStick});
    sim().volumes().setListing(kShare.path, Listing::hangs);
    EXPECT_TRUE(
        hasLine("  [FAIL] Network Volumes \u2014 Volume not responding \u00B7 "
                "network-share keep-alive"));
    EXPECT_EQ(services().permissionAudit().probeVolumes(false).kind, Kind::granted);
}

TEST_F(PermissionAuditTest, VolumeStatusTexts) {
    const std::pair<std::optional<PermissionAudit::Probe>, std::string> cases[] = {
        {std::nullopt, "Not checked"},
        {PermissionAudit::Probe{Kind::granted, ""}, "Granted"},
        {PermissionAudit::Probe{Kind::denied, ""}, "Not granted"},
        {PermissionAudit::Probe{Kind::timedOut, ""}, "Volume not responding"},
        {PermissionAudit::Probe{Kind::nothingMounted, "No shares mounted"}, "No shares mounted"},
    };
    for (const auto& [probe, text] : cases) {
        EXPECT_EQ(PermissionAudit::volumeStatusText(probe), text);
    }
}

TEST_F(PermissionAuditTest, PrivacySettingsOpenTheDesktopPanelElseTheGuidePageElseALogLine) {
    sim().workspace().setSettingsPanels({"Privacy_Bluetooth"});
    services().permissionAudit().openPrivacySettings("Privacy_Bluetooth");
    EXPECT_EQ(sim().workspace().openedPanels(), std::vector<std::string>{"Privacy_Bluetooth"});
    EXPECT_TRUE(sim().workspace().openedURLs().empty());

    services().permissionAudit().openPrivacySettings("Privacy_LocationServices");
    EXPECT_EQ(sim().workspace().openedURLs(),
              std::vector<std::string>{"orvel-sim:permissions/input-monitoring"});

    sim().workspace().setOpensFail(true);
    services().permissionAudit().openPrivacySettings("Privacy_LocationServices");
    EXPECT_EQ(sim().workspace().openedURLs().size(), 1u);
    EXPECT_EQ(sim().log().messages("diagnostics").size(), 1u);
}

TEST_F(PermissionAuditTest, LocationHelpExplainsADecisionAtOnceAndAMissingPromptAfterTwoSeconds) {
    sim().workspace().setSettingsPanels({"Privacy_LocationServices"});
    sim().network().setLocationAuthorization(LocationAuthorization::denied);
    host().scriptAlert(ui::HeadlessHost::answer(1000));
    services().permissionAudit().requestLocation();
    ASSERT_EQ(host().alerts().size(), 1u);
    EXPECT_NE(host().alerts()[0]->content().informativeText.find("Linux asks no permission"),
              std::string::npos);
    EXPECT_EQ(sim().workspace().openedPanels(),
              std::vector<std::string>{"Privacy_LocationServices"});

    sim().network().setLocationAuthorization(LocationAuthorization::notDetermined);
    host().scriptAlert(ui::HeadlessHost::answer(1001));
    services().permissionAudit().requestLocation();
    loop().advance(1.9);
    EXPECT_EQ(host().alerts().size(), 1u);
    loop().advance(0.2);
    ASSERT_EQ(host().alerts().size(), 2u);
    EXPECT_NE(host().alerts()[1]->content().informativeText.find("No prompt appears"),
              std::string::npos);
    EXPECT_EQ(sim().workspace().openedPanels().size(), 1u) << "Cancel opens nothing";
}

TEST_F(PermissionAuditTest, SectionsFollowTheEngineTheDrivesAndTheSession) {
    TriggerEngine& engine = services().triggerEngine();
    const auto rule = [](const char* name, TriggerSource source, bool enabled, bool unavailable) {
        TriggerRule r;
        r.name = name;
        r.source = source;
        r.enabled = enabled;
        r.unavailableHere = unavailable;
        if (source == TriggerSource::bluetooth) {
            r.btAddress = std::string("AA:") + name;
        }
        return r;
    };
    engine.add(rule("Desk", TriggerSource::bluetooth, true, false));
    engine.add(rule("Old", TriggerSource::bluetooth, false, false));
    engine.add(rule("Lab", TriggerSource::network, true, true));
    engine.add(rule("Mornings", TriggerSource::schedule, true, false));
    engine.add(rule("Evenings", TriggerSource::schedule, true, false));
    sim().bluetooth().setConnectedSilently("AA:Desk", true);
    sim().bluetooth().setAuthorization(BluetoothAuthorization::denied);
    engine.replaceAll(engine.rules(), {TriggerSource::schedule, TriggerSource::app});
    services().scheduleSource().activeNow = {engine.rules()[3].id, engine.rules()[4].id};

    services().driveKeepAlive();
    loop().drain();  // its first scan is over before the list is set
    DriveKeepAlive::Drive read{"U1", "Backup", "/media/backup"};
    read.enabled = true;
    read.lifecycle = DriveKeepAlive::Lifecycle::always;
    read.lastRead = loop().now() - 90.7;
    read.offline = true;
    DriveKeepAlive::Drive never{"U2", "Photos", "/media/photos"};
    never.enabled = true;
    DriveKeepAlive::Drive off{"U3", "Old", "/media/old"};
    services().driveKeepAlive().drives = {read, never, off};
    sim().loginItems().setStatus(login_item_status::kRequiresApproval);

    EXPECT_TRUE(hasLine("  master on \u00B7 live \u00B7 priority Schedule \u203A Apps"));
    EXPECT_TRUE(
        hasLine("  rules: Bluetooth 2 \u00B7 WiFi 0 \u00B7 Network 1 \u00B7 unavailable here 1"));
    EXPECT_TRUE(hasLine("  holding now: none")) << "no session runs for the open windows";
    EXPECT_TRUE(hasLine("  window open, starts a session at its next opening: Mornings, Evenings"));
    services().controller().startFromTrigger("Mornings", engine.rules()[3].id, 0);
    EXPECT_TRUE(hasLine("  holding now: Mornings, Evenings")) << "Bluetooth is not allowed";
    EXPECT_FALSE(
        hasLine("  window open, starts a session at its next opening: Mornings, Evenings"));
    EXPECT_TRUE(hasLine("  keep-alive on 2 of 3 volumes \u00B7 global interval 180s"));
    EXPECT_TRUE(hasLine("  \u00B7 Backup: always \u00B7 last read 90s ago \u00B7 OFFLINE"));
    EXPECT_TRUE(hasLine("  \u00B7 Photos: with session \u00B7 no read yet"));
    EXPECT_TRUE(hasLine("  start at login disabled"));

    engine.pause(std::nullopt);
    EXPECT_TRUE(hasLine("  master on \u00B7 PAUSED \u00B7 priority Schedule \u203A Apps"));
    engine.setMasterEnabled(false);
    EXPECT_TRUE(
        hasLine("  master off \u00B7 idle \u2014 master off \u00B7 priority Schedule "
                "\u203A Apps"));

    EXPECT_NE(services().permissionAudit().reportSections().find(" \u00B7 started by Mornings\n"),
              std::string::npos);
}

}  // namespace
}  // namespace orvel
