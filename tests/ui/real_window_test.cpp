// The program's own window on a real X display, driven from outside as a user
// drives it: xdotool for the mouse and keys, the screen's pixels for what shows.
// Each test has a virtual display of its own, without a window manager.
#include "res/images.h"

#include "tests/support/process.h"
#include "tests/support/program_fixture.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <signal.h>

#include <array>
#include <cstdio>

namespace qvr {
namespace {

// Runs an X tool (given up on after 20 s) and returns its output.
std::string runXTool(std::vector<std::string> args)
{
    args.insert(args.begin(), {"/usr/bin/timeout", "20"});
    std::string output;
    test::runProcess(args, {}, &output);
    return output;
}

QImage grabScreen(const QRect& area)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

QRgb screenPixel(QPoint at)
{
    return grabScreen(QRect(at, QSize(1, 1))).pixel(0, 0) & RGB_MASK;
}

// The first visible window of process `pid` named `name`, waited for: its X id.
// xdotool gives up on an X error, which any window that goes away while it looks
// causes (Qt and the web engine make and drop windows of their own while the program
// starts); it looks again then, for 30 s at most.
std::string findWindow(const std::string& pid, const std::string& name)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string found;
    while (found.empty() && std::chrono::steady_clock::now() < deadline)
        found = runXTool({"xdotool", "search", "--all", "--sync", "--onlyvisible", "--pid", pid, "--name", name});
    if (found.empty())
        ADD_FAILURE() << "no window " << name << " showed";
    return found.substr(0, found.find('\n'));
}

QRect windowGeometry(const std::string& window)
{
    int x = 0, y = 0, width = 0, height = 0;
    std::sscanf(runXTool({"xdotool", "getwindowgeometry", "--shell", window}).c_str(), "WINDOW=%*d X=%d Y=%d WIDTH=%d HEIGHT=%d", &x, &y,
                &width, &height);
    return QRect(x, y, width, height);
}

// Places in the window, in pixels at scale 1: bare skin, the radio page (left 134, top
// 83, right 518, bottom 139), the close button, and the Remove button, at 89, 39 and
// 52 x 6 dialog units, whose base units are 6 x 13 (133.5, 63.4, 78 x 9.75, rounded).
constexpr QPoint kBareSkin {10, 73};
constexpr QRect kRadioPage {134, 83, 384, 56};
constexpr QRect kCloseButton {755, 3, 10, 9};
constexpr QRect kRemoveButton {134, 63, 78, 10};
// The Remove button's pictures: idle, under the mouse, held.
constexpr unsigned kRemovePictures[] = {161, 165, 166};

class RealWindow : public test::ProgramFolder {
protected:
    // Starts the program at `scale` (Qt's QT_SCALE_FACTOR), with `more` variables, and waits for its window.
    // With `errorsToo`, its standard error comes with its output.
    void start(qreal scale = 1, const std::vector<std::string>& more = {}, bool errorsToo = false)
    {
        m_scale = scale;
        m_background = grabScreen(QGuiApplication::primaryScreen()->geometry());
        std::vector<std::string> variables = environment("xcb");
        variables.push_back("QT_SCALE_FACTOR=" + QString::number(scale).toStdString());
        variables.insert(variables.end(), more.begin(), more.end());
        m_program = std::make_unique<test::ChildProcess>(
            errorsToo ? std::vector<std::string> {"/bin/sh", "-c", "exec \"$0\" 2>&1", QVR_EXECUTABLE}
                      : std::vector<std::string> {QVR_EXECUTABLE},
            variables);
        m_pid = std::to_string(m_program->pid());
        m_window = findWindow(m_pid, "^Quavero$");
        ASSERT_NE(m_window, "");
        m_place = windowGeometry(m_window);
    }
    // The middle of a logical pixel of the window, on the screen.
    QPoint at(QPoint inWindow) const
    {
        return m_place.topLeft() + QPoint(int((inWindow.x() + 0.5) * m_scale), int((inWindow.y() + 0.5) * m_scale));
    }
    // One run of xdotool with these commands one after another.
    static void mouse(std::initializer_list<std::vector<std::string>> commands)
    {
        std::vector<std::string> args {"xdotool"};
        for (const auto& command : commands)
            args.insert(args.end(), command.begin(), command.end());
        runXTool(args);
    }
    static std::vector<std::string> moveTo(QPoint onScreen)
    {
        return {"mousemove", std::to_string(onScreen.x()), std::to_string(onScreen.y())};
    }
    int visibleWindows() const
    {
        const std::string list = runXTool({"xdotool", "search", "--onlyvisible", "--pid", m_pid});
        return static_cast<int>(std::count(list.begin(), list.end(), '\n'));
    }
    // Whether the radio page's colour fills the panel's corners; with `wait`, once it does.
    bool pageShown(bool wait = false) const
    {
        const auto shown = [this] {
            return screenPixel(at(kRadioPage.topLeft())) == sim::kRadioPageBackground
                && screenPixel(at(kRadioPage.bottomRight())) == sim::kRadioPageBackground;
        };
        return wait ? QTest::qWaitFor(shown, 30000) : shown();
    }

