#include "controls/web_view.h"

#include <QChildEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QUrl>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineQuotaRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
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

// The few dialogs that the view makes for a page without asking the page object
// first (in this Qt, the colour chooser of a colour field) are children of the view.
// Each is cancelled as soon as it is to show, and shows nowhere meanwhile. Nor may it
// be modal: a modal dialog that never shows leaves the window blocked when it goes.
class NoDialogs final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ChildPolished) {
            if (auto* dialog = qobject_cast<QDialog*>(static_cast<QChildEvent*>(event)->child()))
                dialog->installEventFilter(this);
        } else if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<QDialog*>(watched)) {
                dialog->setWindowModality(Qt::NonModal);
                dialog->setAttribute(Qt::WA_DontShowOnScreen);
                QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// The page is part of the window, not a browser of its own, and whoever serves it
// must not be able to take the window from the user: a page's dialogs are modal to
// the window, and a page that opens one after another leaves the user no way even to
// close it. So nothing the page does opens a window or a dialog, starts another
// program or puts a question to the user. What it asks gets the answer of a user who
// says no at once: an alert is gone as soon as it comes, a confirmation is refused, a
// prompt cancelled, no file is chosen, and every permission, full screen, window and
// download is refused; a print does nothing. Only its wish to stay when it is left
// goes unheard, so that it cannot keep the view from going elsewhere.
class GuardedPage final : public QWebEnginePage {
public:
    explicit GuardedPage(QObject* parent) : QWebEnginePage(parent)
    {
        QWebEngineSettings* rules = settings();
        rules->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        rules->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        rules->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
        rules->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
        rules->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
        rules->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
        // Unanswered, a permission stays asked for as long as the page lives.
        connect(this, &QWebEnginePage::featurePermissionRequested, this,
                [this](const QUrl& origin, Feature feature) { setFeaturePermission(origin, feature, PermissionDeniedByUser); });
        connect(this, &QWebEnginePage::fullScreenRequested, this, [](QWebEngineFullScreenRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
                [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::quotaRequested, this, [](QWebEngineQuotaRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
                [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
        // The profile is the process's; this page's downloads are the ones to stop.
        connect(profile(), &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest* download) {
            if (download->page() == this)
                download->cancel();
        });
    }

protected:
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override { return {}; }
    void javaScriptAlert(const QUrl&, const QString&) override {}
    // The engine asks whether to leave a page that wants to stay as a confirmation in
    // words of its own.
    bool javaScriptConfirm(const QUrl&, const QString& message) override
    {
        return message
            == QCoreApplication::translate("QWebEnginePage",
                                           "Are you sure you want to leave this page? Changes that you made may not be saved.");
    }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    // Only to what the view shows itself: an address of another kind (mailto: and the
    // like) would be handed to whatever program the desktop has for it.
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        const QString scheme = url.scheme();
        return scheme == u"http" || scheme == u"https" || scheme == u"data" || scheme == u"blob" || scheme == u"about";
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
        view->setPage(new GuardedPage(view));
        view->setFocusPolicy(Qt::ClickFocus);
        view->installEventFilter(new ClickFocusOnly(view));
        view->installEventFilter(new NoDialogs(view));
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

const WebViews& qtWebEngineViews()
{
    static const QtViews views;
    return views;
}

} // namespace qvr
