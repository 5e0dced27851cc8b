#pragma once

#include "app/command_line.h"
#include "platform/loaded_library.h"
#include "platform/named_mutex.h"
#include "engine/configuration.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// $QVR_STORE_HOST when it is set and valid, else the compiled-in host.
std::string storeHostFromEnvironment();

// Whether the environment names a display, or it or the command line (`platformOption`,
// its -platform) a Qt platform that may need none.
bool displayNamed(const std::string& platformOption);

// What the process starts with: where it finds what it shares with the rest of the
// system (the configuration, whose settings the start then reads), and its window.
struct AppEnvironment {
    Configuration configuration;
    LibrarySource gui {};                   // the window library
    // How long a second start waits for the running instance to show its window.
    std::chrono::milliseconds windowWait {10000};

    static AppEnvironment fromProcess(LibrarySource gui);
};

// The process: decides at start-up whether it installs, hands its request to the
// instance that already runs, or becomes the running instance itself, and holds
// the configuration, with the settings and the request, that the rest of the
// program reads.
class CquaveromfcApp {
public:
    // HandOffFailed: another instance runs, but the request could not be given to it.
    enum class StartPath { NotStarted, Install, HandedOver, HandOffFailed, MainWindow };

    // A request line longer than this is not a request the store would send.
    static constexpr std::size_t kMaxRequestBytes = 64 * 1024;

    explicit CquaveromfcApp(AppEnvironment environment);
    virtual ~CquaveromfcApp() = default;
    CquaveromfcApp(CquaveromfcApp&&) = default;
    CquaveromfcApp& operator=(CquaveromfcApp&&) = default;

    // The process's exit status when the running instance did not take the request
    // (it could not save it, or it went away without answering and left the name
    // taken); the request file stays for the user to open again.
    static constexpr int kExitNotHandedOver = 1;
    // The process's exit status when its window could not be opened at all (no
    // display, or a library of the window part is missing or broken).
    static constexpr int kExitNoWindow = 2;

    // The process's exit status when a run with kProbeSwitch found that it cannot run.
    static constexpr int kExitProbeFailed = 4;

    // The run with kProbeSwitch: whether this executable can open its window part
    // (the library it carries loads and has its entry) and reads its own version,
    // without opening a window or touching the settings, the queues, the instance
    // lock or the runtime folder. 0, or kExitProbeFailed with one line on stderr.
    static int runProbe(const LibrarySource& gui);

    // The whole life of the process, on the command line main parsed. Always false:
    // there is nothing to run after it.
    bool InitInstance(const CMyCommandLineInfo& commandLine);

    StartPath startPath() const noexcept { return m_startPath; }
    const Configuration& configuration() const noexcept { return m_environment.configuration; }
    const ApplicationStrings& strings() const noexcept { return m_environment.configuration.strings; }
    // What the process ends with: 0 once its path ran as it should.
    int exitStatus() const noexcept { return m_exitStatus; }

protected:
    // Starts the GUI framework and runs the main window to its end; the exit status.
    virtual int runMainWindow(const CMyCommandLineInfo& commandLine);

private:
    using Clock = std::chrono::steady_clock;

    bool detectOtherInstance();
    enum class HandOff { Delivered, NoInstance, Failed };
    // Hands over to the window published in the runtime folder `folder`, within
    // windowWait all told. NoInstance when there turned out to be no other instance
    // to hand over to (`ownerRuns` said it ended, perhaps while we talked to it);
    // Failed, with `why` said, when the request could not be given to the one that runs.
    HandOff handOver(const std::string& folder, bool switchOver, std::string& why,
                     const std::function<bool()>& ownerRuns);
    // Whether the other instance has let go within a moment (before `handOffEnd`);
    // one that died while it talked to us is still ending.
    bool otherInstanceEnds(const std::function<bool()>& ownerRuns, Clock::time_point handOffEnd);
    // The handle the running instance published last (0: none) and whether its
    // window answers, once it answers or `deadline` has passed; nothing when that
    // instance has ended meanwhile.
    struct FoundWindow {
        std::uint32_t handle = 0;
        bool reachable = false;
    };
    std::optional<FoundWindow> waitForWindow(const std::string& folder, Clock::time_point deadline,
                                             const std::function<bool()>& ownerRuns);
    // Makes this process the one owner of the queue files, whatever runtime folder
    // the window that owns them now uses: NoInstance once it owns them. Else hands
    // over to that window (Delivered), or Failed with `why`. `quitSent`: this start
    // has told the running window to end.
    HandOff takeQueueFiles(bool switchOver, bool quitSent, std::string& why);
    // Queue files in a folder that is not ours alone are not used: those of a first
    // start are, and the window says why.
    void useOnlyOwnQueueFolders();
    void runInstallStep();
    void readRequestFile(const std::string& path);
    // Puts this start's request into the raw-queue file, for the next start that runs;
    // what became of it, as the end of a line on stderr (empty without a request).
    std::string keepRequestForLater();
    // Keeps the request for later and says in a line why no window opens; kExitNoWindow.
    int endForNoDisplay(const std::string& why);

    AppEnvironment m_environment;
    // Held for the life of the process: while it is open, later starts see that
    // an instance runs, even after an older instance that we took over from ends.
    std::optional<NamedMutex> m_instanceMutex;
    // Beside the queue files, owned while this process's window runs: windows of
    // other login sessions meet no instance mutex of ours, but this.
    std::optional<OwnerLock> m_queueLock;
    StartPath m_startPath = StartPath::NotStarted;
    int m_exitStatus = 0;
};

} // namespace qvr
