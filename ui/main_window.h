#pragma once

#include "controls/dialog_sk.h"
#include "controls/drag_drop_list_box.h"
#include "controls/simple_browser.h"
#include "engine/entry_list.h"
#include "engine/messages.h"
#include "engine/queue_controller.h"
#include "engine/queue_files.h"
#include "engine/queue_item.h"
#include "engine/worker_set.h"
#include "engine/window_messages.h"
#include "engine/workers.h"
#include "platform/http.h"
#include "engine/configuration.h"
#include "ui/arrival_notice.h"
#include "ui/dialog_builder.h"
#include "ui/prompts.h"
#include "ui/queue_rows.h"
#include "ui/queue_work.h"
#include "ui/radio_panel.h"
#include "ui/shell.h"
#include "ui/update_handover.h"
#include "ui/ways_out.h"
#include "ui/window_environment.h"
#include "ui/window_publication.h"
#include "update/self_update.h"

#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QListView;
class QMenu;

namespace qvr {

class DownloadedFilesModel;
class MessagePump;
struct HandoffMessage;

// The program's window: the skinned dialog with its controls, the one entry of every
// message (windowProc), and its look. What is decided about the queue, the window
// asks its QueueController (beside the workers, in QueueWork), which it shows through
// QueueView. Workers report through SendMessage; every report, like every message
// from outside, enters through windowProc on the window's thread. Request files
// dropped on its queue list come to it as to any DropTarget. Later starts reach it
// through its WindowPublication; an update's road through the start is its
// UpdateHandover's.
class CquaveromfcDlg : public CDialogSK, public DropTarget, private QueueView {
    Q_OBJECT

public:
    // The window publishes itself for later starts in the configuration's runtime
    // folder; without one it cannot be reached from outside.
    CquaveromfcDlg(const Configuration& configuration, MainWindowEnvironment environment, QWidget* parent = nullptr);
    ~CquaveromfcDlg() override;

    // Runs the window to its end: initialisation, the modal run, and the teardown
    // that lets the workers go and saves the pending requests.
    int doModal();
    // Whether every worker ended by the end of doModal(). One that did not still
    // runs: the process must end without unwinding what it may use.
    bool workersEnded() const { return m_workersEnded; }

    // The parts of doModal, for a window that is run by someone else's event loop.
    // endWindow() says whether every worker ended within the grace period.
    bool OnInitDialog();
    bool endWindow();

    // Refuses to show the window while an update keeps it hidden.
    void setVisible(bool visible) override;
    void done(int result) override;

    // The one entry for every message, whoever sends it.
    std::intptr_t windowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    MessageSink& messageSink();

    // Operations of the window (window's thread only).
    void StartNextDownload() override { m_work.controller().StartNextDownload(); }
    // A dropped request is its file's first line up to a NUL, as any other. One that
    // could not be kept has been told about (warnNotWritten); its file stays where it
    // was, as does one whose line could never be kept.
    void AddRawEntry(const RawEntry& text) override
    {
        static_cast<void>(m_work.controller().AddRawEntry(requestLine(text)));
    }
    // Shows the radio page when it answers, else the prompt (the radio panel).
    void LoadRadio();
    // The user's commands.
    void onRemove();
    void onClear() { m_work.controller().clearQueue(); }
    void onChooseFolder() { m_work.controller().chooseDownloadFolder(); }
    void onOpenFolder();
    void onResume() { m_work.controller().resumeDownloads(); }
    void onPause() { m_work.controller().pauseDownloads(); }
    void onHomePage();
    void onMinimize();
    void onOpenFile();
    void OnRadioPromptClicked();
    // The window's own menu, as a right click on the skin or Alt+Space opens it.
    void openSystemMenu(const QPoint& at);
    // The close command: lets every worker end; the window ends once all have.
    void onClose();

