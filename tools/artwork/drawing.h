#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QPainter;

namespace qvr::artwork {

// Liberation Sans at `pixelSize`, drawn from its outlines only, so that neither
// hinting nor the rasteriser's settings on this machine change a picture.
QFont makeFace(qreal pixelSize, bool bold = false, qreal letterSpacing = 0);

// True when makeFace() really is Liberation Sans here.
bool haveFace();

// `text` as a path with its baseline at y = 0 and its left edge at x = 0.
QPainterPath textPath(const QFont& font, const QString& text);

// Draws `text` in `box`: horizontally as `align` says (left, centre or right),
// vertically with its capitals centred and its baseline on a whole pixel.
void drawBoxedText(QPainter& painter, const QFont& font, const QString& text, const QRectF& box,
              Qt::Alignment align, const QColor& color);

// A vertical gradient from `top` to `bottom` over `rect`.
QBrush verticalGradient(const QRectF& rect, const QColor& top, const QColor& bottom);

// A panel sunk into the body: dark well, a soft shadow along its top edge and a
// faint light edge at its bottom.
void drawWell(QPainter& painter, const QRectF& rect, qreal radius);

// A white card raised from a well, for the controls with a white background.
void drawCard(QPainter& painter, const QRectF& rect, qreal radius, const QColor& face);

} // namespace qvr::artwork
