#include "app/application.h"

#include "app/command_line.h"
#include "app/settings.h"
#include "engine/queue_files.h"
#include "engine/request_inbox.h"
#include "engine/window_messages.h"
#include "platform/exclusive_file.h"
#include "platform/exe_version.h"
#include "platform/failure_log.h"
#include "platform/handoff.h"
#include "platform/memory_library.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "res/strings.h"
#include "app/gui_entry.h"
#include "update/auto_updater.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace qvr {

namespace {

// A browser plug-in that Windows releases of the program installed; an install
// over such a release removes the file if it is still there.
constexpr const char* kLegacyPluginName = "quavero_ieplug.dll";

} // namespace

std::string storeHostFromEnvironment()
{
    const char* host = std::getenv("QVR_STORE_HOST");
    if (host && isValidStoreHost(host))
        return host;
    return std::string(defaultStoreHost());
}

AppEnvironment AppEnvironment::fromProcess(std::string_view guiImage)
{
    return AppEnvironment {{qvr::hivePath(), runtimeDirectory(), storeHostFromEnvironment(), {}}, guiImage};
}

CquaveromfcApp::CquaveromfcApp(AppEnvironment environment)
    : m_environment(std::move(environment))
{
}

bool CquaveromfcApp::InitInstance(int argc, char** argv)
{
    const bool otherInstance = DetectOtherInstance();

    // A program installed for every user by a package meets users who never ran an
    // install step: the first start does what that step would have done.
    const std::string& hive = m_environment.configuration.hivePath;
    m_environment.configuration.settingsNotice = renewUnreadableSettings(hive, m_environment.configuration.strings);
    if (!hive.empty() && !pathExists(hive) && !writeFirstRunSettings(hive, FirstRunFolders::fromEnvironment()))
        std::fprintf(stderr, "quavero: could not write the settings file %s\n", hive.c_str());
    loadSettings(Registry(m_environment.configuration.hivePath), m_environment.configuration.strings);
    // Settings that name no queue files (hand-made, damaged, or unreadable) get
    // those of a first start: a request must be kept somewhere, and never in
    // whatever folder the program happened to be started from.
    useDefaultQueueFiles(m_environment.configuration.strings, FirstRunFolders::queuesFromEnvironment());

    CMyCommandLineInfo cmdInfo;
    parseCommandLine(argc, argv, cmdInfo);

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
    m_environment.configuration.switchStart = cmdInfo.m_bSwitch == 1;

    if (otherInstance) {
        std::string why;
        const HandOff handOff = HandOver(cmdInfo.m_bSwitch == 1, why);
        if (handOff == HandOff::Failed) {
            // Where the running window cannot take it now, the next window will:
            // its inbox is read at every start.
            const std::string& request = m_environment.configuration.strings.m_strRequest;
            const FileResult kept =
                RequestInbox(RequestInbox::folderBeside(m_environment.configuration.strings.m_strRawQueuePath))
                    .depositRequest(request);
            logFailure("handing the request \"" + request + "\" to the running Quavero", why,
                       kept ? "keeping it for the next start" : "not keeping it either (" + errnoText(kept.error()) + "); its file is left to be opened again");
            if (kept)
                std::fprintf(stderr, "quavero: the request in %s was not handed over: %s. It is kept, and the next "
                                     "start of Quavero takes it.\n",
                             fileName.c_str(), why.c_str());
            else
                std::fprintf(stderr, "quavero: the request in %s was not handed over: %s, nor kept (%s). The file "
                                     "is left as it is; open it again once Quavero runs.\n",
                             fileName.c_str(), why.c_str(), kept.reason().c_str());
            m_startPath = StartPath::HandOffFailed;
            m_exitStatus = kExitNotHandedOver;
            return false;
        }
        if (handOff == HandOff::Delivered && cmdInfo.m_bSwitch != 1) {
            m_startPath = StartPath::HandedOver;
            return false;
        }
    }

    m_startPath = StartPath::MainWindow;
    m_exitStatus = RunMainWindow(argc, argv);
    return false;
}

