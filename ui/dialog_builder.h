#pragma once

#include "res/dialog_templates.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace qvr {

// Makes the widget of one template control; the window decides per control ID
// which class stands for it (see mainWindowControlFactory).
using ControlFactory = std::function<QWidget*(const DialogControl& control, QWidget* parent)>;

// The controls of a template, made as children of `parent` at their template
// places; the parent takes the template's font, size and caption. A control is
// found by ID afterwards through the mark it carries (controls/control_id.h), so
// that one which has taken another's place is found under that place's ID.
class DialogControls {
public:
    void build(const DialogTemplate& dialogTemplate, QWidget* parent, const ControlFactory& factory);

    QWidget* control(int id) const;
    template <class Widget>
    Widget* control(int id) const { return qobject_cast<Widget*>(control(id)); }

private:
    QPointer<QWidget> m_parent;
};

// Icon controls show the icon at this size.
constexpr int kIconControlSize = 32;

// How a static control of the template aligns its text.
Qt::Alignment staticAlignment(const DialogControl& control);

// A plain Qt widget for a control: a push button, a label (showing an icon for
// CS_ICON) or a list widget.
QWidget* makePlainControl(const DialogControl& control, QWidget* parent);

} // namespace qvr