    QWidget* control(int id) const { return m_look.controls.control(id); }
    template <class Widget>
    Widget* controlAs(int id) const { return m_look.controls.control<Widget>(id); }
    const QueueController& queueController() const { return m_work.controller(); }
    const EntryList<QueueItem>& queue() const { return m_work.controller().queue(); }
    const EntryList<RawEntryItem>& rawEntries() const { return m_work.controller().rawEntries(); }
    std::int32_t exitedThreads() const { return m_work.controller().exitedThreads(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The update step of the start, with the window's boxes (main_window_update.cpp).
    UpdateHandover::Next RunSelfUpdate();
    // What the window does when its hand-over says so: the box that says the update
    // was undone, and the window's whole start, shown, as if no update had come.
    void tellUndone();
    void comeBack();

    // The update asked again while the window runs, when the start's check got no
    // answer in time or was asked to wait (main_window_update.cpp). After an install
    // there the window hides, its workers end, and then the new version starts.
    void scheduleLaterUpdate();
    void runLaterUpdate();
    void laterUpdateEnded(SelfUpdateOutcome outcome);
    void startInstalledVersion();

    // The start and the end (main_window_lifecycle.cpp). The window's whole start once
    // it is not handing over:
    void startNormally();
    void startWorkers();
    bool letWorkersGo();
    void PostNcDestroy();

    // The look (main_window_look.cpp): the controls made and their first state.
    void setUpLook();
    void setUpControls();

    // The user's commands bound to their controls (main_window_commands.cpp).
    void connectCommands();

    // What the queue decisions show (main_window.cpp).
    void setStatus(const std::string& text) override;
    void ResetProgress() override;
    void SetProgress(int percent) override;
    void showQueue(const EntryList<QueueItem>& queue) override;
    void showRowsAdded(const EntryList<QueueItem>& queue, std::uint32_t row, std::uint32_t count) override;
    void showRowsRemoved(std::uint32_t row, std::uint32_t count) override;
    void RefreshFileList(const std::string& folder) override;
    void showLatched(bool resume, bool pause) override;
    void showFolder(const std::string& folder) override;
    bool ask(const std::string& text, const std::string& caption, Buttons buttons) override;
    void retrySavesAfter(std::chrono::milliseconds pause) override;
    void retryWaitingAfter(std::chrono::milliseconds pause) override;
    std::optional<std::string> chooseFolder(const std::string& title, const std::string& startFolder) override;
    void warn(const std::string& text, const std::string& caption) override;
    void tellRefused(const RawEntry& request) override;
    void trackArrived(const std::string& title) override;

    // The reports and messages (main_window.cpp).
    std::int64_t deliverFromOutside(const HandoffMessage& message);
    // A figure the downloader posted, and the latest one once it has shown a while.
    void showReportedProgress(int percent);
    void showNewerProgress();
    // The queue list's view, showing m_queueRows from the first show of the queue.
    QListView* queueList();
    // The window ends on a quit from outside, whatever box it shows meanwhile.
    void endOnQuit();
    void onSysCommand(std::uintptr_t command);
    void onAbout();
    void onFileOpenFailed(const char* path);
    // The downloaded-files list read from `folder`, shown unless another folder was
    // chosen meanwhile; `entries` is left with what the list showed before.
    void showFileList(const std::string& folder, FileList& entries);
    // Names that came or went in `folder`, taken into its list in place.
    void changeFileList(const std::string& folder, const FileListChanges& changes);
    // Changes the downloaded-files list of `folder` by `how`, keeping the selection.
    void updateFileList(const std::string& folder, const std::function<void(DownloadedFilesModel&)>& how);

    // What the look made of the window: its controls, the radio panel and the
    // browser it shows the page in, and the window's own menu.
    struct LookParts {
        DialogControls controls;
        SimpleBrowser browser;
        std::unique_ptr<RadioPanel> radio;  // once the controls exist
        QMenu* systemMenu = nullptr;        // a child, made when first opened
    };

    const Configuration& m_config;
    MainWindowEnvironment m_environment;
    // The boxes, the notices and the desktop opener.
    WaysOut m_waysOut;
    LookParts m_look;
    // What tells the desktop that tracks arrived; a refused title is none.
    FreedesktopNotices m_sessionNotices;
    ArrivalNotice m_arrivals;
    bool m_fileRefused = false;
    std::unique_ptr<MessagePump> m_pump;

    // The workers, the queue files and the controller that decides about them.
    QueueWork m_work;
    // The queue list's rows, and the shown progress: both look at the workers' state,
    // so they go first.
    QueueRows m_queueRows;
    QTimer m_progressTimer;
    int m_shownPercent = 0;
    // How later starts find the window, and where their requests wait for it.
    WindowPublication m_publication;
    // The update's road through this start: the window stays hidden while it hands over.
    UpdateHandover m_handover;
    // Shared by the network waits before the window shows.
    WaitBudget m_startWaits {std::chrono::milliseconds(0)};
    bool m_workersEnded = true;
    // The workers ended for a newer version that a check found while the window ran.
    bool m_workEndedForUpdate = false;
    // Last, so that its thread ends first.
    struct LaterUpdate;
    struct LaterUpdateDeleter {
        void operator()(LaterUpdate* later) const;
    };
    std::unique_ptr<LaterUpdate, LaterUpdateDeleter> m_laterUpdate;
};

} // namespace qvr