std::optional<CquaveromfcApp::FoundWindow> CquaveromfcApp::WaitForWindow()
{
    // The other instance may have started a moment ago (two request files opened
    // at once) and not have published its window yet.
    const std::string& folder = *m_environment.configuration.runtimeDir;
    const auto deadline = std::chrono::steady_clock::now() + m_environment.windowWait;
    for (;;) {
        const std::uint32_t handle = findWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING));
        if (handle != 0 && IsWindow(folder, handle))
            return FoundWindow {handle, true};
        if (m_instanceMutex && !m_instanceMutex->openElsewhere())
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline)
            return FoundWindow {handle, false};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

CquaveromfcApp::HandOff CquaveromfcApp::HandOver(bool switchOver, std::string& why)
{
    // Every message waits for the running window's answer before the next one
    // goes, so the window sees them in this order. When the other instance has
    // ended meanwhile, this one runs instead, with its request.
    const auto found = WaitForWindow();
    if (!found)
        return HandOff::NoInstance;
    const std::string& folder = *m_environment.configuration.runtimeDir;
    const std::uint32_t handle = found->handle;
    // A process that takes over keeps its request itself; the window it ends
    // keeps what it is handed in its raw-queue file, and the request would then
    // be asked for twice.
    const bool handsRequest = !m_environment.configuration.strings.m_strRequest.empty() && !switchOver;
    if (found->reachable) {
        // Only brings the window to the front: whether the request arrived is the
        // answer to its own message below.
        static_cast<void>(sendHandoffMessage(folder, handle, {WM_SYSCOMMAND, SC_RESTORE, 0, 0, {}}));
        if (handsRequest) {
            std::string data = m_environment.configuration.strings.m_strRequest;
            data.push_back('\0');
            std::string failure;
            const auto taken = sendHandoffMessage(folder, handle, {WM_COPYDATA, 0, 0, COPYDATA_RAW_ENTRY, std::move(data)},
                                                  {}, &failure);
            // Only a window that said it kept the request has it: one that went away
            // while we waited has not, and then the name is soon free for us.
            if (!taken && OtherInstanceEnds())
                return HandOff::NoInstance;
            if (!taken || *taken != 1) {
                why = taken ? "the running Quavero could not save it (is the disk full?)"
                            : "the running Quavero did not answer (" + failure + ")";
                return HandOff::Failed;
            }
        }
    } else if (handsRequest) {
        why = "the running Quavero cannot be reached";
        return HandOff::Failed;
    }
    if (switchOver && handle != 0) {
        // The window whose update started this one waits for WM_TAKEN_OVER instead
        // (tellTakenOver), so its answer here changes nothing; this start runs either way.
        static_cast<void>(sendHandoffMessage(folder, handle, {WM_SWITCH_QUIT, 0, ::getpid(), 0, {}}));
        m_environment.configuration.takesOverFrom = handle;
    }
    return HandOff::Delivered;
}

