// Saves a picture of the whole X screen (for the demo under a virtual display), or
// first waits for a colour to show in an area of the screen (say, a page's background
// once the page shows) and prints when it did.
//
//   qvr-screenshot FILE.png
//   qvr-screenshot --wait-for X Y WIDTH HEIGHT RRGGBB [FILE.png]
//   qvr-screenshot --wait-shown TITLE
//
// With --wait-for it looks every few milliseconds for up to 30 seconds, prints the
// wall-clock time at which some pixel of the area had the colour (nanoseconds since
// the epoch, as `date +%s%N`), then saves FILE if one is given; it fails when the
// colour never came.
//
// With --wait-shown it prints "watching" once it sees every new window, then waits
// for a window titled TITLE to be mapped and prints when it was, as above. It waits
// on the X server's notices rather than asking again and again, so that a start it
// times does not share the processor with it.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <poll.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

int printUsage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s FILE.png\n       %s --wait-for X Y WIDTH HEIGHT RRGGBB [FILE.png]\n"
                 "       %s --wait-shown TITLE\n",
                 program, program, program);
    return 2;
}

bool showsColour(const QImage& area, QRgb colour)
{
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            if ((area.pixel(x, y) & RGB_MASK) == colour)
                return true;
        }
    }
    return false;
}

void printNow()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::printf("%lld\n", static_cast<long long>(std::chrono::nanoseconds(now).count()));
    std::fflush(stdout);
}

// Waits for the colour; false when 30 seconds pass without it.
bool waitForColour(QScreen& screen, const QRect& area, QRgb colour)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (showsColour(screen.grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage(), colour)) {
            printNow();
            return true;
        }
        QThread::msleep(5);
    }
    return false;
}

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

bool hasTitle(xcb_connection_t* connection, xcb_window_t window, std::string_view title)
{
    const auto cookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    return reply
        && std::string_view(static_cast<const char*>(xcb_get_property_value(reply.get())),
                            static_cast<std::size_t>(xcb_get_property_value_length(reply.get())))
        == title;
}

// Waits up to 30 seconds for a window with the title to be mapped. Top-level windows
// are the root's children until a window manager gives them a frame, so each one is
// watched from its creation: its own map notice comes wherever it then lives.
bool waitForWindow(std::string_view title)
{
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> display(xcb_connect(nullptr, nullptr),
                                                                               &xcb_disconnect);
    xcb_connection_t* connection = display.get();
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "screenshot: no display\n");
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const auto watch = [&](xcb_window_t window, std::uint32_t mask) {
        return xcb_change_window_attributes_checked(connection, window, XCB_CW_EVENT_MASK, &mask);
    };
    // Checked, so that no window is made before the watch is in place.
    std::free(xcb_request_check(connection, watch(root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY)));
    std::puts("watching");
    std::fflush(stdout);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!xcb_connection_has_error(connection)) {
        const XcbReply<xcb_generic_event_t> event(xcb_poll_for_event(connection), &std::free);
        if (!event) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
            pollfd readable {xcb_get_file_descriptor(connection), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) == 0)
                return false;
            continue;
        }
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY:
            watch(reinterpret_cast<xcb_create_notify_event_t*>(event.get())->window, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
            xcb_flush(connection);
            break;
        case XCB_MAP_NOTIFY:
            if (hasTitle(connection, reinterpret_cast<xcb_map_notify_event_t*>(event.get())->window, title)) {
                printNow();
                return true;
            }
            break;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--wait-shown") == 0) {
        if (waitForWindow(argv[2]))
            return 0;
        std::fprintf(stderr, "screenshot: no window titled %s was shown\n", argv[2]);
        return 1;
    }
    const bool wait = argc >= 7 && std::strcmp(argv[1], "--wait-for") == 0;
    if (wait ? argc > 8 : argc != 2)
        return printUsage(argv[0]);
    const char* file = wait ? (argc == 8 ? argv[7] : nullptr) : argv[1];
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "screenshot: no screen\n");
        return 1;
    }
    if (wait) {
        const QRect area(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
        if (!waitForColour(*screen, area, static_cast<QRgb>(std::strtoul(argv[6], nullptr, 16)))) {
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
