// The Qt host with the desktop's portals on a private session bus: file dialogs through the
// file chooser portal (Qt's own without one), windows in the settings portal's colour scheme.

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>

#include "QtUiTest.h"
#include "app/compose/Services.h"
#include "platform/linux/PortalDesktopSettings.h"
#include "settings/SettingsTransfer.h"
#include "support/FileChooserMock.h"
#include "support/PrivateBus.h"
#include "ui/View.h"
#include "ui/ViewComponent.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

using test::PrivateBus;

const DBusObject kSettingsMock{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                               "org.freedesktop.DBus.Mock"};
constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";

// Hands each top-level widget Qt shows to `shown`, after the show has been handled.
class ShowWatch final : public QObject {
  public:
    explicit ShowWatch(std::function<void(QWidget&)> shown) : shown_(std::move(shown)) {
        qApp->installEventFilter(this);
    }
    ~ShowWatch() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(object);
        if (event->type() == QEvent::Show && widget != nullptr && widget->isWindow()) {
            QMetaObject::invokeMethod(
                widget, [this, widget] { shown_(*widget); }, Qt::QueuedConnection);
        }
        return false;
    }

  private:
    std::function<void(QWidget&)> shown_;
};

class Words final : public ui::ViewComponent {
  public:
    ui::View body() override { return ui::Text("Keep awake").padding(16); }
};

class DesktopPortalTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        test::setWaiter([this](double limit, const std::function<bool()>& done) {
            return loop().runFor(limit, done);
        });
        auto started = PrivateBus::startForMocks();
        if (!started) {
            GTEST_SKIP() << started.error().message;
        }
        bus = std::move(started.value());
        session = bus->connect("session");
        probe = bus->connect("probe");
        ASSERT_TRUE(session && probe);
        ASSERT_TRUE(folder.isValid());
    }
    void TearDown() override {
        releaseServices();
        session.reset();
        probe.reset();
        bus.reset();
        test::setWaiter(nullptr);
        QtUiTest::TearDown();
    }

    void startPortal(const std::string& mock, const std::string& parameters) {
        auto pid = bus->startTemplate(std::string(ORVEL_LINUX_MOCKS) + "/" + mock + ".py",
                                      kPortalName, parameters);
        ASSERT_TRUE(pid.ok()) << (pid.ok() ? "" : pid.error().message);
        portalPid = pid.value();
    }
    // The file chooser's every request answered at once with `response` and these places.
    void answerWith(std::uint32_t response, const std::vector<std::string>& uris) {
        test::fileChooserAnswer(*probe, "SetAnswer", response, uris);
    }
    Json lastRequest() { return test::fileChooserLastRequest(*probe); }
    std::string path(const std::string& name) const {
        return folder.filePath(QString::fromStdString(name)).toStdString();
    }

    std::unique_ptr<PrivateBus> bus;
    std::shared_ptr<DBusConnection> session;
    std::shared_ptr<DBusConnection> probe;
    pid_t portalPid = -1;
    QTemporaryDir folder;
};

TEST_F(DesktopPortalTest, TheExportAsksTheDesktopsChooserThenItsOptionsAndACancelWritesNothing) {
    startPortal("portal_file_chooser", "");
    host().useFileChooserPortal(session);
    const std::string target = path("My Settings.orvelconfig");
    std::vector<std::string> dialogs;
    bool encryptOffered = false;
    ShowWatch watch([&](QWidget& window) {
        auto* dialog = qobject_cast<QDialog*>(&window);
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        dialogs.push_back(dialog->windowTitle().toStdString());
        if (qobject_cast<QFileDialog*>(dialog) != nullptr) {
            ADD_FAILURE() << "Qt's dialog shown while the portal runs";
            dialog->reject();
            return;
        }
        for (auto* label : dialog->findChildren<QLabel*>()) {
            encryptOffered |= label->text() == "Encrypt with a passphrase" && label->isVisible();
        }
        savePng(*dialog, "export-options-after-the-portal");
        dialog->accept();
    });

    answerWith(1, {});
    SettingsTransfer::runExportPanel(services().settingsTransferOwners());
    EXPECT_TRUE(dialogs.empty()) << "a cancelled chooser asks nothing more";
    EXPECT_FALSE(std::filesystem::exists(target));
    const Json seen = lastRequest();
    EXPECT_EQ(seen["method"], "SaveFile");
    EXPECT_EQ(seen["title"], "Export Orvel Settings");
    EXPECT_EQ(seen["options"]["current_name"], "Orvel Settings.orvelconfig");
    EXPECT_EQ(seen["options"]["filters"],
              Json::parse(R"([["*.orvelconfig, *.json", [[0, "*.orvelconfig"], [0, "*.json"]]]])"));
    EXPECT_EQ(seen["options"]["modal"], true);

    answerWith(0, {QUrl::fromLocalFile(QString::fromStdString(target))
                       .toString(QUrl::FullyEncoded)
                       .toStdString()});
    SettingsTransfer::runExportPanel(services().settingsTransferOwners());
    EXPECT_EQ(dialogs, std::vector<std::string>{"Export Orvel Settings"})
        << "the passphrase is asked after the file is chosen";
    EXPECT_TRUE(encryptOffered);
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(target); }));

    // A name typed without the extension gets it, as in Qt's dialog.
    answerWith(
        0, {QUrl::fromLocalFile(QString::fromStdString(path("Plain"))).toString().toStdString()});
    SettingsTransfer::runExportPanel(services().settingsTransferOwners());
    EXPECT_TRUE(std::filesystem::exists(path("Plain.orvelconfig")));
    EXPECT_FALSE(std::filesystem::exists(path("Plain")));
}

