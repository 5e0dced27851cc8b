// The window's side of an update: its boxes, and the hidden instance that waits
// for the newer one.
#include "engine/request_inbox.h"
#include "platform/handoff.h"
#include "platform/process_launch.h"
#include "res/strings.h"
#include "ui/system_menu.h"

#include "tests/ui/window_fixture.h"

#include <QFileDialog>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <sys/wait.h>

#include <csignal>

namespace qvr::test {
namespace {

// A window whose start finds version 2.1.0.1 published for its 2.1.0.0 program,
// and whose new version, once installed, runs as QVR_TEST_START says
// (tests/helpers/version_probe.cpp).
class UpdateWindowTest : public WindowTest {
protected:
    UpdateWindowTest()
    {
        ::mkdir(m_dir.file("install").c_str(), 0755);
        ::mkdir(m_dir.file("run").c_str(), 0700);
        m_config.runtimeDir = m_dir.file("run");
        copyExecutable(QVR_VERSION_PROBE, m_dir.file("install/quavero"));
        stampedCopy(QVR_VERSION_PROBE, m_dir.file("newer"), "2.1.0.1");
        m_store.setVersionText("2.1.0.1");
        m_store.setVersionFile("quavero", readFile(m_dir.file("newer")));
        m_store.setVersionFile("quavero.sig", readFile(m_dir.file("newer.sig")));
        m_prompts.answer = IDYES;
        m_adjustEnvironment = [this](MainWindowEnvironment& environment) {
            SelfUpdateEnvironment update;
            update.updater.http = environment.workers.http;
            update.updater.executable = m_dir.file("install/quavero");
            update.updater.refusedNote = m_dir.file("cache/refused-version");
            update.launch = [this](const std::string& program, const std::vector<std::string>& args) {
                m_launched.push_back(program + " " + args.at(0));
                auto started = startWatched(program, args);
                m_newVersion = started ? started->pid() : 0;
                return started;
            };
            update.trialProof = m_trialProof;
            environment.selfUpdate = std::move(update);
            environment.handedOverLimit = m_handedOverLimit;
        };
    }
    ~UpdateWindowTest() override { ::unsetenv("QVR_TEST_START"); }

    std::int64_t sendFromOutside(const HandoffMessage& message)
    {
        const std::string& folder = *m_config.runtimeDir;
        using namespace std::chrono_literals;
        return sendHandoffMessage(folder, findWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING)), message, {2s, 2s})
            .value_or(-1);
    }

    // The new version says it took over: the hidden window ends. The new version would
    // run on; here it is a stand-in that waits, and goes.
    void takenOver()
    {
        QSignalSpy finished(m_window.get(), &QDialog::finished);
        EXPECT_EQ(sendFromOutside({WM_TAKEN_OVER, 0, 0, 0, {}}), 1);
        EXPECT_TRUE(waitFor([&] { return finished.count() == 1; }));
        m_window->endWindow();  // a hidden window has no workers to wait for
        m_window.reset();
        ::kill(m_newVersion, SIGKILL);
        ::waitpid(m_newVersion, nullptr, 0);
    }

    std::vector<std::string> m_launched;
    pid_t m_newVersion = 0;
    std::chrono::milliseconds m_handedOverLimit {60000};
    std::chrono::milliseconds m_trialProof {120000};
};

QProgressDialog* shownProgressBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QProgressDialog*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

