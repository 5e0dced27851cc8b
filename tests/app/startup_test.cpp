#include "app/application.h"
#include "engine/request_inbox.h"
#include "engine/window_messages.h"
#include "platform/handoff.h"
#include "platform/named_mutex.h"
#include "res/strings.h"

#include "tests/support/process.h"
#include "tests/support/program_fixture.h"

#include <future>
#include <mutex>
#include <regex>
#include <stdexcept>

namespace qvr {
namespace {

using test::makeHive;
using test::readFile;
using test::writeFile;
using StartPath = CquaveromfcApp::StartPath;

// The application without its window: the tests look at the decisions of the
// start-up, not at a window that would wait for a user.
class WindowlessApp : public CquaveromfcApp {
public:
    using CquaveromfcApp::CquaveromfcApp;

protected:
    int RunMainWindow(const CMyCommandLineInfo&) override { return 0; }
};

class Startup : public ::testing::Test {
protected:
    Startup()
    {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("XDG_DATA_HOME", m_dir.file("data").c_str(), 1);
        // Settings made anew put a music folder in the home.
        ::setenv("HOME", m_dir.file("home").c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        writeFile(hivePath(), makeHive("\"Directory\"=\"" + m_dir.path() + "\"", "\"DownloadFolder\"=\"/music\"",
                                       "\"RawQueue\"=\"" + m_dir.file("raw.txt") + "\""));
        writeFile(requestPath(), "track=42&format=mp3\r\nsecond line\r\n");
        ::mkdir(m_runtime.c_str(), 0700);
    }

    ~Startup() override
    {
        ::unsetenv("XDG_DATA_HOME");
        ::setenv("HOME", m_home.c_str(), 1);
    }

    std::string hivePath() const { return m_dir.file("registry.reg"); }
    std::string requestPath() const { return m_dir.file("request.qvr"); }

    WindowlessApp start(std::vector<std::string> args)
    {
        WindowlessApp app(AppEnvironment {{hivePath(), m_runtime, "", {}}, {}, m_windowWait});
        args.insert(args.begin(), "quavero");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        CMyCommandLineInfo commandLine;
        parseCommandLine(static_cast<int>(args.size()), argv.data(), commandLine);
        EXPECT_FALSE(app.InitInstance(commandLine));
        return app;
    }
    // Another instance of the program, as far as this process can tell.
    std::optional<NamedMutex> otherInstance() { return NamedMutex::create(m_runtime, loadString(IDS_INSTANCE_MUTEX)); }

    // The test plays the running instance's window: it writes down what reaches it,
    // and answers a request with m_keepRequest (1: kept).
    void publishWindow(const std::string& runtime = {})
    {
        const std::string& folder = runtime.empty() ? m_runtime : runtime;
        m_window = HandoffServer::start(windowSocketPath(folder, kHandle), [this](const HandoffMessage& m) {
            {
                const std::lock_guard lock(m_mutex);
                m_received.push_back(std::to_string(m.message) + " " + std::to_string(m.wParam) + " " + m.data);
            }
            return m.message == WM_COPYDATA ? m_keepRequest() : std::int64_t(0);
        });
        ASSERT_TRUE(m_window);
        ASSERT_TRUE(publishWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING), kHandle));
    }
    std::vector<std::string> received()
    {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_received, {});
    }

    static constexpr std::uint32_t kHandle = 0x5EC0;
    const std::string m_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    test::TempDir m_dir;
    const std::string m_runtime = m_dir.file("run");
    std::chrono::milliseconds m_windowWait {20000};
    std::unique_ptr<HandoffServer> m_window;
    std::function<std::int64_t()> m_keepRequest = [] { return 1; };
    std::mutex m_mutex;
    std::vector<std::string> m_received;
};

