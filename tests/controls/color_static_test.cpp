#include "controls/color_static.h"

#include "tests/support/common.h"

#include <QGuiApplication>

namespace qvr {
namespace {

// The fonts and colours the window gives its texts are checked in its look test.
TEST(ColorStatic, TextOnItsBackgroundFillingTheControlAndMarkupShownAsItIs)
{
    const QPalette system = QGuiApplication::palette();
    const std::tuple<COLORREF, COLORREF, QColor, QColor> cases[] = {
        {0x0066FF, 0xCFE2FE, QColor(255, 102, 0), QColor(254, 226, 207)},
        {kSystemColor, kSystemColor, system.color(QPalette::ButtonText), system.color(QPalette::Button)},
    };
    for (const auto& [textColor, backColor, expectedText, expectedBack] : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << textColor << " on " << backColor);
        CColorStaticST text;
        text.setFont(QFont(QStringLiteral("Liberation Sans"), 14, QFont::Bold));
        text.resize(120, 40);
        text.SetForeColor(textColor);
        text.SetBackColor(backColor);
        text.setEnabled(false); // alike
        for (const char* shown : {"IIII", "<b></b>"}) {
            text.setText(QString::fromUtf8(shown));
            const QImage image = text.grab().toImage().convertToFormat(QImage::Format_RGB32);
            std::map<QRgb, int> colors; // how often each colour occurs
            for (int i = 0; i < image.width() * image.height(); ++i)
                ++colors[image.pixel(i % image.width(), i / image.width()) | 0xFF000000];
            EXPECT_TRUE(colors.contains(expectedText.rgb())) << shown << ": the strokes in the text colour";
            EXPECT_GT(colors[expectedBack.rgb()], 120 * 40 / 2) << "the background fills the control";
            EXPECT_EQ(image.pixelColor(119, 39), expectedBack);
        }
    }
}

} // namespace
} // namespace qvr
