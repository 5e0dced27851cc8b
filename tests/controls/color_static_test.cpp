#include "controls/color_static.h"
#include "controls/fonts.h"

#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace qvr {
namespace {

// The colours of a grabbed control, with how often each occurs.
std::map<QRgb, int> Colors(QWidget& widget)
{
    std::map<QRgb, int> colors;
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ++colors[image.pixel(x, y) | 0xFF000000];
    }
    return colors;
}

TEST(ColorStatic, TextOnItsBackgroundFillingTheControl)
{
    const QPalette system = QGuiApplication::palette();
    struct Case {
        COLORREF text;
        COLORREF back;
        QColor expectedText;
        QColor expectedBack;
    };
    const Case cases[] = {
        {0x0066FF, 0xFFFFFF, QColor(255, 102, 0), QColor(255, 255, 255)},
        {0x000000, 0xCFE2FE, QColor(0, 0, 0), QColor(254, 226, 207)},
        {kSystemColor, kSystemColor, system.color(QPalette::ButtonText), system.color(QPalette::Button)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.text << " on " << c.back);
        CColorStaticST text;
        text.setFont(MakePointFont(QStringLiteral("Arial Bold"), 140));
        text.setText(QStringLiteral("IIII"));
        text.resize(120, 40);
        text.SetForeColor(c.text);
        text.SetBackColor(c.back);
        EXPECT_EQ(text.foreColor(), c.expectedText);
        EXPECT_EQ(text.backColor(), c.expectedBack);
        const std::map<QRgb, int> colors = Colors(text);
        EXPECT_GT(colors.count(c.expectedText.rgb()), 0u) << "the strokes in the text colour";
        ASSERT_GT(colors.count(c.expectedBack.rgb()), 0u);
        EXPECT_GT(colors.at(c.expectedBack.rgb()), 120 * 40 / 2) << "the background fills the control";
        EXPECT_EQ(text.grab().toImage().pixelColor(119, 39), c.expectedBack);
        text.setText(QStringLiteral("<b></b>"));
        EXPECT_GT(Colors(text).count(c.expectedText.rgb()), 0u) << "markup (in a track's title) shows as it is";
    }

    CColorStaticST fresh;
    EXPECT_EQ(fresh.foreColor(), system.color(QPalette::ButtonText));
    EXPECT_EQ(fresh.backColor(), system.color(QPalette::Button));
}

// How "Arial" and "Arial Bold" come out, the window's look test shows.
TEST(Fonts, PointSizesAt96DpiAndFaceNames)
{
    for (const auto& [points, pixels] : {std::pair(80, 11), {90, 12}, {110, 15}, {140, 19}})
        EXPECT_EQ(PointFontPixelSize(points), pixels) << points;
    EXPECT_EQ(MakePointFont(QStringLiteral("MS Shell Dlg"), 80).family(), QStringLiteral("Arial"));
    EXPECT_FALSE(MakePointFont(QStringLiteral("Bold"), 80).bold()) << "only a suffix after a space";
}

} // namespace
} // namespace qvr
