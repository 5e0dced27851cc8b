#pragma once

#include <QFont>
#include <QString>

namespace qvr {

// The pixel height of a font of `tenthsOfPoint` on a 96 dpi display, rounded to
// the nearest pixel: 110 (11 pt) gives 15.
int pointFontPixelSize(int tenthsOfPoint);

// The font a face name of the program's resources stands for at `tenthsOfPoint`.
// A name ending in " Bold" is that family at bold weight; "Arial" is found through
// fontconfig (Liberation Sans, its metric twin, on Debian), and the dialog face
// "MS Shell Dlg" is taken as Arial. Sized in pixels, so that the windows, drawn in
// pixels, look the same on every display.
QFont makePointFont(const QString& faceName, int tenthsOfPoint);

} // namespace qvr
