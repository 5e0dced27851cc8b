#include "controls/color_static.h"

#include "tests/support/common.h"

#include <QGuiApplication>

namespace qvr {
namespace {

const QColor kOrange(255, 102, 0), kPeach(254, 226, 207);  // RGB(0xFF, 0x66, 0x00) and RGB(0xFE, 0xE2, 0xCF)

// A disabled text (which changes nothing) of 120 x 40 showing `shown` in a large bold font.
std::unique_ptr<CColorStaticST> textControl(COLORREF textColor, COLORREF backColor, const char* shown)
{
    auto text = std::make_unique<CColorStaticST>();
    text->setFont(QFont(QStringLiteral("Liberation Sans"), 14, QFont::Bold));
    text->resize(120, 40);
    text->SetForeColor(textColor);
    text->SetBackColor(backColor);
    text->setEnabled(false);
    text->setText(QString::fromUtf8(shown));
    return text;
}

std::map<QRgb, int> colours(CColorStaticST& text)
{
    const QImage image = text.grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int> counted;
    for (int i = 0; i < image.width() * image.height(); ++i)
        ++counted[image.pixel(i % image.width(), i / image.width()) | 0xFF000000];
    return counted;
}

// The fonts and colours the window gives its texts are checked in its look test. Markup
// shows as it is: here, the strokes of "<b></b>".
TEST(ColorStatic, PaintsItsTextAsItIsInItsColourOnABackgroundFillingTheControl)
{
    const auto text = textControl(0x0066FF, 0xCFE2FE, "<b></b>");
    auto painted = colours(*text);
    EXPECT_TRUE(painted.contains(kOrange.rgb())) << "the strokes";
    EXPECT_GT(painted[kPeach.rgb()], 120 * 40 / 2);
    EXPECT_EQ(text->grab().toImage().pixelColor(119, 39), kPeach);
}

TEST(ColorStatic, WithoutColoursOfItsOwnTakesTheSystems)
{
    const QPalette system = QGuiApplication::palette();
    const auto text = textControl(kSystemColor, kSystemColor, "IIII");
    auto painted = colours(*text);
    EXPECT_TRUE(painted.contains(system.color(QPalette::ButtonText).rgb())) << "the strokes";
    EXPECT_GT(painted[system.color(QPalette::Button).rgb()], 120 * 40 / 2);
}

} // namespace
} // namespace qvr
