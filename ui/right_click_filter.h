#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace qvr {

// True when `receiver` is the widget `target` or a widget inside it, however deep.
// Anything that is not a widget, and any receiver while there is no target, is outside.
bool liesWithin(const QObject* receiver, const QWidget* target);

// Installed on the application object, it swallows right-button presses and
// double-clicks meant for the target (the main window's browser) or anything inside
// it, so that the page never sees them and never opens its context menu. Everything
// else passes. Without a target, or once it is gone, nothing is swallowed.
class RightClickFilter final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    void setTarget(QWidget* target) { m_target = target; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_target;
};

} // namespace qvr
