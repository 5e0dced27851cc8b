#include "ui/dialog_builder.h"

#include "controls/control_id.h"
#include "controls/fonts.h"
#include "controls/resources.h"
#include "ui/layout.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <cstdlib>

namespace qvr {

void DialogControls::build(const DialogTemplate& dialogTemplate, QWidget* parent,
                           const ControlFactory& factory)
{
    m_parent = parent;
    if (dialogTemplate.fontFace)
        parent->setFont(makePointFont(QString::fromUtf8(dialogTemplate.fontFace), dialogTemplate.pointSize * 10));
    parent->setFixedSize(dialogUnitsToPixels(0, 0, dialogTemplate.cx, dialogTemplate.cy).size());
    if (dialogTemplate.caption)
        parent->setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    for (const DialogControl& control : dialogTemplate.controls) {
        QWidget* widget = factory(control, parent);
        setControlId(widget, control.id);
        QRect place = dialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
        if (control.style & CS_ICON)
            place.setSize(QSize(kIconControlSize, kIconControlSize));  // an icon control takes the icon's size
        widget->setGeometry(place);
        widget->setVisible(!(control.style & CS_HIDDEN));
    }
}

QWidget* DialogControls::control(int id) const
{
    return findControl(m_parent, id);
}

Qt::Alignment staticAlignment(const DialogControl& control)
{
    if (control.style & CS_ALIGN_RIGHT)
        return Qt::AlignVCenter | Qt::AlignRight;
    if (control.style & CS_ALIGN_CENTER)
        return Qt::AlignVCenter | Qt::AlignHCenter;
    return Qt::AlignVCenter | Qt::AlignLeft;
}

QWidget* makePlainControl(const DialogControl& control, QWidget* parent)
{
    switch (control.kind) {
    case ControlKind::Button: {
        auto* button = new QPushButton(QString::fromUtf8(control.text), parent);
        button->setDefault(control.style & CS_DEFAULT);
        return button;
    }
    case ControlKind::ListBox: {
        auto* list = new QListWidget(parent);
        list->setSortingEnabled(false);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        return list;
    }
    case ControlKind::Static: {
        if (control.style & CS_ICON) {
            auto* icon = new QLabel(parent);
            const auto id = static_cast<unsigned>(std::strtoul(control.text, nullptr, 10));
            icon->setPixmap(loadIconResource(id).pixmap(kIconControlSize));
            return icon;
        }
        auto* label = new QLabel(QString::fromUtf8(control.text), parent);
        label->setAlignment(staticAlignment(control));
        return label;
    }
    }
    return nullptr;
}

} // namespace qvr
