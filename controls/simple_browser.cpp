#include "controls/simple_browser.h"

#include "controls/control_id.h"

#include <QApplication>
#include <QChildEvent>
#include <QResizeEvent>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace qvr {

namespace {

// Keeps the view as large as the window.
class BrowserHost final : public QWidget {
public:
    explicit BrowserHost(QWidget* parent) : QWidget(parent) {}

    void setView(QWebEngineView* view) { m_view = view; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (m_view)
            m_view->setGeometry(QRect(QPoint(0, 0), event->size()));
    }

private:
    QPointer<QWebEngineView> m_view;
};

// The view's input goes to a render widget it makes and may replace at any time, and
// that widget accepts focus from the keyboard as well; each one is held to focus by
// click alone before it is first shown.
class ClickFocusOnly final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ChildPolished) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType())
                static_cast<QWidget*>(child)->setFocusPolicy(Qt::ClickFocus);
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

SimpleBrowser::~SimpleBrowser()
{
    DestroyWindow();
}

bool SimpleBrowser::Create(const QRect& rect, QWidget* parent, int id)
{
    DestroyWindow();
    // A widget needs a widget application; without a parent it would be a window of
    // its own.
    if (!parent || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;

    auto* host = new BrowserHost(parent);
    SetControlId(host, id);
    host->setFocusPolicy(Qt::NoFocus);
    auto* view = new QWebEngineView(host);
    view->setFocusPolicy(Qt::ClickFocus);
    view->installEventFilter(new ClickFocusOnly(view));
    view->setContextMenuPolicy(Qt::PreventContextMenu);
    view->settings()->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    host->setView(view);
    host->setGeometry(QRect(rect.topLeft(), kCreatedSize));
    view->setGeometry(QRect(QPoint(0, 0), kCreatedSize));
    host->show();

    m_window = host;
    m_view = view;
    return true;
}

bool SimpleBrowser::CreateInPlaceOf(QWidget* parent, int id)
{
    QWidget* placeholder = FindControl(parent, id);
    if (!placeholder)
        return false;
    const QRect place = placeholder->geometry();
    delete placeholder;
    return Create(place, parent, id);
}

void SimpleBrowser::NavigateTo(const std::string& url)
{
    if (m_view)
        m_view->load(QUrl(QString::fromStdString(url)));
}

void SimpleBrowser::ShowWindow(bool visible)
{
    if (m_window)
        m_window->setVisible(visible);
}

void SimpleBrowser::MoveWindow(const QRect& rect)
{
    if (!m_window)
        return;
    m_window->setGeometry(rect);
    // A hidden window hears of its new size only when it is shown.
    if (m_view)
        m_view->setGeometry(QRect(QPoint(0, 0), rect.size()));
}

QWebEngineView* SimpleBrowser::view() const
{
    return m_view;
}

void SimpleBrowser::DestroyWindow()
{
    delete m_window.data();
}

} // namespace qvr
