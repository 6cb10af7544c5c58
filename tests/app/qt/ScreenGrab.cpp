// Saves the whole X screen: a PNG for a person to look at and the same pixels as a binary PPM
// for scripts, and optionally a part of it enlarged (without smoothing) as a second PNG.
// Usage: orvel_screen_grab <file.png> [<file.ppm> [x y width height scale <zoom.png>]];
// the display comes from DISPLAY.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("Usage: orvel_screen_grab <file.png> [<file.ppm>]\n", stderr);
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fputs("orvel_screen_grab: no screen\n", stderr);
        return 1;
    }
    const QImage image = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB888);
    if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "orvel_screen_grab: could not save %s\n", argv[1]);
        return 1;
    }
    if (argc > 2 && !image.save(QString::fromLocal8Bit(argv[2]), "PPM")) {
        std::fprintf(stderr, "orvel_screen_grab: could not save %s\n", argv[2]);
        return 1;
    }
    if (argc > 8) {
        const QRect part(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                         std::atoi(argv[6]));
        const int scale = std::max(1, std::atoi(argv[7]));
        const QImage zoom = image.copy(part).scaled(part.size() * scale);
        if (!zoom.save(QString::fromLocal8Bit(argv[8]), "PNG")) {
            std::fprintf(stderr, "orvel_screen_grab: could not save %s\n", argv[8]);
            return 1;
        }
    }
    return 0;
}
