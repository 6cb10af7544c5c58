#include "settings/DrivesSettingsView.h"

#include <gtest/gtest.h>

#include <deque>

#include "core/OrvelController.h"
#include "reports/PermissionAudit.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

using Drive = DriveKeepAlive::Drive;
using Kind = VolumeProbe::Kind;

Drive makeDrive(std::string id, bool enabled, bool network = false) {
    Drive drive;
    drive.id = id;
    drive.name = "Disk " + id;
    drive.path = "/media/" + id;
    drive.enabled = enabled;
    drive.isNetwork = network;
    drive.lifecycle = DriveKeepAlive::Lifecycle::always;
    return drive;
}

class DrivesSettingsViewTest : public test::SessionTest {
  protected:
    // The window goes before the host it belongs to.
    void TearDown() override {
        window.reset();
        SessionTest::TearDown();
    }
    DriveKeepAlive& keeper() { return services().driveKeepAlive(); }
    // After the start-up scan, which drops drives that are not mounted.
    void setDrives(std::vector<Drive> drives) {
        keeper();
        loop().drain();
        keeper().drives = std::move(drives);
    }

    void open() {
        VolumeAccess access;
        access.probe = [this] {
            VolumeProbe result = answers.front();
            answers.pop_front();
            return result;
        };
        access.openPrivacySettings = [this](const std::string& anchor) {
            opened.push_back(anchor);
        };
        access.schedule = [this](std::function<void()> task) { pending.push_back(task); };
        view = std::make_shared<DrivesSettingsView>(keeper(), services().controller(),
                                                    services().permissionAudit(),
                                                    std::set<std::string>{}, std::nullopt, access);
        window = host().makeWindow();
        window->setContent(view);
        window->makeKeyAndOrderFront();
        loop().drain();
    }
    ui::Inspector shown() {
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window).inspect();
    }
    std::optional<ui::ForegroundStyle> colourOf(std::string_view text) {
        auto found = shown().find(text);
        return found ? found->node->foreground : std::nullopt;
    }

    std::deque<VolumeProbe> answers;
    std::vector<std::function<void()>> pending;
    std::vector<std::string> opened;
    std::shared_ptr<DrivesSettingsView> view;
    std::unique_ptr<ui::Window> window;
};

TEST_F(DrivesSettingsViewTest, BadgeTellsOfflineOrTheWholeSecondsSinceTheLastRead) {
    const Date now = Date{1000};
    const struct {
        bool enabled, offline;
        std::optional<double> readAgo;
        std::optional<std::string> badge;
    } cases[] = {
        {true, false, 42.9, "READ 42s AGO"}, {true, false, 0.0, "READ 0s AGO"},
        {true, false, -30.0, "READ 0s AGO"},  // the clock was set back
        {false, true, 5.0, "OFFLINE"},       {true, false, std::nullopt, std::nullopt},
        {false, false, 5.0, std::nullopt},
    };
    for (const auto& c : cases) {
        Drive drive = makeDrive("a", c.enabled);
        drive.offline = c.offline;
        if (c.readAgo) {
            drive.lastRead = Date{now.secondsSinceReferenceDate - *c.readAgo};
        }
        EXPECT_EQ(DrivesSettingsView::badgeText(drive, now), c.badge);
    }
}

TEST_F(DrivesSettingsViewTest, SummaryNamesTheKindTheLifecycleAndAnOwnInterval) {
    Drive local = makeDrive("a", true);
    EXPECT_EQ(DrivesSettingsView::summary(local), "Local \u00b7 always");
    Drive share = makeDrive("b", true, true);
    share.lifecycle = DriveKeepAlive::Lifecycle::whileOrvelSessionActive;
    share.intervalOverride = 300;
    EXPECT_EQ(DrivesSettingsView::summary(share),
              "Network (SMB) \u00b7 only while orvel is on \u00b7 every 300s");
}

TEST_F(DrivesSettingsViewTest, WithoutDrivesTheVolumesSectionHoldsOnlyTheRescanButton) {
    open();
    const int before = sim().volumes().enumerations();
    EXPECT_TRUE(shown().click("Rescan Volumes"));
    loop().drain();
    EXPECT_GT(sim().volumes().enumerations(), before);
    const auto texts = shown().texts();
    EXPECT_FALSE(shown().contains(
        "Per-drive keep-alive is on, so the global Prevent Disk Sleep flag has been turned off "
        "\u2014 per-drive is replacing it."));
    EXPECT_TRUE(shown().contains("Not checked"));
    EXPECT_TRUE(shown().contains("Check Access"));
}

TEST_F(DrivesSettingsViewTest, ADiskTheSessionCannotKeepSpinningIsNamedWhileItHolds) {
    sim().localDisks().setDisks(
        {{"sda", "/dev/sda", true, false, {}}, {"sdb", "/dev/sdb", true, false, {}}});
    sim().uncachedReader().failReads("/dev/sdb", "opening /dev/sdb failed: Permission denied");
    const std::string line =
        "sdb may spin down: Orvel cannot open the disk, and no file on it is safe to read.";
    open();
    controller().setOption(&SleepOptions::preventDiskSleep, true);
    ASSERT_TRUE(controller().start());
    EXPECT_TRUE(shown().contains(line));
    EXPECT_FALSE(shown().contains("sda may spin down"));
    EXPECT_EQ(colourOf(line), ui::ForegroundStyle(ui::Color::orange()));
    controller().stop(true);
    EXPECT_FALSE(shown().contains(line));
}

