#include "ui/dialog_builder.h"

#include "controls/control_id.h"
#include "ui/layout.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace qvr {

void DialogControls::build(const DialogTemplate& dialogTemplate, QWidget* parent,
                           const ControlFactory& factory)
{
    m_parent = parent;
    parent->setFixedSize(DialogUnitsToPixels(0, 0, dialogTemplate.cx, dialogTemplate.cy).size());
    for (const DialogControl& control : dialogTemplate.controls) {
        QWidget* widget = factory(control, parent);
        SetControlId(widget, control.id);
        widget->setGeometry(DialogUnitsToPixels(control.x, control.y, control.cx, control.cy));
        widget->setVisible(!(control.style & CS_HIDDEN));
    }
}

QWidget* DialogControls::control(int id) const
{
    return FindControl(m_parent, id);
}

QWidget* MakePlainControl(const DialogControl& control, QWidget* parent)
{
    switch (control.kind) {
    case ControlKind::Button:
        return new QPushButton(QString::fromUtf8(control.text), parent);
    case ControlKind::ListBox: {
        auto* list = new QListWidget(parent);
        list->setSortingEnabled(false);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        return list;
    }
    case ControlKind::Static: {
        auto* label = new QLabel(QString::fromUtf8(control.text), parent);
        Qt::Alignment alignment = Qt::AlignVCenter;
        if (control.style & CS_ALIGN_RIGHT)
            alignment |= Qt::AlignRight;
        else if (control.style & CS_ALIGN_CENTER)
            alignment |= Qt::AlignHCenter;
        else
            alignment |= Qt::AlignLeft;
        label->setAlignment(alignment);
        return label;
    }
    }
    return nullptr;
}

} // namespace qvr
