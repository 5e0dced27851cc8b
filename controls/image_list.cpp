#include "controls/image_list.h"

#include <QPainter>

namespace qvr {

bool CImageList::addMasked(const QImage& bitmap, QColor maskColor)
{
    if (bitmap.isNull() || m_size.isEmpty())
        return false;
    const qreal ratio = bitmap.devicePixelRatio();
    QImage picture = bitmap.convertToFormat(QImage::Format_ARGB32).copy(QRect(QPoint(0, 0), m_size * ratio));
    picture.setDevicePixelRatio(ratio);
    const QRgb mask = maskColor.rgb();
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(line[x]) == 255 && (line[x] & RGB_MASK) == (mask & RGB_MASK))
                line[x] = 0;
        }
    }
    m_images.push_back(picture.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    return true;
}

void CImageList::draw(QPainter& painter, int index, QPoint at) const
{
    if (index < 0 || index >= count())
        return;
    painter.drawImage(at, m_images[static_cast<std::size_t>(index)]);
}

} // namespace qvr