TEST_F(Startup, ASecondStartRestoresTheWindowAndGoesOnlyOnceTheWindowSaidItKeptTheRequest)
{
    EXPECT_EQ(start({requestPath()}).startPath(), StartPath::MainWindow);
    EXPECT_EQ(start({"-switch"}).startPath(), StartPath::MainWindow) << "nobody to take over from";
    struct Case {
        const char* window;
        std::function<std::int64_t()> answer;
        StartPath path;
        int status;
        const char* switchOver;
        bool keptForTheNextWindow = false;
    };
    std::optional<NamedMutex> running;
    // A window that dies while it handles the request sends no answer.
    const auto dies = [&]() -> std::int64_t { throw std::runtime_error("gone"); };
    const int notHandedOver = CquaveromfcApp::kExitNotHandedOver;
    const Case cases[] = {
        {"kept it", [] { return 1; }, StartPath::HandedOver, 0, nullptr},
        {"could not save it", [] { return 0; }, StartPath::HandOffFailed, notHandedOver, nullptr, true},
        {"died and left the name", [&] { running.reset(); return dies(); }, StartPath::MainWindow, 0, nullptr},
        {"died, the name still held", dies, StartPath::HandOffFailed, notHandedOver, nullptr, true},
        // One that takes over keeps its request, and only restores and ends the other.
        {"taken over", [] { return 1; }, StartPath::MainWindow, 0, "/switch"},
    };
    const std::string restore = "274 61728 ";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        running = otherInstance();
        publishWindow();
        m_keepRequest = c.answer;
        auto app = c.switchOver ? start({c.switchOver, requestPath()}) : start({requestPath()});
        EXPECT_EQ(app.startPath(), c.path);
        EXPECT_EQ(app.exitStatus(), c.status);
        EXPECT_EQ(app.strings().m_strRequest, "track=42&format=mp3");
        RequestInbox inbox(RequestInbox::folderBeside(m_dir.file("raw.txt")));
        EXPECT_EQ(inbox.pendingLetters().size(), c.keptForTheNextWindow ? 1u : 0u);
        for (const auto& letter : inbox.pendingLetters())
            inbox.removeLetter(letter);
        EXPECT_EQ(received(), (std::vector<std::string> {restore, c.switchOver ? "1130 0 "
                                                                                 : "74 0 " + std::string("track=42&format=mp3\0", 20)}));
        m_window.reset();
    }
}

// However long a second start waits, its line says so: this window takes the connection and never answers.
TEST_F(Startup, ASecondStartGivesUpOnAWindowThatDoesNotAnswerWithinItsWaitAndSaysSo)
{
    const auto running = otherInstance();
    std::promise<void> answer;
    m_keepRequest = [ended = answer.get_future().share()] { ended.wait(); return 1; };
    publishWindow();
    m_windowWait = std::chrono::milliseconds(300);
    testing::internal::CaptureStderr();
    const auto app = start({requestPath()});
    const std::string said = testing::internal::GetCapturedStderr();
    answer.set_value();
    m_window.reset();
    EXPECT_EQ(app.startPath(), StartPath::HandOffFailed);
    EXPECT_THAT(said, testing::HasSubstr("did not answer within 0.3 s"));
}

// Another login session has another runtime folder: its window is met through the queue files' lock alone.
TEST_F(Startup, AStartFromAnotherLoginSessionGoesToTheWindowThatOwnsTheQueueFilesAndOpensNone)
{
    const std::string theirs = m_dir.file("theirs");
    ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
    auto owner = OwnerLock::open(m_dir.file("quavero.lock"));
    ASSERT_TRUE(owner && owner->tryTake());
    m_windowWait = std::chrono::milliseconds(500);
    const struct {
        const char* name;
        std::string note;
        bool reached;
    } cases[] = {{"its window is reached", theirs, true}, {"its window is not", theirs, false}, {"it noted none", "", false}};
    RequestInbox inbox(RequestInbox::folderBeside(m_dir.file("raw.txt")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(owner->writeNote(c.note));
        if (c.reached)
            publishWindow(theirs);
        const auto app = start({requestPath()});
        EXPECT_EQ(app.startPath(), c.reached ? StartPath::HandedOver : StartPath::HandOffFailed);
        EXPECT_EQ(app.exitStatus(), c.reached ? 0 : CquaveromfcApp::kExitNotHandedOver);
        EXPECT_EQ(received().size(), c.reached ? 2u : 0u) << "restored, and handed the request";
        EXPECT_EQ(inbox.pendingLetters().size(), c.reached ? 0u : 1u) << "the owner takes it from there";
        for (const auto& letter : inbox.pendingLetters())
            inbox.removeLetter(letter);
        m_window.reset();
    }
    // Once the owner has gone, the next start owns the queue files, and notes where others meet it.
    owner.reset();
    EXPECT_EQ(start({requestPath()}).startPath(), StartPath::MainWindow);
    EXPECT_EQ(OwnerLock::open(m_dir.file("quavero.lock"))->readNote(), m_runtime);
}

// Another user could plant requests in a folder that is not ours alone, or read those queued there.
TEST_F(Startup, QueueFilesInAFolderOthersCanWriteInAreNotUsedAndTheWindowIsToldWhy)
{
    const std::string shared = m_dir.file("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    writeFile(hivePath(), makeHive("", "", "\"RawQueue\"=\"" + shared + "/raw.txt\""));
    for (const mode_t mode : {01777, 0770}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(shared.c_str(), mode), 0);
        const auto app = start({});
        EXPECT_EQ(app.strings().m_strRawQueuePath, m_dir.file("data/quavero/rawqueue.txt"));
        EXPECT_THAT(app.configuration().queueFolderNotice, testing::HasSubstr(shared));
    }
}

