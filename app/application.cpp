#include "app/application.h"

#include "app/command_line.h"
#include "app/settings.h"
#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "platform/random.h"
#include "platform/registry.h"
#include "res/strings.h"
#include "ui/main_window.h"
#include "platform/http.h"

#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace qvr {

namespace {

// A browser plug-in that Windows releases of the program installed; an install
// over such a release removes the file if it is still there.
constexpr const char* kLegacyPluginName = "quavero_ieplug.dll";

} // namespace

AppEnvironment AppEnvironment::fromProcess()
{
    return AppEnvironment {qvr::hivePath(), runtimeDirectory(), storeHostFromEnvironment()};
}

CquaveromfcApp::CquaveromfcApp(AppEnvironment environment)
    : m_environment(std::move(environment))
{
}

bool CquaveromfcApp::InitInstance(int argc, char** argv)
{
    const bool otherInstance = DetectOtherInstance();

    LoadSettings(Registry(m_environment.hivePath), *this);

    CMyCommandLineInfo cmdInfo;
    ParseCommandLine(argc, argv, cmdInfo);

    std::string fileName = cmdInfo.m_strFileName;
    if (fileName.find(loadString(IDS_REQUEST_MARKER)) == std::string::npos)
        fileName.clear();

    if (cmdInfo.m_bInstall == 1) {
        m_startPath = StartPath::Install;
        RunInstallStep();
        return false;
    }

    if (!fileName.empty())
        ReadRequestFile(fileName);

    if (otherInstance) {
        // Handing the request to the running window (restore, request, and with
        // "switch" the request to quit) needs the hand-off channel, which this
        // build does not have yet; without a window to reach the request is
        // dropped, as it is when the running window cannot be found.
        if (cmdInfo.m_bSwitch != 1) {
            m_startPath = StartPath::HandedOver;
            return false;
        }
    }

    m_startPath = StartPath::MainWindow;
    RunMainWindow(argc, argv);
    return false;
}

bool CquaveromfcApp::DetectOtherInstance()
{
    if (!m_environment.runtimeDir)
        return false;
    m_instanceMutex = NamedMutex::create(*m_environment.runtimeDir, loadString(IDS_INSTANCE_MUTEX));
    return m_instanceMutex && m_instanceMutex->alreadyExisted();
}

void CquaveromfcApp::RunInstallStep()
{
    // With no install folder there is no plug-in to look for; the bare name would
    // point at the root of the file system.
    if (!m_strDirectory.empty()) {
        const std::string plugin = m_strDirectory + "/" + kLegacyPluginName;
        if (pathExists(plugin))
            ::unlink(plugin.c_str());
    }

    if (m_strInstallationId.empty()) {
        std::string id;
        if (const auto bytes = randomGuidBytes())
            id = FormatInstallationId(GuidFromBytes(*bytes));
        if (!id.empty())
            WriteStringValue(Registry(m_environment.hivePath), ClientKeyPath(), "GUID", id);
        m_strInstallationId = id;
    }
}

void CquaveromfcApp::ReadRequestFile(const std::string& path)
{
    if (!pathExists(path))
        return;
    if (auto line = readFirstLineExclusive(path, kMaxRequestBytes)) {
        // The request travels on as a C string, so it ends at a NUL.
        line->resize(::strnlen(line->c_str(), line->size()));
        m_strRequest = std::move(*line);
    }
}

void CquaveromfcApp::RunMainWindow(int argc, char** argv)
{
    int qtArgc = argc;
    QApplication application(qtArgc, argv);
    QCoreApplication::setOrganizationName(QString::fromStdString(loadString(IDS_PRODUCT_NAME)));
    QCoreApplication::setApplicationName(QString::fromStdString(loadString(IDS_APP_TITLE)));

    // Without the shared folder the gates still work between our own threads,
    // in a folder of this process's own.
    const std::optional<TempFolder> privateGates =
        m_environment.runtimeDir ? std::nullopt : TempFolder::create("quavero-gates");
    const std::string gateFolder = m_environment.runtimeDir ? *m_environment.runtimeDir
        : privateGates                                      ? privateGates->path()
                                                            : std::string();

    MainWindowEnvironment environment;
    environment.storeHost = m_environment.storeHost;
    environment.gateFolder = gateFolder;
    environment.http = curlHttpClientFactory();
    CquaveromfcDlg dialog(*this, std::move(environment));
    dialog.DoModal();
}

} // namespace qvr
