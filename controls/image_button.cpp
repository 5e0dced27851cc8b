#include "controls/image_button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

namespace qvr {

CImageButton::CImageButton(QWidget* parent) : QAbstractButton(parent)
{
    // Moves without a button held keep the hover picture up to date.
    setMouseTracking(true);
}

void CImageButton::SetImages(const CImageList& images)
{
    m_images = images;
    updateGeometry();
    update();
}

void CImageButton::setLatchable(bool latchable)
{
    if (std::exchange(m_bLatchable, latchable) != latchable)
        update();
}

void CImageButton::setLatched(bool latched)
{
    if (std::exchange(m_bLatched, latched) != latched)
        update();
}

int CImageButton::imageIndex(int mouseState, bool latchable, bool latched)
{
    switch (mouseState) {
    case BTN_IDLE: return latchable && latched ? 1 : 0;
    case BTN_HOVER: return 1;
    case BTN_PRESSED: return 2;
    default: return -1;
    }
}

QSize CImageButton::sizeHint() const
{
    return m_images.size();
}

void CImageButton::paintEvent(QPaintEvent*)
{
    // Neither the enabled nor the down state of the button plays a part, and besides
    // the focus mark nothing else is painted: what the pictures leave transparent
    // shows the parent. Pictures of another ratio than the screen's are scaled
    // smoothly; at their own ratio they are drawn pixel for pixel.
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    m_images.draw(painter, imageIndex(m_nMouseState, m_bLatchable, m_bLatched), QPoint(0, 0));
    if (hasFocus()) {
        painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CImageButton::keyPressEvent(QKeyEvent* event)
{
    // The focused button is the one Enter presses, as in a dialog; Space is the
    // standard button's own.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

bool CImageButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
        m_nMouseState = BTN_HOVER;
        update();
        break;
    // A popup (the window's menu) or another window taking the mouse must not leave
    // a hover or pressed picture behind.
    case QEvent::Leave:
    case QEvent::WindowDeactivate:
        m_nMouseState = BTN_IDLE;
        update();
        break;
    default:
        break;
    }
    return QAbstractButton::event(event);
}

void CImageButton::mouseMoveEvent(QMouseEvent* event)
{
    // While the left button is held Qt sends this button every move, inside or out;
    // with tracking on, every move over it as well. Only a change of picture paints.
    const int state = rect().contains(event->position().toPoint()) ? BTN_HOVER : BTN_IDLE;
    const bool changed = state != m_nMouseState;
    m_nMouseState = state;
    QAbstractButton::mouseMoveEvent(event);
    if (changed)
        update();
}

void CImageButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_nMouseState = BTN_PRESSED;
    QAbstractButton::mousePressEvent(event);
    update();
}

void CImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    // Idle after a click even with the mouse still over the button, until it moves.
    if (event->button() == Qt::LeftButton)
        m_nMouseState = BTN_IDLE;
    QAbstractButton::mouseReleaseEvent(event);
    update();
}

} // namespace qvr
