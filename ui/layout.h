#pragma once

#include <QRect>

#include <string>

namespace qvr {

// Dialog units of the template's font ("MS Shell Dlg" 8 pt at 96 dpi): base units 6 x 13.
QRect dialogUnitsToPixels(int x, int y, int cx, int cy);

// The folder as the window shows it: whole up to 20 characters, else its first 17
// and "...".
std::string folderLabel(const std::string& folder);

// Where a window of `size` opens on a screen whose free area is `available`:
// centred, inside the area; one larger than the area keeps its top right corner
// (the caption buttons) in it.
QPoint windowPlace(const QRect& available, QSize size);

// Width in pixels of the progress bar for `percent`: 125 at 100 percent.
int progressBarWidth(int percent);

// Where the progress bar starts; its width grows to the right from here.
constexpr QRect kProgressBarOrigin {562, 88, 0, 10};

// Places the window gives in pixels, over the template's: the status text's
// top-left corner (its size stays the template's), the two caption buttons and the
// radio panel.
constexpr QPoint kStatusTextOrigin {578, 49};
constexpr QRect kMinimizeButtonRect {732, 3, 10, 9};
constexpr QRect kCloseButtonRect {755, 3, 10, 9};
constexpr QRect kBrowserRect {134, 83, 384, 56};

} // namespace qvr
