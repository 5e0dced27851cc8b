// Makes the program's pictures: qvr-artwork FOLDER [--preview FILE.png]
// The files in res/images are this program's output; run it again after changing
// it and commit what it writes (a test compares the two).
#include "tools/artwork/artwork.h"
#include "tools/artwork/preview.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    // The same rendering wherever it runs: no display, no desktop font settings.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc != 2 && !(argc == 4 && QByteArray(argv[2]) == "--preview")) {
        std::fprintf(stderr, "usage: %s FOLDER [--preview FILE.png]\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    QString error;
    const std::vector<qvr::artwork::File> files = qvr::artwork::renderArtwork(&error);
    if (files.empty()) {
        std::fprintf(stderr, "qvr-artwork: %s\n", qPrintable(error));
        return 1;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "qvr-artwork: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const qvr::artwork::File& file : files) {
        QSaveFile out(folder.filePath(file.name));
        if (!out.open(QIODevice::WriteOnly) || out.write(file.bytes) != file.bytes.size() || !out.commit()) {
            std::fprintf(stderr, "qvr-artwork: cannot write %s\n", qPrintable(out.fileName()));
            return 1;
        }
    }
    if (argc == 4 && !qvr::artwork::renderPreview(files).save(QString::fromLocal8Bit(argv[3]))) {
        std::fprintf(stderr, "qvr-artwork: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
