#include "controls/picture_progress_bar.h"

#include <QPainter>

#include <utility>

namespace qvr {

CPictureProgressBar::CPictureProgressBar(QPixmap picture, QWidget* parent)
    : QProgressBar(parent), m_picture(std::move(picture))
{
    setRange(0, 100);
}

void CPictureProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(QPoint(0, 0), m_picture);
}

} // namespace qvr
