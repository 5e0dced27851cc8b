#pragma once

#include <QRectF>

class QPainter;

namespace qvr::artwork {

// The program's mark, the icon's picture, filling the square `box`.
void DrawMark(QPainter& painter, const QRectF& box);

} // namespace qvr::artwork
