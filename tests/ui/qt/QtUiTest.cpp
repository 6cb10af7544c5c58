#include "QtUiTest.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QStyleFactory>
#include <QTest>

#include "ui/qt/Appearance.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace orvel::test {

void QtUiTest::SetUp() {
    gaveUp_ = false;
    releaseServices();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    QApplication::setFont(font);
    ui::Appearance::apply(false);
    auto loop = std::make_unique<ui::QtRunLoop>();
    loop_ = loop.get();
    RunLoop::install(std::move(loop));
    auto sim = std::make_unique<SimPlatform>();
    sim_ = sim.get();
    Platform::install(std::move(sim));
    auto host = std::make_unique<ui::QtHost>(ui::HostCapabilities::of(*sim_));
    host_ = host.get();
    ui::UiHost::install(std::move(host));
}

void QtUiTest::TearDown() {
    ui::UiHost::install(nullptr);
    releaseServices();
    // Widgets scheduled for deletion go while the loop they may call into still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    host_ = nullptr;
    sim_ = nullptr;
    loop_ = nullptr;
}

bool QtUiTest::waitUntil(const std::function<bool()>& done) {
    if (gaveUp_) {
        return done();
    }
    if (loop_->runFor(kLimit, done)) {
        return true;
    }
    gaveUp_ = true;
    ADD_FAILURE() << "gave up after " << kLimit << " s waiting for a change that never came";
    return false;
}

void QtUiTest::settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
}

void QtUiTest::press(QWidget& window, QKeyCombination key) {
    QWidget* target = window.focusWidget() != nullptr ? window.focusWidget() : &window;
    QTest::keyClick(target, key.key(), key.keyboardModifiers());
}

QString QtUiTest::nameOf(const QWidget& control) {
    for (const QWidget* w = &control; w != nullptr && !w->isWindow(); w = w->parentWidget()) {
        if (!w->accessibleName().isEmpty())
            return w->accessibleName();
    }
    return control.metaObject()->className();
}

QStringList QtUiTest::focusOrder(QWidget& window, QKeyCombination key) {
    QStringList names;
    QWidget* first = window.focusWidget();
    QWidget* at = first;
    // A chain longer than any window's means the focus is going round without reaching the start.
    while (at != nullptr && names.size() < 200) {
        names << nameOf(*at);
        press(window, key);
        QWidget* next = window.focusWidget();
        if (next == first || next == at)
            break;
        at = next;
    }
    return names;
}

QImage QtUiTest::savePng(QWidget& widget, const std::string& name) {
    settle();
    return savePng(widget.grab().toImage(), name);
}

QImage QtUiTest::savePng(const QImage& image, const std::string& name) {
    const QString dir = QStringLiteral(ORVEL_PNG_DIR);
    QDir().mkpath(dir);
    const QString path = dir + "/" + QString::fromStdString(name) + ".png";
    EXPECT_TRUE(image.save(path, "PNG")) << path.toStdString();
    return image;
}

int QtUiTest::pixelsNear(const QImage& image, const QColor& color) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 200 && std::abs(c.red() - color.red()) < 24 &&
                std::abs(c.green() - color.green()) < 24 &&
                std::abs(c.blue() - color.blue()) < 24) {
                ++count;
            }
        }
    }
    return count;
}

int QtUiTest::opaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y).alpha() > 128 ? 1 : 0;
        }
    }
    return count;
}

QImage QtUiTest::onStrip(const QImage& picture, const QColor& strip) {
    QImage out(picture.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(picture.devicePixelRatio());
    out.fill(strip);
    QPainter p(&out);
    p.drawImage(QPoint(0, 0), picture);
    return out;
}

namespace {

double linear(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double relativeLuminance(const QColor& c) {
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

}  // namespace

double QtUiTest::contrast(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

double QtUiTest::legibleContrast(const QImage& picture, const QColor& strip) {
    const QImage laid = onStrip(picture, strip);
    std::vector<double> ratios;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixelColor(x, y).alpha() > 128) {
                ratios.push_back(contrast(laid.pixelColor(x, y), strip));
            }
        }
    }
    if (ratios.empty()) {
        return 1.0;
    }
    std::sort(ratios.begin(), ratios.end(), std::greater<>());
    return ratios[ratios.size() / 3];
}

}  // namespace orvel::test
