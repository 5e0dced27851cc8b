#include "controls/resources.h"

namespace qvr {

QString BitmapResourcePath(unsigned id)
{
    return QStringLiteral(":/qvr/bitmaps/%1.bmp").arg(id);
}

QString BitmapResourcePath(unsigned id, int scale)
{
    return scale == 1 ? BitmapResourcePath(id) : QStringLiteral(":/qvr/bitmaps/%1@%2x.bmp").arg(id).arg(scale);
}

int PictureScale(qreal devicePixelRatio)
{
    return devicePixelRatio > 1 ? 2 : 1;
}

QString IconResourcePath(unsigned id, int size)
{
    return QStringLiteral(":/qvr/icons/%1-%2.png").arg(id).arg(size);
}

QImage LoadBitmapResource(unsigned id, qreal devicePixelRatio)
{
    const int scale = PictureScale(devicePixelRatio);
    QImage bitmap(BitmapResourcePath(id, scale));
    if (bitmap.isNull())
        return scale == 1 ? bitmap : LoadBitmapResource(id);
    bitmap.setDevicePixelRatio(scale);
    return bitmap;
}

QIcon LoadIconResource(unsigned id)
{
    QIcon icon;
    for (const int size : kIconSizes) {
        const QImage image(IconResourcePath(id, size));
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

CImageList LoadImageListResource(std::span<const unsigned> ids, qreal devicePixelRatio)
{
    CImageList list;
    for (const unsigned id : ids) {
        const QImage bitmap = LoadBitmapResource(id, devicePixelRatio);
        if (bitmap.isNull())
            continue;
        if (list.size().isEmpty())
            list = CImageList(bitmap.deviceIndependentSize().toSize());
        list.AddMasked(bitmap, Qt::black);
    }
    return list;
}

} // namespace qvr
