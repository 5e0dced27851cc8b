#include "controls/list_box.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

namespace qvr {

namespace {

// The style's focus mark round the inside of an empty list that has the focus.
void paintEmptyFocus(QAbstractItemView& list)
{
    if (list.model() && list.model()->rowCount(list.rootIndex()) > 0)
        return;
    if (!list.hasFocus())
        return;
    QPainter painter(list.viewport());
    QStyleOptionFocusRect mark;
    mark.initFrom(&list);
    mark.rect = list.viewport()->rect();
    mark.backgroundColor = list.palette().color(QPalette::Base);
    list.style()->drawPrimitive(QStyle::PE_FrameFocusRect, &mark, &painter, &list);
}

} // namespace

CListView::CListView(QWidget* parent) : QListView(parent) {}

void CListView::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    paintEmptyFocus(*this);
}

} // namespace qvr
