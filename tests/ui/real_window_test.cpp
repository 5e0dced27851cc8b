// The program's own window on a real X display, driven from outside as a user
// drives it: xdotool for the mouse and keys, the screen's pixels for what shows.
// Each test has a virtual display of its own, without a window manager.
#include "controls/colorref.h"
#include "controls/resources.h"
#include "res/images.h"
#include "res/strings.h"
#include "ui/about_dialog.h"
#include "ui/layout.h"

#include "tests/support/program_fixture.h"
#include "tests/support/process.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <sstream>

namespace qvr {
namespace {

using ::testing::HasSubstr;

// Runs an X tool (given up on after 60 s) and returns its output.
std::string X(std::vector<std::string> args)
{
    args.insert(args.begin(), {"/usr/bin/timeout", "60"});
    std::string output;
    test::runProcess(args, {}, &output);
    return output;
}

QImage Screen(const QRect& area)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

QRgb ScreenPixel(QPoint at)
{
    return Screen(QRect(at, QSize(1, 1))).pixel(0, 0) & RGB_MASK;
}

constexpr QRgb kPage = sim::kRadioPageBackground;
constexpr QPoint kBareSkin {10, 73};

class RealWindow : public test::ProgramFolder {
protected:
    // Starts `program` and waits for its window: its X id, and where it lies.
    void start(const std::string& program)
    {
        m_program = std::make_unique<test::ChildProcess>(std::vector<std::string> {program}, environment("xcb"));
        m_pid = std::to_string(m_program->pid());
        std::istringstream found(X({"xdotool", "search", "--all", "--sync", "--onlyvisible", "--pid", m_pid, "--name", "^Quavero$"}));
        std::getline(found, m_window);
        ASSERT_NE(m_window, "");
        m_place = geometry(m_window);
    }
    QRect geometry(const std::string& window) const
    {
        std::map<std::string, int> values;
        std::istringstream lines(X({"xdotool", "getwindowgeometry", "--shell", window}));
        for (std::string line; std::getline(lines, line);) {
            const auto equals = line.find('=');
            if (equals != std::string::npos)
                values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
        }
        return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
    }
    // A point of the window, on the screen.
    QPoint at(QPoint inWindow) const { return m_place.topLeft() + inWindow; }
    // One run of xdotool with these commands one after another.
    void mouse(std::initializer_list<std::vector<std::string>> commands)
    {
        std::vector<std::string> args {"xdotool"};
        for (const auto& command : commands)
            args.insert(args.end(), command.begin(), command.end());
        X(args);
    }
    std::vector<std::string> moveTo(QPoint inWindow) const
    {
        const QPoint point = at(inWindow);
        return {"mousemove", std::to_string(point.x()), std::to_string(point.y())};
    }
    int visibleWindows() const
    {
        const std::string list = X({"xdotool", "search", "--onlyvisible", "--pid", m_pid});
        return static_cast<int>(std::count(list.begin(), list.end(), '\n'));
    }
    bool pageShown() const
    {
        const QRect page = kBrowserRect.translated(m_place.topLeft());
        for (const QPoint corner : {page.topLeft(), page.topRight(), page.bottomLeft(), page.bottomRight()}) {
            if (ScreenPixel(corner) != kPage)
                return false;
        }
        return true;
    }

    // Opens the About box from the menu on the skin and compares its version line
    // with that of a box showing `version`, drawn here on the same display.
    void expectAboutBoxShowsVersion(const std::string& version)
    {
        mouse({moveTo(kBareSkin), {"click", "3"}});
        ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindows() == 2; }, 30000)) << "the menu";
        X({"xdotool", "key", "Up", "Return"});  // the last item: About
        std::istringstream found(
            X({"xdotool", "search", "--all", "--sync", "--onlyvisible", "--pid", m_pid, "--name", "^About Quavero Music Manager$"}));
        std::string about;
        std::getline(found, about);
        ASSERT_NE(about, "");
        const QRect line = drawnVersionLine("").second;  // the same place in every box
        const QImage shown = Screen(line.translated(geometry(about).topLeft()));
        EXPECT_EQ(shown, drawnVersionLine(version).first);
        EXPECT_NE(shown, drawnVersionLine(version.empty() ? "2.1.0.0" : "").first) << "the line tells them apart";
        const QPoint ok = geometry(about).topLeft() + DialogUnitsToPixels(178, 7, 50, 16).center();
        X({"xdotool", "mousemove", std::to_string(ok.x()), std::to_string(ok.y()), "click", "1"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindows() == 1; }, 30000)) << "closed with its OK button";
    }
    // The version line of a box showing `version`, as the screen shows it, and its place in the box.
    static std::pair<QImage, QRect> drawnVersionLine(const std::string& version)
    {
        CAboutDialog box([version] { return version; });
        box.OnInitDialog();
        box.move(0, 0);
        box.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&box));
        const QRect line = box.control(IDC_ABOUT_VERSION)->geometry();
        QImage image = Screen(line.translated(box.geometry().topLeft()));
        box.hide();
        return {image, line};
    }
    void closeWithItsButton()
    {
        mouse({moveTo(kCloseButtonRect.center()), {"click", "1"}});
        if (!QTest::qWaitFor([&] { return visibleWindows() == 0; }, 60000)) {
            ADD_FAILURE() << "the window stays";
            m_program->kill(SIGKILL);
        }
        EXPECT_EQ(m_program->wait(), 0);
    }

    std::unique_ptr<test::ChildProcess> m_program;
    std::string m_pid;
    std::string m_window;
    QRect m_place;
};

