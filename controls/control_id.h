#pragma once

#include <QString>
#include <QWidget>

namespace qvr {

// A dialog's control carries its ID as its object name. The dialog finds its controls
// by that mark, and so does a control that takes another's place knowing only the
// parent and the ID; the one that takes the place takes the mark with it.
inline void setControlId(QWidget* control, int id)
{
    control->setObjectName(QString::number(id));
}

// The parent's direct child with this ID, or null.
inline QWidget* findControl(const QWidget* parent, int id)
{
    if (!parent)
        return nullptr;
    return parent->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

} // namespace qvr
