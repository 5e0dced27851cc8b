#include "controls/color_static.h"

#include <QGuiApplication>

namespace qvr {

namespace {

QColor colorOr(COLORREF color, QPalette::ColorRole systemRole)
{
    return color == kSystemColor ? QGuiApplication::palette().color(systemRole) : colorFromColorRef(color);
}

} // namespace

CColorStaticST::CColorStaticST(QWidget* parent)
    : QLabel(parent),
      m_crText(QGuiApplication::palette().color(QPalette::ButtonText)),
      m_crBack(QGuiApplication::palette().color(QPalette::Button))
{
    setAutoFillBackground(true);
    // What it shows may come from outside (a track's title): never read as markup.
    setTextFormat(Qt::PlainText);
    applyColors();
}

void CColorStaticST::SetForeColor(COLORREF color)
{
    m_crText = colorOr(color, QPalette::ButtonText);
    applyColors();
}

void CColorStaticST::SetBackColor(COLORREF color)
{
    m_crBack = colorOr(color, QPalette::Button);
    applyColors();
}

void CColorStaticST::applyColors()
{
    // The same colours whether the control is enabled or not, as with the
    // platform's own colour query.
    QPalette colors = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colors.setColor(group, QPalette::WindowText, m_crText);
        colors.setColor(group, QPalette::Window, m_crBack);
    }
    setPalette(colors);
    update();
}

} // namespace qvr
