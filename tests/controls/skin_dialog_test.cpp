#include "controls/dialog_sk.h"

#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace qvr {
namespace {

const QColor kKey(64, 128, 128);

// A skin whose every pixel tells where it came from: red = x, green = y.
QImage CoordinateSkin(int width, int height)
{
    QImage skin(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            skin.setPixel(x, y, qRgb(10 + x, 10 + y, 200));
    }
    return skin;
}

QColor SkinAt(int x, int y)
{
    return QColor(10 + x, 10 + y, 200);
}

// Pretends the platform can shape windows, as X11 does.
class ShapingDialog : public CDialogSK {
protected:
    bool CanShapeWindow() const override { return true; }
};

TEST(SkinGeometry, HitTestIsInsideTheClientRectangleWithoutItsRightAndBottomLines)
{
    const QRect client(100, 50, 20, 10);  // x 100..119, y 50..59
    for (const QPoint inside : {QPoint(100, 50), QPoint(119, 59)})
        EXPECT_TRUE(IsDragHit(true, client, inside));
    // The right and bottom edge lines are outside.
    for (const QPoint outside : {QPoint(120, 55), QPoint(110, 60), QPoint(99, 55), QPoint(110, 49)})
        EXPECT_FALSE(IsDragHit(true, client, outside)) << outside.x() << "," << outside.y();
    EXPECT_FALSE(IsDragHit(false, client, QPoint(110, 55))) << "dragging off";
    EXPECT_FALSE(IsDragHit(true, QRect(0, 0, 0, 0), QPoint(0, 0)));
}

// Where each layout puts its copies the painting test shows; here only the cases
// that paint nothing.
TEST(SkinGeometry, NoCopiesForAnEmptyClientOrAnUnknownLayout)
{
    const QSize skin(10, 10);
    for (const QSize empty : {QSize(0, 15), QSize(25, 0), QSize(-5, 15), QSize(25, -1)}) {
        SCOPED_TRACE(testing::Message() << empty.width() << " x " << empty.height());
        for (const int layout : {SKIN_TOPLEFT, SKIN_TILE, SKIN_CENTER, SKIN_STRETCH, SKIN_FITWINDOW})
            EXPECT_TRUE(SkinBlits(layout, empty, skin).empty());
    }
    for (const int layout : {5, -1})
        EXPECT_TRUE(SkinBlits(layout, QSize(25, 15), skin).empty());
}

TEST(SkinDialog, PaintsTheSkinInEachLayout)
{
    CDialogSK dialog;
    dialog.resize(10, 7);
    const QColor background = dialog.palette().color(QPalette::Window);
    ASSERT_TRUE(dialog.SetSkinBitmap(CoordinateSkin(4, 3)));
    const auto pixel = [&dialog](int x, int y) { return dialog.grab().toImage().pixelColor(x, y); };

    struct Case {
        int layout;
        QSize size;
        QPoint at;
        QColor expected;
    };
    const QColor none = background;
    const Case cases[] = {
        {SKIN_TOPLEFT, QSize(10, 7), QPoint(3, 2), SkinAt(3, 2)},
        {SKIN_TOPLEFT, QSize(10, 7), QPoint(4, 2), none},
        {SKIN_TILE, QSize(10, 7), QPoint(9, 6), SkinAt(1, 0)},
        {SKIN_CENTER, QSize(10, 7), QPoint(3, 2), SkinAt(0, 0)},
        {SKIN_CENTER, QSize(10, 7), QPoint(2, 2), none},
        {SKIN_CENTER, QSize(2, 1), QPoint(0, 0), SkinAt(1, 1)},
        {SKIN_STRETCH, QSize(8, 6), QPoint(7, 5), SkinAt(3, 2)},
        {SKIN_STRETCH, QSize(8, 6), QPoint(2, 2), SkinAt(1, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "layout " << c.layout << " at " << c.at.x() << "," << c.at.y());
        dialog.SetSkinLayout(c.layout);
        dialog.resize(c.size);
        EXPECT_EQ(pixel(c.at.x(), c.at.y()), c.expected);
    }

    dialog.SetSkinLayout(SKIN_TOPLEFT);
    EXPECT_TRUE(dialog.SetSkinBitmap(QImage())) << "null removes the skin";
    EXPECT_FALSE(dialog.hasSkin());
    EXPECT_EQ(pixel(0, 0), background);
}

TEST(SkinDialog, FitWindowSizesTheWindowOnlyWithASkinPresent)
{
    CDialogSK dialog;
    dialog.setFixedSize(50, 40);
    dialog.SetSkinLayout(SKIN_FITWINDOW);
    EXPECT_EQ(dialog.size(), QSize(50, 40)) << "no skin yet";
    dialog.SetSkinBitmap(CoordinateSkin(30, 20));
    EXPECT_EQ(dialog.size(), QSize(50, 40)) << "a skin adopted later does not resize";
    dialog.SetSkinLayout(SKIN_FITWINDOW);
    EXPECT_EQ(dialog.size(), QSize(30, 20));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a fixed window stays fixed";

    CDialogSK resizable;
    resizable.resize(50, 40);
    resizable.SetSkinBitmap(CoordinateSkin(60, 45));
    resizable.SetSkinLayout(SKIN_FITWINDOW);
    EXPECT_EQ(resizable.size(), QSize(60, 45));
}

TEST(SkinDialog, ColorKeyLeavesOutTheKeyPixelsWhereWindowsCanBeShaped)
{
    QImage skin = CoordinateSkin(8, 6);
    skin.setPixelColor(0, 0, kKey);
    skin.setPixelColor(7, 5, kKey);
    skin.setPixelColor(3, 2, QColor(64, 128, 129));

    CDialogSK plain;  // offscreen cannot shape windows
    plain.SetSkinBitmap(skin);
    plain.resize(8, 6);
    EXPECT_FALSE(plain.SetColorKey(MakeColorRef(64, 128, 128), true));
    EXPECT_TRUE(plain.mask().isEmpty());

    ShapingDialog dialog;
    dialog.SetSkinBitmap(skin);
    dialog.SetSkinLayout(SKIN_FITWINDOW);
    ASSERT_TRUE(dialog.SetColorKey(0x808040, true));
    // A neighbour of the key colour at (3, 2) stays.
    EXPECT_EQ(dialog.mask(), QRegion(0, 0, 8, 6) - QRegion(0, 0, 1, 1) - QRegion(7, 5, 1, 1));

    dialog.SetSkinBitmap(CoordinateSkin(8, 6));
    EXPECT_EQ(dialog.mask(), QRegion(0, 0, 8, 6)) << "the shape follows a new skin";
    EXPECT_TRUE(dialog.SetColorKey(0x808040, false));
    EXPECT_TRUE(dialog.mask().isEmpty());
    EXPECT_TRUE(ShapingDialog().SetColorKey(0x808040, false)) << "never shaped";
}

TEST(SkinDialog, ASkinAtTwiceTheRatioCoversItsLogicalSizeAndItsKeyNeverShows)
{
    QImage skin = CoordinateSkin(8, 6);
    for (const QPoint key : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1), QPoint(6, 4)})
        skin.setPixelColor(key, kKey);
    const QImage pixels = skin;
    skin.setDevicePixelRatio(2);
    ShapingDialog dialog;
    dialog.SetSkinBitmap(skin);
    dialog.SetSkinLayout(SKIN_FITWINDOW);
    ASSERT_TRUE(dialog.SetColorKey(0x808040, true));
    EXPECT_EQ(dialog.size(), QSize(4, 3));
    // Whole logical pixels: one pixel of four in the key colour leaves that one out.
    EXPECT_EQ(dialog.mask(), QRegion(0, 0, 4, 3) - QRegion(0, 0, 1, 1) - QRegion(3, 2, 1, 1));
    // Painted as the shape shows it: at its own ratio the skin lands pixel for pixel
    // where the shape has it; scaled, none of the key colour blends into the edge
    // (the skin's own colours have little green).
    QImage expected = pixels.copy();
    {
        QPainter painter(&expected);
        painter.fillRect(QRect(0, 0, 2, 2), Qt::black);
        painter.fillRect(QRect(6, 4, 2, 2), Qt::black);
    }
    for (const qreal ratio : {2.0, 1.5, 1.0}) {
        SCOPED_TRACE(ratio);
        QImage shown(QSize(4, 3) * ratio, QImage::Format_RGB32);
        shown.setDevicePixelRatio(ratio);
        shown.fill(Qt::black);
        dialog.render(&shown);
        shown.setDevicePixelRatio(1);
        if (ratio == 2) {
            EXPECT_EQ(shown, expected) << "pixel for pixel";
        }
        for (int y = 0; y < shown.height() && ratio != 2; ++y) {
            for (int x = 0; x < shown.width(); ++x)
                ASSERT_LE(qGreen(shown.pixel(x, y)), qRed(shown.pixel(x, y)) + 20) << x << ", " << y;
        }
    }
}

