// The window's side of an update: its boxes, and the hidden instance that waits
// for the newer one.
#include "tests/ui/window_fixture.h"

#include "tests/support/executables.h"

#include "engine/request_inbox.h"
#include "platform/handoff.h"
#include "res/strings.h"

#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <sys/stat.h>

namespace qvr::test {
namespace {

// A window whose start finds version 2.1.0.1 published for its 2.1.0.0 program.
class UpdateWindowTest : public WindowTest {
protected:
    UpdateWindowTest()
    {
        ::mkdir(m_dir.file("install").c_str(), 0755);
        ::mkdir(m_dir.file("tmp").c_str(), 0700);
        copyExecutable(QVR_VERSION_PROBE, m_dir.file("install/quavero"));
        stampedCopy(QVR_VERSION_PROBE, m_dir.file("newer"), "2.1.0.1");
        m_store.setVersionText("2.1.0.1");
        m_store.setVersionFile("quavero", readFile(m_dir.file("newer")));
        m_store.setVersionFile("quavero.sig", readFile(m_dir.file("newer.sig")));
        m_prompts.answer = IDYES;
        m_adjustEnvironment = [this](MainWindowEnvironment& environment) {
            SelfUpdateEnvironment update;
            update.updater.http = environment.http;
            update.updater.executable = m_dir.file("install/quavero");
            update.updater.tempFolder = m_dir.file("tmp/");
            update.updater.refusedNote = m_dir.file("cache/refused-version");
            update.launch = [this](const std::string& program, const std::vector<std::string>& args) {
                m_launched.push_back(program + " " + args.at(0));
                return true;
            };
            environment.selfUpdate = std::move(update);
            environment.handedOverLimit = m_handedOverLimit;
        };
    }

    // A hidden window has no workers to wait for.
    void endHiddenWindow()
    {
        m_window->EndWindow();
        m_window.reset();
    }

