#include "controls/resources.h"
#include "res/images.h"

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace qvr {
namespace {

bool IsKey(QRgb pixel)
{
    return (pixel & RGB_MASK) == (qRgb(64, 128, 128) & RGB_MASK);
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
        QFile made(QString::fromStdString(out.file(name.toStdString())));
        QFile kept(committed.filePath(name));
        ASSERT_TRUE(made.open(QIODevice::ReadOnly) && kept.open(QIODevice::ReadOnly));
        const QByteArray madeBytes = made.readAll();
        const QByteArray keptBytes = kept.readAll();
        if (name.endsWith(QLatin1String(".bmp")))
            EXPECT_TRUE(madeBytes == keptBytes);
        else  // a PNG's bytes also depend on the compressor's version
            EXPECT_EQ(QImage::fromData(madeBytes), QImage::fromData(keptBytes));
    }
}

TEST(Artwork, PicturesAreResourcesOfTheProgramAtTheirSizes)
{
    const QImage skin = LoadBitmapResource(IDB_SKIN);
    ASSERT_EQ(skin.size(), QSize(773, 146));
    // The key colour exactly outside the rounded outline: the four corners.
    for (const QPoint corner : {QPoint(0, 0), QPoint(772, 0), QPoint(0, 145), QPoint(772, 145), QPoint(4, 4)})
        EXPECT_TRUE(IsKey(skin.pixel(corner))) << corner.x() << "," << corner.y();
    int keyPixels = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            if (!IsKey(skin.pixel(x, y)))
                continue;
            ++keyPixels;
            EXPECT_TRUE((x < 17 || x >= 773 - 17) && (y < 17 || y >= 146 - 17)) << x << "," << y;
        }
    }
    EXPECT_GT(keyPixels, 4 * 50);
    EXPECT_FALSE(IsKey(skin.pixel(17, 0))) << "the edge between the corners is the window's";
    EXPECT_FALSE(IsKey(skin.pixel(0, 17)));

    for (const ButtonImages& button : kButtonImages) {
        SCOPED_TRACE(testing::Message() << "button " << button.controlId);
        const QSize size = button.controlId == IDC_HOME_PAGE ? QSize(78, 11)
            : button.controlId == IDC_CLOSE || button.controlId == IDC_MINIMIZE ? QSize(10, 9)
                                                                               : QSize(78, 10);
        std::vector<QImage> pictures;
        for (const unsigned id : button.bitmaps)
            pictures.push_back(LoadBitmapResource(id).convertToFormat(QImage::Format_RGB32));
        for (const QImage& picture : pictures)
            EXPECT_EQ(picture.size(), size);
        EXPECT_NE(pictures[0], pictures[1]) << "hover differs from idle";
        EXPECT_NE(pictures[0], pictures[2]) << "pressed differs from idle";
        EXPECT_NE(pictures[1], pictures[2]);
        EXPECT_EQ(LoadImageListResource({button.bitmaps[0], button.bitmaps[1], button.bitmaps[2]}).count(), 3);
    }
    EXPECT_EQ(LoadBitmapResource(IDB_PROGRESS).size(), QSize(2, 10));
    const QIcon icon = LoadIconResource(IDI_QUAVERO);
    EXPECT_EQ(icon.availableSizes(), (QList<QSize> {{16, 16}, {32, 32}, {48, 48}, {256, 256}}));
    EXPECT_TRUE(LoadBitmapResource(179).isNull()) << "no such bitmap";
}

} // namespace
} // namespace qvr
