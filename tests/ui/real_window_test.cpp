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
#include <QPainter>
#include <QScreen>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <array>
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
    // Starts `program` at `scale` (Qt's QT_SCALE_FACTOR) and waits for its window:
    // its X id, and where it lies.
    void start(const std::string& program, qreal scale = 1)
    {
        m_scale = scale;
        std::vector<std::string> variables = environment("xcb");
        variables.push_back("QT_SCALE_FACTOR=" + QString::number(scale).toStdString());
        m_program = std::make_unique<test::ChildProcess>(std::vector<std::string> {program}, variables);
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
    // The middle of a logical pixel of the window, on the screen.
    QPoint at(QPoint inWindow) const
    {
        return m_place.topLeft() + QPoint(int((inWindow.x() + 0.5) * m_scale), int((inWindow.y() + 0.5) * m_scale));
    }
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
    qreal m_scale = 1;
    std::string m_pid;
    std::string m_window;
    QRect m_place;
};

TEST_F(RealWindow, IsOnTopWithTheRadioPageAndMovesByItsSkin)
{
    start(QVR_EXECUTABLE);
    // Without a window manager the window says so itself.
    EXPECT_THAT(X({"xprop", "-id", m_window, "_NET_WM_STATE"}), HasSubstr("_NET_WM_STATE_ABOVE"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return pageShown(); }, 30000)) << "the radio page's colour";
    EXPECT_NE(ScreenPixel(at(kBrowserRect.topLeft() - QPoint(1, 1))), kPage) << "and only there";

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

// The key colour, or a blend of it with the dark rim: a teal no other part of the
// window (nor the radio page) has.
bool KeyLike(QRgb pixel)
{
    return qGreen(pixel) > qRed(pixel) + 25 && qBlue(pixel) > qRed(pixel) + 25 && std::abs(qGreen(pixel) - qBlue(pixel)) < 12;
}

