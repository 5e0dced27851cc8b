#include "tools/artwork/artwork.h"
#include "tools/artwork/drawing.h"

#include "controls/resources.h"
#include "res/images.h"
#include "ui/layout.h"

#include <QBuffer>

namespace qvr::artwork {

namespace {

QRect templatePlace(const DialogTemplate& main, int id)
{
    for (const DialogControl& control : main.controls) {
        if (control.id == id)
            return dialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
    }
    return {};
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QString pictureFileName(const QString& resourcePath)
{
    return resourcePath.section(QLatin1Char('/'), -1);
}

} // namespace

Places mainWindowPlaces()
{
    Places places;
    const DialogTemplate* main = findDialogTemplate(IDD_MAIN_WINDOW);
    if (!main)
        return places;
    places.queueList = templatePlace(*main, IDC_QUEUE_LIST);
    places.fileList = templatePlace(*main, IDC_FILE_LIST);
    places.folderText = templatePlace(*main, IDC_FOLDER_TEXT);
    places.statusText = templatePlace(*main, IDC_STATUS_TEXT);
    places.statusText.moveTopLeft(kStatusTextOrigin);
    places.percentText = templatePlace(*main, IDC_PERCENT_TEXT);
    places.progressTrack = kProgressBarOrigin;
    places.progressTrack.setWidth(progressBarWidth(100));
    places.radio = kBrowserRect.united(templatePlace(*main, IDC_RADIO_LABEL));
    for (const ButtonImages& button : kButtonImages)
        places.buttons[button.controlId] = templatePlace(*main, button.controlId);
    places.buttons[IDC_MINIMIZE] = kMinimizeButtonRect;
    places.buttons[IDC_CLOSE] = kCloseButtonRect;
    return places;
}

std::vector<File> renderArtwork(QString* error)
{
    if (!haveFace()) {
        if (error)
            *error = QStringLiteral("Liberation Sans is not installed (Debian: fonts-liberation)");
        return {};
    }
    // Bitmaps as 24-bit BMP: the bytes depend on the pixels alone. The icon is PNG,
    // which icon themes need, with its alpha channel, and SVG for any other size.
    std::vector<File> files;
    const Places places = mainWindowPlaces();
    for (const int scale : kPictureScales) {
        const QImage skin = renderSkin(places, scale);
        files.push_back({pictureFileName(bitmapResourcePath(IDB_SKIN, scale)), encode(skin, "BMP")});
        for (const ButtonImages& button : kButtonImages) {
            const std::vector<QImage> pictures =
                renderButton(button.controlId, places.buttons.at(button.controlId), skin);
            for (std::size_t i = 0; i < pictures.size(); ++i)
                files.push_back({pictureFileName(bitmapResourcePath(button.bitmaps[i], scale)), encode(pictures[i], "BMP")});
        }
        // Ten rows of a gradient, and at scale 2 a row between each two.
        const QImage bar = renderProgressBar();
        files.push_back({pictureFileName(bitmapResourcePath(IDB_PROGRESS, scale)),
                         encode(bar.scaled(bar.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "BMP")});
    }
    for (const int size : kThemeIconSizes)
        files.push_back({pictureFileName(iconResourcePath(IDI_QUAVERO, size)), encode(renderIcon(size), "PNG")});
    files.push_back({QString::number(IDI_QUAVERO) + QStringLiteral(".svg"), renderIconSvg()});
    return files;
}

} // namespace qvr::artwork
