#include "app/application.h"
#include "engine/request_inbox.h"
#include "engine/window_messages.h"
#include "platform/handoff.h"
#include "platform/named_mutex.h"
#include "res/strings.h"

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
constexpr const char* kRequest = "track=42&format=mp3";  // the first line of the request file

// A message to the running window as the test writes it down: number, wParam, data.
std::string seen(std::uint32_t message, std::uint64_t wParam, const std::string& data = {})
{
    return std::to_string(message) + " " + std::to_string(wParam) + " " + data;
}
std::string restoreMessage() { return seen(WM_SYSCOMMAND, SC_RESTORE); }
std::string switchQuitMessage() { return seen(WM_SWITCH_QUIT, 0); }
std::string requestMessage(const std::string& request) { return seen(WM_COPYDATA, 0, request + '\0'); }

// The application without its window: the tests look at the decisions of the
// start-up, not at a window that would wait for a user.
class WindowlessApp : public CquaveromfcApp {
public:
    using CquaveromfcApp::CquaveromfcApp;

protected:
    int runMainWindow(const CMyCommandLineInfo&) override { return 0; }
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
        std::vector<char*> argv(args.size() + 1); // ended by a null pointer, as main's
        std::ranges::transform(args, argv.begin(), [](std::string& a) { return a.data(); });
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
                m_received.push_back(seen(m.message, m.wParam, m.data));
            }
            return m.message == WM_COPYDATA ? m_keepRequest() : std::int64_t(0);
        });
        ASSERT_TRUE(m_window);
        ASSERT_TRUE(publishWindowHandle(folder, loadString(IDS_HANDOFF_MAPPING), kHandle));
    }
    std::size_t lettersLeft() const { return RequestInbox(RequestInbox::folderBeside(m_dir.file("raw.txt"))).pendingLetters().size(); }
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

// What the running window does with a second start's request. One that dies while it
// handles the request sends no answer.
enum class WindowAnswer { Kept, NotSaved, DiedReleasingTheInstance, DiedHoldingTheInstance };
struct HandOver { const char* name; WindowAnswer answer; StartPath path; };
class SecondStart : public Startup, public testing::WithParamInterface<HandOver> {};

// A request not handed over waits in the inbox for the next window.
TEST_P(SecondStart, GoesOnlyOnceTheWindowSaidItKeptTheRequest)
{
    std::optional<NamedMutex> running = otherInstance();
    m_keepRequest = [&running, answer = GetParam().answer]() -> std::int64_t {
        if (answer == WindowAnswer::DiedReleasingTheInstance)
            running.reset();
        if (answer == WindowAnswer::DiedReleasingTheInstance || answer == WindowAnswer::DiedHoldingTheInstance)
            throw std::runtime_error("gone");
        return answer == WindowAnswer::Kept;
    };
    publishWindow();
    const auto app = start({requestPath()});
    const bool failed = GetParam().path == StartPath::HandOffFailed;
    EXPECT_EQ(app.startPath(), GetParam().path);
    EXPECT_EQ(app.exitStatus(), failed ? CquaveromfcApp::kExitNotHandedOver : 0);
    EXPECT_EQ(app.strings().m_strRequest, kRequest);
    EXPECT_EQ(lettersLeft(), failed ? 1u : 0u);
    EXPECT_EQ(received(), (std::vector {restoreMessage(), requestMessage(kRequest)}));
}

INSTANTIATE_TEST_SUITE_P(Startup, SecondStart, testing::Values(
    HandOver {.name = "Kept", .answer = WindowAnswer::Kept, .path = StartPath::HandedOver},
    HandOver {.name = "NotSaved", .answer = WindowAnswer::NotSaved, .path = StartPath::HandOffFailed},
    HandOver {.name = "DiedReleasingTheInstance", .answer = WindowAnswer::DiedReleasingTheInstance, .path = StartPath::MainWindow},
    HandOver {.name = "DiedHoldingTheInstance", .answer = WindowAnswer::DiedHoldingTheInstance, .path = StartPath::HandOffFailed}), test::kByName);

// It keeps its request, and only restores and ends the other.
TEST_F(Startup, AStartThatTakesOverEndsTheRunningWindow)
{
    const auto running = otherInstance();
    publishWindow();
    const auto app = start({"/switch", requestPath()});
    EXPECT_EQ(app.startPath(), StartPath::MainWindow);
    EXPECT_EQ(app.strings().m_strRequest, kRequest);
    EXPECT_EQ(received(), (std::vector {restoreMessage(), switchQuitMessage()}));
}

// However long a second start waits, its line says so: this window takes the connection and never answers.
TEST_F(Startup, ASecondStartSaysItGaveUpOnAWindowThatDidNotAnswerWithinItsWait)
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

