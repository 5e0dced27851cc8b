#pragma once

#include "platform/http.h"
#include "platform/process_launch.h"
#include "platform/wait_budget.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// Results of CAutoUpdater::CheckForUpdate.
enum UpdateResult : int {
    UPD_INSTALLED = 0,        // a newer executable replaced the running one's file
    UPD_NO_CONNECTION = 1,    // no session, or no network
    UPD_OPEN_FAILED = 2,      // the version list or the new executable could not be fetched
    UPD_NO_DATA = 3,          // the version list delivered no bytes
    UPD_DOWNLOAD_FAILED = 4,  // the new executable could not be stored, was cancelled, or was refused (now or before)
    UPD_NO_LOCAL_VERSION = 5, // the running executable carries no version
    UPD_NOT_NEWER = 6,        // nothing newer published, or a malformed version text
    UPD_NOT_INSTALLED = 7,    // the user said no, or the files could not be exchanged
};

// CompareVersions results besides 1, -1 and 0.
enum VersionCompareError : int { VER_BAD_FIRST = -21, VER_BAD_SECOND = -22 };

// The boxes of an update. The window shows them; tests answer them.
class UpdatePrompts {
public:
    virtual ~UpdatePrompts() = default;
    // The Yes/No question before the download; false only for No.
    [[nodiscard]] virtual bool askToInstall(const std::string& question) = 0;
    // While the new program downloads after a Yes: called at its start, after each
    // piece, and about every 100 ms while the store keeps it waiting, with the bytes
    // received so far and the size the store announced (0: none). False once the user
    // has cancelled.
    [[nodiscard]] virtual bool downloadProgress(std::uint64_t /*received*/, std::uint64_t /*announced*/)
    {
        return true;
    }
    // The download is over, whatever came of it.
    virtual void downloadEnded() {}
    // The notice after the exchange; returns once the user has closed it.
    virtual void announceInstalled(const std::string& text, const std::string& caption) = 0;
};

// The switch that makes the program check that it can run (its window library loads,
// its version note reads) and end, with status 0 when it can. It touches nothing.
constexpr const char* kProbeSwitch = "--probe";

// The one line that the program's probe writes on its standard output when it can
// run: what it is and the version in its note ("quavero-probe quavero 2.1.0.1"). A
// file that answers anything else is not the program of that version, however it
// ends. (Inline: the executable answers with it and carries no updater code.)
inline std::string probeAnswer(const std::string& version)
{
    return "quavero-probe quavero " + version + "\n";
}

// Runs a program with its arguments and waits at most the limit, keeping at most so
// many bytes of its standard output; nothing when it could not start or did not end
// in time (runWithTimeLimit).
using ProgramRunner = std::function<std::optional<ProgramEnd>(
    const std::string& program, const std::vector<std::string>& args, std::chrono::milliseconds limit,
    std::size_t outputLimit)>;

// The file operations of the exchange, real by default; tests derive to make one
// fail.
class ExecutableFiles {
public:
    virtual ~ExecutableFiles() = default;
    // False when nothing was removed (there was nothing, say).
    [[nodiscard]] virtual bool remove(const std::string& path);
    // The file at `from` takes the name `to` (a rename, or across file systems a
    // copy), gets the permission bits of the file `like`, and is on disk.
    [[nodiscard]] virtual bool stage(const std::string& from, const std::string& to, const std::string& like);
    // A second name `to` for the file at `from`, while `from` keeps its own.
    [[nodiscard]] virtual bool keep(const std::string& from, const std::string& to);
    // `from` takes the place of `to` in one step, on disk.
    [[nodiscard]] virtual bool replace(const std::string& from, const std::string& to);
};

// The version list is asked for before the window shows, and the window's thread
// stands still meanwhile: 2 s to connect and 3 s in all, as the radio check. Asked
// again once the window shows, it is asked as the new program is.
HttpOptions versionListOptions();
// The new program after a Yes, under its progress box: 2 s to connect and 15 s
// without a byte, however long it takes in all.
HttpOptions programDownloadOptions();

