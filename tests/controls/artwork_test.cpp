#include "tests/support/process.h"

#include <QDir>
#include <QImage>

#include <cstdlib>

namespace qvr {
namespace {

// That every button has three pictures told apart at each scale, and that the skin and the
// pictures of the set for the screen show, the real window test checks at three scales.

// The first pixel where `made` and `kept` differ by more than two levels (as antialiased edges do
// from one build of the rasteriser to another), or in full transparency; empty when none.
std::string firstDifference(const QImage& made, const QImage& kept)
{
    const QImage a = made.convertToFormat(QImage::Format_ARGB32), b = kept.convertToFormat(QImage::Format_ARGB32);
    if (a.size() != b.size())
        return "size differs";
    for (int i = 0; i < a.width() * a.height(); ++i) {
        const QRgb p = a.pixel(i % a.width(), i / a.width()), q = b.pixel(i % a.width(), i / a.width());
        const auto near = [&](int shift) { return std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)) <= 2; };
        if ((qAlpha(p) == 0) != (qAlpha(q) == 0) || !near(0) || !near(8) || !near(16) || !near(24))
            return QString::asprintf("pixel %d,%d is %08x, not %08x", i % a.width(), i / a.width(), p, q).toStdString();
    }
    return {};
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
        const std::string made = out.file(name.toStdString()), kept = committed.filePath(name).toStdString();
        if (name.endsWith(QStringLiteral(".svg")))
            EXPECT_EQ(test::readFile(made), test::readFile(kept));
        else
            EXPECT_EQ(firstDifference(QImage(QString::fromStdString(made)), QImage(QString::fromStdString(kept))), "");
    }
}

} // namespace
} // namespace qvr
