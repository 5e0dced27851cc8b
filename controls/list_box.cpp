#include "controls/list_box.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

namespace qvr {

CListBox::CListBox(QWidget* parent) : QListWidget(parent) {}

void CListBox::paintEvent(QPaintEvent* event)
{
    QListWidget::paintEvent(event);
    if (count() > 0 || !hasFocus())
        return;
    QPainter painter(viewport());
    QStyleOptionFocusRect mark;
    mark.initFrom(this);
    mark.rect = viewport()->rect();
    mark.backgroundColor = palette().color(QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &mark, &painter, this);
}

} // namespace qvr
