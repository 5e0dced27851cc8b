#include "tools/artwork/artwork.h"
#include "tools/artwork/drawing.h"
#include "tools/artwork/mark.h"

#include "res/images.h"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace qvr::artwork {

namespace {

constexpr int kWidth = 773;
constexpr int kHeight = 146;
constexpr qreal kCornerRadius = 17;

const QColor kHeading(255, 128, 48);
const QColor kMuted(139, 145, 157);
const QColor kFolderBack(254, 226, 207);  // the folder text's own background

// Signed distance of the point (x, y) from the skin's rounded outline: negative
// inside.
qreal outlineDistance(qreal x, qreal y)
{
    const qreal halfWidth = kWidth / 2.0;
    const qreal halfHeight = kHeight / 2.0;
    const qreal qx = std::abs(x - halfWidth) - (halfWidth - kCornerRadius);
    const qreal qy = std::abs(y - halfHeight) - (halfHeight - kCornerRadius);
    const qreal outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - kCornerRadius;
}

void drawBody(QPainter& painter)
{
    const QRectF all(0, 0, kWidth, kHeight);
    painter.fillRect(all, verticalGradient(all, QColor(44, 48, 58), QColor(21, 23, 28)));
    painter.fillRect(QRectF(0, 0, kWidth, 46), verticalGradient(QRectF(0, 0, kWidth, 46), QColor(255, 255, 255, 16),
                                                                QColor(255, 255, 255, 0)));
    // A warm glow behind the mark.
    QRadialGradient glow(QPointF(62, 40), 70);
    glow.setColorAt(0, QColor(255, 102, 0, 46));
    glow.setColorAt(1, QColor(255, 102, 0, 0));
    painter.fillRect(QRectF(0, 0, 140, kHeight), glow);
}

void drawSeparator(QPainter& painter, int x)
{
    painter.fillRect(QRect(x, 14, 1, kHeight - 28), QColor(10, 11, 14));
    painter.fillRect(QRect(x + 1, 14, 1, kHeight - 28), QColor(255, 255, 255, 14));
}

void drawBrand(QPainter& painter)
{
    drawMark(painter, QRectF(41, 12, 44, 44));
    drawBoxedText(painter, makeFace(19, true), QStringLiteral("Quavero"), QRectF(4, 62, 118, 18), Qt::AlignHCenter,
             QColor(244, 245, 247));
    drawBoxedText(painter, makeFace(7, true, 1.6), QStringLiteral("MUSIC MANAGER"), QRectF(4, 83, 118, 8), Qt::AlignHCenter,
             kMuted);
}

void drawHeading(QPainter& painter, const QString& text, int x, int y)
{
    drawBoxedText(painter, makeFace(8, true, 1.1), text, QRectF(x, y, 200, 9), Qt::AlignLeft, kHeading);
}

// A white card just larger than a control, whose own frame sits inside it.
void drawControlCard(QPainter& painter, const QRect& control, const QColor& face = Qt::white)
{
    drawCard(painter, QRectF(control).adjusted(-1, -1, 1, 1), 2, face);
}

void drawFolderGlyph(QPainter& painter, const QRectF& box)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 160, 90));
    QPainterPath back;
    back.addRoundedRect(QRectF(box.left(), box.top() + 1, box.width() * 0.45, 4), 1, 1);
    back.addRoundedRect(QRectF(box.left(), box.top() + 3, box.width(), box.height() - 3), 1.5, 1.5);
    painter.drawPath(back);
    painter.setBrush(verticalGradient(box, QColor(255, 140, 60), QColor(236, 90, 10)));
    painter.drawRoundedRect(QRectF(box.left(), box.top() + 5, box.width(), box.height() - 5), 1.5, 1.5);
    painter.restore();
}

void drawNoteGlyph(QPainter& painter, const QPointF& at, const QColor& color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QPointF(at.x() + 3, at.y() + 11), 3.2, 2.5);
    painter.drawRect(QRectF(at.x() + 5, at.y(), 1.4, 11));
    QPolygonF flag;
    flag << QPointF(at.x() + 5, at.y()) << QPointF(at.x() + 10, at.y() + 3) << QPointF(at.x() + 10, at.y() + 5.5)
         << QPointF(at.x() + 6.4, at.y() + 3);
    painter.drawPolygon(flag);
    painter.restore();
}

void drawDownloadGlyph(QPainter& painter, const QPointF& centre)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(verticalGradient(QRectF(centre.x() - 8, centre.y() - 8, 16, 16), QColor(255, 150, 72),
                                      QColor(240, 78, 0)));
    painter.drawEllipse(centre, 8, 8);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(centre.x() - 1, centre.y() - 5, 2, 6));
    QPolygonF head;
    head << QPointF(centre.x() - 4, centre.y()) << QPointF(centre.x() + 4, centre.y())
         << QPointF(centre.x(), centre.y() + 4.5);
    painter.drawPolygon(head);
    painter.drawRect(QRectF(centre.x() - 4.5, centre.y() + 5, 9, 1.2));
    painter.restore();
}

