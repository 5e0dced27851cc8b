#pragma once

#include "controls/image_list.h"

#include <QIcon>
#include <QImage>
#include <QString>

#include <span>

namespace qvr {

// The program's pictures are Qt resources named by their resource numbers:
// bitmaps as ":/qvr/bitmaps/<number>.bmp", the icon as ":/qvr/icons/<number>-<size>.png"
// in the sizes below (res/images.qrc; the binary that shows them links qvr_res_images).
QString BitmapResourcePath(unsigned id);
QString IconResourcePath(unsigned id, int size);
constexpr int kIconSizes[] = {16, 32, 48, 256};

// Bitmap `id`, or a null image when the program has none of that number.
QImage LoadBitmapResource(unsigned id);

// Icon `id` in every size it comes in; a null icon when there is none.
QIcon LoadIconResource(unsigned id);

// A button's pictures: bitmaps `ids` in order, black (0x000000) as the mask colour,
// the list sized by the first bitmap. Bitmaps the program lacks are left out.
CImageList LoadImageListResource(std::span<const unsigned> ids);

} // namespace qvr
