#pragma once

#include "platform/unique_fd.h"

#include <cstddef>
#include <string>

namespace qvr {

// Beside the executable while a new version is on trial: the version, one line.
constexpr const char* kTrialRecordName = "update-trial";
// Beside the executable once a version on trial failed and the previous one was put
// back: the version that failed, one line, until a start has told the user.
constexpr const char* kUndoneNoteName = "update-undone";
// The previous version, beside the executable, while the new one may need it.
constexpr const char* kBackupName = "OldExecutable.bak";
// How many starts of a version on trial may end without the proof, and without the
// user having asked for the end, before the next start puts the previous one back.
constexpr std::size_t kFailedStartsAllowed = 2;

// A new version that took the executable's place stays on trial until it has shown
// that it works: its window has run for a while (the proof, which a version that
// fails at every start never reaches). It is made first thing at every start of
// the program (app/main.cpp), so that it watches before anything that can fail.
//
// A crash or an abort (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS) puts the
// previous version, "OldExecutable.bak", back at the executable's name with one
// rename, right in the signal handler, and leaves the undone note for the next start.
// Every other end without the proof counts against the version, unless the user
// asked for it (endAsAsked(): the window closed, a request handed over; SIGTERM at a
// logout, SIGINT, SIGHUP): an exit with a failure status, a kill, a hang that was
// ended. Each start of the version leaves a mark beside the executable that it holds
// locked while it runs and removes at an end that was asked for; a mark that nobody
// holds is a start that failed. With kFailedStartsAllowed of those, the next start
// puts the previous version back before anything else (PutBack), and the caller runs
// that in its place. A start that runs meanwhile (the window of this version, while
// a second start hands its request to it) holds its mark, and counts for nothing.
//
// Only one trial is watched per process, from the object's making on, until
// passTrial() or its end.
class UpdateTrial {
public:
    enum class State {
        None,     // nothing is on trial and nothing was undone
        OnTrial,  // this program is the version on trial, and its end is watched
        Passed,   // the proof came: the new version stays, with the backup
        Undone,   // the previous version was put back; the user is yet to be told
        PutBack,  // this start put the previous version back: it is to run instead
    };

    // Begins the trial of `version`, about to take the place of the executable at
    // `exePath`: its record is on disk when this returns true.
    [[nodiscard]] static bool beginTrial(const std::string& exePath, const std::string& version);
    // Removes the record, its marks and the undone note: the previous version is back
    // by other means (the exchange failed, or the new version never took over), and
    // the user is told by whoever put it back.
    static void forget(const std::string& exePath);

    // What the program at `exePath`, of version `ownVersion`, finds at its start. It
    // is OnTrial when the record names its version and the backup is there; a record
    // of its version without a backup goes.
    UpdateTrial(std::string exePath, const std::string& ownVersion);
    // The window library carries its own copy of this code and of the handlers'
    // state: it reaches the object that the executable made, and its watch, only
    // through virtual calls.
    virtual ~UpdateTrial();
    UpdateTrial(const UpdateTrial&) = delete;
    UpdateTrial& operator=(const UpdateTrial&) = delete;

    [[nodiscard]] State state() const noexcept { return m_state; }
    // The version on trial, or the one that was undone or put back.
    const std::string& version() const noexcept { return m_version; }
    const std::string& executable() const noexcept { return m_exePath; }

    // The proof came (OnTrial only): the record goes and the end is no longer watched.
    virtual void passTrial();
    // The user is told now (Undone only): the note goes, so that no later start tells
    // again. State None.
    virtual void acknowledge();
    // This start ends as the user asked: it says nothing against the version.
    virtual void endAsAsked();

private:
    // Installs the handlers; false when a path is too long for them to hold.
    [[nodiscard]] bool startWatching();
    void stopWatching();
    // Leaves this start's mark, held until the process ends.
    void markStart();
    [[nodiscard]] bool putPreviousVersionBack();

    std::string m_exePath;
    State m_state = State::None;
    std::string m_version;
    bool m_watching = false;
    UniqueFd m_mark;
    std::string m_markPath;
};

} // namespace qvr
