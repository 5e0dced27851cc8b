#include "tools/artwork/drawing.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace qvr::artwork {

QFont makeFace(qreal pixelSize, bool bold, qreal letterSpacing)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(static_cast<int>(pixelSize));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::ForceOutline);
    if (letterSpacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return font;
}

bool haveFace()
{
    return QFontInfo(makeFace(12)).family() == QLatin1String("Liberation Sans")
        && QFontInfo(makeFace(12, true)).bold();
}

QPainterPath textPath(const QFont& font, const QString& text)
{
    QPainterPath path;
    path.addText(0, 0, font, text);
    return path;
}

void drawBoxedText(QPainter& painter, const QFont& font, const QString& text, const QRectF& box,
              Qt::Alignment align, const QColor& color)
{
    const QPainterPath path = textPath(font, text);
    const qreal width = path.boundingRect().right();
    const qreal capHeight = QFontMetricsF(font).capHeight();
    qreal x = box.left();
    if (align & Qt::AlignHCenter)
        x = box.left() + (box.width() - width) / 2;
    else if (align & Qt::AlignRight)
        x = box.right() - width;
    const qreal baseline = std::round(box.center().y() + capHeight / 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.translate(std::round(x), baseline);
    painter.drawPath(path);
    painter.restore();
}

QBrush verticalGradient(const QRectF& rect, const QColor& top, const QColor& bottom)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return QBrush(gradient);
}

void drawWell(QPainter& painter, const QRectF& rect, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // The light lip below and the well itself.
    painter.setBrush(QColor(255, 255, 255, 18));
    painter.drawRoundedRect(rect.adjusted(0, 0, 0, 1), radius, radius);
    painter.setBrush(verticalGradient(rect, QColor(12, 13, 16), QColor(20, 22, 27)));
    painter.drawRoundedRect(rect, radius, radius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 90), 1));
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.restore();
}

void drawCard(QPainter& painter, const QRectF& rect, qreal radius, const QColor& face)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 70));
    painter.drawRoundedRect(rect.adjusted(-1, 0, 1, 2), radius + 1, radius + 1);
    painter.setBrush(face);
    painter.drawRoundedRect(rect, radius, radius);
    painter.restore();
}

} // namespace qvr::artwork
