#include "controls/dialog_sk.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

// Pretends the platform can shape windows, as X11 does.
class ShapingDialog : public CDialogSK {
protected:
    bool CanShapeWindow() const override { return true; }
};

// The skin painted and the shaped window on the screen, at each scale, are the real window
// test's; here only what it cannot show.
TEST(SkinDialog, ColorKeyLeavesOutExactlyTheKeyPixelsWhereWindowsCanBeShaped)
{
    QImage skin(8, 6, QImage::Format_RGB32);
    skin.fill(QColor(10, 20, 200));
    for (const QPoint key : {QPoint(0, 0), QPoint(1, 0), QPoint(7, 5)})
        skin.setPixelColor(key, QColor(64, 128, 128));
    skin.setPixelColor(3, 2, QColor(64, 128, 129)); // a neighbour of the key stays
    CDialogSK plain; // offscreen cannot shape windows
    plain.SetSkinBitmap(skin);
    EXPECT_FALSE(plain.SetColorKey(makeColorRef(64, 128, 128), true));
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
