#pragma once

#include <string>

namespace qvr {

// Beside the executable while a new version is on trial: the version, one line.
constexpr const char* kTrialRecordName = "update-trial";
// Beside the executable once a version on trial failed and the previous one was put
// back: the version that failed, one line, until a start has told the user.
constexpr const char* kUndoneNoteName = "update-undone";

// A new version that took the executable's place stays on trial until it has shown
// that it works: its window has run for a while (the proof, which a version that
// crashes at every start never reaches). Until then an abnormal end of the program
// (a crash or an abort: SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS) puts the
// previous version, "OldExecutable.bak", back at the executable's name with one
// rename, right in the signal handler, and leaves the undone note for the next start.
// An end that someone asked for (a close, SIGTERM at a logout, SIGKILL) says nothing
// against the version. Only one trial is watched per process; it is watched from the
// object's making on, until passTrial() or its end.
class UpdateTrial {
public:
    enum class State {
        None,     // nothing is on trial and nothing was undone
        OnTrial,  // this program is the version on trial, and its end is watched
        Passed,   // the proof came: the new version stays, with the backup
        Undone,   // the previous version was put back; the user is yet to be told
    };

    // Begins the trial of `version`, about to take the place of the executable at
    // `exePath`: its record is on disk when this returns true.
    [[nodiscard]] static bool beginTrial(const std::string& exePath, const std::string& version);
    // Removes the record and the undone note: the previous version is back by other
    // means (the exchange failed, or the new version never took over), and the user
    // is told by whoever put it back.
    static void forget(const std::string& exePath);

    // What the program at `exePath`, of version `ownVersion`, finds at its start. It
    // is OnTrial when the record names its version and the backup is there; a record
    // of another version (an exchange cut short) or without a backup goes.
    UpdateTrial(std::string exePath, const std::string& ownVersion);
    ~UpdateTrial();
    UpdateTrial(const UpdateTrial&) = delete;
    UpdateTrial& operator=(const UpdateTrial&) = delete;

    [[nodiscard]] State state() const noexcept { return m_state; }
    // The version on trial, or the one that was undone.
    const std::string& version() const noexcept { return m_version; }

    // The proof came (OnTrial only): the record goes and the end is no longer watched.
    void passTrial();
    // The user is told now (Undone only): the note goes, so that no later start tells
    // again. State None.
    void acknowledge();

private:
    // Installs the handlers; false when a path is too long for them to hold.
    [[nodiscard]] bool startWatching();
    void stopWatching();

    std::string m_exePath;
    State m_state = State::None;
    std::string m_version;
    bool m_watching = false;
};

} // namespace qvr
