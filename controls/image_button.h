#pragma once

#include "controls/image_list.h"

#include <QAbstractButton>

namespace qvr {

// A push button that draws only one of three pictures: idle (0), hover or latched
// (1) and pressed (2), and a dotted mark over it while it has the keyboard focus.
// Clicks are the standard button's `clicked`; Space, Enter and Return press it.
class CImageButton : public QAbstractButton {
    Q_OBJECT
public:
    enum MouseState : int { BTN_IDLE = 0, BTN_HOVER = 1, BTN_PRESSED = 2 };

    explicit CImageButton(QWidget* parent = nullptr);

    // The button keeps its own copy of `images`; the caller's list stays the caller's.
    void SetImages(const CImageList& images);
    const CImageList& images() const { return m_images; }

    int mouseState() const { return m_nMouseState; }

    // The picture a state shows; -1 (nothing) for a state outside the three.
    static int imageIndex(int mouseState, bool latchable, bool latched);

    QSize sizeHint() const override;

    // A latched button shows the hover picture while idle, and only a latchable one
    // can be latched: the owner latches the one of a pair that was pressed last.
    void setLatchable(bool latchable);
    void setLatched(bool latched);
    [[nodiscard]] bool isLatched() const { return m_bLatchable && m_bLatched; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_nMouseState = BTN_IDLE;
    bool m_bLatchable = false;
    bool m_bLatched = false;
    CImageList m_images;
};

} // namespace qvr
