#include "controls/fonts.h"

namespace qvr {

int pointFontPixelSize(int tenthsOfPoint)
{
    return (tenthsOfPoint * 96 * 2 + 720) / (720 * 2);
}

QFont makePointFont(const QString& faceName, int tenthsOfPoint)
{
    const QLatin1String kBold(" Bold");
    QString family = faceName;
    const bool bold = family.endsWith(kBold);
    if (bold)
        family.chop(kBold.size());
    if (family == QLatin1String("MS Shell Dlg"))
        family = QStringLiteral("Arial");
    QFont font(family);
    font.setPixelSize(pointFontPixelSize(tenthsOfPoint));
    font.setBold(bold);
    return font;
}

} // namespace qvr
