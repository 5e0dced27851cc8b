#include "controls/colorref.h"
#include "controls/resources.h"
#include "res/images.h"

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace qvr {
namespace {

// The first pixel where `made` is not what `kept` holds, as the window would use it:
// a key colour (where the window or a button is see-through) and full transparency
// must be exactly where they were; every other pixel may differ by a level or two,
// as antialiased edges do from one build of the rasteriser to another. Empty: alike.
std::string FirstDifference(const QImage& made, const QImage& kept, std::optional<QRgb> key)
{
    if (made.size() != kept.size())
        return "size differs";
    const QImage a = made.convertToFormat(QImage::Format_ARGB32);
    const QImage b = kept.convertToFormat(QImage::Format_ARGB32);
    constexpr int kTolerance = 2;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const bool exact = (key && ((p & RGB_MASK) == *key || (q & RGB_MASK) == *key))
                || qAlpha(p) == 0 || qAlpha(q) == 0;
            const bool near = std::abs(qRed(p) - qRed(q)) <= kTolerance && std::abs(qGreen(p) - qGreen(q)) <= kTolerance
                && std::abs(qBlue(p) - qBlue(q)) <= kTolerance && std::abs(qAlpha(p) - qAlpha(q)) <= kTolerance;
            if (exact ? p != q : !near)
                return QString::asprintf("pixel %d,%d is %08x, not %08x", x, y, p, q).toStdString();
        }
    }
    return {};
}

// The colour that stands for "see-through" in picture `name` (at any scale), if it
// has one.
std::optional<QRgb> KeyColourOf(QString name)
{
    name.remove(QStringLiteral("@2x"));
    if (name == QString::number(IDB_SKIN) + ".bmp")
        return ColorFromColorRef(kSkinColorKey).rgb() & RGB_MASK;
    for (const ButtonImages& button : kButtonImages) {
        for (const unsigned id : button.bitmaps) {
            if (name == QString::number(id) + ".bmp")
                return qRgb(0, 0, 0) & RGB_MASK;  // the image lists' mask colour
        }
    }
    return std::nullopt;
}

TEST(Artwork, CommittedPicturesAreWhatTheGeneratorDraws)
{
    test::TempDir out;
    std::string output;
    ASSERT_EQ(test::runProcess({QVR_ARTWORK_TOOL, out.path()}, {}, &output), 0) << output;
    const QDir committed(QStringLiteral(QVR_SOURCE_DIR "/res/images"));
    const QStringList names = committed.entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(QDir(QString::fromStdString(out.path())).entryList(QDir::Files, QDir::Name), names);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString() + ": run qvr-artwork res/images and commit the result");
        if (name.endsWith(QStringLiteral(".svg"))) {
            EXPECT_EQ(test::readFile(out.file(name.toStdString())), test::readFile(committed.filePath(name).toStdString()));
            continue;
        }
        const QImage made(QString::fromStdString(out.file(name.toStdString())));
        const QImage kept(committed.filePath(name));
        ASSERT_FALSE(made.isNull() || kept.isNull());
        EXPECT_EQ(FirstDifference(made, kept, KeyColourOf(name)), "");
    }
}

TEST(Artwork, PicturesAreResourcesOfTheProgramAtEachScale)
{
    // Where the skin's key colour lies, the real window test shows on screen.
    for (const int scale : kPictureScales) {
        for (const ButtonImages& button : kButtonImages) {
            SCOPED_TRACE(testing::Message() << "button " << button.controlId << " at scale " << scale);
            std::vector<QImage> pictures;
            for (const unsigned id : button.bitmaps)
                pictures.push_back(LoadBitmapResource(id, scale).convertToFormat(QImage::Format_RGB32));
            EXPECT_EQ(pictures[0].size(), LoadBitmapResource(button.bitmaps[0]).size() * scale);
            EXPECT_EQ(pictures[0].devicePixelRatio(), scale);
            EXPECT_EQ(pictures[1].size(), pictures[0].size());
            EXPECT_EQ(pictures[2].size(), pictures[0].size());
            EXPECT_NE(pictures[0], pictures[1]) << "hover differs from idle";
            EXPECT_NE(pictures[0], pictures[2]) << "pressed differs from idle";
            EXPECT_NE(pictures[1], pictures[2]);
        }
        EXPECT_EQ(LoadBitmapResource(IDB_SKIN, scale).size(), QSize(773, 146) * scale);
    }
    EXPECT_EQ(LoadBitmapResource(IDB_SKIN, 1.5).devicePixelRatio(), 2) << "the larger set between whole ratios";
    EXPECT_FALSE(LoadIconResource(IDI_QUAVERO).isNull());
    EXPECT_TRUE(LoadBitmapResource(179).isNull()) << "no such bitmap";
}

} // namespace
} // namespace qvr
