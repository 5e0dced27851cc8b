#include "controls/resources.h"

namespace qvr {

QString bitmapResourcePath(unsigned id)
{
    return QStringLiteral(":/qvr/bitmaps/%1.bmp").arg(id);
}

QString bitmapResourcePath(unsigned id, int scale)
{
    return scale == 1 ? bitmapResourcePath(id) : QStringLiteral(":/qvr/bitmaps/%1@%2x.bmp").arg(id).arg(scale);
}

int pictureScale(qreal devicePixelRatio)
{
    return devicePixelRatio > 1 ? 2 : 1;
}

QString iconResourcePath(unsigned id, int size)
{
    return QStringLiteral(":/qvr/icons/%1-%2.png").arg(id).arg(size);
}

QImage loadBitmapResource(unsigned id, qreal devicePixelRatio)
{
    const int scale = pictureScale(devicePixelRatio);
    QImage bitmap(bitmapResourcePath(id, scale));
    if (bitmap.isNull())
        return scale == 1 ? bitmap : loadBitmapResource(id);
    bitmap.setDevicePixelRatio(scale);
    return bitmap;
}

QIcon loadIconResource(unsigned id)
{
    QIcon icon;
    for (const int size : kIconSizes) {
        const QImage image(iconResourcePath(id, size));
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

CImageList loadImageListResource(std::span<const unsigned> ids, qreal devicePixelRatio)
{
    CImageList list;
    for (const unsigned id : ids) {
        const QImage bitmap = loadBitmapResource(id, devicePixelRatio);
        if (bitmap.isNull())
            continue;
        if (list.size().isEmpty())
            list = CImageList(bitmap.deviceIndependentSize().toSize());
        list.addMasked(bitmap, Qt::black);
    }
    return list;
}

} // namespace qvr