TEST_F(UpdateWindowTest, AfterAnInstallTheWindowWaitsHiddenUntilTheNewVersionSaysItRuns)
{
    ::setenv("QVR_TEST_START", "hang", 1);
    writeFile(m_config.strings.m_strRawQueuePath, "track=old\r\n");
    m_config.strings.m_strRequest = "track=new";
    // What a kill while the notice is open leaves: the request handed on, nothing started.
    std::string atNotice;
    m_prompts.whileAsking = [&] {
        if (m_prompts.asked.size() == 2)
            atNotice = readFile(m_config.strings.m_strRawQueuePath) + (m_launched.empty() ? "" : " started");
    };
    openWindow();
    EXPECT_EQ(atNotice, "track=old\r\ntrack=new\r\n");

    // Their captions on the screen, and the programs exchanged, are the update's own tests.
    ASSERT_EQ(m_prompts.asked.size(), 2u);
    EXPECT_EQ(m_prompts.asked[0].text, "THIS VERSION OF THE MUSIC MANAGER IS NO LONGER FUNCTIONAL.  PLEASE CLICK YES TO "
                                       "DOWNLOAD THE NEW VERSION.");
    EXPECT_EQ(m_prompts.asked[1].text, "The application was updated successfully.");
    EXPECT_EQ(m_prompts.asked[0].type | m_prompts.asked[1].type << 8, MB_YESNO | MB_ICONQUESTION | MB_ICONINFORMATION << 8);
    EXPECT_EQ(m_launched, std::vector<std::string> {m_dir.file("install/quavero") + " /switch"});

    // Nothing of a running window: no gates, no controls, no queue, no workers.
    EXPECT_EQ(countEntries(m_dir.file("gates")), 0u);
    EXPECT_EQ(m_window->control(IDC_STATUS_TEXT), nullptr);
    EXPECT_TRUE(requestsTo("/downloader/downloader_dlm.html").empty());
    // Whatever asks, it does not show; the second start's quit does not end it yet.
    m_window->show();
    m_window->showNormal();
    m_window->windowProc(WM_SYSCOMMAND, SC_RESTORE, 0);
    QSignalSpy finished(m_window.get(), &QDialog::finished);
    m_window->windowProc(WM_SWITCH_QUIT, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(finished.count(), 0);

    takenOver();
}

struct FailedTakeOver { const char* name; const char* start; std::chrono::milliseconds limit {60000}; };
class FailedTakeOverTest : public UpdateWindowTest, public ::testing::WithParamInterface<FailedTakeOver> {};

// The new version crashes, ends, or never says that it runs: the old one is put back
// and its window comes, with what was handed over meanwhile.
TEST_P(FailedTakeOverTest, TheOldVersionCarriesOn)
{
    ::setenv("QVR_TEST_START", GetParam().start, 1);
    m_handedOverLimit = GetParam().limit;
    addTrack("own", "Own", 20000);
    addTrack("during", "During", 20000);
    m_config.strings.m_strRequest = "track=own";
    openWindow();
    ASSERT_FALSE(m_launched.empty());
    EXPECT_FALSE(m_window->isVisible());
    // A handed-over text is its first line, up to a NUL.
    const std::string handed = "track=during" + std::string("\r\n+more\0+more", 14);
    EXPECT_EQ(sendFromOutside({WM_COPYDATA, 0, 0, COPYDATA_RAW_ENTRY, handed}), 1);
    // As the new version publishes its window before it fails.
    ASSERT_TRUE(publishWindowHandle(*m_config.runtimeDir, loadString(IDS_HANDOFF_MAPPING), 0x0DD));

    ASSERT_TRUE(waitFor([&] { return m_window->isVisible() && m_window->queue().isEmpty()
                                      && m_window->rawEntries().isEmpty() && status() == "No Files in Queue"; }));
    EXPECT_EQ(countEntries(m_dir.file("install")), 1u) << "no backup left, no trial";
    EXPECT_EQ(m_prompts.asked.back().text, kUndoneText);
    EXPECT_EQ(readFile(trackPath("During")), expectedContent("during", 20000));
    const auto infos = requestsTo("/downloader/downloader_dlm.html");
    ASSERT_EQ(infos.size(), 2u) << "this start's own request once";
    EXPECT_TRUE(infos[0].query.starts_with("track=own&"));
    EXPECT_EQ(sendFromOutside({WM_SYSCOMMAND, SC_RESTORE, 0, 0, {}}), 0) << "found again by later starts";
    // The quit the new version sent before it failed, come in late.
    QSignalSpy finished(m_window.get(), &QDialog::finished);
    m_window->windowProc(WM_SWITCH_QUIT, 0, m_newVersion);
    EXPECT_EQ(finished.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(UpdateWindowTest, FailedTakeOverTest, ::testing::Values(
    FailedTakeOver {.name = "EndsAtOnce", .start = "exit1"},
    FailedTakeOver {.name = "NeverSaysItRuns", .start = "hang", .limit = std::chrono::milliseconds(200)}), kByName);

// The answer Yes, and the download cancelled in its progress box.
TEST_F(UpdateWindowTest, ACancelledDownloadStartsTheWindowWithWhatArrivedMeanwhile)
{
    addTrack("during", "Handed Over Meanwhile", 20000);
    addTrack("own", "Own Request", 20000);
    writeFile(m_config.strings.m_strRawQueuePath, "track=own\r\n");
    m_store.setStallAfter(8192, 1);
    // A second start while the question is open is answered at once, its request on
    // disk, though the window's thread is busy with the question.
    m_prompts.whileAsking = [this] {
        EXPECT_EQ(shownProgressBox(), nullptr) << "not before the answer";
        EXPECT_EQ(sendFromOutside({WM_COPYDATA, 0, 0, COPYDATA_RAW_ENTRY, "track=during"}), 1);
        EXPECT_EQ(RequestInbox(RequestInbox::folderBeside(m_config.strings.m_strRawQueuePath)).pendingLetters().size(), 1u);
    };
    // The download runs on the window's thread, which takes the box's events meanwhile.
    std::string shown;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QProgressDialog* box = shownProgressBox();
        if (!box || !box->labelText().contains(QLocale().toString(8192)))
            return;
        shown = box->labelText().toStdString();
        // An Enter meant for the question before must not cancel; only a click does.
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_FALSE(box->wasCanceled()) << "cancelled by Enter";
        QTest::mouseClick(box->findChild<QPushButton*>(), Qt::LeftButton);
        user.stop();
    });
    user.start(10);
    openWindow();
    m_prompts.whileAsking = nullptr;
    const QLocale locale;
    EXPECT_EQ(shown, ("Downloading the new version: " + locale.toString(8192) + " of "
                      + locale.toString(qulonglong(readFile(m_dir.file("newer")).size())) + " bytes").toStdString());
    EXPECT_EQ(shownProgressBox(), nullptr);
    EXPECT_EQ(m_prompts.asked.size(), 1u) << "no notice";
    EXPECT_TRUE(m_launched.empty()) << "the program left alone is the updater's test";
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty() && m_window->rawEntries().isEmpty()
                                      && status() == "No Files in Queue"; }));
    EXPECT_EQ(readFile(trackPath("Handed Over Meanwhile")), expectedContent("during", 20000));
    const auto infos = requestsTo("/downloader/downloader_dlm.html");
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_TRUE(infos[0].query.starts_with("track=own&")) << "the older entry first";
    EXPECT_TRUE(infos[1].query.starts_with("track=during&"));
}