// Another login session has another runtime folder: its window is met through the
// queue files' lock alone, which this test holds.
class AnotherSession : public Startup {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::mkdir(m_theirs.c_str(), 0700), 0);
        ASSERT_TRUE(m_owner && m_owner->tryTake());
        m_windowWait = std::chrono::milliseconds(500);
    }
    const std::string m_theirs = m_dir.file("theirs");
    std::optional<OwnerLock> m_owner = OwnerLock::open(m_dir.file("quavero.lock"));
};

TEST_F(AnotherSession, AStartHandsItsRequestToTheWindowOfTheQueueFilesOwner)
{
    ASSERT_TRUE(m_owner->writeNote(m_theirs));
    publishWindow(m_theirs);
    const auto app = start({requestPath()});
    EXPECT_EQ(app.startPath(), StartPath::HandedOver);
    EXPECT_EQ(received(), (std::vector {restoreMessage(), requestMessage(kRequest)}));
    EXPECT_EQ(lettersLeft(), 0u);
}

// The note names no folder, or one where no window answers: the owner takes the request
// from the inbox.
struct OwnersNote { const char* name; bool namesTheirFolder; };
class UnreachedOwner : public AnotherSession, public testing::WithParamInterface<OwnersNote> {};

TEST_P(UnreachedOwner, IsLeftTheRequestInTheInbox)
{
    ASSERT_TRUE(m_owner->writeNote(GetParam().namesTheirFolder ? m_theirs : ""));
    const auto app = start({requestPath()});
    EXPECT_EQ(app.startPath(), StartPath::HandOffFailed);
    EXPECT_EQ(app.exitStatus(), CquaveromfcApp::kExitNotHandedOver);
    EXPECT_EQ(lettersLeft(), 1u);
}

INSTANTIATE_TEST_SUITE_P(AnotherSession, UnreachedOwner, testing::Values(
    OwnersNote {.name = "WhoseWindowIsGone", .namesTheirFolder = true}, OwnersNote {.name = "WhoNotedNone", .namesTheirFolder = false}), test::kByName);

// The next start owns the queue files, and notes where others meet it.
TEST_F(AnotherSession, OnceTheOwnerHasGoneTheNextStartOwnsTheQueueFiles)
{
    m_owner.reset();
    EXPECT_EQ(start({requestPath()}).startPath(), StartPath::MainWindow);
    EXPECT_EQ(OwnerLock::open(m_dir.file("quavero.lock"))->readNote(), m_runtime);
}

// Another user could plant requests in a folder that is not ours alone, or read those
// queued there; the window is told why.
struct SharedFolder { const char* name; mode_t mode; };
class QueueFolderShared : public Startup, public testing::WithParamInterface<SharedFolder> {};

