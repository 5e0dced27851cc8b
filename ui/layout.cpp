#include "ui/layout.h"

#include <algorithm>

namespace qvr {

namespace {

constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

// a x b / c rounded to the nearest whole number, as dialog units are mapped.
int mulDiv(int a, int b, int c)
{
    return (2 * a * b + c) / (2 * c);
}

} // namespace

QRect dialogUnitsToPixels(int x, int y, int cx, int cy)
{
    return QRect(mulDiv(x, kBaseUnitX, 4), mulDiv(y, kBaseUnitY, 8), mulDiv(cx, kBaseUnitX, 4),
                 mulDiv(cy, kBaseUnitY, 8));
}

std::string folderLabel(const std::string& folder)
{
    if (folder.size() > 20)
        return folder.substr(0, 17) + "...";
    return folder;
}

QPoint windowPlace(const QRect& available, QSize size)
{
    const auto place = [](int start, int length, int window) {
        return window > length ? start + length - window : start + (length - window) / 2;
    };
    return {place(available.left(), available.width(), size.width()),
            std::max(available.top(), place(available.top(), available.height(), size.height()))};
}

int progressBarWidth(int percent)
{
    return static_cast<int>(static_cast<double>(percent) / 100.0 * 125.0);
}

} // namespace qvr
