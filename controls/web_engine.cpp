#include "controls/web_engine.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QOpenGLContext>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// Qt's own (QtGui exports it for Qt Quick and Qt WebEngine): what the application
// object would set when asked to share OpenGL contexts before it exists.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace qvr {

void prepareWebEngine()
{
    const bool root = ::geteuid() == 0;
    // A small page renders as fast in software, at no cost in memory. The sandbox is
    // switched off by a flag where possible: the variable for it makes Qt say so on
    // every start. Without the sandbox Chromium needs no zygote process to start its
    // renderer from, which saves that process's memory. The flags reach what we
    // start; a new version of ourselves, started by an update, finds ours already
    // there.
    const char* flags = ::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags)
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", root ? "--disable-gpu --no-sandbox --no-zygote" : "--disable-gpu", 1);
    else if (root && !::strstr(flags, "--no-sandbox"))
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // Qt WebEngine describes its set-up on every start; QT_LOGGING_RULES still wins.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

void prepareWebEngineLoad()
{
    if (!qGuiApp || QOpenGLContext::globalShareContext())
        return;
    auto* context = new QOpenGLContext(qGuiApp);
    if (!context->create()) {
        delete context;
        return;
    }
    qt_gl_set_global_share_context(context);
    QObject::connect(context, &QObject::destroyed, [] { qt_gl_set_global_share_context(nullptr); });
}

} // namespace qvr
