// Saves a picture of the whole X screen (for the demo under a virtual display), or
// first waits for a colour to show in an area of the screen (say, a page's background
// once the page shows) and prints when it did.
//
//   qvr-screenshot FILE.png
//   qvr-screenshot --wait-for X Y WIDTH HEIGHT RRGGBB [FILE.png]
//
// With --wait-for it looks every few milliseconds for up to 30 seconds, prints the
// wall-clock time at which some pixel of the area had the colour (nanoseconds since
// the epoch, as `date +%s%N`), then saves FILE if one is given; it fails when the
// colour never came.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Usage(const char* program)
{
    std::fprintf(stderr, "usage: %s FILE.png\n       %s --wait-for X Y WIDTH HEIGHT RRGGBB [FILE.png]\n", program,
                 program);
    return 2;
}

bool Shows(const QImage& area, QRgb colour)
{
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            if ((area.pixel(x, y) & RGB_MASK) == colour)
                return true;
        }
    }
    return false;
}

// Waits for the colour; false when 30 seconds pass without it.
bool WaitForColour(QScreen& screen, const QRect& area, QRgb colour)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (Shows(screen.grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage(), colour)) {
            const auto seen = std::chrono::system_clock::now().time_since_epoch();
            std::printf("%lld\n", static_cast<long long>(std::chrono::nanoseconds(seen).count()));
            return true;
        }
        QThread::msleep(5);
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const bool wait = argc >= 7 && std::strcmp(argv[1], "--wait-for") == 0;
    if (wait ? argc > 8 : argc != 2)
        return Usage(argv[0]);
    const char* file = wait ? (argc == 8 ? argv[7] : nullptr) : argv[1];
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "screenshot: no screen\n");
        return 1;
    }
    if (wait) {
        const QRect area(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
        if (!WaitForColour(*screen, area, static_cast<QRgb>(std::strtoul(argv[6], nullptr, 16)))) {
            std::fprintf(stderr, "screenshot: %s never showed in the area\n", argv[6]);
            return 1;
        }
    }
    if (file && !screen->grabWindow(0).save(QString::fromLocal8Bit(file))) {
        std::fprintf(stderr, "screenshot: cannot grab the screen into %s\n", file);
        return 1;
    }
    return 0;
}