TEST(SkinDialog, DragOnTheSurfaceMovesTheWindowByHandWithoutAWindowManager)
{
    CDialogSK dialog;
    dialog.setFixedSize(200, 100);
    auto* button = new QPushButton(&dialog);
    button->setGeometry(150, 60, 40, 30);
    dialog.move(300, 200);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    // One move: positions are given within the widget, which moves with the window.
    const auto drag = [&dialog](QWidget* where, QPoint from, QPoint by) {
        QTest::mousePress(where, Qt::LeftButton, {}, from);
        QTest::mouseMove(where, from + by);
        QTest::mouseRelease(where, Qt::LeftButton, {}, from);
        return dialog.pos();
    };
    const QPoint start = dialog.pos();
    EXPECT_EQ(drag(&dialog, QPoint(20, 20), QPoint(30, 16)), start) << "dragging off";

    dialog.SetDragAnywhere(true);
    EXPECT_EQ(drag(&dialog, QPoint(20, 20), QPoint(1, 1)), start) << "within the drag distance";
    EXPECT_EQ(drag(&dialog, QPoint(20, 20), QPoint(30, 16)), start + QPoint(30, 16));
    QTest::mouseMove(&dialog, QPoint(90, 90));
    EXPECT_EQ(dialog.pos(), start + QPoint(30, 16)) << "the release ends the drag";
    EXPECT_EQ(drag(button, QPoint(5, 5), QPoint(20, 20)), start + QPoint(30, 16)) << "a child's own press";
}

} // namespace
} // namespace qvr