// Everything the updater reaches outside itself.
struct UpdaterEnvironment {
    // Makes the version list's session; none, or a factory that makes none, means no
    // session.
    HttpClientFactory http;
    // Makes the session for the new program and its signature; none: `http`.
    HttpClientFactory download;
    UpdatePrompts* prompts = nullptr;        // null: the question is answered No
    std::shared_ptr<ExecutableFiles> files;  // null: the real file system
    std::string executable;                  // empty: the running executable
    std::function<bool()> networkUp;         // null: a non-loopback interface is up
    // Shared by the waits for the version list and for the head of the new program's
    // answer, which come before the window shows; null: each wait its own limit.
    WaitBudget* budget = nullptr;
    // The own limit of each of those two waits: a window that waits on them stands still.
    std::chrono::milliseconds waitLimit {3000};
    // Once true, every wait ends at once and nothing is noted (the window ends, say);
    // null: never.
    std::function<bool()> stopped;
    // A larger new program is refused unread: far above any build of the program (a
    // release is about 2 MiB, one with sanitizers about 70), far below a disk's room.
    std::uint64_t largestProgram = std::uint64_t(256) << 20;
    // Names the published version whose program was refused or cancelled; empty:
    // "refused-version" in the program's cache folder.
    std::string refusedNote;
    ProgramRunner run;  // null: a real run
    // How long the new program may take to answer its probe.
    std::chrono::milliseconds probeLimit {10000};
};

// Checks the store's update folder for a newer release of the program and, when
// the user agrees, puts it in place of the running executable's file. Everything
// runs on the calling thread; nothing is kept between calls but the session.
class CAutoUpdater {
public:
    explicit CAutoUpdater(UpdaterEnvironment environment = {});
    virtual ~CAutoUpdater();
    CAutoUpdater(const CAutoUpdater&) = delete;
    CAutoUpdater& operator=(const CAutoUpdater&) = delete;

    // A session exists, and either some interface other than loopback is up or
    // `url` points at a loopback host.
    [[nodiscard]] bool IsInternetConnected(const std::string& url) const;

    // A GET that no cache may answer, sent to an address in its canonical form.
    struct Opened {
        std::string url;  // canonical, or as given when it is too long to be
        // Null when the address is too long or the request failed before an
        // answer's head arrived.
        std::unique_ptr<HttpResponse> response;
    };
    [[nodiscard]] Opened OpenUrl(const std::string& url);

    // The whole body, 4096 bytes at a time, into a new file at `path`, telling the
    // prompts how far it got. Refused past the largest program (the store's announced
    // size is the caller's to check) or when the user cancels; failed on a failed read
    // or write. What was written stays for the caller to remove.
    enum class Download { Whole, Refused, Failed };
    [[nodiscard]] Download DownloadToFile(HttpResponse& request, const std::string& path, std::uint64_t announced);

    // The running executable's full path, links resolved (or the stand-in given).
    std::string GetModulePath() const;

    // "%d.%d.%d.%d" of an executable's file version; empty when it has none.
    static std::string GetFileVersion(const std::string& path);

    // True when every character is a decimal digit; an empty text passes.
    [[nodiscard]] static bool IsDigitsOnly(std::string_view text);

    // 1 when `first` is the newer version text, -1 when older, 0 when equal;
    // VER_BAD_FIRST when `first` is malformed, else VER_BAD_SECOND when `second` is.
    [[nodiscard]] static int CompareVersions(std::string_view first, std::string_view second);

    // Puts the new file, with the executable's permissions, in the executable's
    // place, and keeps the old one as "OldExecutable.bak" in its folder (a previous
    // one is replaced). The executable's name names a whole program at every moment,
    // the old one or the new one: the new file is first put beside it and onto the
    // disk, and run there once with kProbeSwitch; only when that ends with 0 and
    // answers probeAnswer(version) is the trial of `version` begun (UpdateTrial), the
    // backup made a second name of the old file, and a rename swaps the new file in.
    // UPD_INSTALLED; UPD_DOWNLOAD_FAILED when the probe failed; UPD_NOT_INSTALLED
    // when the files could not be exchanged. The executable stays as it was unless
    // the result is UPD_INSTALLED.
    struct Exchange {
        int result = UPD_NOT_INSTALLED;
        // The probe ended, but not with 0 and the version's answer: the new program
        // will not run next time either.
        bool probeRefused = false;
    };
    [[nodiscard]] Exchange ReplaceExecutable(const std::string& exePath, const std::string& newPath,
                                             const std::string& version);

