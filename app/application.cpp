#include "app/application.h"

#include "app/command_line.h"
#include "app/settings.h"
#include "engine/queue_files.h"
#include "engine/request_inbox.h"
#include "engine/window_messages.h"
#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/exe_version.h"
#include "platform/failure_log.h"
#include "platform/handoff.h"
#include "platform/loaded_library.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "res/strings.h"
#include "app/gui_entry.h"
#include "update/auto_updater.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// Beside the queue files: whoever holds it owns them, and notes in it the runtime
// folder where later starts meet its window.
constexpr const char* kQueueLockName = "quavero.lock";

// How long a start that takes over waits for the window it told to end: that
// window gives its workers 5 s to stop.
constexpr std::chrono::seconds kTakeOverWait {8};

std::chrono::milliseconds timeLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(1));
}

// Why `folder` may not hold what others must not plant or read (the queue files, the
// letters of later starts), or empty when it may: it is a folder of this user's that
// nobody else can write in. A folder that may be missing (the inbox, made when first
// needed) may not be a link either: somebody else may have made that name.
std::string folderRefusal(const std::string& folder, bool mayBeMissing)
{
    struct stat st {};
    const int looked = mayBeMissing ? ::lstat(folder.c_str(), &st) : ::stat(folder.c_str(), &st);
    if (looked != 0)
        return mayBeMissing && errno == ENOENT ? std::string() : "it cannot be used (" + errnoText(errno) + ")";
    if (!S_ISDIR(st.st_mode))
        return "it is not a folder";
    if (st.st_uid != ::getuid())
        return "it belongs to another user";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "other users can write in it";
    return {};
}

// Whether `folder`, read from a lock file, is where a window of ours meets later
// starts: a private folder of this user's, as runtimeDirectory() makes them.
bool isMeetingFolder(const std::string& folder)
{
    struct stat st {};
    return folder.starts_with('/') && folder.find('\0') == std::string::npos && folder.find('\n') == std::string::npos
        && ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

} // namespace

std::string storeHostFromEnvironment()
{
    const char* host = std::getenv("QVR_STORE_HOST");
    if (host && isValidStoreHost(host))
        return host;
    return std::string(defaultStoreHost());
}

AppEnvironment AppEnvironment::fromProcess(LibrarySource gui)
{
    return AppEnvironment {{qvr::hivePath(), runtimeDirectory(), storeHostFromEnvironment(), {}}, std::move(gui)};
}

CquaveromfcApp::CquaveromfcApp(AppEnvironment environment)
    : m_environment(std::move(environment))
{
}

