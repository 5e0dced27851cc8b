#pragma once

#include "ui/main_window.h"

#include "tests/support/program_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QTest>

namespace qvr::test {

// Answers the window's questions the way a test says, and remembers them.
class ScriptedPrompts : public Prompts {
public:
    struct Asked {
        std::string text, caption;
        unsigned type;
    };
    int messageBox(QWidget*, const std::string& text, const std::string& caption, unsigned type) override
    {
        asked.push_back({text, caption, type});
        if (whileAsking)
            whileAsking();
        return answer;
    }
    std::optional<std::string> chooseFolder(QWidget*, const std::string&, const std::string&) override { return folder; }

    std::vector<Asked> asked;
    int answer = IDOK;
    std::function<void()> whileAsking;  // runs while a box is open, as events from outside would
    std::optional<std::string> folder;
};

class RecordingDesktop : public DesktopOpener {
public:
    bool open(const std::string& target) override { opened.push_back(target); return true; }
    std::vector<std::string> opened;
};

// The desktop's notices go nowhere: the notice test has a bus of its own.
class SilentNotices : public DesktopNotices {
    void notify(const QString&, std::function<void()>) override {}
};

// A window on the offscreen platform with a store simulator, its own settings,
// folders and gates, and a desktop that only writes down what it is asked to open.
class WindowTest : public ::testing::Test {
protected:
    WindowTest()
    {
        m_store.start();
        m_config.storeHost = m_store.hostPort();
        m_config.strings.m_strDownloadFolder = m_dir.file("music");
        m_config.strings.m_strDownloadQueuePath = m_dir.file("downloadqueue.txt");
        m_config.strings.m_strRawQueuePath = m_dir.file("rawqueue.txt");
        m_config.strings.m_strInstallationId = "0123456789ABCDEF0123456789ABCDEF";
        ::mkdir(m_config.strings.m_strDownloadFolder.c_str(), 0755);
        ::mkdir(m_dir.file("gates").c_str(), 0700);
    }
    ~WindowTest() override { closeWindow(); }

    void addTrack(const std::string& id, const std::string& title, std::uint64_t size)
    {
        m_store.addTrack({id, title, size, sim::patternFromId(id)});
    }
    std::string expectedContent(const std::string& id, std::uint64_t size)
    {
        return sim::trackContent({id, "", size, sim::patternFromId(id)});
    }
    std::string trackPath(const std::string& title) const { return m_config.strings.m_strDownloadFolder + "/" + title + ".mp3"; }
    struct Track { std::string id, title; std::uint64_t size; };
    // These tracks in the download-queue file, as a last run left them.
    void queueOnDisk(std::initializer_list<Track> tracks)
    {
        std::string lines;
        for (const auto& [id, title, size] : tracks) {
            addTrack(id, title, size);
            lines += title + "|" + m_store.trackUrl(id) + "\r\n";
        }
        writeFile(m_config.strings.m_strDownloadQueuePath, lines);
    }

    void openWindow()
    {
        MainWindowEnvironment environment;
        environment.workers.gateFolder = m_dir.file("gates");
        environment.workers.http = curlHttpClientFactory({std::chrono::milliseconds(5000), std::chrono::milliseconds(5000)});
        environment.prompts = &m_prompts;
        environment.desktop = &m_desktop;
        environment.notices = &m_notices;
        environment.workers.retryPause = std::chrono::milliseconds(50);
        environment.workers.folderFullPause = std::chrono::milliseconds(50);
        if (m_adjustEnvironment)
            m_adjustEnvironment(environment);
        m_window = std::make_unique<CquaveromfcDlg>(m_config, std::move(environment));
        m_window->OnInitDialog();
        m_window->show();
    }
    // The window opened on the queued track `title`, whose download the store holds
    // once `part` bytes are on disk, as a first attempt cut short leaves it.
    void openWithPartOnDisk(const std::string& title, std::uint64_t part)
    {
        m_store.setStallAfter(part, 1);
        openWindow();
        ASSERT_TRUE(m_store.waitForStalls(1));
        ASSERT_TRUE(waitFor([&] { return std::filesystem::file_size(trackPath(title)) == part; }));
    }
    // Closes the window as the close button does and waits until every worker has
    // said it ended.
    void closeWindow()
    {
        if (!m_window)
            return;
        m_window->onClose();
        EXPECT_TRUE(waitFor([&] { return m_window->exitedThreads() == THREAD_BITS_ALL; }));
        m_window->endWindow();
        m_window.reset();
    }

    // Runs the window's events until `condition` holds (or a generous limit).
    static bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

    std::string status() const { return m_window->controlAs<QLabel>(IDC_STATUS_TEXT)->text().toStdString(); }
    // The downloaded-files list: what it shows, and a double click on a row as the
    // user gives it.
    QListView* files() const { return m_window->controlAs<QListView>(IDC_FILE_LIST); }
    std::vector<std::string> shownFiles() const { return rowsOf(files()); }
    static std::vector<std::string> rowsOf(const QListView* list)
    {
        std::vector<std::string> shown;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            shown.push_back(list->model()->index(row, 0).data().toString().toStdString());
        return shown;
    }
    void doubleClickFile(int row)
    {
        // A double click is a click, then the second press (which QTest sends alone) and its release.
        const QPoint at = files()->visualRect(files()->model()->index(row, 0)).center();
        QTest::mouseClick(files()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(files()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(files()->viewport(), Qt::LeftButton, {}, at);
    }
    std::vector<sim::RecordedRequest> requestsTo(std::string_view prefix) const
    {
        auto matching = m_store.requests();
        std::erase_if(matching, [&](const sim::RecordedRequest& request) { return !request.path.starts_with(prefix); });
        return matching;
    }

    TempDir m_dir;
    sim::StoreSimulator m_store;
    Configuration m_config;
    ScriptedPrompts m_prompts;
    RecordingDesktop m_desktop;
    SilentNotices m_notices;
    std::function<void(MainWindowEnvironment&)> m_adjustEnvironment;
    std::unique_ptr<CquaveromfcDlg> m_window;
};

} // namespace qvr::test
