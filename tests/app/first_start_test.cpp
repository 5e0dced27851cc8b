// The program as a user meets it first: from a package, with no install step run,
// from a terminal asking what it is, or where no display or no Qt.
#include "app/application.h"
#include "app/settings.h"
#include "engine/configuration.h"
#include "engine/request_inbox.h"
#include "platform/paths.h"

#include "tests/support/program_fixture.h"
#include "tests/support/sync_log.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <regex>
#include <thread>

namespace qvr::test {
namespace {

class FirstStart : public ProgramFolder {};

// A command line the program does not take, given the path of a request file.
struct UnknownCommandLine { const char* name; std::vector<std::string> (*arguments)(const std::string& request); };
class UnknownCommandLineTest : public FirstStart, public testing::WithParamInterface<UnknownCommandLine> {};

// Nothing is read or written: no settings file, music folder, queue or instance. A
// program that took it would open its window and stay.
TEST_P(UnknownCommandLineTest, EndsWithTheUsageBeforeAnythingIsTouched)
{
    const std::string home = m_dir.file("home");
    ::mkdir(home.c_str(), 0755);
    std::vector<std::string> env = environment();
    env.insert(env.end(), {"HOME=" + home, "QVR_REGISTRY=", "XDG_CONFIG_HOME=", "XDG_DATA_HOME=", "XDG_CACHE_HOME="});
    std::vector<std::string> argv {"/usr/bin/timeout", "30", "/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1 >/dev/null", QVR_EXECUTABLE};
    const std::vector<std::string> arguments = GetParam().arguments(request("a.qvr", "track=a\r\n"));
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string errors;
    EXPECT_EQ(runProcess(argv, env, &errors), 64);
    EXPECT_THAT(errors, testing::AllOf(testing::HasSubstr("quavero: "), testing::HasSubstr("Usage: quavero")));
    for (const std::string& folder : {home, m_dir.file("run"), m_dir.file("queues")})
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << folder;
}

using Arguments = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(FirstStart, UnknownCommandLineTest, testing::Values(
    UnknownCommandLine {.name = "AskingTheVersion", .arguments = [](const std::string&) { return Arguments {"-V"}; }},
    UnknownCommandLine {.name = "AfterTheRequest", .arguments = [](const std::string& file) { return Arguments {file, "--verbose"}; }},
    UnknownCommandLine {.name = "AfterASwitch", .arguments = [](const std::string&) { return Arguments {"/switch", "-x"}; }},
    UnknownCommandLine {.name = "ADash", .arguments = [](const std::string&) { return Arguments {"-"}; }},
    UnknownCommandLine {.name = "QtsOptionWithoutItsValue", .arguments = [](const std::string&) { return Arguments {"-platform"}; }},
    UnknownCommandLine {.name = "TheProbeWithARequest", .arguments = [](const std::string& file) { return Arguments {"--probe", file}; }}), kByName);

// What the start lacks (as its line says), and how it is brought about with the program's own library
// folder "$2" (which holds a libQt6Widgets.so.6 that is no library). Nothing answers
// on :97, nor at wayland-97 in the test's own runtime folder.
struct MissingDisplay { const char* name; const char* setUp; const char* said; };
class MissingDisplayTest : public FirstStart, public testing::WithParamInterface<MissingDisplay> {};

// The program says in a line what it lacks and fails, and its request waits in the
// raw-queue file for the next start.
TEST_P(MissingDisplayTest, LeavesTheRequestForTheNextStart)
{
    ::mkdir(m_dir.file("lib").c_str(), 0755);
    writeFile(m_dir.file("lib/libQt6Widgets.so.6"), "");
    std::string output;
    const int status = runProcess({"/bin/sh", "-c", std::string(GetParam().setUp) + "; exec \"$0\" \"$1\" 2>&1", QVR_EXECUTABLE,
                                   request("a.qvr", "track=a\r\n"), m_dir.file("lib")},
                                  environment(), &output);
    EXPECT_EQ(status, CquaveromfcApp::kExitNoWindow);
    EXPECT_NE(output.find(GetParam().said), std::string::npos) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_EQ(readFile(m_dir.file("queues/raw.txt")), "track=a\r\n");
}

INSTANTIATE_TEST_SUITE_P(FirstStart, MissingDisplayTest, testing::Values(
    MissingDisplay {.name = "NoDisplay", .setUp = "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM", .said = "no display"},
    MissingDisplay {.name = "ABrokenQt", .setUp = "export LD_LIBRARY_PATH=\"$2\"", .said = "libQt6Widgets.so.6"},
    MissingDisplay {.name = "AnXDisplayThatDoesNotAnswer", .setUp = "unset WAYLAND_DISPLAY QT_QPA_PLATFORM; export DISPLAY=:97", .said = ":97"},
    MissingDisplay {.name = "XWithoutADisplay", .setUp = "unset DISPLAY WAYLAND_DISPLAY; export QT_QPA_PLATFORM=xcb", .said = "DISPLAY"},
    MissingDisplay {.name = "AWaylandDisplayThatDoesNotAnswer", .setUp = "unset DISPLAY QT_QPA_PLATFORM; export WAYLAND_DISPLAY=wayland-97",
                    .said = "wayland"}), kByName);

// An X server that accepts its first client and refuses every later one, as one
// that reset when its last client left refuses a client that came a moment late. It
// listens in the abstract namespace, where clients look first, so no file is made.
class RefusingXServer {
public:
    RefusingXServer()
    {
        for (m_display = 4100; m_display < 4200; ++m_display) {
            m_listener = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            sockaddr_un address {.sun_family = AF_UNIX, .sun_path = {}};
            const std::string name = "/tmp/.X11-unix/X" + std::to_string(m_display);
            std::memcpy(address.sun_path + 1, name.data(), name.size());
            const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
            if (::bind(m_listener.get(), reinterpret_cast<const sockaddr*>(&address), size) == 0
                && ::listen(m_listener.get(), 4) == 0)
                break;
        }
        m_thread = std::thread([this] { serve(); });
    }
    ~RefusingXServer()
    {
        ::shutdown(m_listener.get(), SHUT_RDWR);
        m_thread.join();
    }
    std::string display() const { return ":" + std::to_string(m_display); }

private:
    void serve()
    {
        for (UniqueFd client; (client = UniqueFd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC)));) {
            std::array<unsigned char, 12> setup {};  // no authorization follows from a client without a cookie
            if (::recv(client.get(), setup.data(), setup.size(), MSG_WAITALL) != 12)
                continue;
            // The setup's answer: success without a screen to the first, failure ("gone") to the others.
            const std::vector<unsigned char> answer = m_first
                ? std::vector<unsigned char> {0, 4, 11, 0, 0, 0, 1, 0, 'g', 'o', 'n', 'e'}
                : std::vector<unsigned char> {1, 0, 11, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0xff, 0xff, 0x1f, 0, 0, 0, 0, 0,
                                              0, 0, 0xff, 0xff, 0, 0, 0, 0, 32, 32, 8, 255, 0, 0, 0, 0};
            if (::send(client.get(), answer.data(), answer.size(), MSG_NOSIGNAL) > 0 && !m_first)
                m_first = std::move(client);
        }
    }