TEST_P(QueueFolderShared, IsNotUsedForTheQueueFiles)
{
    const std::string shared = m_dir.file("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(shared.c_str(), GetParam().mode), 0);
    writeFile(hivePath(), makeHive("", "", "\"RawQueue\"=\"" + shared + "/raw.txt\""));
    const auto app = start({});
    EXPECT_EQ(app.strings().m_strRawQueuePath, m_dir.file("data/quavero/rawqueue.txt"));
    EXPECT_THAT(app.configuration().queueFolderNotice, testing::HasSubstr(shared));
}

INSTANTIATE_TEST_SUITE_P(Startup, QueueFolderShared, testing::Values(
    SharedFolder {.name = "WithEveryone", .mode = 01777}, SharedFolder {.name = "WithAGroup", .mode = 0770}), test::kByName);

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
TEST_F(Startup, AnInstanceLockWeMayNotOpenCountsAsAnotherInstance)
{
    ASSERT_TRUE(otherInstance());
    ASSERT_EQ(::chmod((m_runtime + "/" + loadString(IDS_INSTANCE_MUTEX)).c_str(), 0), 0);
    ASSERT_EQ(::chmod(m_runtime.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0777), 0);
    m_windowWait = {}; // none is published to wait for
    const auto path = [&] { return static_cast<int>(start({}).startPath()); };
    // Root opens everything: the user is then played by a child process.
    EXPECT_EQ(::getuid() == 0 ? test::exitCodeAsNobody(path) : path(), static_cast<int>(StartPath::HandedOver));
}

TEST_F(Startup, ARuntimeFolderThatIsGoneHoldsNoInstance)
{
    ASSERT_TRUE(otherInstance());
    std::filesystem::remove_all(m_runtime);
    EXPECT_EQ(start({}).startPath(), StartPath::MainWindow);
}

// A request file (none where it has no contents), and the request a second start hands over.
struct RequestFile { const char* name; const char* file; std::optional<std::string> contents; std::string request; };
class SecondStartsFile : public Startup, public testing::WithParamInterface<RequestFile> {};

// How the line is read (its end, a CR in it, a locked file) is the request-line fuzz
// target's and the exclusive read's test. Settings are loaded before the hand-over.
TEST_P(SecondStartsFile, HandsOverOnlyItsFirstLine)
{
    const auto running = otherInstance();
    publishWindow();
    const std::string file = m_dir.file(GetParam().file);
    if (GetParam().contents)
        writeFile(file, *GetParam().contents);
    auto app = start({file});
    EXPECT_EQ(app.startPath(), StartPath::HandedOver);
    EXPECT_EQ(app.strings().m_strRequest, GetParam().request);
    EXPECT_EQ(app.strings().m_strDownloadFolder, "/music");
    EXPECT_EQ(std::filesystem::exists(file) ? readFile(file) : "", GetParam().contents.value_or("")) << "left as it was";
}

INSTANTIATE_TEST_SUITE_P(Startup, SecondStartsFile, testing::Values(
    RequestFile {.name = "MarkedInAnotherCase", .file = "upper.QVR", .contents = "track=1\r\n", .request = ""},
    RequestFile {.name = "Missing", .file = "missing.qvr", .contents = std::nullopt, .request = ""},
    RequestFile {.name = "WithANul", .file = "nul.qvr", .contents = std::string("a=1\0b=2\n", 8), .request = "a=1"},
    RequestFile {.name = "MarkedWithinItsPath", .file = "request.qvr.txt", .contents = "inside=1\n", .request = "inside=1"}), test::kByName);

// A request must be kept somewhere, and never where the program happened to start.
struct NoQueueFiles { const char* name; std::string hive; };
class SettingsWithoutQueueFiles : public Startup, public testing::WithParamInterface<NoQueueFiles> {};

TEST_P(SettingsWithoutQueueFiles, GetThoseOfAFirstStart)
{
    writeFile(hivePath(), GetParam().hive);
    const auto app = start({});
    EXPECT_EQ(app.strings().m_strRawQueuePath, m_dir.file("data/quavero/rawqueue.txt"));
    EXPECT_EQ(app.strings().m_strDownloadQueuePath, m_dir.file("data/quavero/downloadqueue.txt"));
}

INSTANTIATE_TEST_SUITE_P(Startup, SettingsWithoutQueueFiles, testing::Values(
    NoQueueFiles {.name = "WithoutTheirKey", .hive = makeHive("\"Directory\"=\"/x\"", "\"DownloadFolder\"=\"/music\"", "")},
    NoQueueFiles {.name = "NamingThemRelatively", .hive = makeHive("", "", "\"RawQueue\"=\"raw.txt\"\r\n\"DownloadQueue\"=\"queue.txt\"")}), test::kByName);

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
TEST_P(UnreadableSettings, GiveWayToANewFileOfWhatStillReads)
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
    test::kByName);

// The real executable, as the installer runs it.
TEST_F(Startup, InstallGivesTheInstallationAnId)
{
    ASSERT_EQ(test::runProcess({QVR_EXECUTABLE, "-INSTALL"}, {"QVR_REGISTRY=" + hivePath(), "XDG_RUNTIME_DIR=" + m_runtime,
                                                               "QT_QPA_PLATFORM=offscreen"}), 0);
    EXPECT_THAT(readFile(hivePath()), testing::ContainsRegex("\"GUID\"=\"[0-9A-F]{32}\"\r\n"));
}

TEST_F(Startup, InstallRemovesTheOldBrowsersPlugin)
{
    writeFile(m_dir.file("quavero_ieplug.dll"), "MZ");
    EXPECT_EQ(start({"/install"}).startPath(), StartPath::Install);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("quavero_ieplug.dll")));
}

// Not a request, /switch or another instance; nor an id there already.
TEST_F(Startup, InstallIgnoresEverythingElse)
{
    writeFile(hivePath(), makeHive("", "\"GUID\"=\"" + std::string(32, 'A') + "\"", ""));
    const std::string installed = readFile(hivePath());
    const auto running = otherInstance();
    const auto again = start({requestPath(), "/switch", "/install"});
    EXPECT_EQ(again.startPath(), StartPath::Install);
    EXPECT_EQ(again.strings().m_strRequest, "");
    EXPECT_EQ(again.strings().m_strInstallationId, std::string(32, 'A'));
    EXPECT_EQ(readFile(hivePath()), installed);
}

} // namespace
} // namespace qvr