// A version on trial looks for no newer one; its window's run proves it.
TEST_F(UpdateWindowTest, TheWindowOfAVersionOnTrialEndsTheTrialWithoutAskingForAnUpdate)
{
    writeFile(m_dir.file("install/update-trial"), "2.1.0.0\n");
    writeFile(m_dir.file("install/OldExecutable.bak"), "the previous version");
    UpdateTrial trial(m_dir.file("install/quavero"), "2.1.0.0");
    m_config.trial = &trial;
    m_trialProof = std::chrono::milliseconds(1);
    openWindow();
    EXPECT_TRUE(m_prompts.asked.empty());
    ASSERT_TRUE(waitFor([&] { return !std::filesystem::exists(m_dir.file("install/update-trial")); }));
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("install/OldExecutable.bak")));
}

TEST_F(UpdateWindowTest, AVersionOnTrialThatWasUndoneIsToldOfOnceButNotOfferedAgain)
{
    writeFile(m_dir.file("install/update-undone"), "2.1.0.1\n");
    UpdateTrial trial(m_dir.file("install/quavero"), "2.1.0.0");
    m_config.trial = &trial;
    openWindow();
    closeWindow();
    openWindow();
    EXPECT_THAT(m_prompts.asked, ::testing::ElementsAre(::testing::Field(&ScriptedPrompts::Asked::text, kUndoneText)));
    EXPECT_TRUE(requestsTo("/downloader/app_versions/QVR_DLM/quavero").empty());
}

