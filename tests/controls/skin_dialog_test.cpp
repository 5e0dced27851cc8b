#include "controls/dialog_sk.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

const QColor kKey(64, 128, 128);

// A skin whose every pixel tells where it came from: red = x, green = y.
QColor SkinAt(int x, int y) { return QColor(10 + x, 10 + y, 200); }
QImage CoordinateSkin(int width, int height)
{
    QImage skin(width, height, QImage::Format_RGB32);
    for (int i = 0; i < width * height; ++i)
        skin.setPixelColor(i % width, i / width, SkinAt(i % width, i / width));
    return skin;
}

// Pretends the platform can shape windows, as X11 does.
class ShapingDialog : public CDialogSK {
protected:
    bool CanShapeWindow() const override { return true; }
};

TEST(SkinDialog, PaintsTheSkinInEachLayout)
{
    CDialogSK dialog;
    const QColor none = dialog.palette().color(QPalette::Window);
    ASSERT_TRUE(dialog.SetSkinBitmap(CoordinateSkin(4, 3)));
    const std::tuple<int, QSize, QPoint, QColor> cases[] = {
        {SKIN_TOPLEFT, QSize(10, 7), QPoint(3, 2), SkinAt(3, 2)}, {SKIN_TOPLEFT, QSize(10, 7), QPoint(4, 2), none},
        {SKIN_TILE, QSize(10, 7), QPoint(9, 6), SkinAt(1, 0)},    {SKIN_CENTER, QSize(10, 7), QPoint(3, 2), SkinAt(0, 0)},
        {SKIN_CENTER, QSize(10, 7), QPoint(2, 2), none},          {SKIN_CENTER, QSize(2, 1), QPoint(0, 0), SkinAt(1, 1)},
        {SKIN_STRETCH, QSize(8, 6), QPoint(7, 5), SkinAt(3, 2)},  {SKIN_STRETCH, QSize(8, 6), QPoint(2, 2), SkinAt(1, 1)},
        {5, QSize(8, 6), QPoint(0, 0), none},
    };
    for (const auto& [layout, size, at, expected] : cases) {
        SCOPED_TRACE(testing::Message() << "layout " << layout << " at " << at.x() << "," << at.y());
        dialog.SetSkinLayout(layout);
        dialog.resize(size);
        EXPECT_EQ(dialog.grab().toImage().pixelColor(at), expected);
    }
    dialog.SetSkinLayout(SKIN_TOPLEFT);
    EXPECT_TRUE(dialog.SetSkinBitmap(QImage())) << "null removes the skin";
    EXPECT_EQ(dialog.grab().toImage().pixelColor(0, 0), none);
}

// The shaped window on the screen, at each scale, is the real window test's; here
// only what it cannot show.
TEST(SkinDialog, ColorKeyLeavesOutExactlyTheKeyPixelsWhereWindowsCanBeShaped)
{
    QImage skin = CoordinateSkin(8, 6);
    for (const QPoint key : {QPoint(0, 0), QPoint(1, 0), QPoint(7, 5)})
        skin.setPixelColor(key, kKey);
    skin.setPixelColor(3, 2, QColor(64, 128, 129));  // a neighbour of the key stays
    CDialogSK plain;  // offscreen cannot shape windows
    plain.SetSkinBitmap(skin);
    EXPECT_FALSE(plain.SetColorKey(MakeColorRef(64, 128, 128), true));
    EXPECT_TRUE(plain.mask().isEmpty());

    ShapingDialog dialog;
    dialog.SetSkinBitmap(skin);
    dialog.SetSkinLayout(SKIN_FITWINDOW);
    ASSERT_TRUE(dialog.SetColorKey(0x808040, true));
    EXPECT_EQ(dialog.mask(), QRegion(0, 0, 8, 6) - QRegion(0, 0, 2, 1) - QRegion(7, 5, 1, 1));
    EXPECT_TRUE(dialog.SetColorKey(0x808040, false));
    EXPECT_TRUE(dialog.mask().isEmpty());
}

} // namespace
} // namespace qvr