TEST_F(Startup, AnInboxAnotherUserMadeBesideTheQueueFilesIsNotUsed)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "only root can make a folder another user's";
    const std::string inbox = m_dir.file("inbox");
    ASSERT_EQ(::mkdir(inbox.c_str(), 0700), 0);
    ASSERT_EQ(::chown(inbox.c_str(), 65534, 65534), 0);
    const auto app = start({});
    EXPECT_EQ(app.strings().m_strRawQueuePath, m_dir.file("data/quavero/rawqueue.txt"));
    EXPECT_THAT(app.configuration().queueFolderNotice, testing::HasSubstr(inbox));
}

// A lock made under sudo, say: taken for none, a second window would run on the same queue files.
TEST_F(Startup, AnInstanceLockWeMayNotOpenCountsAsAnotherInstanceAndOtherFailuresDoNot)
{
    ASSERT_TRUE(otherInstance());
    ASSERT_EQ(::chmod((m_runtime + "/" + loadString(IDS_INSTANCE_MUTEX)).c_str(), 0), 0);
    ASSERT_EQ(::chmod(m_runtime.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0777), 0);
    m_windowWait = {}; // none is published to wait for
    const auto path = [&] { return static_cast<int>(start({}).startPath()); };
    // Root opens everything: the user is then played by a child process.
    EXPECT_EQ(::getuid() == 0 ? test::exitCodeAsNobody(path) : path(), static_cast<int>(StartPath::HandedOver));
    std::filesystem::remove_all(m_runtime);
    EXPECT_EQ(start({}).startPath(), StartPath::MainWindow) << "a runtime folder that is gone holds no instance";
}

TEST_F(Startup, ASecondStartReadsOnlyTheFirstLineOfARequestFileAndLeavesTheFile)
{
    const auto running = otherInstance();
    publishWindow();
    // How the line is read (its end, a CR in it, a locked file) is the request-line fuzz
    // target's and the exclusive read's test.
    const std::tuple<const char*, std::optional<std::string>, std::string> cases[] = {
        {"request.qvr", std::nullopt, "track=42&format=mp3"},
        {"upper.QVR", "track=1\r\n", ""}, // the marker is case-sensitive
        {"missing.qvr", std::nullopt, ""},
        {"nul.qvr", std::string("a=1\0b=2\n", 8), "a=1"},
        {"request.qvr.txt", "inside=1\n", "inside=1"}, // the marker may stand anywhere in the path
    };
    for (const auto& [name, contents, line] : cases) {
        SCOPED_TRACE(name);
        if (contents)
            writeFile(m_dir.file(name), *contents);
        auto app = start({m_dir.file(name)});
        EXPECT_EQ(app.startPath(), StartPath::HandedOver);
        EXPECT_EQ(app.strings().m_strRequest, line);
        EXPECT_EQ(app.strings().m_strDownloadFolder, "/music") << "settings are loaded before the hand-over";
    }
    EXPECT_EQ(readFile(requestPath()), "track=42&format=mp3\r\nsecond line\r\n");
}

// A request must be kept somewhere, and never where the program happened to start.
TEST_F(Startup, SettingsThatNameNoQueueFilesGetThoseOfAFirstStart)
{
    const std::string hives[] = {
        makeHive("\"Directory\"=\"/x\"", "\"DownloadFolder\"=\"/music\"", ""),
        makeHive("", "", "\"RawQueue\"=\"raw.txt\"\r\n\"DownloadQueue\"=\"queue.txt\""),
        "\xff\xfe damaged beyond reading",
    };
    for (const std::string& hive : hives) {
        SCOPED_TRACE(hive);
        writeFile(hivePath(), hive);
        const auto app = start({});
        EXPECT_EQ(app.strings().m_strRawQueuePath, m_dir.file("data/quavero/rawqueue.txt"));
        EXPECT_EQ(app.strings().m_strDownloadQueuePath, m_dir.file("data/quavero/downloadqueue.txt"));
    }
}

const std::string kKeptId = "0123456789ABCDEF0123456789ABCDEF";

struct DamagedSettings {
    const char* name;
    std::string (*damage)(const std::string& whole);
    bool keepsValues = false;
    bool keepsRawQueue = false;  // else a first start's
};

