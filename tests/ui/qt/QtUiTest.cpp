#include "QtUiTest.h"

#include <cstdlib>

#include <QApplication>
#include <QDir>
#include <QStyleFactory>

#include "foundation/Registry.h"
#include "ui/qt/Appearance.h"

namespace orvel::test {

void QtUiTest::SetUp() {
    Registry::reset();
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
    auto host = std::make_unique<ui::QtHost>();
    host_ = host.get();
    ui::UiHost::install(std::move(host));
}

void QtUiTest::TearDown() {
    ui::UiHost::install(nullptr);
    Registry::reset();
    // Widgets scheduled for deletion go while the loop they may call into still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Platform::install(nullptr);
    RunLoop::install(nullptr);
    host_ = nullptr;
    sim_ = nullptr;
    loop_ = nullptr;
}

bool QtUiTest::waitUntil(const std::function<bool()>& done) {
    return loop_->runFor(kLimit, done);
}

void QtUiTest::settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
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

}  // namespace orvel::test
