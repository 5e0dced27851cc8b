#pragma once

#include "controls/dialog_sk.h"
#include "controls/drag_drop_list_box.h"
#include "controls/simple_browser.h"
#include "engine/entry_list.h"
#include "engine/messages.h"
#include "engine/queue_item.h"
#include "engine/worker_set.h"
#include "platform/http.h"
#include "ui/application_strings.h"
#include "ui/dialog_builder.h"
#include "ui/prompts.h"
#include "ui/radio_panel.h"
#include "ui/shell.h"
#include "update/self_update.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QListWidgetItem;
class QMenu;

namespace qvr {

class HandoffServer;
class MessagePump;
class RightClickFilter;
struct HandoffMessage;

// What the main window needs from the process around it.
struct MainWindowEnvironment {
    std::string storeHost;   // "host" or "host:port"
    std::string gateFolder;  // folder of the two gates (named mutexes)
    // Where the window publishes itself for later starts of the program; empty:
    // it cannot be reached from outside.
    std::string handoffFolder;
    // Stores a newly chosen download folder in the settings; 0 on success.
    std::function<long(const std::string&)> writeDownloadFolder;
    HttpClientFactory http;
    // The radio panel's browser. Left out, the panel keeps its prompt and asks the
    // store nothing, and Qt WebEngine is never started.
    bool radioBrowser = false;
    // Makes the clients of the radio page's check (see RadioCheckOptions()).
    HttpClientFactory radioHttp;
    // Told the browser's view once it exists, so that right clicks never reach the page.
    RightClickFilter* rightClicks = nullptr;
    Prompts* prompts = nullptr;  // null: the real dialogs
    DesktopOpener* desktop = nullptr;  // null: xdg-open
    std::chrono::milliseconds retryPause {1000};
    std::uint64_t unannouncedTrackLimit = std::uint64_t(1) << 30;
    // How long the end of the window waits for workers that are still busy; the
    // end says whether they all ended.
    std::chrono::milliseconds workerGrace {5000};
    // The update check at the window's start; none: no check.
    std::optional<SelfUpdateEnvironment> selfUpdate;
    // How long a window that handed over to a newer executable waits to be told
    // to go before it goes by itself.
    std::chrono::milliseconds handedOverLimit {60000};
};

// The program's window: owns the download queue, the pending requests, the two
// gates and the three workers, and is the only place where they change. Workers
// report through SendMessage; every report, like every message from outside,
// enters through WindowProc on the window's thread. Request files dropped on its
// queue list come to it as to any DropTarget.
class CquaveromfcDlg : public CDialogSK, public DropTarget {
    Q_OBJECT

public:
    CquaveromfcDlg(ApplicationStrings& app, MainWindowEnvironment environment, QWidget* parent = nullptr);
    ~CquaveromfcDlg() override;

    // Runs the window to its end: initialisation, the modal run, and the teardown
    // that lets the workers go and saves the pending requests.
    int DoModal();
    // Whether every worker ended by the end of DoModal(). One that did not still
    // runs: the process must end without unwinding what it may use.
    bool WorkersEnded() const { return m_bWorkersEnded; }

    // The parts of DoModal, for a window that is run by someone else's event loop.
    // EndWindow() says whether every worker ended within the grace period.
    bool OnInitDialog();
    bool EndWindow();

    // The update step of the start; true when a newer executable took over.
    bool RunSelfUpdate();
    // Refuses to show the window while m_bShowAllowed is false.
    void setVisible(bool visible) override;
    void done(int result) override;

    // The one entry for every message, whoever sends it.
    std::intptr_t WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    MessageSink& messageSink();

