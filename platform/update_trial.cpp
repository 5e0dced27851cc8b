#include "platform/update_trial.h"

#include "platform/atomic_file.h"
#include "platform/exclusive_file.h"
#include "platform/paths.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr {

namespace {

// The signals of a fault of the program itself, whose default action dumps core.
constexpr std::array kFaultSignals {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};
// The ends that someone asks for of a program that works: a logout, a terminal's
// Ctrl-C or its closing.
constexpr std::array kAskedSignals {SIGTERM, SIGINT, SIGHUP};

// Marks of starts, "update-trial.start.XXXXXX", each made under a name of its own
// and locked there before it takes this one, so that nobody counts it unlocked.
constexpr const char* kMarkPrefix = "update-trial.";
constexpr const char* kStartMark = "start.";
constexpr const char* kNewMark = "new.";

// What the signal handlers need. A handler reaches nothing but what lies at a fixed
// address, so this is the one piece of the program's state outside any object:
// filled in before the handlers are installed, only read by them, and left alone
// until they are taken away again.
struct CrashRollback {
    std::array<char, PATH_MAX> backup;
    std::array<char, PATH_MAX> executable;
    std::array<char, PATH_MAX> record;
    std::array<char, PATH_MAX> undone;
    std::array<char, PATH_MAX> mark;  // empty: no mark
    std::array<struct sigaction, kFaultSignals.size()> previous;
    std::array<struct sigaction, kAskedSignals.size()> previousAsked;
    pid_t watcher;  // the process whose object watches (a fork of it watches anew)
};
constinit CrashRollback crashRollback {};

extern "C" void putBackOnFault(int signal)
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

extern "C" void endAsAskedBySignal(int signal)
{
    const int savedErrno = errno;
    if (crashRollback.mark[0] != '\0')
        ::unlink(crashRollback.mark.data());
    errno = savedErrno;
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

std::string backupPath(const std::string& exePath)
{
    return parentFolder(exePath) + "/" + kBackupName;
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

// The marks beside the executable, of every start or only of those that failed:
// nobody holds them locked.
std::vector<std::string> startMarks(const std::string& exePath, bool failedOnly)
{
    std::vector<std::string> marks;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(parentFolder(exePath), error)) {
        const std::string name = entry.path().filename();
        if (!name.starts_with(kMarkPrefix))
            continue;
        if (failedOnly) {
            if (!name.starts_with(std::string(kMarkPrefix) + kStartMark))
                continue;
            const UniqueFd mark(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
            if (!mark || ::flock(mark.get(), LOCK_EX | LOCK_NB) != 0)
                continue;
        }
        marks.push_back(entry.path());
    }
    return marks;
}

void discardMarks(const std::string& exePath)
{
    for (const std::string& mark : startMarks(exePath, false))
        discard(mark);
}

// The fields of a version text (digits, dots between; runs of dots separate
// nothing), as the store publishes it and as the program's note reads.
std::optional<std::array<unsigned long, 4>> versionFields(std::string_view text)
{
    std::array<unsigned long, 4> fields {};
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('.', at), text.size());
        const std::string_view field = text.substr(at, end - at);
        at = end + 1;
        if (field.empty())
            continue;
        if (count == fields.size() || field.size() > 9
            || field.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        fields[count++] = std::stoul(std::string(field));
    }
    return count > 0 ? std::optional(fields) : std::nullopt;
}

bool sameVersion(std::string_view first, std::string_view second)
{
    const auto a = versionFields(first);
    return a && a == versionFields(second);
}

} // namespace

bool UpdateTrial::beginTrial(const std::string& exePath, const std::string& version)
{
    // Marks of an earlier trial say nothing about this version.
    discardMarks(exePath);
    return static_cast<bool>(
        placeFileAtomically(recordPath(exePath), 0644, [&](int fd) { return writeAll(fd, version + "\n"); }));
}

void UpdateTrial::forget(const std::string& exePath)
{
    discard(recordPath(exePath));
    discard(undonePath(exePath));
    discardMarks(exePath);
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
    // Another version's record is what an exchange cut short left, or one under way
    // while this start hands its request over: the next trial replaces it.
    if (!sameVersion(*record, ownVersion))
        return;
    // Without a backup there is nothing to go back to.
    if (pathExists(backupPath(m_exePath))) {
        m_version = std::move(*record);
        if (startMarks(m_exePath, true).size() >= kFailedStartsAllowed && putPreviousVersionBack()) {
            m_state = State::PutBack;
            return;
        }
        if (startWatching()) {
            markStart();
            m_state = State::OnTrial;
            return;
        }
    }
    discard(recordPath(m_exePath));
    discardMarks(m_exePath);
    m_version.clear();
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
    discardMarks(m_exePath);
    m_mark.reset();
    m_state = State::Passed;
}

void UpdateTrial::acknowledge()
{
    if (m_state != State::Undone)
        return;
    discard(undonePath(m_exePath));
    // The mark of the start that crashed.
    discardMarks(m_exePath);
    m_state = State::None;
}

void UpdateTrial::endAsAsked()
{
    if (!m_mark)
        return;
    // Unlocked first it would count as failed, for a moment, to a start that looks.
    discard(m_markPath);
    m_mark.reset();
}

bool UpdateTrial::putPreviousVersionBack()
{
    const std::string folder = parentFolder(m_exePath);
    // One rename: a power cut leaves one whole program or the other at the name.
    if (::rename(backupPath(m_exePath).c_str(), m_exePath.c_str()) != 0)
        return false;
    // Told at the next start of the previous version, which the caller runs now.
    if (::rename(recordPath(m_exePath).c_str(), undonePath(m_exePath).c_str()) != 0)
        static_cast<void>(placeFileAtomically(undonePath(m_exePath), 0644,
                                              [&](int fd) { return writeAll(fd, m_version + "\n"); }));
    discardMarks(m_exePath);
    // Only the names' durability is at risk: each is whole.
    static_cast<void>(syncFolder(folder));
    return true;
}

void UpdateTrial::markStart()
{
    std::string made = parentFolder(m_exePath) + "/" + kMarkPrefix + kNewMark + "XXXXXX";
    UniqueFd mark(::mkostemp(made.data(), O_CLOEXEC));
    if (!mark || ::flock(mark.get(), LOCK_EX) != 0) {
        // Unmarked, this start counts for nothing, whatever ends it: a crash is
        // still watched.
        if (mark)
            discard(made);
        return;
    }
    std::string marked = made;
    marked.replace(marked.size() - 6 - std::strlen(kNewMark), std::strlen(kNewMark), kStartMark);
    // The handler of this process's watch removes it at an end that was asked for.
    if ((m_watching && !copyPath(marked, crashRollback.mark)) || ::rename(made.c_str(), marked.c_str()) != 0) {
        crashRollback.mark[0] = '\0';
        discard(made);
        return;
    }
    m_mark = std::move(mark);
    m_markPath = std::move(marked);
}

bool UpdateTrial::startWatching()
{
    // Another object of this process watches the same trial already.
    if (crashRollback.watcher == ::getpid())
        return true;
    if (!copyPath(backupPath(m_exePath), crashRollback.backup) || !copyPath(m_exePath, crashRollback.executable)
        || !copyPath(recordPath(m_exePath), crashRollback.record) || !copyPath(undonePath(m_exePath), crashRollback.undone))
        return false;
    crashRollback.mark[0] = '\0';
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    action.sa_handler = putBackOnFault;
    for (std::size_t i = 0; i < kFaultSignals.size(); ++i)
        ::sigaction(kFaultSignals[i], &action, &crashRollback.previous[i]);
    action.sa_handler = endAsAskedBySignal;
    for (std::size_t i = 0; i < kAskedSignals.size(); ++i) {
        // One that is ignored (nohup, a background job of a script) stays ignored.
        ::sigaction(kAskedSignals[i], nullptr, &crashRollback.previousAsked[i]);
        if (crashRollback.previousAsked[i].sa_handler != SIG_IGN)
            ::sigaction(kAskedSignals[i], &action, nullptr);
    }
    m_watching = true;
    crashRollback.watcher = ::getpid();
    return true;
}

void UpdateTrial::stopWatching()
{
    if (!std::exchange(m_watching, false))
        return;
    crashRollback.watcher = 0;
    for (std::size_t i = 0; i < kFaultSignals.size(); ++i)
        ::sigaction(kFaultSignals[i], &crashRollback.previous[i], nullptr);
    for (std::size_t i = 0; i < kAskedSignals.size(); ++i)
        ::sigaction(kAskedSignals[i], &crashRollback.previousAsked[i], nullptr);
}

} // namespace qvr