TEST_F(DrivesSettingsViewTest, HeaderTapExpandsWhileTheSwitchOnlyTogglesAndShowsTheFooter) {
    auto options = controller().options();
    options.preventDiskSleep = true;
    controller().options = options;
    setDrives({makeDrive("a", false), makeDrive("b", false)});
    open();
    const std::string footer =
        "Per-drive keep-alive is on, so the global Prevent Disk Sleep flag has been turned off "
        "\u2014 per-drive is replacing it.";

    ASSERT_TRUE(shown().setToggle("Keep Disk a alive", true)) << shown().lastFailure();
    EXPECT_TRUE(keeper().drives()[0].enabled);
    EXPECT_FALSE(controller().options().preventDiskSleep);
    EXPECT_TRUE(view->expanded().empty());
    EXPECT_TRUE(shown().contains(footer));

    ASSERT_TRUE(shown().click("Disk a"));
    EXPECT_TRUE(shown().contains("Read now"));
    EXPECT_NE(shown().dump().find("symbol=chevron.right font=9 semibold fg=tertiary rotated=90"),
              std::string::npos);
    ASSERT_TRUE(shown().click("Disk a"));
    EXPECT_FALSE(shown().contains("Read now"));

    ASSERT_TRUE(shown().setToggle("Keep Disk a alive", false));
    EXPECT_FALSE(shown().contains(footer));
    EXPECT_FALSE(controller().options().preventDiskSleep) << "not turned back on";
}

TEST_F(DrivesSettingsViewTest, IntervalPickerKeepsAnUnlistedOverrideUntilTheUserPicks) {
    Drive drive = makeDrive("a", true);
    drive.intervalOverride = 300;
    setDrives({drive});
    open();
    ASSERT_TRUE(shown().click("Disk a"));
    EXPECT_TRUE(shown().contains("Local \u00b7 always \u00b7 every 300s"));
    ASSERT_TRUE(shown().pick("Interval", "600"));
    EXPECT_EQ(keeper().drives()[0].intervalOverride, 600);
    ASSERT_TRUE(shown().pick("Interval", "0"));
    EXPECT_FALSE(keeper().drives()[0].intervalOverride.has_value());
    EXPECT_TRUE(shown().contains("Local \u00b7 always"));
    ASSERT_TRUE(shown().pick("Keep-alive interval", "90"));
    EXPECT_EQ(keeper().globalIntervalSeconds(), 90);
}

TEST_F(DrivesSettingsViewTest, AShareSaysWhetherItCanBeMountedAgainWhenItDrops) {
    setDrives({makeDrive("a", true), makeDrive("b", true, true)});
    open();
    ASSERT_TRUE(shown().click("Disk a"));
    ASSERT_TRUE(shown().click("Disk b"));
    const std::string remounted = "Network share \u00b7 unmounts are remounted automatically";
    EXPECT_TRUE(shown().contains("Local volume"));
    EXPECT_TRUE(shown().contains(remounted));
    const std::string noGio =
        "gio is not installed (package libglib2.0-bin): a share that drops is mounted again only "
        "through a user entry in /etc/fstab.";
    sim().networkShares().setUnavailableReason(noGio);
    open();
    ASSERT_TRUE(shown().click("Disk a"));
    ASSERT_TRUE(shown().click("Disk b"));
    EXPECT_TRUE(shown().contains(noGio));
    EXPECT_FALSE(shown().contains(remounted));
    EXPECT_TRUE(shown().contains("Local volume"));
}

TEST_F(DrivesSettingsViewTest, CheckResultsAreStoredInArrivalOrderAndDroppedAfterTheTabCloses) {
    open();
    answers = {{Kind::nothingMounted, "No shares mounted"}, {Kind::denied, {}}};
    ASSERT_TRUE(shown().click("Check Access"));
    ASSERT_TRUE(shown().click("Check Access"));
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_TRUE(shown().contains("Not checked")) << "nothing until a result is back";

    pending[0]();  // answers "No shares mounted" …
    pending[1]();  // … then "Not granted": the later arrival wins
    EXPECT_TRUE(shown().contains("Not granted"));
    EXPECT_EQ(colourOf("Not granted"), ui::ForegroundStyle(ui::Color::orange()));
    ASSERT_TRUE(shown().click("Enable"));
    EXPECT_EQ(opened, std::vector<std::string>{"Privacy_FilesAndFolders"});

    answers = {{Kind::nothingMounted, "No shares mounted"}, {Kind::timedOut, {}}};
    ASSERT_TRUE(shown().click("Check Again"));
    ASSERT_TRUE(shown().click("Check Again"));
    pending[3]();
    EXPECT_TRUE(shown().contains("No shares mounted"));
    EXPECT_EQ(colourOf("No shares mounted"), ui::ForegroundStyle(ui::Hierarchy::secondary));
    EXPECT_FALSE(shown().contains("Enable"));
    pending[2]();  // late
    EXPECT_TRUE(shown().contains("Volume not responding"));
    EXPECT_FALSE(shown().contains("Enable"));

    // The page shown again starts unchecked; a check asked before it went answers nothing.
    answers = {{Kind::granted, {}}};
    ASSERT_TRUE(shown().click("Check Again"));
    window->close();
    window->makeKeyAndOrderFront();
    EXPECT_TRUE(shown().contains("Not checked"));
    pending[4]();
    EXPECT_TRUE(shown().contains("Not checked"));
    EXPECT_TRUE(shown().contains("Check Access"));

    answers = {{Kind::granted, {}}};
    ASSERT_TRUE(shown().click("Check Access"));
    window.reset();
    view.reset();
    pending[5]();
    loop().drain();  // the result finds no view and goes nowhere
    EXPECT_TRUE(answers.empty());
}

}  // namespace
}  // namespace orvel
