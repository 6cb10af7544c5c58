#include "ui/qt/QtApplication.h"

#include <QApplication>
#include <QWidget>

#include "foundation/RunLoop.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtWindow.h"

namespace orvel::ui {

void QtApplication::setActivationPolicy(ActivationPolicy policy) {
    policy_ = policy;
    // Closing the last window never quits, whatever the policy: the tray item stays.
    QApplication::setQuitOnLastWindowClosed(false);
    for (QtWindow* window : host_.windows()) {
        window->applyPolicy();
    }
}

void QtApplication::activate(bool) {
    QtWindow* target = host_.keyWindow();
    if (target == nullptr) {
        for (QtWindow* window : host_.windows()) {
            if (window->isVisible()) {
                target = window;
                break;
            }
        }
    }
    if (target != nullptr) {
        target->widget()->raise();
        target->widget()->activateWindow();
    }
}

void QtApplication::terminate() {
    if (terminating_) {
        return;
    }
    terminating_ = true;
    host_.willTerminate.send();
    if (RunLoop::hasMain()) {
        RunLoop::main().quit();
    }
}

}  // namespace orvel::ui