    void closeWithItsButton()
    {
        mouse({moveTo(at(kCloseButton.center())), {"click", "1"}});
        if (!QTest::qWaitFor([&] { return visibleWindows() == 0; }, 30000)) {
            ADD_FAILURE() << "the window stays";
            m_program->kill(SIGKILL);
        }
        EXPECT_EQ(m_program->wait(), 0);
    }

    std::unique_ptr<test::ChildProcess> m_program;
    QImage m_background;  // the screen before the window came
    qreal m_scale = 1;
    std::string m_pid;
    std::string m_window;
    QRect m_place;
};

TEST_F(RealWindow, OnlyItsSkinOpensTheMenuOrDragsTheWindow)
{
    start();
    ASSERT_TRUE(pageShown(true)) << "the radio page's colour";
    EXPECT_NE(screenPixel(at(kRadioPage.topLeft() - QPoint(1, 1))), sim::kRadioPageBackground) << "and only there";

    // A right click in the page opens nothing; one on the skin opens the menu, and
    // only that one, whose last item opens the About box.
    mouse({moveTo(at(kRadioPage.center())), {"click", "3"}});
    mouse({moveTo(at(kBareSkin)), {"click", "3"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindows() == 2; }, 30000)) << "the menu";
    runXTool({"xdotool", "key", "Up", "Return"});
    const QRect about = windowGeometry(findWindow(m_pid, "^About Quavero Music Manager$"));
    // At 178, 7 and 50 x 16 dialog units: 267, 11.4 and 75 x 26 pixels.
    mouse({moveTo(about.topLeft() + QRect(267, 11, 75, 26).center()), {"click", "1"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindows() == 1; }, 30000)) << "closed with its OK button";

    // Dragged by its skin (here, without a window manager, the window follows the mouse).
    mouse({moveTo(at(kBareSkin)), {"mousedown", "1"}, moveTo(at(kBareSkin + QPoint(20, 20))),
           moveTo(at(kBareSkin + QPoint(100, 80))), {"mouseup", "1"}});
    const QPoint moved = m_place.topLeft() + QPoint(100, 80);
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowGeometry(m_window).topLeft() == moved; }, 30000));
    m_place.moveTopLeft(windowGeometry(m_window).topLeft());
    closeWithItsButton();
}

// No window but the program's own comes up, nor another program (the desktop's opener of mailto:),
// all the page asks is refused at once, it cannot stay when it leaves, and the close button works.
// A radio page that tries every way to open a window or ask the user, alone and on a click.
constexpr const char* kHostilePage = R"(<script>
const ask = asked => asked.then(() => 'given', () => 'refused');
onbeforeunload = () => 'stay';
onload = async () => {
  for (let i = 0; i < 100; ++i) alert(i);
  const answers = ['confirm=' + confirm('?'), 'prompt=' + prompt('?'), 'open=' + open('popup.html'),
    'notify=' + await Notification.requestPermission(), 'media=' + await ask(navigator.mediaDevices.getUserMedia({video: true})),
    'place=' + await ask(new Promise((given, refused) => navigator.geolocation.getCurrentPosition(given, refused)))];
  navigator.sendBeacon(answers.join('&'));
};
addEventListener('click', () => {
  document.querySelectorAll('input, a').forEach(element => element.click());
  ask(document.documentElement.requestFullscreen());
  print();
  location = 'gone.html';
  for (;;) alert('stay');
}, {once: true});
</script><input type=file><input type=color><a href=mailto:a@example.org></a><a download href=data:,tune></a>)";

// A Wayland session that has an X display (XWayland): without QT_QPA_PLATFORM the
// window runs on X, where it stays on top, and Qt is never asked for Wayland, which
// it tries first in such a session (and warns of where its plugin is missing or no
// compositor answers, as here).
TEST_F(RealWindow, UnderAWaylandSessionWithAnXDisplayTheWindowRunsOnX)
{
    start(1, {"QT_QPA_PLATFORM=", "XDG_SESSION_TYPE=wayland", "WAYLAND_DISPLAY=wayland-qvr-test"}, true);
    // On top: without a window manager the window says so itself.
    EXPECT_THAT(runXTool({"xprop", "-id", m_window, "_NET_WM_STATE"}), testing::HasSubstr("_NET_WM_STATE_ABOVE"));
    closeWithItsButton();
    EXPECT_THAT(m_program->readAll(), testing::Not(testing::ContainsRegex("[Ww]ayland")));
}

