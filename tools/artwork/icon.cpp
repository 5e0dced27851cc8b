#include "tools/artwork/artwork.h"
#include "tools/artwork/drawing.h"
#include "tools/artwork/mark.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>
#include <QTransform>

#include <algorithm>

namespace qvr::artwork {

void drawMark(QPainter& painter, const QRectF& box)
{
    const qreal size = box.width();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.topLeft());
    painter.scale(size / 100.0, size / 100.0);
    // Lines thinner than about a pixel and a third blur at the small sizes.
    const qreal pixel = 100.0 / size;
    const qreal stem = std::max(5.0, 1.4 * pixel);

    const QRectF tile(2, 2, 96, 96);
    const qreal radius = 22;
    painter.setPen(Qt::NoPen);
    painter.setBrush(verticalGradient(tile, QColor(255, 150, 72), QColor(240, 78, 0)));
    painter.drawRoundedRect(tile, radius, radius);
    // A soft sheen over the upper half and a darker rim.
    painter.setBrush(verticalGradient(QRectF(2, 2, 96, 50), QColor(255, 255, 255, 70), QColor(255, 255, 255, 0)));
    painter.drawRoundedRect(QRectF(2, 2, 96, 50), radius, radius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(150, 45, 0, 160), std::max(1.5, pixel)));
    painter.drawRoundedRect(tile, radius, radius);

    // Two beamed quavers.
    QPainterPath notes;
    notes.setFillRule(Qt::WindingFill);
    const auto head = [&notes](QPointF centre) {
        QPainterPath ellipse;
        ellipse.addEllipse(QPointF(0, 0), 11.5, 8.5);
        notes.addPath(QTransform().translate(centre.x(), centre.y()).rotate(-22).map(ellipse));
    };
    head(QPointF(35, 71));
    head(QPointF(68, 63));
    notes.addRect(QRectF(45.5 - stem, 27, stem, 44));
    notes.addRect(QRectF(78.5 - stem, 19, stem, 44));
    QPolygonF beam;
    beam << QPointF(45.5 - stem, 27) << QPointF(78.5, 17) << QPointF(78.5, 30) << QPointF(45.5 - stem, 40);
    notes.addPolygon(beam);
    notes.closeSubpath();

    painter.setPen(Qt::NoPen);
    if (size >= 32) {
        painter.setBrush(QColor(120, 30, 0, 70));
        painter.drawPath(notes.translated(0, 2.5));
    }
    painter.setBrush(QColor(255, 255, 255));
    painter.drawPath(notes);
    painter.restore();
}

QImage renderIcon(int size)
{
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    drawMark(painter, QRectF(0, 0, size, size));
    painter.end();
    return icon.convertToFormat(QImage::Format_ARGB32);
}

QByteArray renderIconSvg()
{
    // Drawn as the largest PNG: its lines are the ones meant to be scaled.
    constexpr int kSize = 256;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(kSize, kSize));
    svg.setViewBox(QRect(0, 0, kSize, kSize));
    svg.setTitle(QStringLiteral("Quavero"));
    svg.setDescription(QStringLiteral("The icon of the Quavero Music Manager"));
    QPainter painter(&svg);
    drawMark(painter, QRectF(0, 0, kSize, kSize));
    painter.end();
    return bytes;
}

QImage renderProgressBar()
{
    // Tiled or stretched sideways, these ten rows are the bar.
    static constexpr QRgb kRows[10] = {0xffc089, 0xff9d55, 0xff8c3a, 0xff7f26, 0xff7415,
                                       0xff6600, 0xf85f00, 0xee5900, 0xe35300, 0xc64600};
    QImage bar(2, 10, QImage::Format_RGB32);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 2; ++x)
            bar.setPixel(x, y, kRows[y]);
    }
    return bar;
}

} // namespace qvr::artwork
