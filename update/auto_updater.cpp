#include "update/auto_updater.h"

#include "platform/exclusive_file.h"
#include "platform/file_move.h"
#include "platform/network.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/signature.h"
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
constexpr const char* kBackupName = "OldExecutable.bak";
constexpr int kHttpOk = 200;
constexpr const char* kSignatureSuffix = ".sig";
// Far above any build of the program; a larger download is not read into memory to
// be checked.
constexpr std::size_t kLargestProgram = 512u << 20;

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

// Drops a file that must not stay behind; a failure leaves nothing worse.
void discard(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace

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
    syncFolder(parentFolder(to));
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
    if (IsLoopbackHost(UrlHost(url)))
        return true;
    return m_environment.networkUp ? m_environment.networkUp() : HasNetworkInterface();
}

std::unique_ptr<HttpResponse> CAutoUpdater::OpenUrl(std::string& url)
{
    const auto canonical = CanonicalizeUrl(url);
    if (!canonical)
        return nullptr;
    url = *canonical;
    if (!m_hSession)
        return nullptr;
    return m_hSession->get(url, {"Cache-Control: no-cache", "Pragma: no-cache"});
}

bool CAutoUpdater::ReadChunk(HttpResponse& request, char* buffer, std::size_t size, std::size_t& received)
{
    const std::int64_t n = request.read(buffer, size);
    received = n > 0 ? static_cast<std::size_t>(n) : 0;
    return received > 0;
}

bool CAutoUpdater::DownloadToFile(HttpResponse& request, const std::string& path)
{
    const UniqueFd file = createFreshFile(path);
    if (!file)
        return false;
    std::array<char, kChunk> buffer;
    for (;;) {
        const std::int64_t n = request.read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!writeAll(file.get(), std::string_view(buffer.data(), static_cast<std::size_t>(n))))
            return false;
    }
}

std::string CAutoUpdater::GetModulePath() const
{
    return m_environment.executable.empty() ? modulePath() : m_environment.executable;
}

bool CAutoUpdater::ReplaceExecutable(const std::string& exePath, const std::string& newPath)
{
    ExecutableFiles& files = *m_environment.files;
    const std::string backup = parentFolder(exePath) + "/" + kBackupName;
    const std::string staged = stagedPath(exePath);
    // A downloaded file is not executable; it runs only with the old one's mode.
    if (!files.stage(newPath, staged, exePath) || !files.keep(exePath, backup) || !files.replace(staged, exePath)) {
        files.remove(staged);
        return false;
    }
    return true;
}

void CAutoUpdater::RemoveStaleExchangeFiles(const std::string& exePath)
{
    // The staged new program, and the halves of copies made for it (or, by earlier
    // versions, for the executable itself): ".NAME.update", ".NAME.XXXXXX" and
    // "..NAME.update.XXXXXX".
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
    RemoveStaleExchangeFiles(GetModulePath());
    if (!IsInternetConnected(folderUrl))
        return UPD_NO_CONNECTION;

    std::string url = folderUrl + loadString(IDS_VERSION_LIST);
    auto list = OpenUrl(url);
    if (!list)
        return UPD_OPEN_FAILED;
    std::array<char, kChunk> buffer {};
    std::size_t received = 0;
    const bool read = ReadChunk(*list, buffer.data(), buffer.size(), received);
    list.reset();
    if (!read)
        return UPD_NO_DATA;
    const std::string published(buffer.data(), ::strnlen(buffer.data(), received));

    const std::string exePath = GetModulePath();
    const std::string local = GetFileVersion(exePath);
    if (local.empty())
        return UPD_NO_LOCAL_VERSION;
    if (CompareVersions(published, local) != 1)
        return UPD_NOT_NEWER;
    return InstallNewer(folderUrl, exePath, local);
}

int CAutoUpdater::InstallNewer(const std::string& folderUrl, const std::string& exePath, const std::string& local)
{
    const std::string temp = m_environment.tempFolder.empty() ? tempFolder() : m_environment.tempFolder;
    const std::string name = fileName(exePath);

    std::string url = folderUrl + name;
    auto download = OpenUrl(url);
    // An error page is not a program: only a real answer is worth the question.
    if (!download || download->statusCode() != kHttpOk)
        return UPD_OPEN_FAILED;
    if (!m_environment.prompts || !m_environment.prompts->askToInstall(loadString(IDS_UPDATE_QUESTION)))
        return UPD_NOT_INSTALLED;

    const std::string target = temp + name;
    const bool stored = DownloadToFile(*download, target);
    download.reset();
    // Only a whole executable of a newer version, signed with the makers' key, may
    // take the program's place.
    if (!stored || CompareVersions(GetFileVersion(target), local) != 1 || !IsSigned(url, target)) {
        discard(target);
        return UPD_DOWNLOAD_FAILED;
    }
    if (!ReplaceExecutable(exePath, target))
        return UPD_NOT_INSTALLED;
    m_installed = exePath;
    return UPD_INSTALLED;
}

bool CAutoUpdater::IsSigned(const std::string& url, const std::string& path)
{
    std::string signatureUrl = url + kSignatureSuffix;
    auto answer = OpenUrl(signatureUrl);
    if (!answer || answer->statusCode() != kHttpOk)
        return false;
    // One byte more than a signature shows a longer body: a read fills the buffer
    // unless the body ends first.
    std::array<char, kEd25519SignatureSize + 1> signature;
    if (answer->read(signature.data(), signature.size()) != static_cast<std::int64_t>(kEd25519SignatureSize))
        return false;
    answer.reset();
    const UniqueFd file = openRegularFile(path);
    const auto program = file ? readAll(file.get(), kLargestProgram) : std::nullopt;
    return program && program->size() <= kLargestProgram
        && VerifyEd25519(kReleasePublicKey, *program, std::string_view(signature.data(), kEd25519SignatureSize));
}

} // namespace qvr