TEST_F(RealWindow, IsTheShapedSkinOnTopWithTheRadioPageAndMovesByItsSkin)
{
    const QImage background = Screen(QGuiApplication::primaryScreen()->geometry());
    start(QVR_EXECUTABLE);
    EXPECT_EQ(m_place.size(), QSize(773, 146));
    // Without a window manager the window says so itself.
    EXPECT_THAT(X({"xprop", "-id", m_window, "_NET_WM_STATE"}), HasSubstr("_NET_WM_STATE_ABOVE"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return pageShown(); }, 30000)) << "the radio page's colour";
    EXPECT_NE(ScreenPixel(at(kBrowserRect.topLeft() - QPoint(1, 1))), kPage) << "and only there";

    // The skin's key colour fills its rounded corners, 17 pixels each way: there what
    // lies beneath shows; along the edges, everything else is the skin.
    const QImage skin = LoadBitmapResource(IDB_SKIN).convertToFormat(QImage::Format_RGB32);
    const QImage shown = Screen(m_place);
    const QRgb key = ColorFromColorRef(kSkinColorKey).rgb() & RGB_MASK;
    int keyedOut = 0;
    for (int x = 0; x < skin.width(); ++x) {
        for (int y = 0; y < skin.height(); ++y) {
            const bool corner = (x < 17 || x >= skin.width() - 17) && (y < 17 || y >= skin.height() - 17);
            const bool edge = x == 0 || y == 0 || x == skin.width() - 1 || y == skin.height() - 1;
            const bool keyed = (skin.pixel(x, y) & RGB_MASK) == key;
            ASSERT_TRUE(!keyed || corner) << x << ", " << y;
            if (keyed || edge) {
                const QRgb expected = keyed ? background.pixel(at({x, y})) : skin.pixel(x, y);
                ASSERT_EQ(shown.pixel(x, y) & RGB_MASK, expected & RGB_MASK) << x << ", " << y;
            }
            keyedOut += keyed;
        }
    }
    EXPECT_GT(keyedOut, 4 * 17);

    // A right click in the page opens nothing; one on the skin opens the menu, and
    // only that one.
    mouse({moveTo(kBrowserRect.center()), {"click", "3"}});
    expectAboutBoxShowsVersion("2.1.0.0");

    // Dragged by its skin (here, without a window manager, the window follows the mouse).
    mouse({moveTo(kBareSkin), {"mousedown", "1"}, moveTo(kBareSkin + QPoint(20, 20)),
           moveTo(kBareSkin + QPoint(100, 80)), {"mouseup", "1"}});
    const QPoint moved = m_place.topLeft() + QPoint(100, 80);
    EXPECT_TRUE(QTest::qWaitFor([&] { return geometry(m_window).topLeft() == moved; }, 30000));
    m_place.moveTopLeft(geometry(m_window).topLeft());
    closeWithItsButton();
}

TEST_F(RealWindow, WithoutAVersionNoteAndWithoutTheRadioAtFirst)
{
    const std::string program = m_dir.file("quavero");
    ASSERT_EQ(test::runProcess({"/usr/bin/objcopy", "--remove-section", ".note.quavero.version", QVR_EXECUTABLE, program}), 0);
    m_store.setRadioStatus(404);
    start(program);
    // The prompt in the page's place; a click on it looks again.
    EXPECT_EQ(ScreenPixel(at(kBrowserRect.topLeft() + QPoint(2, 2))), qRgb(255, 255, 255) & RGB_MASK);
    EXPECT_FALSE(pageShown());
    expectAboutBoxShowsVersion("");
    m_store.setRadioStatus(200);
    mouse({moveTo(kBrowserRect.center()), {"click", "1"}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return pageShown(); }, 30000));
    closeWithItsButton();
}

} // namespace
} // namespace qvr
