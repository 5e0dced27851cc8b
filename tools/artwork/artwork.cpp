#include "tools/artwork/artwork.h"
#include "tools/artwork/drawing.h"

#include "controls/resources.h"
#include "res/images.h"
#include "ui/layout.h"

#include <QBuffer>

namespace qvr::artwork {

namespace {

QRect TemplatePlace(const DialogTemplate& main, int id)
{
    for (const DialogControl& control : main.controls) {
        if (control.id == id)
            return DialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
    }
    return {};
}

QByteArray Encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QString FileName(const QString& resourcePath)
{
    return resourcePath.section(QLatin1Char('/'), -1);
}

} // namespace

Places MainWindowPlaces()
{
    Places places;
    const DialogTemplate* main = FindDialogTemplate(IDD_MAIN_WINDOW);
    if (!main)
        return places;
    places.queueList = TemplatePlace(*main, IDC_QUEUE_LIST);
    places.fileList = TemplatePlace(*main, IDC_FILE_LIST);
    places.folderText = TemplatePlace(*main, IDC_FOLDER_TEXT);
    places.statusText = TemplatePlace(*main, IDC_STATUS_TEXT);
    places.statusText.moveTopLeft(kStatusTextOrigin);
    places.percentText = TemplatePlace(*main, IDC_PERCENT_TEXT);
    places.progressTrack = kProgressBarOrigin;
    places.progressTrack.setWidth(ProgressBarWidth(100));
    places.radio = kBrowserRect.united(TemplatePlace(*main, IDC_RADIO_LABEL));
    for (const ButtonImages& button : kButtonImages)
        places.buttons[button.controlId] = TemplatePlace(*main, button.controlId);
    places.buttons[IDC_MINIMIZE] = kMinimizeButtonRect;
    places.buttons[IDC_CLOSE] = kCloseButtonRect;
    return places;
}

std::vector<File> RenderArtwork(QString* error)
{
    if (!HaveFace()) {
        if (error)
            *error = QStringLiteral("Liberation Sans is not installed (Debian: fonts-liberation)");
        return {};
    }
    // Bitmaps as 24-bit BMP: the bytes depend on the pixels alone. The icon is PNG,
    // which icon themes need, with its alpha channel, and SVG for any other size.
    std::vector<File> files;
    const Places places = MainWindowPlaces();
    for (const int scale : kPictureScales) {
        const QImage skin = RenderSkin(places, scale);
        files.push_back({FileName(BitmapResourcePath(IDB_SKIN, scale)), Encode(skin, "BMP")});
        for (const ButtonImages& button : kButtonImages) {
            const std::vector<QImage> pictures =
                RenderButton(button.controlId, places.buttons.at(button.controlId), skin);
            for (std::size_t i = 0; i < pictures.size(); ++i)
                files.push_back({FileName(BitmapResourcePath(button.bitmaps[i], scale)), Encode(pictures[i], "BMP")});
        }
        // Ten rows of a gradient, and at scale 2 a row between each two.
        const QImage bar = RenderProgressBar();
        files.push_back({FileName(BitmapResourcePath(IDB_PROGRESS, scale)),
                         Encode(bar.scaled(bar.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), "BMP")});
    }
    for (const int size : kThemeIconSizes)
        files.push_back({FileName(IconResourcePath(IDI_QUAVERO, size)), Encode(RenderIcon(size), "PNG")});
    files.push_back({QString::number(IDI_QUAVERO) + QStringLiteral(".svg"), RenderIconSvg()});
    return files;
}

} // namespace qvr::artwork
