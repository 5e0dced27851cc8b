#include "controls/simple_browser.h"

#include "controls/control_id.h"
#include "controls/web_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHash>
#include <QResizeEvent>

namespace qvr {

namespace {

// The web engine's accessible objects come from code built without run-time type
// information, which the sanitizer's check of virtual calls takes for a wrong type.
#define QVR_CALLS_WEB_ENGINE __attribute__((no_sanitize("vptr")))

class BrowserHost;

// Assistive technology hears of the page through the web engine's accessible objects,
// and the engine's page says it is focused whenever nothing inside it is, whether the
// view has the keyboard or not. So the browser window and everything below it are
// heard through stand-ins that pass on all the engine says but that: they say focused
// only while the view has the keyboard. A stand-in asks for its engine object anew
// each time, by its number, so that an object the engine has dropped leaves it
// invalid rather than dangling; each lives as long as an anchor object of the
// window's, which the accessibility cache watches.
class StandIn final : public QAccessibleInterface {
public:
    StandIn(BrowserHost* host, QAccessible::Id original, QObject* anchor)
        : m_host(host), m_original(original), m_anchor(anchor)
    {
    }

    QAccessibleInterface* original() const { return QAccessible::accessibleInterface(m_original); }
    // `accessible` as a stand-in of `host`'s, or null when it is none. Whether an object
    // is one cannot be asked of its type: the engine's have none to ask.
    static StandIn* of(const QAccessibleInterface* accessible, const BrowserHost* host);

    bool isValid() const override { return m_host && original(); }
    QObject* object() const override { return m_anchor; }
    QWindow* window() const override;
    QAccessibleInterface* focusChild() const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text kind, const QString& text) override;
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

private:
    QPointer<BrowserHost> m_host;
    QAccessible::Id m_original;
    QPointer<QObject> m_anchor;
};

// Keeps the view as large as the window, and speaks for the page to assistive
// technology: focused while the keyboard is in the view.
class BrowserHost final : public QWidget {
public:
    explicit BrowserHost(QWidget* parent) : QWidget(parent)
    {
        static const bool accessible = (QAccessible::installFactory(&accessibleHost), true);
        static_cast<void>(accessible);
    }

    void setView(QWidget* view) { m_view = view; }
    QWidget* view() const { return m_view; }

    bool keyboardInView() const { return m_view && m_view->hasFocus(); }

    // The stand-in of one of the engine's accessible objects; null for null.
    QVR_CALLS_WEB_ENGINE QAccessibleInterface* standInFor(QAccessibleInterface* original)
    {
        if (!original)
            return nullptr;
        if (StandIn* standIn = StandIn::of(original, this))
            return standIn;
        const QAccessible::Id id = QAccessible::uniqueId(original);
        if (const QPointer<QObject> anchor = m_anchors.value(id))
            return QAccessible::queryAccessibleInterface(anchor);
        // Stand-ins of what the engine has dropped go with their anchors.
        for (auto it = m_anchors.begin(); it != m_anchors.end();) {
            if (!it.value() || !QAccessible::accessibleInterface(it.key())) {
                if (it.value())
                    it.value()->deleteLater();
                it = m_anchors.erase(it);
            } else {
                ++it;
            }
        }
        auto* anchor = new QObject(this);
        m_anchors.insert(id, anchor);
        auto* standIn = new StandIn(this, id, anchor);
        QAccessible::registerAccessibleInterface(standIn);
        return standIn;
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (m_view)
            m_view->setGeometry(QRect(QPoint(0, 0), event->size()));
    }

private:
    static QAccessibleInterface* accessibleHost(const QString& className, QObject* object);

    QPointer<QWidget> m_view;
    QHash<QAccessible::Id, QPointer<QObject>> m_anchors;
};

// The browser window as assistive technology sees it: focused while the keyboard is
// in its view, with the view's stand-in as its one child.
class HostAccessible final : public QAccessibleWidget {
public:
    explicit HostAccessible(BrowserHost* host) : QAccessibleWidget(host) {}

    BrowserHost* host() const { return static_cast<BrowserHost*>(widget()); }