    std::vector<std::string> m_launched;
    std::chrono::milliseconds m_handedOverLimit {60000};
};

QProgressDialog* ShownProgressBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QProgressDialog*>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

TEST_F(UpdateWindowTest, AfterAnInstallTheWindowStaysHiddenAndIdleUntilTakenOver)
{
    writeFile(m_config.strings.m_strRawQueuePath, "track=old\r\n");
    writeFile(m_config.strings.m_strDownloadQueuePath, "Queued|http://127.0.0.1:1/q.mp3\r\n");
    m_config.strings.m_strRequest = "track=new";
    // What a kill while the notice is open leaves: the request handed on, nothing started.
    std::string atNotice;
    m_prompts.whileAsking = [&] {
        if (m_prompts.asked.size() == 2)
            atNotice = readFile(m_config.strings.m_strRawQueuePath) + (m_launched.empty() ? "" : " started");
    };
    openWindow();
    EXPECT_EQ(atNotice, "track=old\r\ntrack=new\r\n");

    ASSERT_EQ(m_prompts.asked.size(), 2u);
    EXPECT_EQ(m_prompts.asked[0].text, "THIS VERSION OF THE MUSIC MANAGER IS NO LONGER FUNCTIONAL.  "
                                       "PLEASE CLICK YES TO DOWNLOAD THE NEW VERSION.");
    EXPECT_EQ(m_prompts.asked[0].caption, "");
    EXPECT_EQ(m_prompts.asked[0].type, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(m_prompts.asked[1].text, "The application was updated successfully.");
    EXPECT_EQ(m_prompts.asked[1].caption, "Updater");
    EXPECT_EQ(m_prompts.asked[1].type, unsigned(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(m_launched, std::vector<std::string> {m_dir.file("install/quavero") + " /switch"});
    EXPECT_EQ(readFile(m_config.strings.m_strRawQueuePath), "track=old\r\ntrack=new\r\n");

    // Nothing of a running window: no gates, no controls, no queue, no workers.
    EXPECT_EQ(countEntries(m_dir.file("gates")), 0u);
    EXPECT_EQ(m_window->control(IDC_STATUS_TEXT), nullptr);
    EXPECT_TRUE(m_window->queue().IsEmpty());
    EXPECT_TRUE(requestsTo("/downloader/downloader_dlm.html").empty());

    // Whatever asks, it does not show.
    m_window->show();
    m_window->showNormal();
    m_window->showMinimized();
    m_window->WindowProc(WM_SYSCOMMAND, SC_RESTORE, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_window->isVisible());

    QSignalSpy finished(m_window.get(), &QDialog::finished);
    m_window->WindowProc(WM_SWITCH_QUIT, 0, 0);
    EXPECT_EQ(finished.count(), 1);
    endHiddenWindow();
    EXPECT_EQ(readFile(m_config.strings.m_strRawQueuePath), "track=old\r\ntrack=new\r\n");
    EXPECT_EQ(readFile(m_config.strings.m_strDownloadQueuePath), "Queued|http://127.0.0.1:1/q.mp3\r\n");
}

TEST_F(UpdateWindowTest, AHiddenWindowNeverTakenOverEndsByItselfAndKeepsTheRequests)
{
    m_handedOverLimit = std::chrono::milliseconds(100);
    writeFile(m_config.strings.m_strRawQueuePath, "track=old\r\n");
    m_config.strings.m_strRequest = "track=new";
    makeWindow();
    EXPECT_EQ(m_window->DoModal(), 0);
    EXPECT_TRUE(m_window->queueController().switchQuit());
    m_window.reset();
    EXPECT_EQ(readFile(m_config.strings.m_strRawQueuePath), "track=old\r\ntrack=new\r\n")
        << "the file holds the requests; an empty list must not replace it";
}

// The answer Yes, and the download cancelled in its progress box.
TEST_F(UpdateWindowTest, ACancelStartsNormallyKeepsWhatArrivedDuringTheQuestionAndIsNotAskedAgain)
{
    addTrack("during", "Handed Over Meanwhile", 20000);
    addTrack("own", "Own Request", 20000);
    writeFile(m_config.strings.m_strRawQueuePath, "track=own\r\n");
    m_config.runtimeDir = m_dir.file("run");
    ::mkdir(m_dir.file("run").c_str(), 0700);
    m_store.setStallAfter(8192, 1);
    // A second start while the question is open is answered at once, its request on
    // disk, though the window's thread is busy with the question.
    m_prompts.whileAsking = [this] {
        EXPECT_EQ(ShownProgressBox(), nullptr) << "not before the answer";
        const std::string& folder = *m_config.runtimeDir;
        const auto handle = FindWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING));
        using namespace std::chrono_literals;
        EXPECT_EQ(SendHandoffMessage(folder, handle, {WM_COPYDATA, 0, 0, COPYDATA_RAW_ENTRY, "track=during"}, {2s, 2s}), 1);
        EXPECT_EQ(RequestInbox(RequestInbox::FolderBeside(m_config.strings.m_strRawQueuePath)).Pending().size(), 1u);
    };
    // The download runs on the window's thread, which takes the box's events meanwhile.
    std::string shown;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QProgressDialog* box = ShownProgressBox();
        if (!box || !box->labelText().contains(QLocale().toString(8192)))
            return;
        shown = box->labelText().toStdString();
        QTest::mouseClick(box->findChild<QPushButton*>(), Qt::LeftButton);
        user.stop();
    });
    user.start(10);
    openWindow();
    m_prompts.whileAsking = nullptr;
    const QLocale locale;
    EXPECT_EQ(shown, ("Downloading the new version: " + locale.toString(8192) + " of "
                      + locale.toString(qulonglong(readFile(m_dir.file("newer")).size())) + " bytes").toStdString());
    EXPECT_EQ(ShownProgressBox(), nullptr);
    EXPECT_EQ(m_prompts.asked.size(), 1u) << "no notice";
    EXPECT_TRUE(m_launched.empty());
    EXPECT_TRUE(readFile(m_dir.file("install/quavero")) == readFile(QVR_VERSION_PROBE));
    EXPECT_EQ(countEntries(m_dir.file("install")), 1u);
    EXPECT_EQ(countEntries(m_dir.file("tmp")), 0u);
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty() && m_window->rawEntries().IsEmpty()
                                      && status() == "No Files in Queue"; }));
    EXPECT_EQ(readFile(trackPath("Handed Over Meanwhile")), expectedContent("during", 20000));
    const auto infos = requestsTo("/downloader/downloader_dlm.html");
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_TRUE(infos[0].query.starts_with("track=own&")) << "the older entry first";
    EXPECT_TRUE(infos[1].query.starts_with("track=during&"));

    // The next start asks nothing while the list names that version.
    closeWindow();
    m_prompts = {};
    openWindow();
    EXPECT_TRUE(m_prompts.asked.empty());
}

} // namespace
} // namespace qvr::test
