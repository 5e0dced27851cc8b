#include "controls/resources.h"
#include "res/images.h"

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace qvr {
namespace {

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

TEST(Artwork, PicturesAreResourcesOfTheProgram)
{
    // Where the skin's key colour lies, the real window test shows on screen.
    for (const ButtonImages& button : kButtonImages) {
        SCOPED_TRACE(testing::Message() << "button " << button.controlId);
        std::vector<QImage> pictures;
        for (const unsigned id : button.bitmaps)
            pictures.push_back(LoadBitmapResource(id).convertToFormat(QImage::Format_RGB32));
        EXPECT_FALSE(pictures[0].isNull());
        EXPECT_EQ(pictures[1].size(), pictures[0].size());
        EXPECT_EQ(pictures[2].size(), pictures[0].size());
        EXPECT_NE(pictures[0], pictures[1]) << "hover differs from idle";
        EXPECT_NE(pictures[0], pictures[2]) << "pressed differs from idle";
        EXPECT_NE(pictures[1], pictures[2]);
    }
    EXPECT_FALSE(LoadIconResource(IDI_QUAVERO).isNull());
    EXPECT_TRUE(LoadBitmapResource(179).isNull()) << "no such bitmap";
}

} // namespace
} // namespace qvr