    QAccessibleInterface* viewStandIn() const
    {
        QWidget* view = host()->view();
        return view ? host()->standInFor(QAccessible::queryAccessibleInterface(view)) : nullptr;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.focused = host()->keyboardInView();
        return state;
    }
    QAccessibleInterface* focusChild() const override
    {
        QAccessibleInterface* view = host()->keyboardInView() ? viewStandIn() : nullptr;
        QAccessibleInterface* inner = view ? view->focusChild() : nullptr;
        return inner ? inner : view;
    }
    int childCount() const override { return viewStandIn() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override { return index == 0 ? viewStandIn() : nullptr; }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child == viewStandIn() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        QAccessibleInterface* view = viewStandIn();
        return view && view->rect().contains(x, y) ? view : nullptr;
    }
};

QAccessibleInterface* BrowserHost::accessibleHost(const QString& className, QObject* object)
{
    // Asked once for each class the object is of; the host is a plain widget to Qt.
    if (className != QLatin1StringView("QWidget"))
        return nullptr;
    auto* host = dynamic_cast<BrowserHost*>(object);
    return host ? new HostAccessible(host) : nullptr;
}

// Only stand-ins have the window's anchors for objects: the window's other children
// are widgets.
QVR_CALLS_WEB_ENGINE StandIn* StandIn::of(const QAccessibleInterface* accessible, const BrowserHost* host)
{
    QObject* object = accessible ? accessible->object() : nullptr;
    if (!object || object->parent() != host || object->isWidgetType())
        return nullptr;
    return static_cast<StandIn*>(QAccessible::queryAccessibleInterface(object));
}

QWindow* StandIn::window() const
{
    return m_host ? m_host->window()->windowHandle() : nullptr;
}

QVR_CALLS_WEB_ENGINE QAccessibleInterface* StandIn::focusChild() const
{
    QAccessibleInterface* engine = original();
    return m_host && engine && m_host->keyboardInView() ? m_host->standInFor(engine->focusChild()) : nullptr;
}

QVR_CALLS_WEB_ENGINE QAccessibleInterface* StandIn::childAt(int x, int y) const
{
    QAccessibleInterface* engine = original();
    return m_host && engine ? m_host->standInFor(engine->childAt(x, y)) : nullptr;
}

QVR_CALLS_WEB_ENGINE QAccessibleInterface* StandIn::parent() const
{
    QAccessibleInterface* engine = original();
    if (!m_host || !engine)
        return nullptr;
    // The view's own stand-in is the window's child.
    if (m_host->view() && engine->object() == m_host->view())
        return QAccessible::queryAccessibleInterface(m_host.data());
    return m_host->standInFor(engine->parent());
}

QVR_CALLS_WEB_ENGINE QAccessibleInterface* StandIn::child(int index) const
{
    QAccessibleInterface* engine = original();
    return m_host && engine ? m_host->standInFor(engine->child(index)) : nullptr;
}

QVR_CALLS_WEB_ENGINE int StandIn::childCount() const
{
    QAccessibleInterface* engine = original();
    return engine ? engine->childCount() : 0;
}

QVR_CALLS_WEB_ENGINE int StandIn::indexOfChild(const QAccessibleInterface* child) const
{
    QAccessibleInterface* engine = original();
    const StandIn* standIn = m_host ? StandIn::of(child, m_host) : nullptr;
    return engine && standIn ? engine->indexOfChild(standIn->original()) : -1;
}

QVR_CALLS_WEB_ENGINE QString StandIn::text(QAccessible::Text kind) const
{
    QAccessibleInterface* engine = original();
    return engine ? engine->text(kind) : QString();
}

QVR_CALLS_WEB_ENGINE void StandIn::setText(QAccessible::Text kind, const QString& text)
{
    if (QAccessibleInterface* engine = original())
        engine->setText(kind, text);
}

QVR_CALLS_WEB_ENGINE QRect StandIn::rect() const
{
    QAccessibleInterface* engine = original();
    return engine ? engine->rect() : QRect();
}

QVR_CALLS_WEB_ENGINE QAccessible::Role StandIn::role() const
{
    QAccessibleInterface* engine = original();
    return engine ? engine->role() : QAccessible::NoRole;
}

QVR_CALLS_WEB_ENGINE QAccessible::State StandIn::state() const
{
    QAccessibleInterface* engine = original();
    if (!engine) {
        QAccessible::State gone;
        gone.invalid = true;
        return gone;
    }
    QAccessible::State state = engine->state();
    if (!m_host || !m_host->keyboardInView())
        state.focused = false;
    return state;
}

// What the engine's object does besides (its text, its value, its actions) is its own.
QVR_CALLS_WEB_ENGINE void* StandIn::interface_cast(QAccessible::InterfaceType type)
{
    QAccessibleInterface* engine = original();
    return engine ? engine->interface_cast(type) : nullptr;
}

} // namespace

SimpleBrowser::~SimpleBrowser()
{
    destroyWindow();
}

bool SimpleBrowser::Create(const QRect& rect, QWidget* parent, int id, const WebViews& views)
{
    destroyWindow();
    // A widget needs a widget application; without a parent it would be a window of
    // its own.
    if (!parent || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;

    auto* host = new BrowserHost(parent);
    setControlId(host, id);
    host->setFocusPolicy(Qt::NoFocus);
    QWidget* view = views.create(host);
    host->setView(view);
    host->setGeometry(QRect(rect.topLeft(), kCreatedSize));
    view->setGeometry(QRect(QPoint(0, 0), kCreatedSize));
    host->show();

    m_window = host;
    m_view = view;
    m_views = &views;
    return true;
}

bool SimpleBrowser::CreateInPlaceOf(QWidget* parent, int id, const WebViews& views)
{
    QWidget* placeholder = findControl(parent, id);
    if (!placeholder)
        return false;
    const QRect place = placeholder->geometry();
    delete placeholder;
    return Create(place, parent, id, views);
}

void SimpleBrowser::NavigateTo(const std::string& url)
{
    if (m_view)
        m_views->load(m_view, QString::fromStdString(url));
}

void SimpleBrowser::showWindow(bool visible)
{
    if (m_window)
        m_window->setVisible(visible);
}

void SimpleBrowser::moveWindow(const QRect& rect)
{
    if (!m_window)
        return;
    m_window->setGeometry(rect);
    // A hidden window hears of its new size only when it is shown.
    if (m_view)
        m_view->setGeometry(QRect(QPoint(0, 0), rect.size()));
}

void SimpleBrowser::destroyWindow()
{
    delete m_window.data();
}

} // namespace qvr
