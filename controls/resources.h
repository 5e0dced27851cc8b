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
QString bitmapResourcePath(unsigned id);
QString iconResourcePath(unsigned id, int size);
constexpr int kIconSizes[] = {16, 32, 48, 256};

// Each bitmap also comes drawn at twice its size, as ":/qvr/bitmaps/<number>@2x.bmp":
// the scale-2 path of a bitmap, and the scale of the set a screen of this device
// pixel ratio shows (2 above ratio 1, as Qt picks "@2x" files: a larger picture
// scaled down looks better than a smaller one blown up).
QString bitmapResourcePath(unsigned id, int scale);
constexpr int kPictureScales[] = {1, 2};
int pictureScale(qreal devicePixelRatio);

// Bitmap `id` from the set for `devicePixelRatio`, with the device pixel ratio of
// its set, so that it takes the same logical size at every scale (the scale-1
// picture where the larger one is missing); a null image when the program has
// none of that number.
QImage loadBitmapResource(unsigned id, qreal devicePixelRatio = 1);

// Icon `id` in every size it comes in; a null icon when there is none.
QIcon loadIconResource(unsigned id);

// A button's pictures: bitmaps `ids` in order from the set for `devicePixelRatio`,
// black (0x000000) as the mask colour, the list sized by the first bitmap's logical
// size. Bitmaps the program lacks are left out.
CImageList loadImageListResource(std::span<const unsigned> ids, qreal devicePixelRatio = 1);

} // namespace qvr