TEST_F(RealWindow, TheRadioPageReachesNothingOutsideItsView)
{
    test::writeFile(m_dir.file("xdg-open"), "#!/bin/sh\necho \"$@\" > " + m_dir.file("opened") + "\n");
    ::chmod(m_dir.file("xdg-open").c_str(), 0755);
    m_store.setRadioPage(kHostilePage);
    start(1, {"PATH=" + m_dir.path() + ":" + qgetenv("PATH").toStdString(),
              "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --use-fake-device-for-media-stream"});
    ASSERT_TRUE(m_store.waitForRequests("/radio_2/confirm=false&prompt=null&open=null&notify=denied&media=refused&place=refused", 1))
        << "the page is held up or got other answers, with windows: " << visibleWindows();
    mouse({moveTo(at(kRadioPage.bottomRight())), {"click", "1"}});
    ASSERT_TRUE(m_store.waitForRequests("/radio_2/gone.html", 1)) << "the page is held up, with windows: " << visibleWindows();
    EXPECT_EQ(visibleWindows(), 1);
    closeWithItsButton();
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("opened"))) << test::readFile(m_dir.file("opened"));
}

// The key colour, or a blend of it with the dark rim: a teal no other part of the
// window (nor the radio page) has.
bool keyLike(QRgb pixel)
{
    return qGreen(pixel) > qRed(pixel) + 25 && qBlue(pixel) > qRed(pixel) + 25 && std::abs(qGreen(pixel) - qBlue(pixel)) < 12;
}

// Picture `id` of set 1 ("<id>.bmp") or 2 ("<id>@2x.bmp"), with its ratio, as the artwork made it.
QImage setPicture(unsigned id, int set)
{
    QImage picture(QStringLiteral(QVR_IMAGES "/%1%2.bmp").arg(id).arg(set == 2 ? QStringLiteral("@2x") : QString()));
    picture.setDevicePixelRatio(set);
    return picture;
}

// Which of the Remove button's three pictures of either set, over the skin and scaled
// smoothly to the size shown, `shown` is: 3 * (set - 1) + the picture's number of the
// nearest, and only an equal one when `exact`.
int whichPicture(const QImage& shown, bool exact)
{
    std::array<long, 6> distances {};
    for (std::size_t candidate = 0; candidate < distances.size(); ++candidate) {
        const int set = candidate < 3 ? 1 : 2;
        // The button's picture over the skin beneath it, pixel for pixel, black see-through.
        QImage picture = setPicture(IDB_SKIN, set)
                             .copy(QRect(kRemoveButton.topLeft() * set, kRemoveButton.size() * set))
                             .convertToFormat(QImage::Format_RGB32);
        const QImage face = setPicture(kRemovePictures[candidate % 3], set).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < std::min(picture.height(), face.height()); ++y) {
            for (int x = 0; x < std::min(picture.width(), face.width()); ++x) {
                if ((face.pixel(x, y) & RGB_MASK) != 0)
                    picture.setPixel(x, y, face.pixel(x, y));
            }
        }
        picture.setDevicePixelRatio(1);
        picture = picture.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = picture.pixel(x, y);
                distances[candidate] += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        }
    }
    const auto nearest = std::min_element(distances.begin(), distances.end());
    return exact && *nearest != 0 ? -1 : static_cast<int>(nearest - distances.begin());
}

