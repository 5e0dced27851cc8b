#pragma once

#include <QColor>

#include <cstdint>

namespace qvr {

// Colours as the program's settings and set-up give them: 0x00BBGGRR.
using COLORREF = std::uint32_t;

// Stands for "the system's colour" where a control accepts it.
constexpr COLORREF kSystemColor = 0xFFFFFFFF;

constexpr COLORREF makeColorRef(int red, int green, int blue)
{
    return static_cast<COLORREF>(red & 0xFF) | static_cast<COLORREF>(green & 0xFF) << 8
        | static_cast<COLORREF>(blue & 0xFF) << 16;
}

inline QColor colorFromColorRef(COLORREF color)
{
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

} // namespace qvr
