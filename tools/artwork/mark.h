#pragma once

#include <QRectF>

class QPainter;

namespace qvr::artwork {

// The program's mark, the icon's picture, filling the square `box`.
void drawMark(QPainter& painter, const QRectF& box);

} // namespace qvr::artwork