class ScaledWindow : public RealWindow {
protected:
    // The first fault of the window on the screen, once it has painted itself; empty when
    // there is none. Along the edges the skin, or in its corners what lies beneath (at a
    // whole scale, exactly where the key colour is); across it (down the bare skin beside
    // the brand, along the middle) never a gap.
    std::string skinFault() const
    {
        const QRect visible = m_place & m_background.rect();
        const QImage shown = grabScreen(visible);
        // A screen of a device pixel ratio above 1 takes the 2x pictures.
        const int set = m_scale > 1 ? 2 : 1;
        const bool whole = set == m_scale;
        const QImage skin = setPicture(IDB_SKIN, set).convertToFormat(QImage::Format_RGB32);
        if (!visible.contains(m_place.topRight())
            || (shown.pixel(m_place.right() - visible.left(), 0) & RGB_MASK) != (m_background.pixel(m_place.topRight()) & RGB_MASK))
            return "the top right corner is not see-through";
        for (int x = visible.left(); x <= visible.right(); ++x) {
            for (int y = visible.top(); y <= visible.bottom(); ++y) {
                const QPoint in = QPoint(x, y) - m_place.topLeft();
                const std::string where = " at " + std::to_string(in.x()) + ", " + std::to_string(in.y());
                const QRgb pixel = shown.pixel(x - visible.left(), y - visible.top()) & RGB_MASK;
                const QRgb beneath = m_background.pixel(x, y) & RGB_MASK;
                const bool keyed = whole && (skin.pixel(in) & RGB_MASK) == (qRgb(64, 128, 128) & RGB_MASK);
                const bool edge = in.x() == 0 || in.y() == 0 || in.x() == m_place.width() - 1 || in.y() == m_place.height() - 1;
                if (keyLike(pixel))
                    return "the key colour" + where;
                if (whole && (keyed || edge) && pixel != (keyed ? beneath : skin.pixel(in) & RGB_MASK))
                    return (keyed ? "not see-through" : "not the skin") + where;
                if ((in.x() == int(126.5 * m_scale) || in.y() == m_place.height() / 2) && pixel == beneath)
                    return "a gap" + where;
            }
        }
        return {};
    }
};

struct Scale { const char* name; qreal factor; };
class EveryScale : public ScaledWindow, public testing::WithParamInterface<Scale> {};

// The skin of the set for the screen, pixel for pixel where the scale is whole; nowhere
// its key colour, nowhere a gap in the shape; a button's three pictures of that set.
// Where it opens on a screen of any size is the layout's test.
TEST_P(EveryScale, TheWindowShowsItsPicturesSharpWithinItsShape)
{
    start(GetParam().factor);
    EXPECT_EQ(m_place.size(), (QSizeF(773, 146) * m_scale).toSize());
    std::string found;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (found = skinFault()).empty(); }, 10000)) << found;

    // Idle, under the mouse and held: the button's own three pictures. Let go away from
    // it, it is not clicked (which would open a box, and closing with the button would fail).
    const int set = m_scale > 1 ? 2 : 1;
    const QRect area(m_place.topLeft() + QPoint(int(kRemoveButton.x() * m_scale), int(kRemoveButton.y() * m_scale)),
                     (QSizeF(kRemoveButton.size()) * m_scale).toSize());
    const auto expectShows = [&](int state) {
        const int expected = 3 * (set - 1) + state;
        EXPECT_TRUE(QTest::qWaitFor([&] { return whichPicture(grabScreen(area), set == m_scale) == expected; }, 10000))
            << "picture " << expected << ", not " << whichPicture(grabScreen(area), false);
    };
    const std::vector<std::string> away = moveTo(QPoint(m_background.width() / 2, 10));
    mouse({away});
    expectShows(0);
    mouse({moveTo(at(kRemoveButton.center()))});
    expectShows(1);
    mouse({{"mousedown", "1"}});
    expectShows(2);
    mouse({away, {"mouseup", "1"}});
    EXPECT_TRUE(pageShown(true));
    closeWithItsButton();
}

INSTANTIATE_TEST_SUITE_P(RealWindow, EveryScale, testing::Values(
    Scale {.name = "Whole", .factor = 1}, Scale {.name = "OneQuarterMore", .factor = 1.25},
    Scale {.name = "HalfMore", .factor = 1.5}, Scale {.name = "Double", .factor = 2}), test::kByName);

// The web view comes only then, and the window stays as it was (at a scale that is not whole).
TEST_F(ScaledWindow, WhileTheStoreHasNoRadioThePromptHoldsThePagesPlaceUntilAClick)
{
    m_store.setRadioStatus(404);
    start(1.5);
    const QPoint prompt = at(kRadioPage.topLeft() + QPoint(2, 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return screenPixel(prompt) == (qRgb(255, 255, 255) & RGB_MASK); }, 30000)) << "the prompt";
    EXPECT_FALSE(pageShown());
    EXPECT_THAT(test::readFile("/proc/" + m_pid + "/maps"), testing::Not(testing::HasSubstr("libQt6WebEngine")));
    m_store.setRadioStatus(200);
    mouse({moveTo(at(kRadioPage.center())), {"click", "1"}});
    EXPECT_TRUE(pageShown(true));
    EXPECT_EQ(findWindow(m_pid, "^Quavero$"), m_window);
    EXPECT_EQ(skinFault(), "");
    closeWithItsButton();
}

} // namespace
} // namespace qvr