// The waits before the window end at its budget; what they cut is asked once the
// window shows, without the window waiting for it.
class LaterAnswerTest : public UpdateWindowTest {
protected:
    LaterAnswerTest()
    {
        const auto update = m_adjustEnvironment;
        m_adjustEnvironment = [update](MainWindowEnvironment& environment) {
            update(environment);
            environment.startWaits = std::chrono::milliseconds(300);
            environment.webViews = [] { return nullptr; };
            environment.radioHttp = curlHttpClientFactory(radioCheckOptions());
        };
    }
    std::size_t lists() const { return requestsTo("/downloader/app_versions/QVR_DLM/index.html").size(); }
};

TEST_F(LaterAnswerTest, AYesToAVersionListAskedAgainHandsOverFromTheRunningWindow)
{
    ::setenv("QVR_TEST_START", "hang", 1);
    m_store.setVersionListSilence(1);
    openWindow();
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(m_prompts.asked.empty());
    ASSERT_TRUE(waitFor([&] { return !m_launched.empty(); }));
    EXPECT_EQ(lists(), 2u);
    EXPECT_EQ(m_prompts.asked.size(), 2u) << "the question and the notice";
    EXPECT_EQ(m_window->exitedThreads(), THREAD_BITS_ALL) << "the workers ended first";
    EXPECT_FALSE(m_window->isVisible());
    takenOver();
}

TEST_F(LaterAnswerTest, AVersionListAnsweredBusyIsAskedAgainNoSoonerThanTheStoreAsked)
{
    m_store.setUpdateBusy(503, std::chrono::seconds(1), 1);
    m_prompts.answer = IDNO;
    openWindow();
    EXPECT_TRUE(m_window->isVisible());
    ASSERT_TRUE(waitFor([&] { return m_prompts.asked.size() == 1; }));
    const auto asked = requestsTo("/downloader/app_versions/QVR_DLM/index.html");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GE(asked[1].at - asked[0].at, std::chrono::seconds(1));
}

TEST_F(LaterAnswerTest, ARadioPageCutByTheBudgetIsAskedAgainOnceTheWindowShows)
{
    m_prompts.answer = IDNO;
    m_store.setSilence({.radioPage = true});
    openWindow();
    EXPECT_TRUE(m_window->isVisible() && m_window->control(IDC_RADIO_LABEL)->isVisible());
    m_store.setSilence({});
    EXPECT_TRUE(waitFor([&] { return requestsTo("/radio_2/").size() == 2; }));
}

// A quit from a newer start, while a box over the window runs its own loop, ends the
// window and the box as the box's Cancel would: the folder the user had gone to in
// the chooser is not taken, nor the queue cleared.
struct OpenBox { const char* name; int button; };
class BoxOpenAtASwitch : public UpdateWindowTest, public ::testing::WithParamInterface<OpenBox> {};

TEST_P(BoxOpenAtASwitch, EndsWithTheWindowAsItsCancelWould)
{
    queueOnDisk({{"q", "Queued", 20000}});
    m_store.setStallAfter(0);
    std::vector<std::string> stored;
    m_adjustEnvironment = [&](MainWindowEnvironment& environment) {
        environment.prompts = nullptr;  // the real boxes
        environment.writeDownloadFolder = [&](const std::string& folder) {
            stored.push_back(folder);
            return SettingResult::ok();
        };
    };
    openWindow();
    QSignalSpy finished(m_window.get(), &QDialog::finished);
    bool ended = false;
    QTimer::singleShot(0, [&] {
        if (auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
            chooser->setDirectory(QString::fromStdString(m_dir.path()));  // where the user went
        EXPECT_EQ(sendFromOutside({WM_SWITCH_QUIT, 0, 1, 0, {}}), 1) << "answered while the box is open";
        ended = waitFor([&] { return finished.count() == 1 && !QApplication::activeModalWidget(); });
    });
    QTest::mouseClick(m_window->controlAs<QAbstractButton>(GetParam().button), Qt::LeftButton);
    EXPECT_TRUE(ended);
    EXPECT_THAT(stored, testing::IsEmpty());
    EXPECT_EQ(m_window->queue().getCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(UpdateWindowTest, BoxOpenAtASwitch, ::testing::Values(
    OpenBox {.name = "FolderChooser", .button = IDC_CHOOSE_FOLDER}, OpenBox {.name = "ClearsQuestion", .button = IDC_CLEAR}), kByName);

} // namespace
} // namespace qvr::test