bool CquaveromfcApp::InitInstance(const CMyCommandLineInfo& cmdInfo)
{
    const bool otherInstance = detectOtherInstance();

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

    std::string fileName = cmdInfo.m_fileName;
    if (fileName.find(loadString(IDS_REQUEST_MARKER)) == std::string::npos)
        fileName.clear();

    if (cmdInfo.m_bInstall == 1) {
        m_startPath = StartPath::Install;
        runInstallStep();
        return false;
    }

    useOnlyOwnQueueFolders();
    if (!fileName.empty())
        readRequestFile(fileName);
    m_environment.configuration.switchStart = cmdInfo.m_bSwitch == 1;

    const bool switchOver = cmdInfo.m_bSwitch == 1;
    std::string why;
    HandOff handOff = HandOff::NoInstance;
    if (otherInstance && m_environment.configuration.runtimeDir) {
        const auto instanceRuns = [this] { return !m_instanceMutex || m_instanceMutex->openElsewhere(); };
        handOff = handOver(*m_environment.configuration.runtimeDir, switchOver, why, instanceRuns);
    }
    // The runtime folder is that of one login session: a window of another session,
    // on the same queue files, is found through them alone.
    if (handOff == HandOff::NoInstance || (handOff == HandOff::Delivered && switchOver))
        handOff = takeQueueFiles(switchOver, handOff == HandOff::Delivered, why);
    if (handOff == HandOff::Failed) {
        m_startPath = StartPath::HandOffFailed;
        m_exitStatus = kExitNotHandedOver;
        const std::string& request = m_environment.configuration.strings.m_strRequest;
        if (request.empty()) {
            std::fprintf(stderr, "quavero: no window opens: %s.\n", why.c_str());
            return false;
        }
        // Where the running window cannot take it now, it takes it from its inbox
        // within a second, or the next window at its start.
        const FileResult kept =
            RequestInbox(RequestInbox::folderBeside(m_environment.configuration.strings.m_strRawQueuePath))
                .depositRequest(request);
        logFailure("handing the request \"" + request + "\" to the running Quavero", why,
                   kept ? "keeping it in the inbox" : "not keeping it either (" + errnoText(kept.error()) + "); its file is left to be opened again");
        if (kept)
            std::fprintf(stderr, "quavero: the request in %s was not handed over: %s. It is kept, and the "
                                 "running Quavero takes it, or else the next start.\n",
                         fileName.c_str(), why.c_str());
        else
            std::fprintf(stderr, "quavero: the request in %s was not handed over: %s, nor kept (%s). The file "
                                 "is left as it is; open it again once Quavero runs.\n",
                         fileName.c_str(), why.c_str(), kept.reason().c_str());
        return false;
    }
    if (handOff == HandOff::Delivered && !switchOver) {
        m_startPath = StartPath::HandedOver;
        return false;
    }

    m_startPath = StartPath::MainWindow;
    m_environment.configuration.queueOwner = m_queueLock && m_queueLock->owned() ? &*m_queueLock : nullptr;
    m_exitStatus = runMainWindow(cmdInfo);
    return false;
}

std::optional<CquaveromfcApp::FoundWindow> CquaveromfcApp::waitForWindow(const std::string& folder,
                                                                          Clock::time_point deadline,
                                                                          const std::function<bool()>& ownerRuns)
{
    // The other instance may have started a moment ago (two request files opened
    // at once) and not have published its window yet.
    for (;;) {
        const std::uint32_t handle = findWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING));
        if (handle != 0 && IsWindow(folder, handle, timeLeft(deadline)))
            return FoundWindow {handle, true};
        if (!ownerRuns())
            return std::nullopt;
        if (Clock::now() >= deadline)
            return FoundWindow {handle, false};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