// A button's three pictures as the window shows them at `scale`, from the set for
// that scale over the skin beneath, scaled to the screen where the scale is not the set's.
std::array<QImage, 3> ButtonOnScreen(const ButtonImages& button, const QRect& place, qreal scale)
{
    const int ratio = PictureScale(scale);
    const CImageList list = LoadImageListResource(button.bitmaps, ratio);
    std::array<QImage, 3> pictures;
    for (int state = 0; state < 3; ++state) {
        QImage picture = LoadBitmapResource(IDB_SKIN, ratio).copy(QRect(place.topLeft() * ratio, place.size() * ratio));
        picture.setDevicePixelRatio(ratio);
        QPainter painter(&picture);
        list.Draw(painter, state, QPoint(0, 0));
        painter.end();
        picture.setDevicePixelRatio(1);
        pictures[state] = picture.scaled((QSizeF(place.size()) * scale).toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return pictures;
}

// Which of `pictures` `shown` is: the nearest, and only an equal one when `exact`.
int WhichPicture(const QImage& shown, const std::array<QImage, 3>& pictures, bool exact)
{
    std::array<long, 3> distances {};
    for (std::size_t state = 0; state < 3; ++state) {
        if (pictures[state].size() != shown.size())
            return -1;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = pictures[state].pixel(x, y);
                distances[state] += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        }
    }
    const auto nearest = std::min_element(distances.begin(), distances.end());
    return exact && *nearest != 0 ? -1 : static_cast<int>(nearest - distances.begin());
}

// At 1, 1.5 and 2 times the size: the skin of the set for the screen, pixel for pixel
// where the scale is whole; nowhere its key colour, nowhere a gap in the shape; a
// button's three pictures; and the caption buttons on the screen.
TEST_F(RealWindow, AtEveryScaleTheSkinIsSharpShapedAndItsButtonsShowTheirStates)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QImage background = Screen(screen);
    const QRgb key = ColorFromColorRef(kSkinColorKey).rgb() & RGB_MASK;
    const ButtonImages& remove = kButtonImages[1];
    ASSERT_EQ(remove.controlId, IDC_REMOVE);
    QRect removePlace;
    for (const DialogControl& control : FindDialogTemplate(IDD_MAIN_WINDOW)->controls) {
        if (control.id == IDC_REMOVE)
            removePlace = DialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
    }
    for (const qreal scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale);
        start(QVR_EXECUTABLE, scale);
        EXPECT_EQ(m_place.size(), (QSizeF(773, 146) * scale).toSize());
        // Wider than the screen (1546 pixels on 1280), the window keeps its right end there.
        EXPECT_TRUE(m_place.width() > screen.width() ? m_place.right() == screen.right() : screen.contains(m_place))
            << m_place.x() << ", " << m_place.y();

        // Along the edges the skin, or in its corners what lies beneath (at a whole
        // scale, exactly where the key colour is); across it (down the bare skin
        // beside the brand, along the middle) never a gap.
        const bool whole = PictureScale(scale) == scale;
        const QImage skin = LoadBitmapResource(IDB_SKIN, scale).convertToFormat(QImage::Format_RGB32);
        const QRect visible = m_place & screen;
        // The first fault, once the window has painted itself; empty when there is none.
        const auto fault = [&]() -> std::string {
            const QImage shown = Screen(visible);
            const auto where = [](QPoint at) { return std::to_string(at.x()) + ", " + std::to_string(at.y()); };
            if (!visible.contains(m_place.topRight())
                || (shown.pixel(m_place.right() - visible.left(), 0) & RGB_MASK) != (background.pixel(m_place.topRight()) & RGB_MASK))
                return "the top right corner is not see-through";
            for (int x = visible.left(); x <= visible.right(); ++x) {
                for (int y = visible.top(); y <= visible.bottom(); ++y) {
                    const QPoint inWindow = QPoint(x, y) - m_place.topLeft();
                    const QRgb pixel = shown.pixel(x - visible.left(), y - visible.top()) & RGB_MASK;
                    const QRgb beneath = background.pixel(x, y) & RGB_MASK;
                    const bool keyed = whole && (skin.pixel(inWindow) & RGB_MASK) == key;
                    const bool edge = inWindow.x() == 0 || inWindow.y() == 0 || inWindow.x() == m_place.width() - 1
                        || inWindow.y() == m_place.height() - 1;
                    if (KeyLike(pixel))
                        return "the key colour at " + where(inWindow);
                    if (whole && (keyed || edge) && pixel != (keyed ? beneath : skin.pixel(inWindow) & RGB_MASK))
                        return (keyed ? "not see-through at " : "not the skin at ") + where(inWindow);
                    if ((inWindow.x() == int(126.5 * scale) || inWindow.y() == m_place.height() / 2) && pixel == beneath)
                        return "a gap at " + where(inWindow);
                }
            }
            return {};
        };
        std::string found;
        EXPECT_TRUE(QTest::qWaitFor([&] { return (found = fault()).empty(); }, 10000)) << found;

        // Idle, under the mouse and held: the button's own three pictures. Let go
        // away from it, it is not clicked.
        const std::array<QImage, 3> pictures = ButtonOnScreen(remove, removePlace, scale);
        const QRect area(m_place.topLeft() + QPoint(int(removePlace.x() * scale), int(removePlace.y() * scale)),
                         pictures[0].size());
        const auto expectShows = [&](int state) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return WhichPicture(Screen(area), pictures, whole) == state; }, 10000))
                << "picture " << state << ", not " << WhichPicture(Screen(area), pictures, false);
        };
        const std::vector<std::string> away {"mousemove", std::to_string(screen.center().x()), "10"};
        mouse({away});
        expectShows(0);
        mouse({moveTo(removePlace.center())});
        expectShows(1);
        mouse({{"mousedown", "1"}});
        expectShows(2);
        mouse({away, {"mouseup", "1"}});
        // Which would have opened a box, and closing with the button would fail.
        closeWithItsButton();
    }
}

TEST_F(RealWindow, WithoutAVersionNoteAndWithoutTheRadioAtFirst)
{
    const std::string program = m_dir.file("quavero");
    ASSERT_EQ(test::runProcess({"/usr/bin/objcopy", "--remove-section", ".note.quavero.version", QVR_EXECUTABLE, program}), 0);
    m_store.setRadioStatus(404);
    start(program);
    // The prompt in the page's place (once the window has painted); a click on it looks again.
    const QPoint prompt = at(kBrowserRect.topLeft() + QPoint(2, 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ScreenPixel(prompt) == (qRgb(255, 255, 255) & RGB_MASK); }, 30000));
    EXPECT_FALSE(pageShown());
    expectAboutBoxShowsVersion("");
    m_store.setRadioStatus(200);
    mouse({moveTo(kBrowserRect.center()), {"click", "1"}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return pageShown(); }, 30000));
    closeWithItsButton();
}

} // namespace
} // namespace qvr
