#include "app/gui_entry.h"

#include "app/command_line.h"
#include "app/settings.h"
#include "app/window_platform.h"

#include "controls/web_engine.h"
#include "controls/web_view.h"
#include "engine/request_inbox.h"
#include "platform/http.h"
#include "platform/loaded_library.h"
#include "platform/paths.h"
#include "res/strings.h"
#include "ui/main_window.h"
#include "ui/radio_panel.h"
#include "ui/right_click_filter.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <vector>

#ifndef QVR_WINDOW_LIBRARY_FOLDER
// The web library inside this one (embedded_web.S).
extern "C" const char qvr_web_image_begin[];
extern "C" const char qvr_web_image_end[];
#endif

namespace qvr {

namespace {

// Carried inside this library, or, in a distribution's build, a file beside it.
LibrarySource webLibrary()
{
#ifdef QVR_WINDOW_LIBRARY_FOLDER
    return {kWebLibraryName, {}, installedLibraryPath(QVR_WINDOW_LIBRARY_FOLDER, kWebLibraryName)};
#else
    return {kWebLibraryName,
            std::string_view(qvr_web_image_begin, static_cast<std::size_t>(qvr_web_image_end - qvr_web_image_begin)),
            {}};
#endif
}

// Loads the web library when first asked, and again on a later ask when it failed:
// a click on the radio prompt tries again. Lives as long as the window.
class WebLibrary {
public:
    const WebViews* views()
    {
        if (!m_library) {
            prepareWebEngineLoad();
            std::string error;
            m_library = LoadedLibrary::load(webLibrary(), error);
            // Qt WebEngine may be missing or broken on this machine; the window
            // goes on with its prompt.
            if (!m_library)
                std::fprintf(stderr, "quavero: cannot show the radio page: %s\n", error.c_str());
        }
        const auto entry = m_library ? reinterpret_cast<WebEntry>(m_library->symbol(kWebEntryName)) : nullptr;
        return entry ? entry() : nullptr;
    }

private:
    std::optional<LoadedLibrary> m_library;
};

int runGui(const Configuration& startConfiguration, const CMyCommandLineInfo& commandLine, std::string& noDisplay)
{
    // Before Qt, which would abort on a platform it cannot open.
    std::string platform = commandLine.m_platform;
    DisplayHold display;
    if (auto problem = chooseWindowPlatform(platform, display)) {
        noDisplay = std::move(*problem);
        return kGuiNoDisplay;
    }
    // In the inbox before Qt starts, which aborts the process on a display it loses:
    // the window takes it from there after what earlier starts left, and a start
    // that never gets to its window leaves it to the next one. Where the inbox
    // cannot keep it, the window saves it itself, or says why not.
    Configuration configuration = startConfiguration;
    const std::string& request = configuration.strings.m_strRequest;
    const bool deposited = !request.empty()
        && RequestInbox(RequestInbox::folderBeside(configuration.strings.m_strRawQueuePath)).depositRequest(request);
    if (deposited)
        configuration.strings.m_strRequest.clear();
    // Qt is given only what is meant for it: it would take a request file named like
    // one of its options for the option. The platform goes on its command line rather
    // than into the environment, which the programs the window starts (the desktop's
    // opener) would inherit.
    std::vector<std::string> qtArguments {commandLine.m_programName.empty() ? "quavero" : commandLine.m_programName};
    if (!platform.empty())
        qtArguments.insert(qtArguments.end(), {"-platform", platform});
    if (!commandLine.m_session.empty())
        qtArguments.insert(qtArguments.end(), {"-session", commandLine.m_session});
    std::vector<char*> qtArgv;
    for (std::string& argument : qtArguments)
        qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArguments.size());
    // Before any thread exists.
    prepareWebEngine();
    const CurlGlobal curl;
    QApplication application(qtArgc, qtArgv.data());
    display.reset();  // Qt has its own connection now
    // A platform that opened without a screen (a frame buffer that is not there) has
    // nowhere to put the window.
    if (QGuiApplication::screens().isEmpty()) {
        noDisplay = "Qt's " + QGuiApplication::platformName().toStdString() + " platform has no screen";
        return deposited ? kGuiNoDisplayRequestKept : kGuiNoDisplay;
    }
    // Keeps right clicks away from the window's browser once the window names it.
    RightClickFilter rightClicks;
    application.installEventFilter(&rightClicks);
    QCoreApplication::setOrganizationName(QString::fromStdString(loadString(IDS_PRODUCT_NAME)));
    QCoreApplication::setApplicationName(QString::fromStdString(loadString(IDS_APP_TITLE)));

    // Without the shared folder the gates still work between our own threads,
    // in a folder of this process's own.
    const std::optional<std::string>& runtimeDir = configuration.runtimeDir;
    const std::optional<TempFolder> privateGates = runtimeDir ? std::nullopt : TempFolder::create("quavero-gates");
    const std::string gateFolder = runtimeDir ? *runtimeDir : privateGates ? privateGates->path() : std::string();

    WebLibrary web;
    MainWindowEnvironment environment;
    environment.workers.gateFolder = gateFolder;
    environment.workers.http = curlHttpClientFactory();
    // Nothing is seen on the offscreen platform, and Qt WebEngine finds no graphics
    // there: the radio panel goes without its browser.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        environment.webViews = [&web] { return web.views(); };
    environment.radioHttp = curlHttpClientFactory(radioCheckOptions());
    environment.rightClicks = &rightClicks;
    environment.writeDownloadFolder = [hive = configuration.hivePath](const std::string& folder) {
        const long written = writeStringValue(Registry(hive), clientKeyPath(), "DownloadFolder", folder);
        return written == RegSuccess ? SettingResult::ok() : SettingResult::failed(registryErrorText(written));
    };
    // Where a distribution updates the program, or the user could not replace it,
    // the store is never asked: a Yes could do nothing.
    if (QVR_SELF_UPDATE && canReplaceExecutable(modulePath())) {
        SelfUpdateEnvironment update;
        update.updater.http = curlHttpClientFactory(versionListOptions());
        update.updater.download = curlHttpClientFactory(programDownloadOptions());
        environment.selfUpdate = std::move(update);
    }
    CquaveromfcDlg dialog(configuration, std::move(environment));
    dialog.doModal();
    if (!dialog.workersEnded()) {
        // A worker stuck where no request reaches it still runs code of this
        // library with libcurl and the window's state; unwinding would pull them
        // from under it. What must survive is on disk by now (every file we write
        // is replaced whole), so the process ends here, saying it did not end well.
        std::_Exit(kExitWorkersStuck);
    }
    return 0;
}

} // namespace
} // namespace qvr

extern "C" __attribute__((visibility("default"))) int qvr_run_gui(const qvr::Configuration* configuration,
                                                                 const qvr::CMyCommandLineInfo* commandLine,
                                                                 std::string* noDisplay)
{
    return qvr::runGui(*configuration, *commandLine, *noDisplay);
}
