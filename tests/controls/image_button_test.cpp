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
protected:
    ImageButtonTest()
    {
        // Three 8 x 6 pictures in one colour each.
        CImageList pictures(QSize(8, 6));
        for (const QColor& color : kPictures) {
            QImage picture(QSize(8, 6), QImage::Format_RGB32);
            picture.fill(color);
            pictures.AddMasked(picture, Qt::black);
        }
        m_parent.setGeometry(100, 100, 60, 40);
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

    // What the window last painted there once the events so far have run, not painted anew as grab() would.
    QImage shownPicture()
    {
        QApplication::processEvents();
        const QRect area = m_button->geometry();
        return m_parent.screen()->grabWindow(m_parent.winId(), area.x(), area.y(), area.width(), area.height()).toImage();
    }

    const std::unique_ptr<QStyle> m_style {QStyleFactory::create(QStringLiteral("Windows"))};
    QWidget m_parent;
    CImageButton* m_button = new CImageButton(&m_parent);
    QSignalSpy m_clicks {m_button, &QAbstractButton::clicked};
};

TEST_F(ImageButtonTest, TheScreenShowsThePictureOfEachMouseStateLatchAndDeactivation)
{
    QWidget elsewhere;
    elsewhere.setGeometry(300, 300, 20, 20);
    const auto press = [&](int x) { QTest::mousePress(m_button, Qt::LeftButton, {}, QPoint(x, 3)); };
    const auto release = [&](int x) { QTest::mouseRelease(m_button, Qt::LeftButton, {}, QPoint(x, 3)); };
    const auto move = [&](int x) { QTest::mouseMove(m_button, QPoint(x, 3)); };
    const auto latch = [&](bool latchable, bool latched) { m_button->setLatchable(latchable); m_button->setLatched(latched); };
    const std::tuple<const char*, std::function<void()>, int> steps[] = {
        {"at first", [] {}, 0},
        {"the mouse enters", [&] { move(3); }, 1},
        {"pressed", [&] { press(3); }, 2},
        {"a move while held", [&] { move(4); }, 1},
        {"released: idle until the next move", [&] { release(4); }, 0},
        {"moved", [&] { move(5); }, 1},
        {"pressed and dragged off", [&] { press(5); move(30); }, 0},
        {"released outside", [&] { release(30); }, 0},
        {"back", [&] { move(3); }, 1},
        {"left (for instance for a popup)", [&] { QEvent leave(QEvent::Leave); QApplication::sendEvent(m_button, &leave); }, 0},
        {"latched but not latchable", [&] { latch(false, true); }, 0},
        {"latchable but not latched", [&] { latch(true, false); }, 0},
        {"latched while idle", [&] { latch(true, true); }, 1},
        {"pressed while latched", [&] { move(4); press(4); }, 2},
        {"released: the latched look", [&] { release(4); }, 1},
        {"back unlatched", [&] { latch(true, false); move(5); }, 1},
        {"another window becomes active", [&] { elsewhere.show(); EXPECT_TRUE(QTest::qWaitForWindowActive(&elsewhere)); }, 0},
    };
    for (const auto& [what, act, picture] : steps) {
        SCOPED_TRACE(what);
        act();
        EXPECT_EQ(shownPicture().pixelColor(2, 2), kPictures[picture]);
    }
    EXPECT_EQ(m_clicks.count(), 2) << "no click for a release outside";
}

// Where the pictures are drawn, and their see-through pixels, the real window test compares on the screen.
TEST_F(ImageButtonTest, PressedBySpaceReturnOrEnterWhenFocusedWithAVisibleFocusMark)
{
    const QImage unfocused = shownPicture();
    m_button->setFocusPolicy(Qt::TabFocus);
    m_button->setFocus(Qt::TabFocusReason);
    EXPECT_NE(shownPicture(), unfocused);
    for (const auto& [key, modifiers] : {std::pair(Qt::Key_Space, Qt::KeyboardModifiers()), {Qt::Key_Return, {}},
                                         {Qt::Key_Enter, Qt::KeypadModifier}, {Qt::Key_Return, Qt::ControlModifier}})
        QTest::keyClick(m_button, key, modifiers);
    EXPECT_EQ(m_clicks.count(), 3) << "Space, Return and Enter; not Ctrl+Return";
}

} // namespace
} // namespace qvr
