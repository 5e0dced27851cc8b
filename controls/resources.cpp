#include "controls/resources.h"

namespace qvr {

QString BitmapResourcePath(unsigned id)
{
    return QStringLiteral(":/qvr/bitmaps/%1.bmp").arg(id);
}

QString IconResourcePath(unsigned id, int size)
{
    return QStringLiteral(":/qvr/icons/%1-%2.png").arg(id).arg(size);
}

QImage LoadBitmapResource(unsigned id)
{
    return QImage(BitmapResourcePath(id));
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

CImageList LoadImageListResource(std::span<const unsigned> ids)
{
    CImageList list;
    for (const unsigned id : ids) {
        const QImage bitmap = LoadBitmapResource(id);
        if (bitmap.isNull())
            continue;
        if (list.size().isEmpty())
            list = CImageList(bitmap.size());
        list.AddMasked(bitmap, Qt::black);
    }
    return list;
}

} // namespace qvr