    int m_display = 0;
    UniqueFd m_listener;
    UniqueFd m_first;  // kept open, as the display check's connection is
    std::thread m_thread;
};

// The request is on disk before Qt starts: when Qt then aborts, the next start takes it.
TEST_F(FirstStart, ARequestOutlivesQtEndingTheStartAfterTheDisplayCheck)
{
    m_store.addTrack({"t", "Kept", 20000, 5});
    const RefusingXServer server;
    std::vector<std::string> env = environment("xcb");
    env.push_back("DISPLAY=" + server.display());
    std::string output;
    const int status = runProcess({"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>&1", QVR_EXECUTABLE, request("a.qvr", "track=t\r\n")},
                                  env, &output);
    EXPECT_EQ(status, 128 + SIGABRT) << output;
    ChildProcess next({QVR_EXECUTABLE}, environment());
    EXPECT_TRUE(tracksArrive({{"Kept", 20000}}));
}

// Qt opened a frame buffer that is not there: the start ends saying so.
TEST_F(FirstStart, APlatformWithoutAScreenLeavesTheRequestToTheNextStart)
{
    m_store.addTrack({"t", "Kept", 20000, 5});
    std::string output;
    EXPECT_EQ(runProcess({"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>&1", QVR_EXECUTABLE, request("a.qvr", "track=t\r\n")},
                         environment("linuxfb:fb=/nonexistent/fb0"), &output), CquaveromfcApp::kExitNoWindow);
    EXPECT_THAT(output, testing::HasSubstr("quavero: no display to open the window on (Qt's linuxfb platform has no screen); the request is kept"));
    ChildProcess next({QVR_EXECUTABLE}, environment());
    EXPECT_TRUE(tracksArrive({{"Kept", 20000}}));
}

