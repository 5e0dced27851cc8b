#include "update/auto_updater.h"

#include "engine/store_request.h"
#include "platform/exclusive_file.h"
#include "platform/failure_log.h"
#include "platform/file_move.h"
#include "platform/network.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/process_launch.h"
#include "platform/signature.h"
#include "platform/update_trial.h"
#include "res/strings.h"
#include "update/release_key.h"
#include "update/url.h"

#include <array>
#include <cstring>
#include <filesystem>

#include <stdio.h>

namespace qvr {

namespace {

constexpr std::size_t kChunk = 4096;
constexpr int kHttpOk = 200;
constexpr const char* kSignatureSuffix = ".sig";
constexpr const char* kRefusedNoteName = "refused-version";
// Far more than the probe's one line; the rest of a chatty answer only fails it.
constexpr std::size_t kProbeOutputLimit = 256;

std::string fileName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where the new program waits beside the executable until it takes its place.
std::string stagedPath(const std::string& exePath)
{
    return parentFolder(exePath) + "/." + fileName(exePath) + ".update";
}

// Where it downloads: beside the executable too, in the one folder that those who may
// replace the program can write, and no one else can hold a name in.
std::string downloadPath(const std::string& exePath)
{
    return parentFolder(exePath) + "/." + fileName(exePath) + ".download";
}

// Drops a file that must not stay behind; a failure leaves nothing worse.
void discard(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Canonicalises `url` and sends a GET that no cache may answer.
CAutoUpdater::Opened openCanonical(HttpClient* session, const std::string& url)
{
    const auto canonical = canonicalizeUrl(url);
    if (!canonical)
        return {url, nullptr};
    if (!session)
        return {*canonical, nullptr};
    return {*canonical, session->get(*canonical, {"Cache-Control: no-cache", "Pragma: no-cache"})};
}

} // namespace

HttpOptions versionListOptions()
{
    using namespace std::chrono_literals;
    return {.connect = 2000ms, .stall = 3000ms, .total = 3000ms};
}

HttpOptions programDownloadOptions()
{
    using namespace std::chrono_literals;
    return {.connect = 2000ms, .stall = 15000ms};
}

bool ExecutableFiles::remove(const std::string& path)
{
    std::error_code error;
    return std::filesystem::remove(path, error);
}

bool ExecutableFiles::stage(const std::string& from, const std::string& to, const std::string& like)
{
    return moveFile(from, to) && copyPermissions(like, to) && syncFile(to);
}

bool ExecutableFiles::keep(const std::string& from, const std::string& to)
{
    return linkOrCopy(from, to);
}

bool ExecutableFiles::replace(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return false;
    // The program is in place; a folder that cannot be synced only risks the old
    // name after a power cut, and the old program then simply runs again.
    static_cast<void>(syncFolder(parentFolder(to)));
    return true;
}

CAutoUpdater::CAutoUpdater(UpdaterEnvironment environment)
    : m_environment(std::move(environment))
{
    if (!m_environment.files)
        m_environment.files = std::make_shared<ExecutableFiles>();
    if (m_environment.http)
        m_hSession = m_environment.http(loadString(IDS_UPDATE_AGENT));
}

CAutoUpdater::~CAutoUpdater() = default;

bool CAutoUpdater::IsInternetConnected(const std::string& url) const
{
    if (!m_hSession)
        return false;
    if (isLoopbackHost(urlHost(url)))
        return true;
    return m_environment.networkUp ? m_environment.networkUp() : hasNetworkInterface();
}

CAutoUpdater::Opened CAutoUpdater::OpenUrl(const std::string& url)
{
    return openCanonical(m_hSession.get(), url);
}

CAutoUpdater::Download CAutoUpdater::DownloadToFile(HttpResponse& request, const std::string& path,
                                                    std::uint64_t announced)
{
    m_received = 0;
    m_announced = announced;
    const UniqueFd file = createFreshFile(path);
    if (!file) {
        m_why = "making " + path + ": " + errnoText(errno);
        return Download::Failed;
    }
    std::array<char, kChunk> buffer;
    while (!cancelled() && !stopped()) {
        const std::int64_t n = request.read(buffer.data(), buffer.size());
        if (n == 0)
            return Download::Whole;
        // A cancel ends the read that waits as well.
        if (n < 0) {
            m_why = "it broke off after " + std::to_string(m_received) + " bytes: " + (m_downloadSession ? m_downloadSession->failure() : "");
            return m_cancelled && !stopped() ? Download::Refused : Download::Failed;
        }
        m_received += static_cast<std::uint64_t>(n);
        if (m_received > m_environment.largestProgram) {
            m_why = "it is larger than " + std::to_string(m_environment.largestProgram) + " bytes";
            return Download::Refused;
        }
        if (!writeAll(file.get(), std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            m_why = "writing " + path + ": " + errnoText(errno);
            return Download::Failed;
        }
    }
    if (!m_cancelled)
        m_why = "the window ended";
    return m_cancelled ? Download::Refused : Download::Failed;
}

bool CAutoUpdater::stopped() const
{
    return m_environment.stopped && m_environment.stopped();
}

bool CAutoUpdater::cancelled()
{
    if (!m_cancelled && m_environment.prompts)
        m_cancelled = !m_environment.prompts->downloadProgress(m_received, m_announced);
    return m_cancelled;
}

std::string CAutoUpdater::GetModulePath() const
{
    return m_environment.executable.empty() ? modulePath() : m_environment.executable;
}

std::string CAutoUpdater::backupPath(const std::string& exePath)
{
    return parentFolder(exePath) + "/" + kBackupName;
}

CAutoUpdater::Exchange CAutoUpdater::ReplaceExecutable(const std::string& exePath, const std::string& newPath,
                                                       const std::string& version)
{
    ExecutableFiles& files = *m_environment.files;
    const std::string backup = backupPath(exePath);
    const std::string staged = stagedPath(exePath);
    // A downloaded file is not executable; it runs only with the old one's mode. It
    // is tried where it will run, beside the executable, from the disk it will be
    // started from.
    Exchange exchange;
    if (files.stage(newPath, staged, exePath)) {
        const Download probe = runProbe(staged, version);
        exchange.probeRefused = probe == Download::Refused;
        if (probe != Download::Whole) {
            m_why = probe == Download::Refused ? "its probe did not answer as the program does" : "its probe did not end in time";
            exchange.result = UPD_DOWNLOAD_FAILED;
        } else if (UpdateTrial::beginTrial(exePath, version)) {
            // A new version that is not watched would have nothing to go back to.
            if (files.keep(exePath, backup) && files.replace(staged, exePath))
                return {UPD_INSTALLED, false};
            m_why = "exchanging the program's files: " + errnoText(errno);
            UpdateTrial::forget(exePath);
        } else {
            m_why = "its trial could not be noted";
        }
    } else {
        m_why = "putting it beside the program as " + staged + ": " + errnoText(errno);
    }
    // Often there is nothing to remove; a staged file that stays is removed with the
    // other remains of an exchange at the next check (removeStaleExchangeFiles).
    static_cast<void>(files.remove(staged));
    return exchange;
}

CAutoUpdater::Download CAutoUpdater::runProbe(const std::string& path, const std::string& version)
{
    const std::vector<std::string> args {kProbeSwitch};
    const auto end = m_environment.run
        ? m_environment.run(path, args, m_environment.probeLimit, kProbeOutputLimit)
        : runWithTimeLimit(path, args, m_environment.probeLimit, kProbeOutputLimit);
    if (!end)
        return Download::Failed;
    // Any program can end with 0; only ours says what it is, and only the verified
    // version says that version.
    return end->status == 0 && end->output == probeAnswer(version) ? Download::Whole : Download::Refused;
}

bool CAutoUpdater::restoreBackup(const std::string& exePath)
{
    if (::rename(backupPath(exePath).c_str(), exePath.c_str()) != 0)
        return false;
    // As in replace(): the old program is back; only the name's durability is at risk.
    static_cast<void>(syncFolder(parentFolder(exePath)));
    return true;
}

void CAutoUpdater::removeStaleExchangeFiles(const std::string& exePath)
{
    // The download, the staged new program, and the halves of copies made for it (or,
    // by earlier versions, for the executable itself): ".NAME.download", ".NAME.update",
    // ".NAME.XXXXXX" and "..NAME.update.XXXXXX".
    const std::string name = fileName(exePath);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(parentFolder(exePath), error)) {
        const std::string found = entry.path().filename();
        const bool ours = found.starts_with("." + name + ".") || found.starts_with(".." + name + ".update.");
        if (ours && entry.is_regular_file(error))
            discard(entry.path());
    }
}

int CAutoUpdater::CheckForUpdate(const std::string& folderUrl)
{
    m_installed.clear();
    m_installedVersion.clear();
    m_storeUnanswered = false;
    m_retryAfter.reset();
    removeStaleExchangeFiles(GetModulePath());
    constexpr std::string_view kNoUpdate = "starting without an update";
    if (!IsInternetConnected(folderUrl)) {
        logFailure("the update check at " + folderUrl, m_hSession ? "no network is up" : "no session for the store", kNoUpdate);
        return UPD_NO_CONNECTION;
    }

    std::string url = folderUrl + loadString(IDS_VERSION_LIST);
    std::array<char, kChunk> buffer {};
    std::int64_t received = 0;
    int status = 0;
    {
        const WaitBudget::Wait wait(m_environment.budget, m_environment.waitLimit);
        m_hSession->setInterrupt([this, overdue = wait.overdue()] { return overdue() || stopped(); });
        Opened opened = OpenUrl(url);
        url = std::move(opened.url);
        const std::unique_ptr<HttpResponse> list = std::move(opened.response);
        if (!list) {
            logFailure("the version list " + url, m_hSession->failure(), kNoUpdate);
            m_storeUnanswered = true;
            return UPD_OPEN_FAILED;
        }
        // One read: a version text is far shorter than the buffer.
        received = list->read(buffer.data(), buffer.size());
        status = list->statusCode();
        m_retryAfter = list ? askedRetryWait(*list) : std::nullopt;
    }
    if (received <= 0) {
        logFailure("the version list " + url, received < 0 ? m_hSession->failure() : httpStatusText(status) + " without a body",
                   kNoUpdate);
        m_storeUnanswered = received < 0;
        return UPD_NO_DATA;
    }
    const std::string published(buffer.data(), ::strnlen(buffer.data(), static_cast<std::size_t>(received)));

    const std::string exePath = GetModulePath();
    const std::string local = GetFileVersion(exePath);
    if (local.empty()) {
        logFailure("the update check", "the running program " + exePath + " carries no version", kNoUpdate);
        return UPD_NO_LOCAL_VERSION;
    }
    const int newer = CompareVersions(published, local);
    if (newer == VER_BAD_FIRST)
        logFailure("the version list " + url, httpStatusText(status) + " that names no version", kNoUpdate);
    if (newer != 1 || m_retryAfter)
        return UPD_NOT_NEWER;
    if (wasRefused(published))
        return UPD_DOWNLOAD_FAILED;
    return installNewer(folderUrl, exePath, local, published);
}

int CAutoUpdater::installNewer(const std::string& folderUrl, const std::string& exePath, const std::string& local,
                               const std::string& published)
{
    const std::string name = fileName(exePath);
    const HttpClientFactory& sessions = m_environment.download ? m_environment.download : m_environment.http;
    m_downloadSession = sessions(loadString(IDS_UPDATE_AGENT));
    std::string url = folderUrl + name;
    const std::string what = "the new program " + url;
    constexpr std::string_view kAskAgain = "starting without an update; asking again at the next start";
    if (!m_downloadSession) {
        logFailure(what, "no session for the store", kAskAgain);
        return UPD_OPEN_FAILED;
    }

    std::unique_ptr<HttpResponse> download;
    {
        const WaitBudget::Wait head(m_environment.budget, m_environment.waitLimit);
        m_downloadSession->setInterrupt([this, overdue = head.overdue()] { return overdue() || stopped(); });
        Opened opened = openCanonical(m_downloadSession.get(), url);
        url = std::move(opened.url);
        download = std::move(opened.response);
    }
    // An error page is not a program: only a real answer is worth the question.
    if (!download || download->statusCode() != kHttpOk) {
        logFailure(what, download ? httpStatusText(download->statusCode()) : m_downloadSession->failure(), kAskAgain);
        m_storeUnanswered = !download;
        m_retryAfter = download ? askedRetryWait(*download) : std::nullopt;
        return UPD_OPEN_FAILED;
    }
    // Anyone on the way can announce any length: refused, but not noted.
    const std::uint64_t announced = parseContentLength(download->header("Content-Length").value_or(""));
    if (announced > m_environment.largestProgram) {
        logFailure(what, "it announces " + std::to_string(announced) + " bytes, more than a program has", kAskAgain);
        return UPD_DOWNLOAD_FAILED;
    }
    if (!m_environment.prompts || !m_environment.prompts->askToInstall(loadString(IDS_UPDATE_QUESTION)))
        return UPD_NOT_INSTALLED;

    // From here on the user sees the download and may cancel it, also while the
    // store keeps it waiting.
    m_cancelled = false;
    m_downloadSession->setInterrupt([this] { return cancelled() || stopped(); });
    const std::string target = downloadPath(exePath);
    Download got = DownloadToFile(*download, target, announced);
    download.reset();
    // Only the makers' whole executable may take the program's place: signed with
    // their key, of the version the list named, newer than this one.
    if (got == Download::Whole)
        got = checkSignature(url, target);
    const std::string verified = got == Download::Whole ? GetFileVersion(target) : std::string();
    if (got == Download::Whole
        && (CompareVersions(verified, published) != 0 || CompareVersions(verified, local) != 1)) {
        m_why = "it carries version " + verified + ", not the " + published + " the list names";
        got = Download::Refused;
    }
    m_downloadSession.reset();
    m_environment.prompts->downloadEnded();
    if (got != Download::Whole) {
        discard(target);
        // The user's Cancel is an answer. Nothing else here is: a missing or wrong
        // signature, a damaged or cut download, a body past the limit are what anyone
        // on the way can cause once, and the honest store may answer next time.
        if (m_cancelled)
            noteRefused(published);
        else
            logFailure(what, m_why, kAskAgain);
        return UPD_DOWNLOAD_FAILED;
    }
    const Exchange exchanged = ReplaceExecutable(exePath, target, verified);
    discard(target);
    // A program that cannot even start will not start next time either.
    if (exchanged.probeRefused)
        noteRefused(published);
    if (exchanged.result != UPD_INSTALLED)
        logFailure("installing " + what + " as " + exePath, m_why,
                   exchanged.probeRefused ? "keeping the program as it is; version " + published + " is not asked for again"
                                          : "keeping the program as it is; asking again at the next start");
    if (exchanged.result == UPD_INSTALLED) {
        m_installed = exePath;
        m_installedVersion = published;
    }
    return exchanged.result;
}

CAutoUpdater::Download CAutoUpdater::checkSignature(const std::string& url, const std::string& path)
{
    Opened opened = openCanonical(m_downloadSession.get(), url + kSignatureSuffix);
    const std::string signatureUrl = std::move(opened.url);
    std::unique_ptr<HttpResponse> answer = std::move(opened.response);
    if (!answer) {
        m_why = "its signature " + signatureUrl + ": " + (m_downloadSession ? m_downloadSession->failure() : "");
        return Download::Failed;
    }
    if (answer->statusCode() != kHttpOk) {
        m_why = "its signature " + signatureUrl + ": " + httpStatusText(answer->statusCode());
        return Download::Failed;
    }
    // One byte more than a signature shows a longer body: a read fills the buffer
    // unless the body ends first.
    std::array<char, kEd25519SignatureSize + 1> signature;
    const std::int64_t received = answer->read(signature.data(), signature.size());
    answer.reset();
    const UniqueFd file = openRegularFile(path);
    const auto program = file ? readAll(file.get(), m_environment.largestProgram) : std::nullopt;
    if (received < 0 || !program) {
        m_why = received < 0 ? "its signature broke off: " + m_downloadSession->failure() : "reading " + path + " again: " + errnoText(errno);
        return Download::Failed;
    }
    const bool signedByUs = received == static_cast<std::int64_t>(kEd25519SignatureSize)
        && program->size() <= m_environment.largestProgram
        && verifyEd25519(kReleasePublicKey, *program, std::string_view(signature.data(), kEd25519SignatureSize));
    if (!signedByUs)
        m_why = "it is not signed with the makers' key";
    return signedByUs ? Download::Whole : Download::Failed;
}

std::string CAutoUpdater::refusedNotePath() const
{
    if (!m_environment.refusedNote.empty())
        return m_environment.refusedNote;
    const std::string folder = programCacheFolder();
    return folder.empty() ? std::string() : folder + "/" + kRefusedNoteName;
}

bool CAutoUpdater::wasRefused(const std::string& published) const
{
    const UniqueFd file = openRegularFile(refusedNotePath());
    const auto note = file ? readAll(file.get(), kChunk) : std::nullopt;
    return note && CompareVersions(note->substr(0, note->find('\n')), published) == 0;
}

void CAutoUpdater::noteRefused(const std::string& published) const
{
    const std::string path = refusedNotePath();
    if (path.empty())
        return;
    std::error_code ignored;
    std::filesystem::create_directories(parentFolder(path), ignored);
    // Lost, the note costs one more question, and nothing else.
    static_cast<void>(placeFileAtomically(path, 0600, [&](int fd) { return writeAll(fd, published + "\n"); }));
}

} // namespace qvr