// Bars of a level meter: music playing, quietly.
void drawMeter(QPainter& painter, const QRect& area)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const int bars = (area.width() + 2) / 4;
    for (int i = 0; i < bars; ++i) {
        const qreal level = 0.25 + 0.75 * std::abs(std::sin(i * 0.55) * std::cos(i * 0.21 + 0.7));
        const qreal height = std::max(2.0, std::round(level * area.height()));
        const QRectF bar(area.left() + i * 4, area.bottom() + 1 - height, 2, height);
        const int alpha = 60 + (120 * i) / bars;
        painter.setBrush(verticalGradient(bar, QColor(255, 150, 72, alpha), QColor(255, 90, 0, alpha / 2)));
        painter.drawRoundedRect(bar, 0.8, 0.8);
    }
    painter.restore();
}

void drawProgressTrack(QPainter& painter, const QRect& track)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(verticalGradient(track, QColor(214, 217, 223), QColor(236, 238, 241)));
    painter.drawRoundedRect(QRectF(track).adjusted(-1, -1, 1, 1), 2.5, 2.5);
    painter.setBrush(QColor(226, 229, 234));
    painter.drawRect(track);
    painter.restore();
}

// The key colour outside the rounded outline, a dark rim and a faint light ring
// just inside it. The window's shape is made of whole logical pixels (Qt scales it
// to the screen), so at every scale the key colour covers exactly the logical
// pixels whose centre lies outside; within them the rim follows the finer outline.
void cutOutline(QImage& skin, int scale)
{
    const QRgb key = QColor(64, 128, 128).rgb();
    for (int y = 0; y < skin.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(skin.scanLine(y));
        for (int x = 0; x < skin.width(); ++x) {
            const qreal distance = outlineDistance((x + 0.5) / scale, (y + 0.5) / scale);
            if (outlineDistance(x / scale + 0.5, y / scale + 0.5) > 0) {
                line[x] = key;
            } else if (distance > -1) {
                line[x] = qRgb(8, 9, 11);
            } else if (distance > -2) {
                const int lift = y / scale < kHeight / 2 ? 34 : 12;
                const QColor base = QColor::fromRgb(line[x]);
                line[x] = qRgb(std::min(255, base.red() + lift), std::min(255, base.green() + lift),
                               std::min(255, base.blue() + lift));
            } else if (line[x] == key) {
                line[x] = qRgb(64, 128, 129);  // the key colour belongs to the outside alone
            }
        }
    }
}

} // namespace

QImage renderSkin(const Places& places, int scale)
{
    QImage skin(kWidth * scale, kHeight * scale, QImage::Format_RGB32);
    skin.setDevicePixelRatio(scale);
    QPainter painter(&skin);
    drawBody(painter);
    drawBrand(painter);
    drawSeparator(painter, 120);
    drawSeparator(painter, 537);

    // The queue: heading, the list on a card, its two buttons below.
    const QRect queueWell = places.queueList.united(places.buttons.at(IDC_REMOVE))
                                .united(places.buttons.at(IDC_CLEAR))
                                .adjusted(-5, -17, 5, 5);
    drawWell(painter, queueWell, 5);
    drawHeading(painter, QStringLiteral("DOWNLOAD QUEUE"), queueWell.left() + 7, queueWell.top() + 4);
    drawControlCard(painter, places.queueList);

    // The download folder and the tracks in it.
    const QRect folderWell = places.fileList.united(places.folderText)
                                 .united(places.buttons.at(IDC_CHOOSE_FOLDER))
                                 .united(places.buttons.at(IDC_OPEN_FOLDER))
                                 .adjusted(-5, -17, 7, 5);
    drawWell(painter, folderWell, 5);
    drawHeading(painter, QStringLiteral("DOWNLOADED TRACKS"), folderWell.left() + 7, folderWell.top() + 4);
    drawControlCard(painter, places.folderText, kFolderBack);
    drawControlCard(painter, places.fileList);
    const int glyphLeft = places.buttons.at(IDC_CHOOSE_FOLDER).left() + 3;
    drawFolderGlyph(painter, QRectF(glyphLeft, places.folderText.top() + 1, 15, 11));
    drawNoteGlyph(painter, QPointF(glyphLeft + 3, places.fileList.top() + 4), kMuted);

    // The radio panel.
    drawWell(painter, QRectF(places.radio).adjusted(-6, -4, 6, 4), 5);
    drawControlCard(painter, places.radio);

    // What is downloading now: status, progress and percent on one white card.
    const QRect nowCard = places.statusText.united(places.percentText)
                              .united(places.progressTrack)
                              .adjusted(-8, -6, 6, 4);
    drawMeter(painter, QRect(nowCard.left() + 2, 7, nowCard.width() - 18, 14));
    drawHeading(painter, QStringLiteral("NOW DOWNLOADING"), nowCard.left() + 2, nowCard.top() - 15);
    drawWell(painter, QRectF(nowCard).adjusted(-4, -4, 4, 4), 6);
    drawCard(painter, nowCard, 4, Qt::white);
    drawDownloadGlyph(painter, QPointF(nowCard.left() + 14, places.statusText.center().y() + 1));
    painter.fillRect(QRect(nowCard.left() + 8, places.percentText.top() - 5, nowCard.width() - 16, 1),
                     QColor(236, 238, 241));
    drawProgressTrack(painter, places.progressTrack);
    painter.end();

    cutOutline(skin, scale);
    return skin;
}

} // namespace qvr::artwork