class UnreadableSettings : public Startup, public testing::WithParamInterface<DamagedSettings> {};

// No earlier kept file is replaced; the user is told once, and where the old file is.
// A line cut short is no value.
TEST_P(UnreadableSettings, AreKeptAsideUnchangedAndANewFileKeepsWhatStillReads)
{
    const std::string rawQueue = m_dir.file("queues/raw.txt"), kept = m_dir.file("kept");
    const std::string bytes = GetParam().damage(makeHive(
        "", "\"DownloadFolder\"=\"" + kept + "\"\r\n\"GUID\"=\"" + kKeptId + "\"", "\"RawQueue\"=\"" + rawQueue + "\""));
    writeFile(hivePath() + ".broken", "kept from before");
    writeFile(hivePath(), bytes);
    std::optional app(start({}));
    EXPECT_EQ(readFile(hivePath() + ".broken"), "kept from before");
    EXPECT_TRUE(readFile(hivePath() + ".broken.2") == bytes);
    EXPECT_THAT(app->configuration().settingsNotice, testing::HasSubstr(hivePath() + ".broken.2\n"));
    EXPECT_EQ(app->strings().m_strDownloadFolder, GetParam().keepsValues ? kept : m_dir.file("home/Music/Quavero"));
    EXPECT_EQ(app->strings().m_strInstallationId == kKeptId, GetParam().keepsValues);
    EXPECT_TRUE(std::regex_match(app->strings().m_strInstallationId, std::regex("[0-9A-F]{32}")));
    EXPECT_EQ(app->strings().m_strRawQueuePath,
              GetParam().keepsRawQueue ? rawQueue : m_dir.file("data/quavero/rawqueue.txt"));

    const std::string id = app->strings().m_strInstallationId;
    app.reset(); // it ended: the next start owns the queue files in turn
    const auto again = start({});
    EXPECT_EQ(again.configuration().settingsNotice, "");
    EXPECT_EQ(again.strings().m_strInstallationId, id);
}

INSTANTIATE_TEST_SUITE_P(
    Startup, UnreadableSettings,
    testing::Values(
        DamagedSettings {.name = "Truncated", .damage = [](const std::string& whole) { return whole.substr(0, whole.size() - 5); }, .keepsValues = true},
        DamagedSettings {.name = "Garbage", .damage = [](const std::string&) { return std::string("\xff\xfe damaged beyond reading"); }},
        DamagedSettings {.name = "Of50MB", .damage = [](const std::string& whole) { return whole + std::string(50 << 20, 'x'); },
                         .keepsValues = true, .keepsRawQueue = true},
        DamagedSettings {.name = "OfAMillionLines", .damage = [](const std::string&) { return "REGEDIT4\n" + std::string(1 << 20, '\n'); }}),
    [](const testing::TestParamInfo<DamagedSettings>& test) { return std::string(test.param.name); });

// The real executable first, as the installer runs it.
TEST_F(Startup, InstallGivesAnIdOnceRemovesTheOldPluginAndIgnoresEverythingElse)
{
    writeFile(m_dir.file("quavero_ieplug.dll"), "MZ");
    ASSERT_EQ(test::runProcess({QVR_EXECUTABLE, "-INSTALL"}, {"QVR_REGISTRY=" + hivePath(), "XDG_RUNTIME_DIR=" + m_runtime,
                                                               "QT_QPA_PLATFORM=offscreen"}), 0);
    const std::string installed = readFile(hivePath());
    const auto at = installed.find("\"GUID\"=\"");
    ASSERT_NE(at, std::string::npos) << installed;
    const std::string id = installed.substr(at + 8, 32);
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{32}"))) << id;
    EXPECT_EQ(installed.substr(at + 40, 3), "\"\r\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("quavero_ieplug.dll")));

    // Again, with a request, /switch and another instance: none of them counts.
    const auto running = otherInstance();
    auto again = start({requestPath(), "/switch", "/install"});
    EXPECT_EQ(again.startPath(), StartPath::Install);
    EXPECT_EQ(again.strings().m_strRequest, "");
    EXPECT_EQ(again.strings().m_strInstallationId, id);
    EXPECT_EQ(readFile(hivePath()), installed) << "an existing id is never replaced";

    const std::string noClientKey = makeHive("\"Directory\"=\"/nowhere\"", "", "\"RawQueue\"=\"/raw\"");
    writeFile(hivePath(), noClientKey);
    EXPECT_EQ(start({"/install"}).strings().m_strInstallationId.size(), 32u) << "the process still has an id";
    EXPECT_EQ(readFile(hivePath()), noClientKey);
}

} // namespace
} // namespace qvr
