#include "controls/web_engine.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace qvr {

void PrepareWebEngine()
{
    const bool root = ::geteuid() == 0;
    // A small page renders as fast in software, at no cost in memory. The sandbox is
    // switched off by a flag where possible: the variable for it makes Qt say so on
    // every start. The flags reach what we start; a new version of ourselves, started
    // by an update, finds ours already there.
    const char* flags = ::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags)
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", root ? "--disable-gpu --no-sandbox" : "--disable-gpu", 1);
    else if (root && !::strstr(flags, "--no-sandbox"))
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    // Qt WebEngine describes its set-up on every start; QT_LOGGING_RULES still wins.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace qvr
