#include "ui/qt/QtEnvironment.h"

#include <QApplication>

#include "ui/qt/Accessibility.h"

#include <cstdlib>

namespace orvel::ui {

struct QtEnvironment::Impl {
    std::unique_ptr<QApplication> app;
};

QtEnvironment::QtEnvironment(int& argc, char** argv, bool offscreen)
    : impl_(std::make_unique<Impl>()) {
    if (offscreen) {
        // The platform is chosen when the application object is made.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication::setApplicationName("Orvel");
    QApplication::setOrganizationName("Orvel");
    impl_->app = std::make_unique<QApplication>(argc, argv);
    installAccessibility();
    // A tray program lives on with its windows closed.
    QApplication::setQuitOnLastWindowClosed(false);
}

QtEnvironment::~QtEnvironment() = default;

void QtEnvironment::processEvents() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::processEvents();
}

}  // namespace orvel::ui
