#include "ui/qt/QtShell.h"

#include <QApplication>

#include <cstdlib>

#include "foundation/RunLoop.h"
#include "ui/qt/QtEnvironment.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRunLoop.h"

namespace orvel::ui {

struct QtShell::Impl {
    std::unique_ptr<QtEnvironment> environment;
};

QtShell::QtShell(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    impl_->environment = std::make_unique<QtEnvironment>(argc, argv);
    RunLoop::install(std::make_unique<QtRunLoop>());
    UiHost::install(std::make_unique<QtHost>());
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
        if (UiHost::isInstalled()) {
            UiHost::current().application().terminate();
        }
    });
}

QtShell::~QtShell() {
    if (UiHost::isInstalled()) {
        UiHost::install(nullptr);
    }
    RunLoop::install(nullptr);
    impl_->environment.reset();
}

bool QtShell::canShowWindows() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace orvel::ui
