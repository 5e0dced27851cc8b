#include "controls/dialog_sk.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

// Pretends the platform shapes windows (X11) or only makes them translucent (Wayland).
template <KeyColourWay way>
class DialogOn : public CDialogSK {
protected:
    KeyColourWay keyColourWay() const override { return way; }
};

// Blue, with the key colour at three pixels and a near neighbour of it at (3, 2).
QImage keyedSkin()
{
    QImage skin(8, 6, QImage::Format_RGB32);
    skin.fill(QColor(10, 20, 200));
    for (const QPoint key : {QPoint(0, 0), QPoint(1, 0), QPoint(7, 5)})
        skin.setPixelColor(key, QColor(64, 128, 128));
    skin.setPixelColor(3, 2, QColor(64, 128, 129));
    return skin;
}

// The skin painted and the shaped window on the screen, at each scale, are the real window
// test's; here only what it cannot show.
TEST(SkinDialog, ColorKeyLeavesOutExactlyTheKeyPixelsWhereWindowsCanBeShaped)
{
    DialogOn<KeyColourWay::Shape> dialog;
    dialog.SetSkinBitmap(keyedSkin());
    dialog.SetSkinLayout(SKIN_FITWINDOW);
    ASSERT_TRUE(dialog.SetColorKey(0x808040, true));
    EXPECT_EQ(dialog.mask(), QRegion(0, 0, 8, 6) - QRegion(0, 0, 2, 1) - QRegion(7, 5, 1, 1));
    EXPECT_TRUE(dialog.SetColorKey(0x808040, false));
    EXPECT_TRUE(dialog.mask().isEmpty());
}

TEST(SkinDialog, WithoutAShapeTheKeyPixelsAreClearOnATranslucentWindow)
{
    DialogOn<KeyColourWay::Translucency> dialog;
    dialog.SetSkinBitmap(keyedSkin());
    dialog.SetSkinLayout(SKIN_FITWINDOW);
    ASSERT_TRUE(dialog.SetColorKey(0x808040, true));
    QImage shown(dialog.size(), QImage::Format_ARGB32);
    shown.fill(Qt::transparent);
    dialog.render(&shown);
    for (const QPoint key : {QPoint(0, 0), QPoint(1, 0), QPoint(7, 5)})
        EXPECT_EQ(qAlpha(shown.pixel(key)), 0) << key.x() << "," << key.y();
    EXPECT_EQ(shown.pixel(3, 2), qRgb(64, 128, 129));
}

TEST(SkinDialog, X11ShapesTheWindowNativeWaylandMakesItTranslucentOthersDoNeither)
{
    EXPECT_EQ(keyColourWayFor(u"xcb"), KeyColourWay::Shape);
    EXPECT_EQ(keyColourWayFor(u"wayland"), KeyColourWay::Translucency);
    EXPECT_EQ(keyColourWayFor(u"offscreen"), KeyColourWay::None);
}

} // namespace
} // namespace qvr
