#include "controls/simple_browser.h"

#include "controls/control_id.h"
#include "controls/web_view.h"

#include <QApplication>
#include <QResizeEvent>

namespace qvr {

namespace {

// Keeps the view as large as the window.
class BrowserHost final : public QWidget {
public:
    explicit BrowserHost(QWidget* parent) : QWidget(parent) {}

    void setView(QWidget* view) { m_view = view; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        if (m_view)
            m_view->setGeometry(QRect(QPoint(0, 0), event->size()));
    }

private:
    QPointer<QWidget> m_view;
};

} // namespace

SimpleBrowser::~SimpleBrowser()
{
    DestroyWindow();
}

bool SimpleBrowser::Create(const QRect& rect, QWidget* parent, int id, const WebViews& views)
{
    DestroyWindow();
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

void SimpleBrowser::DestroyWindow()
{
    delete m_window.data();
}

} // namespace qvr
