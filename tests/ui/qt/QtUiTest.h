#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "platform/sim/SimPlatform.h"
#include "support/MachineServices.h"
#include "ui/qt/QtHost.h"
#include "ui/qt/QtRunLoop.h"

namespace orvel::test {

// A simulated machine with the Qt host drawing under the offscreen platform. Each case gets a
// fresh Qt-driven main loop, a fresh simulated platform, the light appearance and no shared
// instances.
class QtUiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    ui::QtRunLoop& loop() { return *loop_; }
    SimPlatform& sim() { return *sim_; }
    // The services of the installed machine (the simulated one unless a case installs its own),
    // built through the application's root as each is first asked for (binaries over the
    // services only).
    Services& services() { return machine_.get(); }
    // Destroys the services newest first, then the small singletons, as the end of the process
    // does; the next services() builds anew on the machine installed then.
    void releaseServices() { machine_.release(); }
    ui::QtHost& host() { return *host_; }

    // Turns the loop until `done` holds. A wait that outlasts the limit fails the case, and every
    // later wait of that case only looks once, so a change that never comes ends it in seconds.
    bool waitUntil(const std::function<bool()>& done);
    // Lets posted layout and paint work finish, as a visible window would before being seen.
    void settle();
    // Renders a window's widget to ${build}/png/<name>.png and returns the image.
    QImage savePng(QWidget& widget, const std::string& name);
    static QImage savePng(const QImage& image, const std::string& name);
    // Opaque pixels within a small distance of a colour in every channel.
    static int pixelsNear(const QImage& image, const QColor& color);
    // Pixels more opaque than not.
    static int opaquePixels(const QImage& image);
    // A picture laid over a strip of one colour as tall as the picture.
    static QImage onStrip(const QImage& picture, const QColor& strip);
    // The WCAG contrast ratio against the strip's colour that at least a third of a picture's
    // opaque pixels reach once it is laid over the strip: what the eye has to read the shape.
    static double legibleContrast(const QImage& picture, const QColor& strip);
    static double contrast(const QColor& a, const QColor& b);

    // Presses and releases a key as the keyboard does, on the window's focused control.
    static void press(QWidget& window, QKeyCombination key);
    // What a control is called: its accessible name, else that of the nearest named box around
    // it (a field inside its labelled box), else its kind.
    static QString nameOf(const QWidget& control);
    // The names of the controls `key` (Tab, Shift+Tab, an arrow) visits, from the focused one
    // until the focus comes back to it or stays where it is.
    static QStringList focusOrder(QWidget& window, QKeyCombination key);

    // Far beyond what a loaded machine needs to draw a change, and no bound on how fast it is.
    static constexpr double kLimit = 10.0;

  private:
    MachineServices machine_;
    bool gaveUp_ = false;
    ui::QtRunLoop* loop_ = nullptr;
    SimPlatform* sim_ = nullptr;
    ui::QtHost* host_ = nullptr;
};

}  // namespace orvel::test

// Test failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
