#include "tools/artwork/preview.h"
#include "tools/artwork/drawing.h"

#include "controls/image_list.h"
#include "controls/resources.h"
#include "res/images.h"

#include <QPainter>

namespace qvr::artwork {

namespace {

QImage decodeFile(const std::vector<File>& files, const QString& name)
{
    for (const File& file : files) {
        if (file.name == name)
            return QImage::fromData(file.bytes);
    }
    return {};
}

QImage bitmapImage(const std::vector<File>& files, unsigned id, int scale = 1)
{
    QImage bitmap = decodeFile(files, bitmapResourcePath(id, scale).section(QLatin1Char('/'), -1));
    bitmap.setDevicePixelRatio(scale);
    return bitmap;
}

CImageList buttonList(const std::vector<File>& files, const ButtonImages& button, int scale = 1)
{
    const QImage first = bitmapImage(files, button.bitmaps[0], scale);
    CImageList list(first.deviceIndependentSize().toSize());
    for (const unsigned id : button.bitmaps)
        list.addMasked(bitmapImage(files, id, scale), Qt::black);
    return list;
}

void drawStandIns(QPainter& painter, const Places& places, const QImage& bar)
{
    const auto label = [&painter](const QRect& rect, const QString& text, const QFont& font, QColor textColor,
                                  QColor back, Qt::Alignment align) {
        painter.fillRect(rect, back);
        painter.setFont(font);
        painter.setPen(textColor);
        painter.drawText(rect, int(align | Qt::AlignVCenter), text);
    };
    const auto list = [&painter](const QRect& rect, const QStringList& lines) {
        painter.fillRect(rect, Qt::white);
        painter.setPen(QColor(160, 160, 160));
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
        painter.setPen(Qt::black);
        for (int i = 0; i < lines.size(); ++i)
            painter.drawText(QRect(rect.left() + 3, rect.top() + 2 + i * 13, rect.width() - 6, 13), Qt::AlignVCenter,
                             lines[i]);
    };
    const QColor orange(255, 102, 0);
    list(places.queueList, {QStringLiteral("Midnight Avenue"), QStringLiteral("Paper Lanterns")});
    list(places.fileList, {QStringLiteral("Blue Harbour.mp3")});
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(15);
    label(places.statusText, QStringLiteral("Downloading..."), arial, orange, Qt::white, Qt::AlignLeft);
    label(places.percentText, QStringLiteral("62%"), arial, orange, Qt::white, Qt::AlignRight);
    QFont bold(QStringLiteral("Arial"));
    bold.setPixelSize(19);
    bold.setBold(true);
    label(places.radio, QStringLiteral("Click Here to Load Online Radio"), bold, orange, Qt::white,
          Qt::AlignHCenter);
    QFont small(QStringLiteral("Arial"));
    small.setPixelSize(11);
    label(places.folderText, QStringLiteral("/home/me/Music/Qu..."), small, Qt::black, QColor(254, 226, 207),
          Qt::AlignLeft);
    painter.drawTiledPixmap(QRect(places.progressTrack.topLeft(), QSize(77, 10)), QPixmap::fromImage(bar));
}

QImage windowImage(const std::vector<File>& files, int scale)
{
    const Places places = mainWindowPlaces();
    QImage window = bitmapImage(files, IDB_SKIN, scale).convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&window);
    drawStandIns(painter, places, bitmapImage(files, IDB_PROGRESS, scale));
    for (const ButtonImages& button : kButtonImages) {
        const bool latched = button.controlId == IDC_RESUME;
        buttonList(files, button, scale).draw(painter, latched ? 1 : 0, places.buttons.at(button.controlId).topLeft());
    }
    painter.end();
    const QRgb key = QColor(64, 128, 128).rgb();
    for (int y = 0; y < window.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(window.scanLine(y));
        for (int x = 0; x < window.width(); ++x) {
            if ((line[x] & RGB_MASK) == (key & RGB_MASK))
                line[x] = 0;
        }
    }
    return window;
}

} // namespace

QImage renderPreview(const std::vector<File>& files)
{
    const QImage window = windowImage(files, 1);
    const int margin = 24;
    const int zoomedWidth = window.width() * 2;
    QImage preview(zoomedWidth + 2 * margin, margin * 5 + window.height() * 3 + 9 * 36, QImage::Format_RGB32);
    preview.fill(QColor(92, 112, 140));
    QPainter painter(&preview);
    painter.fillRect(QRect(0, 0, preview.width(), window.height() + 2 * margin),
                     verticalGradient(QRectF(0, 0, 1, window.height() + 2 * margin), QColor(58, 96, 140),
                                      QColor(150, 170, 196)));
    painter.drawImage(margin, margin, window);
    int y = window.height() + 3 * margin;
    painter.drawImage(QRect(margin, y, zoomedWidth, window.height() * 2), windowImage(files, 2));
    y += window.height() * 2 + margin;
    const Places places = mainWindowPlaces();
    const QImage skin = bitmapImage(files, IDB_SKIN);
    for (const ButtonImages& button : kButtonImages) {
        const CImageList list = buttonList(files, button);
        const QRect place = places.buttons.at(button.controlId);
        for (int state = 0; state < 3; ++state) {
            QImage cell = skin.copy(place).convertToFormat(QImage::Format_ARGB32);
            QPainter cellPainter(&cell);
            list.draw(cellPainter, state, QPoint(0, 0));
            cellPainter.end();
            painter.drawImage(QRect(margin + state * (78 * 4 + 24), y, place.width() * 3, place.height() * 3), cell);
        }
        y += 36;
    }
    return preview;
}

} // namespace qvr::artwork