TEST_F(FirstStart, WithoutASettingsFileTheProgramMakesOneForTheDesktopsMusicFolder)
{
    const std::string home = m_dir.file("home");
    std::filesystem::create_directories(home + "/.config");
    writeFile(home + "/.config/user-dirs.dirs", "# the desktop's\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
    m_store.addTrack({"t", "First Track", 20000, 5});
    std::vector<std::string> env = environment();
    env.insert(env.end(), {"HOME=" + home, "QVR_REGISTRY=", "XDG_CONFIG_HOME=", "XDG_DATA_HOME="});
    ChildProcess program({QVR_EXECUTABLE, request("a.qvr", "track=t\r\n")}, env);
    const std::string track = home + "/Tunes/Quavero/First Track.mp3";
    EXPECT_TRUE(waitForFiles(home, [&] {
        std::error_code error;
        return std::filesystem::file_size(track, error) == 20000 && !error;
    }));

    const std::string hive = home + "/.config/quavero/registry.reg";
    ApplicationStrings settings;
    loadSettings(Registry(hive), settings);
    EXPECT_EQ(settings.m_strDirectory, parentFolder(resolvedPath(QVR_EXECUTABLE)));
    EXPECT_EQ(settings.m_strDownloadFolder, home + "/Tunes/Quavero");
    EXPECT_EQ(settings.m_strRawQueuePath, home + "/.local/share/quavero/rawqueue.txt");
    EXPECT_EQ(settings.m_strDownloadQueuePath, home + "/.local/share/quavero/downloadqueue.txt");
    EXPECT_TRUE(std::regex_match(settings.m_strInstallationId, std::regex("[0-9A-F]{32}")));
    const std::string made = readFile(hive);
    const std::string other = home + "/other";
    EXPECT_TRUE(writeFirstRunSettings(hive, {other, other, other}));
    EXPECT_EQ(readFile(hive), made) << "a settings file, once there, is the user's";
    EXPECT_EQ(countEntries(home + "/.config/quavero"), 1u) << "no draft is left beside it";
}

// A distribution's build has its window library as a file in lib/quavero/ beside bin/.
TEST_F(FirstStart, ABuildWithItsWindowLibraryAsAFileOpensItFromBesideTheProgram)
{
    m_store.addTrack({"t", "t", 20000, 5});
    ChildProcess program({QVR_SHARED_WINDOW_EXECUTABLE, request("t.qvr", "track=t\r\n")}, environment());
    EXPECT_TRUE(tracksArrive({{"t", 20000}}));
}

TEST_F(FirstStart, ABuildWithoutItsWindowLibraryFileKeepsTheRequestNamingTheFileItLacks)
{
    const std::string program = m_dir.file("install/quavero");
    copyExecutable(QVR_SHARED_WINDOW_EXECUTABLE, program);
    std::string output;
    EXPECT_EQ(runProcess({"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>&1", program, request("t.qvr", "track=t\r\n")},
                         environment(), &output),
              CquaveromfcApp::kExitNoWindow);
    EXPECT_NE(output.find(resolvedPath(m_dir.path()) + "/lib/quavero/libquavero-gui.so"), std::string::npos) << output;
    EXPECT_EQ(readFile(m_dir.file("queues/raw.txt")), "track=t\r\n");
}

// What second starts handed to an instance killed before it took them comes first, as it came.
TEST_F(FirstStart, RequestsLeftInTheInboxComeInTheOrderTheyCameBeforeTheStartsOwn)
{
    for (const char* id : {"z", "a", "m"})
        m_store.addTrack({id, id, 20000, 5});
    RequestInbox inbox(RequestInbox::folderBeside(m_dir.file("queues/raw.txt")));
    ASSERT_TRUE(inbox.depositRequest("track=z") && inbox.depositRequest("track=a"));
    ChildProcess program({QVR_EXECUTABLE, request("m.qvr", "track=m\r\n")}, environment());
    EXPECT_TRUE(tracksArrive({{"z", 20000}, {"a", 20000}, {"m", 20000}}));
    EXPECT_EQ(trackInfoQueries(), (std::vector<std::string> {"track=z&guid=G", "track=a&guid=G", "track=m&guid=G"}));
}

TEST_F(FirstStart, TheFoldersMadeForAFirstStartAreSyncedIntoTheFoldersThatHoldThem)
{
    static_cast<void>(takeDiskEvents());  // those of earlier tests
    ASSERT_TRUE(writeFirstRunSettings(m_dir.file("config/quavero/registry.reg"),
                                      {m_dir.path(), m_dir.file("Music/Quavero"), m_dir.file("data/quavero")}));
    const auto events = takeDiskEvents();
    for (const char* holder : {"", "/config", "/Music", "/data"})
        EXPECT_THAT(events, testing::Contains(DiskEvent {DiskEvent::Sync, m_dir.path() + holder})) << holder;
}

TEST(UserDirs, TheMusicFolderIsTheLastAbsoluteOrHomeNamedOneThatIsNotTheHomeItself)
{
    EXPECT_EQ(musicFolderFromUserDirs("XDG_MUSIC_DIR=\"$HOME/My \\\"Music\\\"/\"\n", "/h"), "/h/My \"Music\"");
    EXPECT_EQ(musicFolderFromUserDirs("XDG_MUSIC_DIR=\"/srv/music\"\nXDG_MUSIC_DIR=\"$HOME/Later\"", "/h"), "/h/Later");
    EXPECT_EQ(musicFolderFromUserDirs("  XDG_MUSIC_DIR=\"/srv/music\"\r\n# XDG_MUSIC_DIR=\"/commented\"", "/h"), "/srv/music");
    EXPECT_EQ(musicFolderFromUserDirs("XDG_MUSIC_DIR=\"$HOME/\"", "/h"), std::nullopt);
    EXPECT_EQ(musicFolderFromUserDirs("XDG_MUSIC_DIR=\"$HOMEWARD\"", "/h"), std::nullopt);
    EXPECT_EQ(musicFolderFromUserDirs("XDG_MUSIC_DIR=\"Music\"", "/h"), std::nullopt);
    EXPECT_EQ(musicFolderFromUserDirs("XDG_MUSIC_DIR=$HOME/Music", "/h"), std::nullopt);
    EXPECT_EQ(musicFolderFromUserDirs("XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"", "/h"), std::nullopt);
}

} // namespace
} // namespace qvr::test
