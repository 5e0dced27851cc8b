#include "ui/right_click_filter.h"

#include <QMouseEvent>
#include <QWidget>

namespace qvr {

bool liesWithin(const QObject* receiver, const QWidget* target)
{
    if (!target || !receiver || !receiver->isWidgetType())
        return false;
    for (auto* widget = static_cast<const QWidget*>(receiver); widget; widget = widget->parentWidget()) {
        if (widget == target)
            return true;
    }
    return false;
}

bool RightClickFilter::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)
        && static_cast<QMouseEvent*>(event)->button() == Qt::RightButton
        && liesWithin(watched, m_target))
        return true;
    return QObject::eventFilter(watched, event);
}

} // namespace qvr
