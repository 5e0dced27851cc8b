#include "controls/web_view.h"

#include <QChildEvent>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace qvr {

namespace {

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

class QtViews final : public WebViews {
public:
    QWidget* create(QWidget* parent) const override
    {
        // The view draws through Qt Quick. With its software renderer the page is
        // painted like any widget, into the window's own surface: an OpenGL one
        // would have Qt make a shown window anew (another X11 id, place and shape)
        // when the view first appears in it, and costs more memory for a page this
        // small. It must be chosen before the first view exists.
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        auto* view = new QWebEngineView(parent);
        view->setFocusPolicy(Qt::ClickFocus);
        view->installEventFilter(new ClickFocusOnly(view));
        view->setContextMenuPolicy(Qt::PreventContextMenu);
        view->settings()->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
        return view;
    }

    void load(QWidget* view, const QString& url) const override
    {
        if (auto* web = qobject_cast<QWebEngineView*>(view))
            web->load(QUrl(url));
    }
};

} // namespace

const WebViews& QtWebEngineViews()
{
    static const QtViews views;
    return views;
}

} // namespace qvr