    // Operations of the window (window's thread only).
    void StartNextDownload() override;
    void StartNextResolve();
    void AddRawEntry(const RawEntry& text) override;
    void RefillQueueList();
    void RefreshFileList();
    void ResetProgress();
    void SetProgress(int percent);
    void LoadDownloadQueue();
    void SaveDownloadQueue();
    void LoadRawQueue();
    void SaveRawQueue();
    // Shows the radio page when it answers, else the prompt (the radio panel).
    void LoadRadio();
    // The user's commands.
    void OnRemove();
    void OnClear();
    void OnChooseFolder();
    void OnOpenFolder();
    void OnResume();
    void OnPause();
    void OnHomePage();
    void OnMinimize();
    void OnOpenFile();
    void OnRadioPromptClicked();
    // The window's own menu, as a right click on the skin or Alt+Space opens it.
    void OpenSystemMenu(const QPoint& at);
    // The close command: lets every worker end; the window ends once all have.
    void OnClose();

    QWidget* control(int id) const { return m_controls.control(id); }
    template <class Widget>
    Widget* controlAs(int id) const { return m_controls.control<Widget>(id); }
    const EntryList<QueueItem>& queue() const { return m_queue; }
    const EntryList<RawEntryItem>& rawEntries() const { return m_rawEntries; }
    std::int32_t exitedThreads() const { return m_nExitedThreads; }

    bool m_bDownloading = false;
    bool m_bRefreshOnce = true;
    bool m_bResolving = false;
    bool m_bResolverOffline = false;
    bool m_bSwitchQuit = false;
    bool m_bShowAllowed = true;
    std::int32_t m_nExitedThreads = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    static constexpr const char* kNoFilesInQueue = "No Files in Queue";
    static constexpr const char* kDownloadingPaused = "Downloading Paused";

    // The start and the end (window_lifecycle.cpp, self_update.cpp).
    void Publish();
    bool KeepHiddenUntilTakenOver();
    void KeepBrowserReadyToShow();
    void StartWorkers();
    bool LetWorkersGo();
    void PostNcDestroy();

    // The look (window_look.cpp): the controls made and their first state.
    void SetUpLook();
    void SetUpControls();
    // The latched looks of the resume and pause buttons.
    void SetLatched(bool resume, bool pause);
    // The folder text (cut short) and its tooltip (whole) for `folder`.
    void ShowFolder(const std::string& folder);

    // The user's commands bound to their controls (commands.cpp).
    void ConnectCommands();

    // The reports and messages (main_window.cpp).
    std::int64_t DeliverFromOutside(const HandoffMessage& message);
    void OnDownloadFinished(std::int32_t flags);
    void OnEntryResolved(const msg::EntryResolved& report);
    void OnSysCommand(std::uintptr_t command);
    void OnAbout();
    void OnFileOpenFailed(const char* path);
    void OnCopyData(const CopyDataStruct* data);
    void SetStatus(const std::string& text);
    void DropStaleRequests();
    // The bytes of a downloaded file's name, whatever the list shows.
    static std::string FileEntryName(const QListWidgetItem& item);

    ApplicationStrings& m_app;
    MainWindowEnvironment m_environment;
    QtPrompts m_qtPrompts;
    Prompts* m_prompts;
    ShellOpener m_shellOpener;
    DesktopOpener* m_desktop;
    DialogControls m_controls;
    SimpleBrowser m_browser;
    std::unique_ptr<RadioPanel> m_radio;  // once the controls exist
    QMenu* m_systemMenu = nullptr;        // a child, made when first opened
    std::unique_ptr<MessagePump> m_pump;

    WorkerSet m_workers;
    // What the workers read: the window's requests, the job slots and the settings.
    WorkerShared& m_shared;
    EntryList<QueueItem> m_queue;
    EntryList<RawEntryItem> m_rawEntries;
    // The track a pending cancel or clear was asked for.
    std::optional<std::string> m_cancelTarget;
    std::optional<std::string> m_clearTarget;
    std::uint32_t m_windowHandle = 0;
    // Requests from outside go to the raw-queue file instead of the list: while the
    // update step runs (before the list is loaded) and after it handed over.
    bool m_bRequestsToFile = false;
    std::unique_ptr<HandoffServer> m_handoffServer;
    bool m_bWorkersEnded = true;
};

} // namespace qvr
