#pragma once

#include "controls/colorref.h"

#include <QLabel>

namespace qvr {

// A text control with its own text and background colours; the background fills
// the whole control, behind the text as well. The text is plain text.
class CColorStaticST : public QLabel {
    Q_OBJECT
public:
    // Starts with the palette's button text and button colours.
    explicit CColorStaticST(QWidget* parent = nullptr);

    // kSystemColor stands for the palette's button text colour.
    void SetForeColor(COLORREF color);
    // kSystemColor stands for the palette's button colour.
    void SetBackColor(COLORREF color);

    QColor foreColor() const { return m_crText; }
    QColor backColor() const { return m_crBack; }

private:
    void applyColors();

    QColor m_crText;
    QColor m_crBack;
};

} // namespace qvr