CquaveromfcApp::HandOff CquaveromfcApp::handOver(const std::string& folder, bool switchOver, std::string& why,
                                                 const std::function<bool()>& ownerRuns)
{
    // Every message waits for the running window's answer before the next one
    // goes, so the window sees them in this order. When the other instance has
    // ended meanwhile, this one runs instead, with its request. The whole hand-off
    // shares one limit: a window that does not answer keeps nobody waiting long.
    const auto deadline = Clock::now() + m_environment.windowWait;
    const auto found = waitForWindow(folder, deadline, ownerRuns);
    if (!found)
        return HandOff::NoInstance;
    const std::uint32_t handle = found->handle;
    const auto limits = [&] {
        const auto left = timeLeft(deadline);
        return HandoffClientOptions {std::min(left, HandoffClientOptions {}.connect), left};
    };
    // A process that takes over keeps its request itself; the window it ends
    // keeps what it is handed in its raw-queue file, and the request would then
    // be asked for twice.
    const bool handsRequest = !m_environment.configuration.strings.m_strRequest.empty() && !switchOver;
    if (found->reachable) {
        // Only brings the window to the front: whether the request arrived is the
        // answer to its own message below.
        static_cast<void>(sendHandoffMessage(folder, handle, {WM_SYSCOMMAND, SC_RESTORE, 0, 0, {}}, limits()));
        if (handsRequest) {
            std::string data = m_environment.configuration.strings.m_strRequest;
            data.push_back('\0');
            std::string failure;
            const auto taken = sendHandoffMessage(folder, handle, {WM_COPYDATA, 0, 0, COPYDATA_RAW_ENTRY, std::move(data)},
                                                  limits(), &failure);
            // Only a window that said it kept the request has it: one that went away
            // while we waited has not, and then the name is soon free for us.
            if (!taken && otherInstanceEnds(ownerRuns, deadline))
                return HandOff::NoInstance;
            if (!taken || *taken != 1) {
                why = taken ? "the running Quavero could not save it (is the disk full?)"
                    : Clock::now() >= deadline
                    ? "the running Quavero did not answer within " + secondsText(m_environment.windowWait)
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
        static_cast<void>(sendHandoffMessage(folder, handle, {WM_SWITCH_QUIT, 0, ::getpid(), 0, {}}, limits()));
        m_environment.configuration.takesOverFrom = handle;
    }
    return HandOff::Delivered;
}

bool CquaveromfcApp::otherInstanceEnds(const std::function<bool()>& ownerRuns, Clock::time_point handOffEnd)
{
    // A process that dies closes its files one after another: the socket may be
    // gone a moment before the name is. Within the hand-off's own limit, though.
    const auto deadline = std::min(Clock::now() + std::chrono::seconds(2), handOffEnd);
    while (ownerRuns()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

CquaveromfcApp::HandOff CquaveromfcApp::takeQueueFiles(bool switchOver, bool quitSent, std::string& why)
{
    const std::string& rawQueue = m_environment.configuration.strings.m_strRawQueuePath;
    // Without a queue folder there are no queue files to share.
    if (!rawQueue.starts_with('/'))
        return HandOff::NoInstance;
    const std::string folder = parentFolder(rawQueue);
    static_cast<void>(makeFolders(folder, 0700)); // a failure shows as the lock's, below
    m_queueLock = OwnerLock::open(folder + "/" + kQueueLockName);
    if (!m_queueLock) {
        // A folder we cannot write in holds no queue we could save either; the window
        // says so once it runs.
        logFailure("taking the queue files in " + folder, errnoText(errno), "running without knowing who else uses them");
        return HandOff::NoInstance;
    }
    HandOff handOff = HandOff::NoInstance;
    if (!m_queueLock->tryTake() && !quitSent) {
        // Owned by a window this start did not meet in its own runtime folder: that
        // window noted where it meets later starts.
        const std::string ownerFolder = m_queueLock->readNote();
        if (isMeetingFolder(ownerFolder) && ownerFolder != m_environment.configuration.runtimeDir.value_or(""))
            handOff = handOver(ownerFolder, switchOver, why, [this] { return !m_queueLock->tryTake(); });
        if (handOff == HandOff::Failed || (handOff == HandOff::Delivered && !switchOver))
            return handOff;
        quitSent = handOff == HandOff::Delivered;
    }
    // A window told to end by this start lets go once its workers have stopped; one
    // that ended a moment ago has let go already.
    if (m_queueLock->owned() || m_queueLock->takeWithin(quitSent ? kTakeOverWait : std::chrono::seconds(2))) {
        // Also where there is none: a note an earlier owner left would send starts elsewhere.
        if (!m_queueLock->writeNote(m_environment.configuration.runtimeDir.value_or("")))
            logFailure("noting this window in " + m_queueLock->path(), errnoText(errno),
                       "starts from other login sessions keep their requests in the inbox");
        return HandOff::NoInstance;
    }
    why = quitSent ? "the running Quavero did not end within " + secondsText(kTakeOverWait)
                   : "another Quavero runs on the queue files in " + folder
            + ", and it cannot be reached from here (another login session?)";
    return HandOff::Failed;
}

void CquaveromfcApp::useOnlyOwnQueueFolders()
{
    ApplicationStrings& strings = m_environment.configuration.strings;
    const auto refusal = [&](const ApplicationStrings& paths) -> std::pair<std::string, std::string> {
        for (const std::string* file : {&paths.m_strRawQueuePath, &paths.m_strDownloadQueuePath}) {
            if (!file->starts_with('/'))
                continue;
            const std::string folder = parentFolder(*file);
            // A folder that is not there yet is made ours now, before anyone else can.
            static_cast<void>(makeFolders(folder, 0700));
            if (std::string why = folderRefusal(folder, false); !why.empty())
                return {folder, why};
        }
        const std::string inbox = RequestInbox::folderBeside(paths.m_strRawQueuePath);
        if (std::string why = inbox.empty() ? std::string() : folderRefusal(inbox, true); !why.empty())
            return {inbox, why};
        return {};
    };
    const auto [folder, why] = refusal(strings);
    if (folder.empty())
        return;
    strings.m_strRawQueuePath.clear();
    strings.m_strDownloadQueuePath.clear();
    useDefaultQueueFiles(strings, FirstRunFolders::queuesFromEnvironment());
    const auto [fallback, fallbackWhy] = refusal(strings);
    std::string notice = "Quavero does not use the folder\n" + folder + "\nfor its queue: " + why
        + ". Another user could put track requests there, or take yours.\n\n";
    if (fallback.empty() && !strings.m_strRawQueuePath.empty()) {
        notice += "Your queue is kept in\n" + parentFolder(strings.m_strRawQueuePath) + "\ninstead.";
    } else {
        // Nowhere that is ours alone: no queue file is written at all.
        strings.m_strRawQueuePath.clear();
        strings.m_strDownloadQueuePath.clear();
        notice += "Nor can it use " + (fallback.empty() ? std::string("a folder of its own") : fallback + " (" + fallbackWhy + ")")
            + ", so the queue cannot be kept on disk.";
    }
    logFailure("using the queue folder " + folder, why, "using the folder of a first start");
    m_environment.configuration.queueFolderNotice = std::move(notice);
}

bool CquaveromfcApp::detectOtherInstance()
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

void CquaveromfcApp::runInstallStep()
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

void CquaveromfcApp::readRequestFile(const std::string& path)
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

std::string CquaveromfcApp::keepRequestForLater()
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

int CquaveromfcApp::runProbe(const LibrarySource& guiLibrary)
{
    std::string error;
    const auto gui = LoadedLibrary::load(guiLibrary, error);
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

int CquaveromfcApp::endForNoDisplay(const std::string& why)
{
    // Qt would end the process with an abort, and the request with it.
    const std::string request = keepRequestForLater();
    std::fprintf(stderr, "quavero: no display to open the window on (%s)%s\n", why.c_str(), request.c_str());
    return kExitNoWindow;
}

int CquaveromfcApp::runMainWindow(const CMyCommandLineInfo& commandLine)
{
    if (!displayNamed(commandLine.m_platform))
        return endForNoDisplay("DISPLAY and WAYLAND_DISPLAY are not set");
    std::string error;
    const auto gui = LoadedLibrary::load(m_environment.gui, error);
    const auto entry = gui ? reinterpret_cast<GuiEntry>(gui->symbol(kGuiEntryName)) : nullptr;
    if (!entry) {
        // The window part needs libraries that this machine may lack or have broken
        // (Qt, libcurl); the loader's message names the one. The request is not lost
        // with this process: the next start that can open its window takes it.
        const std::string request = keepRequestForLater();
        std::fprintf(stderr, "quavero: cannot open the window: %s%s\n",
                     gui ? "the window part has no entry" : error.c_str(), request.c_str());
        return kExitNoWindow;
    }
    std::string noDisplay;
    const int status = entry(&m_environment.configuration, &commandLine, &noDisplay);
    if (status == kGuiNoDisplayRequestKept) {
        std::fprintf(stderr, "quavero: no display to open the window on (%s); the request is kept for the next start\n",
                     noDisplay.c_str());
        return kExitNoWindow;
    }
    return status == kGuiNoDisplay ? endForNoDisplay(noDisplay) : status;
}

} // namespace qvr