bool CquaveromfcApp::OtherInstanceEnds()
{
    // A process that dies closes its files one after another: the socket may be
    // gone a moment before the name is.
    if (!m_instanceMutex)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (m_instanceMutex->openElsewhere()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool CquaveromfcApp::DetectOtherInstance()
{
    if (!m_environment.configuration.runtimeDir)
        return false;
    NamedMutex::Failure failure = NamedMutex::Failure::None;
    m_instanceMutex = NamedMutex::create(*m_environment.configuration.runtimeDir, loadString(IDS_INSTANCE_MUTEX), &failure);
    // A name we may not open is somebody's, as Windows says of a mutex it
    // denies: counting ourselves alone would run a second window on the same
    // queue files.
    return m_instanceMutex ? m_instanceMutex->alreadyExisted() : failure == NamedMutex::Failure::AccessDenied;
}

void CquaveromfcApp::RunInstallStep()
{
    // With no install folder there is no plug-in to look for; the bare name would
    // point at the root of the file system.
    if (!m_environment.configuration.strings.m_strDirectory.empty()) {
        const std::string plugin = m_environment.configuration.strings.m_strDirectory + "/" + kLegacyPluginName;
        if (pathExists(plugin))
            ::unlink(plugin.c_str());
    }

    if (m_environment.configuration.strings.m_strInstallationId.empty()) {
        const std::string id = newInstallationId();
        const long written = id.empty() ? RegSuccess
                                        : writeStringValue(Registry(m_environment.configuration.hivePath), clientKeyPath(), "GUID", id);
        if (id.empty() || written != RegSuccess)
            logFailure("storing a new installation id in " + m_environment.configuration.hivePath,
                       id.empty() ? "the system gave no random bytes" : registryErrorText(written),
                       "the next install step tries again");
        m_environment.configuration.strings.m_strInstallationId = id;
    }
}

void CquaveromfcApp::ReadRequestFile(const std::string& path)
{
    if (!pathExists(path))
        return;
    if (auto line = readFirstLineExclusive(path, kMaxRequestBytes)) {
        // The request travels on as a C string, so it ends at a NUL.
        line->resize(::strnlen(line->c_str(), line->size()));
        m_environment.configuration.strings.m_strRequest = std::move(*line);
    }
}

bool displayNamed(const std::string& platformOption)
{
    // A platform chosen by name (offscreen, vnc, eglfs...) needs no display server.
    if (!platformOption.empty())
        return true;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

std::string CquaveromfcApp::KeepRequestForLater()
{
    const ApplicationStrings& strings = m_environment.configuration.strings;
    if (strings.m_strRequest.empty())
        return {};
    // The request file is left as it was, so the user still has it.
    const FileResult kept = appendRawQueue(strings.m_strRequest, strings.m_strRawQueuePath);
    return kept ? "; the request is kept for the next start"
                : "; the request could not be kept (" + kept.reason()
            + "): open its file again once the window can open";
}

int CquaveromfcApp::Probe(std::string_view guiImage)
{
    std::string error;
    const auto gui = MemoryLibrary::load(kGuiLibraryName, guiImage, error);
    const auto version = gui ? readFileVersion(modulePath()) : std::nullopt;
    if (gui && !gui->symbol(kGuiEntryName))
        error = "the window part has no entry";
    else if (gui && !version)
        error = "it carries no version";
    if (gui && error.empty()) {
        // What the updater that runs this probe checks: that this is the program, of
        // the version it verified.
        std::fputs(probeAnswer(fileVersionText(*version)).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kExitProbeFailed;
    }
    std::fprintf(stderr, "quavero: this program cannot run: %s\n", error.c_str());
    return kExitProbeFailed;
}

int CquaveromfcApp::NoDisplay(const std::string& why)
{
    // Qt would end the process with an abort, and the request with it.
    const std::string request = KeepRequestForLater();
    std::fprintf(stderr, "quavero: no display to open the window on (%s)%s\n", why.c_str(), request.c_str());
    return kExitNoWindow;
}

int CquaveromfcApp::RunMainWindow(int argc, char** argv)
{
    CMyCommandLineInfo commandLine;
    parseCommandLine(argc, argv, commandLine);
    if (!displayNamed(commandLine.m_strPlatform))
        return NoDisplay("DISPLAY and WAYLAND_DISPLAY are not set");
    std::string error;
    const auto gui = MemoryLibrary::load(kGuiLibraryName, m_environment.guiImage, error);
    const auto entry = gui ? reinterpret_cast<GuiEntry>(gui->symbol(kGuiEntryName)) : nullptr;
    if (!entry) {
        // The window part needs libraries that this machine may lack or have broken
        // (Qt, libcurl); the loader's message names the one. The request is not lost
        // with this process: the next start that can open its window takes it.
        const std::string request = KeepRequestForLater();
        std::fprintf(stderr, "quavero: cannot open the window: %s%s\n",
                     gui ? "the window part has no entry" : error.c_str(), request.c_str());
        return kExitNoWindow;
    }
    std::string noDisplay;
    const int status = entry(&m_environment.configuration, argc, argv, &noDisplay);
    return status == kGuiNoDisplay ? NoDisplay(noDisplay) : status;
}

} // namespace qvr