    // "OldExecutable.bak" beside the executable at `exePath`.
    static std::string backupPath(const std::string& exePath);

    // Puts "OldExecutable.bak" back under the executable's name at `exePath`, in one
    // step: the program installed there goes. False when there is no backup.
    [[nodiscard]] static bool restoreBackup(const std::string& exePath);

    // Removes what an exchange that was cut short (a crash, a kill) left beside the
    // executable at `exePath`.
    static void removeStaleExchangeFiles(const std::string& exePath);

    // The whole check-and-install against the update folder `folderUrl` (ending in
    // "/"); one of UpdateResult. The new program is downloaded beside the executable,
    // where only those who may replace it can write. A published version is noted,
    // and not asked for again while the list names it (UPD_DOWNLOAD_FAILED without a
    // request), only for a verdict reached on this machine: its whole, verified
    // program failed its probe, or the user cancelled the download. A missing or
    // wrong signature, a damaged, cut or too large download, or one of the wrong
    // version is what anyone on the way can answer once: a failed attempt, and the
    // question comes again at the next start.
    [[nodiscard]] int CheckForUpdate(const std::string& folderUrl);

    // The version list, or the head of the new program's answer, got no answer in
    // time, or none at all: the store is out of reach for now.
    [[nodiscard]] bool storeUnanswered() const { return m_storeUnanswered; }
    // The store said it is busy (503, 429) and asked to be left alone this long
    // (Retry-After) before the version list or the new program are asked for again.
    [[nodiscard]] std::optional<std::chrono::seconds> retryAfter() const { return m_retryAfter; }

    // The file the last successful CheckForUpdate installed: the executable's path
    // as it was before the exchange (the running program's own path now names the
    // backup).
    const std::string& installedExecutable() const { return m_installed; }
    // The version text the store published for it.
    const std::string& installedVersion() const { return m_installedVersion; }

    // Notes `published` as the one version whose program is not asked for again.
    void noteRefused(const std::string& published) const;

private:
    [[nodiscard]] int installNewer(const std::string& folderUrl, const std::string& exePath, const std::string& local,
                                   const std::string& published);
    // Whole when the update folder's "<name>.sig" beside the executable's address
    // `url` answers 200 with exactly 64 bytes that are the Ed25519 signature of the
    // file at `path` by the release key built into the program; failed otherwise.
    [[nodiscard]] Download checkSignature(const std::string& url, const std::string& path);
    // Shows how far the download is; true once the user has cancelled it.
    [[nodiscard]] bool cancelled();
    // The environment's `stopped`.
    [[nodiscard]] bool stopped() const;
    // The note of the one published version whose program is not asked for again.
    std::string refusedNotePath() const;
    [[nodiscard]] bool wasRefused(const std::string& published) const;
    // Download::Whole when the program at `path` ends its probe with 0 in time and
    // answers probeAnswer(version); Refused when it ends otherwise, Failed when it
    // does not end.
    [[nodiscard]] Download runProbe(const std::string& path, const std::string& version);

    UpdaterEnvironment m_environment;
    std::unique_ptr<HttpClient> m_hSession;
    std::unique_ptr<HttpClient> m_downloadSession;
    std::string m_installed;
    std::string m_installedVersion;
    bool m_storeUnanswered = false;
    std::optional<std::chrono::seconds> m_retryAfter;
    std::uint64_t m_received = 0;
    std::uint64_t m_announced = 0;
    bool m_cancelled = false;
    // Why the last download or exchange failed, for the failure log.
    std::string m_why;
};

} // namespace qvr
