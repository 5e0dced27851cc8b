#include "controls/image_button.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace qvr {
namespace {

const QColor kParent(20, 40, 60);
const QColor kPictures[3] = {QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200)};

// Three 8 x 6 pictures in one colour each, with a black pixel at (7, 0).
CImageList ThreePictures()
{
    CImageList list(QSize(8, 6));
    for (const QColor& color : kPictures) {
        QImage picture(8, 6, QImage::Format_RGB32);
        picture.fill(color);
        picture.setPixelColor(7, 0, Qt::black);
        list.AddMasked(picture, Qt::black);
    }
    return list;
}

class ImageButtonTest : public testing::Test {
protected:
    ImageButtonTest()
    {
        m_parent.setAutoFillBackground(true);
        QPalette palette = m_parent.palette();
        palette.setColor(QPalette::Window, kParent);
        m_parent.setPalette(palette);
        m_parent.resize(60, 40);
        m_button = new CImageButton(&m_parent);
        m_button->setGeometry(10, 10, 12, 8);  // larger than its pictures
        m_button->SetImages(ThreePictures());
        // As in the window, only a test that means to gives it the keyboard focus.
        m_button->setFocusPolicy(Qt::NoFocus);
        // Away from wherever an earlier test left the mouse: a window shown under it
        // would have the button hovered from the start.
        m_parent.move(100, 100);
        QCursor::setPos(0, 0);
        m_parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
    }

    // The colour at a point of the button as the window shows it.
    QColor Shown(QPoint at = QPoint(2, 2))
    {
        return m_parent.grab(m_button->geometry()).toImage().pixelColor(at);
    }
    QColor Picture(int index) const { return kPictures[index]; }

    QWidget m_parent;
    CImageButton* m_button;
};

TEST_F(ImageButtonTest, PicturesFollowTheMouse)
{
    QSignalSpy clicks(m_button, &QAbstractButton::clicked);
    EXPECT_EQ(Shown(), Picture(0));
    QTest::mouseMove(m_button, QPoint(3, 3));
    EXPECT_EQ(Shown(), Picture(1));
    QTest::mousePress(m_button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Shown(), Picture(2));
    QTest::mouseMove(m_button, QPoint(4, 3));
    EXPECT_EQ(Shown(), Picture(1)) << "a move after the press shows hover";
    QTest::mouseRelease(m_button, Qt::LeftButton, {}, QPoint(4, 3));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(Shown(), Picture(0)) << "idle after the click until the next move";
    QTest::mouseMove(m_button, QPoint(5, 3));
    EXPECT_EQ(Shown(), Picture(1));

    QTest::mousePress(m_button, Qt::LeftButton, {}, QPoint(5, 3));
    QTest::mouseMove(m_button, QPoint(30, 3));
    EXPECT_EQ(m_button->mouseState(), CImageButton::BTN_IDLE) << "dragged off while held";
    QTest::mouseRelease(m_button, Qt::LeftButton, {}, QPoint(30, 3));
    EXPECT_EQ(clicks.count(), 1) << "no click for a release outside";

    QTest::mouseMove(m_button, QPoint(3, 3));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(m_button, &leave);
    EXPECT_EQ(Shown(), Picture(0)) << "leaving (for instance to a popup) resets";
}

TEST_F(ImageButtonTest, LatchedLookWhenIdleOnly)
{
    m_button->m_bLatched = true;
    m_button->update();
    EXPECT_EQ(Shown(), Picture(0)) << "latched but not latchable";
    m_button->m_bLatchable = true;
    m_button->update();
    EXPECT_EQ(Shown(), Picture(1));
    QTest::mouseMove(m_button, QPoint(3, 3));
    QTest::mousePress(m_button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Shown(), Picture(2));
    QTest::mouseRelease(m_button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Shown(), Picture(1)) << "after a click the latched look";
}

TEST_F(ImageButtonTest, DrawnUnscaledAtTheTopLeftAlikeWhenDisabled)
{
    QTest::mouseMove(m_button, QPoint(3, 3));
    const QImage enabled = m_parent.grab(m_button->geometry()).toImage();
    EXPECT_EQ(enabled.pixelColor(0, 0), Picture(1));
    EXPECT_EQ(enabled.pixelColor(7, 0), kParent) << "black shows what lies beneath";
    EXPECT_EQ(enabled.pixelColor(7, 5), Picture(1));
    EXPECT_EQ(enabled.pixelColor(8, 5), kParent) << "beyond the picture nothing is painted";
    EXPECT_EQ(enabled.pixelColor(3, 6), kParent);

    m_button->setEnabled(false);
    EXPECT_EQ(m_parent.grab(m_button->geometry()).toImage(), enabled);
}

TEST_F(ImageButtonTest, TheKeyboardPressesTheFocusedButtonWhichShowsAMark)
{
    QSignalSpy clicks(m_button, &QAbstractButton::clicked);
    const QImage unfocused = m_parent.grab(m_button->geometry()).toImage();
    m_parent.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_parent));
    m_button->setFocusPolicy(Qt::TabFocus);
    m_button->setFocus(Qt::TabFocusReason);
    EXPECT_NE(m_parent.grab(m_button->geometry()).toImage(), unfocused) << "a visible focus mark";
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Space, {}}, {Qt::Key_Return, {}}, {Qt::Key_Enter, Qt::KeypadModifier}, {Qt::Key_Return, Qt::ControlModifier}};
    for (const auto& [key, modifiers] : keys)
        QTest::keyClick(m_button, key, modifiers);
    EXPECT_EQ(clicks.count(), 3) << "Space, Return and Enter; not Ctrl+Return";
}

// The mouse states the button shows are checked on screen above; here what it never
// shows.
TEST(ImageList, CopiesAreIndependentAndMissingPicturesDrawNothing)
{
    for (const int state : {3, -1})
        EXPECT_EQ(CImageButton::ImageIndex(state, true, true), -1) << state;
    CImageList original = ThreePictures();
    CImageButton button;
    button.SetImages(original);
    original = CImageList(QSize(1, 1));
    EXPECT_EQ(button.images().count(), 3);
    EXPECT_EQ(button.sizeHint(), QSize(8, 6));

    QImage canvas(8, 6, QImage::Format_RGB32);
    canvas.fill(kParent);
    QPainter painter(&canvas);
    button.images().Draw(painter, 3, QPoint(0, 0));
    button.images().Draw(painter, -1, QPoint(0, 0));
    painter.end();
    EXPECT_EQ(canvas.pixelColor(3, 3), kParent);
    EXPECT_FALSE(CImageList(QSize(8, 6)).AddMasked(QImage(), Qt::black));

    // A picture at twice the ratio fills the same logical size, pixel for pixel on a
    // surface of its ratio.
    QImage sharp(16, 12, QImage::Format_RGB32);
    sharp.fill(kPictures[0]);
    sharp.setPixelColor(15, 0, Qt::black);
    sharp.setDevicePixelRatio(2);
    CImageList list(QSize(8, 6));
    ASSERT_TRUE(list.AddMasked(sharp, Qt::black));
    QImage surface(18, 14, QImage::Format_RGB32);
    surface.setDevicePixelRatio(2);
    surface.fill(kParent);
    QPainter sharpPainter(&surface);
    list.Draw(sharpPainter, 0, QPoint(0, 0));
    sharpPainter.end();
    EXPECT_EQ(surface.pixelColor(15, 11), kPictures[0]) << "all of it, not a quarter";
    EXPECT_EQ(surface.pixelColor(15, 0), kParent);
    EXPECT_EQ(surface.pixelColor(16, 11), kParent);
}

} // namespace
} // namespace qvr
