#include "update/update_trial.h"

#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/paths.h"
#include "update/auto_updater.h"

#include <signal.h>
#include <stdio.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

namespace qvr {

namespace {

// The signals of a fault of the program itself, whose default action dumps core.
constexpr std::array kFaultSignals {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};

// What a fault's signal handler needs to put the previous version back. A handler
// reaches nothing but what lies at a fixed address, so this is the one piece of the
// program's state outside any object: filled in before the handlers are installed,
// only read by them, and left alone until they are taken away again.
struct CrashRollback {
    std::array<char, PATH_MAX> backup;
    std::array<char, PATH_MAX> executable;
    std::array<char, PATH_MAX> record;
    std::array<char, PATH_MAX> undone;
    std::array<struct sigaction, kFaultSignals.size()> previous;
};
constinit CrashRollback crashRollback {};

extern "C" void putPreviousVersionBack(int signal)
{
    const int savedErrno = errno;
    // rename() is safe in a signal handler. The note says the version was undone only
    // once the previous one is back.
    if (::rename(crashRollback.backup.data(), crashRollback.executable.data()) == 0)
        ::rename(crashRollback.record.data(), crashRollback.undone.data());
    errno = savedErrno;
    // SA_RESETHAND has given the signal its default action back: raised again, it
    // ends the process as it would have ended.
    ::raise(signal);
}

bool copyPath(const std::string& path, std::array<char, PATH_MAX>& to)
{
    if (path.size() >= to.size())
        return false;
    std::memcpy(to.data(), path.c_str(), path.size() + 1);
    return true;
}

std::string recordPath(const std::string& exePath)
{
    return parentFolder(exePath) + "/" + kTrialRecordName;
}

std::string undonePath(const std::string& exePath)
{
    return parentFolder(exePath) + "/" + kUndoneNoteName;
}

// The first line of a small file; nothing when there is no such file.
std::optional<std::string> firstLine(const std::string& path)
{
    const UniqueFd file = openRegularFile(path);
    auto text = file ? readAll(file.get(), 4096) : std::nullopt;
    if (text)
        text->resize(text->find('\n') == std::string::npos ? text->size() : text->find('\n'));
    return text;
}

void discard(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace

bool UpdateTrial::beginTrial(const std::string& exePath, const std::string& version)
{
    return static_cast<bool>(
        placeFileAtomically(recordPath(exePath), 0644, [&](int fd) { return writeAll(fd, version + "\n"); }));
}

void UpdateTrial::forget(const std::string& exePath)
{
    discard(recordPath(exePath));
    discard(undonePath(exePath));
}

UpdateTrial::UpdateTrial(std::string exePath, const std::string& ownVersion)
    : m_exePath(std::move(exePath))
{
    if (auto undone = firstLine(undonePath(m_exePath))) {
        m_state = State::Undone;
        m_version = std::move(*undone);
        return;
    }
    auto record = firstLine(recordPath(m_exePath));
    if (!record)
        return;
    // Another version's record is what an exchange cut short left; without a backup
    // there is nothing to go back to.
    if (!ownVersion.empty() && CAutoUpdater::CompareVersions(*record, ownVersion) == 0
        && pathExists(CAutoUpdater::BackupPath(m_exePath)) && startWatching()) {
        m_state = State::OnTrial;
        m_version = std::move(*record);
        return;
    }
    discard(recordPath(m_exePath));
}

UpdateTrial::~UpdateTrial()
{
    stopWatching();
}

void UpdateTrial::passTrial()
{
    if (m_state != State::OnTrial)
        return;
    stopWatching();
    discard(recordPath(m_exePath));
    m_state = State::Passed;
}

void UpdateTrial::acknowledge()
{
    if (m_state != State::Undone)
        return;
    discard(undonePath(m_exePath));
    m_state = State::None;
}

bool UpdateTrial::startWatching()
{
    if (!copyPath(CAutoUpdater::BackupPath(m_exePath), crashRollback.backup)
        || !copyPath(m_exePath, crashRollback.executable) || !copyPath(recordPath(m_exePath), crashRollback.record)
        || !copyPath(undonePath(m_exePath), crashRollback.undone))
        return false;
    struct sigaction action {};
    action.sa_handler = putPreviousVersionBack;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < kFaultSignals.size(); ++i)
        ::sigaction(kFaultSignals[i], &action, &crashRollback.previous[i]);
    m_watching = true;
    return true;
}

void UpdateTrial::stopWatching()
{
    if (!std::exchange(m_watching, false))
        return;
    for (std::size_t i = 0; i < kFaultSignals.size(); ++i)
        ::sigaction(kFaultSignals[i], &crashRollback.previous[i], nullptr);
}

} // namespace qvr