TEST_F(DesktopPortalTest, AnOpenPanelTakesThePortalsChoiceAndWithoutAPortalIsQtsDialog) {
    startPortal("portal_file_chooser", "");
    host().useFileChooserPortal(session);
    int qtDialogs = 0;
    std::optional<int> passphraseRoom;
    ShowWatch watch([&](QWidget& window) {
        if (auto* dialog = qobject_cast<QFileDialog*>(&window); dialog && dialog->isVisible()) {
            ++qtDialogs;
            for (auto* field : dialog->findChildren<QLineEdit*>()) {
                if (field->placeholderText() == "Passphrase" && field->isVisible()) {
                    EXPECT_GE(field->height(), field->sizeHint().height()) << "not squeezed";
                    EXPECT_EQ(field->visibleRegion().boundingRect(), field->rect())
                        << "not cut by the boxes around it";
                    passphraseRoom =
                        dialog->height() - field->mapTo(dialog, QPoint(0, field->height())).y();
                    savePng(*dialog, "export-panel-without-a-portal");
                }
            }
            dialog->reject();
        }
    });
    ui::OpenPanelOptions request;
    request.title = "Import Orvel Settings";
    request.directory = folder.path().toStdString();
    answerWith(0, {"file:///home/ana/Backup%20copy.orvelconfig"});
    EXPECT_EQ(host().runOpenPanel(request),
              std::vector<std::string>{"/home/ana/Backup copy.orvelconfig"});
    const Json seen = lastRequest();
    EXPECT_EQ(seen["method"], "OpenFile");
    EXPECT_EQ(seen["options"]["current_folder"], folder.path().toStdString());
    EXPECT_EQ(qtDialogs, 0);

    bus->stopService(portalPid, kPortalName);
    EXPECT_EQ(host().runOpenPanel(request), std::nullopt);
    EXPECT_EQ(qtDialogs, 1) << "Qt's own dialog stands in";

    // The export's options sit in Qt's dialog, clear of its edge.
    SettingsTransfer::runExportPanel(services().settingsTransferOwners());
    EXPECT_EQ(qtDialogs, 2);
    ASSERT_TRUE(passphraseRoom);
    EXPECT_GE(*passphraseRoom, 12);
}

TEST_F(DesktopPortalTest, OpenWindowsTakeTheColourSchemeTheDesktopAnnounces) {
    startPortal("portal_settings", R"({"color_scheme": 2})");
    PortalDesktopSettings settings(session);
    ASSERT_TRUE(waitUntil([&] { return settings.colorScheme() == ColorScheme::light; }));
    // The palette Qt had from the desktop's theme, before any scheme was told.
    QPalette own = ui::Appearance::lightPalette();
    own.setColor(QPalette::Window, QColor(0xD0, 0xE0, 0xF0));
    QApplication::setPalette(own);
    ui::QtHost followed(ui::HostCapabilities{nullptr, nullptr, &settings});
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              ui::Appearance::lightPalette().color(QPalette::Window))
        << "the scheme told before the host was made";
    auto window = host().makeWindow();
    window->setTitle("Scheme");
    window->setContent(std::make_shared<Words>());
    window->makeKeyAndOrderFront();
    QWidget& widget = *static_cast<ui::QtWindow&>(*window).widget();
    // Dark, light, then no preference: the desktop's own palette again.
    for (const std::uint32_t value : {1u, 2u, 0u}) {
        test::Reply reply = test::callAndWait(
            *probe, kSettingsMock, "SetColorScheme",
            [value](sd_bus_message* m) { return sd_bus_message_append(m, "u", value); });
        ASSERT_TRUE(reply && !DBusConnection::errorOf(reply.get()));
        const QPalette wanted = value == 1   ? ui::Appearance::darkPalette()
                                : value == 2 ? ui::Appearance::lightPalette()
                                             : own;
        ASSERT_TRUE(waitUntil([&] {
            return QApplication::palette().color(QPalette::Window) ==
                   wanted.color(QPalette::Window);
        }));
        settle();
        EXPECT_EQ(widget.grab().toImage().pixelColor(2, 2), wanted.color(QPalette::Window))
            << "scheme " << value;
    }
}

}  // namespace
}  // namespace orvel
