#include "controls/image_button.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <gtest/gtest.h>

void PrintTo(const QColor& color, std::ostream* out) { *out << color.name().toStdString(); }

namespace qvr {
namespace {

const QColor kPictures[3] = {QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200)};

class ImageButtonTest : public testing::Test {
public:
    ImageButtonTest()
    {
        // Three 8 x 6 pictures in one colour each.
        CImageList pictures(QSize(8, 6));
        for (const QColor& color : kPictures) {
            QImage picture(QSize(8, 6), QImage::Format_RGB32);
            picture.fill(color);
            pictures.addMasked(picture, Qt::black);
        }
        m_parent.setGeometry(100, 100, 60, 40);
        m_elsewhere.setGeometry(300, 300, 20, 20);
        m_button->setGeometry(10, 10, 12, 8); // larger than its pictures
        m_button->SetImages(pictures);
        m_button->setFocusPolicy(Qt::NoFocus); // as in the window, until a test gives it focus
        // Under a style that asks for no hover events (Fusion asks, and repaints a hovered
        // button) the button still repaints its own pictures.
        m_button->setStyle(m_style.get());
        QCursor::setPos(0, 0); // a window shown under the mouse would have the button hovered from the start
        m_parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_parent));
    }

    // What the user does, at `x` across the button, and halfway down.
    void press(int x) { QTest::mousePress(m_button, Qt::LeftButton, {}, QPoint(x, 3)); }
    void release(int x) { QTest::mouseRelease(m_button, Qt::LeftButton, {}, QPoint(x, 3)); }
    void move(int x) { QTest::mouseMove(m_button, QPoint(x, 3)); }
    void leave() { QEvent left(QEvent::Leave); QApplication::sendEvent(m_button, &left); }  // as when a popup opens
    void latch(bool latchable, bool latched) { m_button->setLatchable(latchable); m_button->setLatched(latched); }
    void activateAnotherWindow() { m_elsewhere.show(); EXPECT_TRUE(QTest::qWaitForWindowActive(&m_elsewhere)); }

protected:
    // What the window last painted there once the events so far have run, not painted anew as grab() would.
    QImage shownPicture()
    {
        QApplication::processEvents();
        const QRect area = m_button->geometry();
        return m_parent.screen()->grabWindow(m_parent.winId(), area.x(), area.y(), area.width(), area.height()).toImage();
    }

    const std::unique_ptr<QStyle> m_style {QStyleFactory::create(QStringLiteral("Windows"))};
    QWidget m_parent, m_elsewhere;
    CImageButton* m_button = new CImageButton(&m_parent);
    QSignalSpy m_clicks {m_button, &QAbstractButton::clicked};
};

// What the user did since the button showed, and which of its pictures is then on the
// screen: 0 idle, 1 under the mouse or latched, 2 held.
struct ButtonState { const char* name; void (*done)(ImageButtonTest&); int picture; };
class ButtonPicture : public ImageButtonTest, public testing::WithParamInterface<ButtonState> {};

TEST_P(ButtonPicture, OnTheScreenFollowsWhatTheUserDid)
{
    GetParam().done(*this);
    EXPECT_EQ(shownPicture().pixelColor(2, 2), kPictures[GetParam().picture]);
}

using Button = ImageButtonTest;
INSTANTIATE_TEST_SUITE_P(ImageButton, ButtonPicture, testing::Values(
    ButtonState {.name = "AtFirst", .done = [](Button&) {}, .picture = 0},
    ButtonState {.name = "UnderTheMouse", .done = [](Button& b) { b.move(3); }, .picture = 1},
    ButtonState {.name = "Held", .done = [](Button& b) { b.move(3); b.press(3); }, .picture = 2},
    ButtonState {.name = "MovedWhileHeld", .done = [](Button& b) { b.move(3); b.press(3); b.move(4); }, .picture = 1},
    ButtonState {.name = "ReleasedIdleUntilTheNextMove", .done = [](Button& b) { b.move(3); b.press(3); b.release(3); }, .picture = 0},
    ButtonState {.name = "ReleasedOutside", .done = [](Button& b) { b.move(5); b.press(5); b.move(30); b.release(30); }, .picture = 0},
    ButtonState {.name = "LeftForAPopup", .done = [](Button& b) { b.move(3); b.leave(); }, .picture = 0},
    ButtonState {.name = "LatchedButNotLatchable", .done = [](Button& b) { b.latch(false, true); }, .picture = 0},
    ButtonState {.name = "Latched", .done = [](Button& b) { b.latch(true, true); }, .picture = 1},
    ButtonState {.name = "HeldWhileLatched", .done = [](Button& b) { b.latch(true, true); b.move(4); b.press(4); }, .picture = 2},
    ButtonState {.name = "InAWindowNoLongerActive", .done = [](Button& b) { b.move(3); b.activateAnotherWindow(); }, .picture = 0}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(ImageButtonTest, ClicksOnlyOnAReleaseInside)
{
    move(3);
    press(3);
    release(4);
    press(5);
    move(30);
    release(30);
    EXPECT_EQ(m_clicks.count(), 1);
}

// Where the pictures are drawn, and their see-through pixels, the real window test compares on the screen.
TEST_F(ImageButtonTest, AFocusedButtonShowsAFocusMark)
{
    const QImage unfocused = shownPicture();
    m_button->setFocusPolicy(Qt::TabFocus);
    m_button->setFocus(Qt::TabFocusReason);
    EXPECT_NE(shownPicture(), unfocused);
}

TEST_F(ImageButtonTest, AFocusedButtonIsPressedBySpaceReturnOrEnter)
{
    m_button->setFocusPolicy(Qt::TabFocus);
    m_button->setFocus(Qt::TabFocusReason);
    QTest::keyClick(m_button, Qt::Key_Space);
    QTest::keyClick(m_button, Qt::Key_Return);
    QTest::keyClick(m_button, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(m_button, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(m_clicks.count(), 3) << "Space, Return and Enter; not Ctrl+Return";
}

} // namespace
} // namespace qvr
