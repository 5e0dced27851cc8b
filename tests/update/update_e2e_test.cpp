// The program as one file, and a whole update with real processes: the boxes are
// answered on the display as a user would, with the keyboard.
#include "tests/support/process.h"
#include "tests/support/program_fixture.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace qvr::test {
namespace {

namespace fs = std::filesystem;

std::vector<pid_t> processesOf(const std::string& path)
{
    std::vector<pid_t> pids;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") == std::string::npos && fs::read_symlink(entry.path() / "exe", error) == path)
            pids.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return pids;
}

// The parent of process `pid`; 0 once it has ended.
pid_t parentOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("PPid:"))
            return std::stoi(line.substr(5));
    }
    return 0;
}

// Runs xdotool (given up on after 30 s) and returns its first output line.
std::string xdotool(std::vector<std::string> args)
{
    args.insert(args.begin(), {"/usr/bin/timeout", "30", "xdotool"});
    std::string output;
    runProcess(args, {}, &output);
    return output.substr(0, output.find('\n'));
}

// True once a window named `name`, other than `other`, has the keyboard. X tells no
// one when the focus moves, so it is asked again and again, for at most 20 s.
bool takesTheKeyboardSoon(const std::string& name, const std::string& other)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        const std::string focus = xdotool({"getwindowfocus", "-f"});
        if (focus != other && xdotool({"getwindowname", focus}) == name)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// A copy of the program alone in the install folder.
class InstalledProgram : public ProgramFolder {
protected:
    InstalledProgram() { copyExecutable(QVR_EXECUTABLE, program()); }
    ~InstalledProgram() override
    {
        // A relaunched instance is not our child; it goes with the test all the same.
        for (const pid_t pid : processesOf(program()))
            ::kill(pid, SIGKILL);
    }
    std::string program() const { return m_dir.file("install/quavero"); }
    // The program on the test's own display (tests/CMakeLists.txt).
    std::vector<std::string> display() const { return environment("xcb"); }
};

// What an update runs on a new program before the exchange: it opens nothing that
// a start shares, and fails for a program that cannot run.
TEST_F(InstalledProgram, ItsProbeAnswersWithoutTouchingAnything)
{
    ::rmdir(m_dir.file("run").c_str());
    const std::string hive = readFile(m_dir.file("registry.reg"));
    std::string answer;
    EXPECT_EQ(runProcess({program(), "--probe"}, environment(), &answer), 0);
    EXPECT_EQ(answer, "quavero-probe quavero 2.1.0.0\n");
    ASSERT_EQ(runProcess({"/usr/bin/objcopy", "--remove-section", ".note.quavero.version", program(), m_dir.file("bare")}), 0);
    EXPECT_EQ(runProcess({m_dir.file("bare"), "--probe"}, environment()), 4) << "no version";
    EXPECT_FALSE(fs::exists(m_dir.file("run"))) << "no instance lock, no runtime folder";
    EXPECT_EQ(readFile(m_dir.file("registry.reg")), hive);
    EXPECT_EQ(countEntries(m_dir.file("queues")), 0u);
    EXPECT_EQ(countEntries(m_dir.file("cache")), 0u);
}

TEST_F(InstalledProgram, TheNewVersionItDownloadsTakesOver)
{
    stampedCopy(QVR_EXECUTABLE, m_dir.file("published"), "2.1.0.1");
    const std::string newer = readFile(m_dir.file("published"));
    m_store.setVersionText("2.1.0.1");
    m_store.setVersionFile("quavero", newer);
    m_store.setVersionFile("quavero.sig", readFile(m_dir.file("published.sig")));
    m_store.addTrack({"old", "Left Over", 20000, 1});
    m_store.addTrack({"new", "Brought Along", 20000, 2});
    writeFile(m_dir.file("queues/raw.txt"), "track=old\r\n");

    ChildProcess first({program(), request("new.qvr", "track=new\r\n")}, display());
    const std::string pid = std::to_string(first.pid());
    // The question: the only window of the process that can be seen.
    const std::string question = xdotool({"search", "--sync", "--onlyvisible", "--pid", pid});
    ASSERT_NE(question, "");
    EXPECT_EQ(xdotool({"getwindowname", question}), "") << "an empty caption, not the program's name";
    xdotool({"windowfocus", "--sync", question, "key", "Return"});
    // The notice, not the download's progress box before it.
    const std::string notice = xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid", pid, "--name", "^Updater$"});
    ASSERT_NE(notice, "");
    xdotool({"windowfocus", "--sync", notice, "key", "Return"});

    // The backup, the mode and the trial note are the updater's own tests.
    EXPECT_EQ(first.wait(), 0) << "the old instance ends when the new one takes over";
    EXPECT_TRUE(readFile(program()) == newer);
    const std::string shown = xdotool({"search", "--sync", "--onlyvisible", "--name", "^Quavero$"});
    ASSERT_NE(shown, "");
    const std::string newPid = xdotool({"getwindowpid", shown});
    EXPECT_NE(newPid, pid);
    // The file runs as the new version alone, and for a moment as a process that version
    // starts, between its fork and its exec.
    const pid_t newVersion = std::stoi(newPid);
    for (const pid_t running : processesOf(program()))
        EXPECT_TRUE(running == newVersion || parentOf(running) == newVersion || parentOf(running) == 0) << running;
    ASSERT_TRUE(tracksArrive({{"Left Over", 20000}, {"Brought Along", 20000}}));
    EXPECT_EQ(trackInfoQueries(), (std::vector<std::string> {"track=old&guid=G", "track=new&guid=G"}));
}

// Without a window manager, the progress box takes the keyboard itself.
TEST_F(InstalledProgram, EscapeInTheDownloadsProgressBoxCancelsIt)
{
    stampedCopy(QVR_EXECUTABLE, m_dir.file("published"), "2.1.0.1");
    m_store.setVersionText("2.1.0.1");
    m_store.setVersionFile("quavero", readFile(m_dir.file("published")));
    m_store.setStallAfter(4096, 1);
    const std::string older = readFile(program());
    ChildProcess first({program()}, display());
    const std::string pid = std::to_string(first.pid());
    const std::string question = xdotool({"search", "--sync", "--onlyvisible", "--pid", pid});
    xdotool({"windowfocus", "--sync", question, "key", "Return"});
    ASSERT_TRUE(m_store.waitForStalls(1));
    // The box shows with the first bytes and then takes the keyboard; a key sent
    // before that would go nowhere. The question may linger a moment under the
    // same name, as the download holds the thread that would take it away.
    ASSERT_TRUE(takesTheKeyboardSoon("Quavero Music Manager", question)) << "the progress box";
    xdotool({"key", "Escape"});
    EXPECT_NE(xdotool({"search", "--sync", "--onlyvisible", "--pid", pid, "--name", "^Quavero$"}), "") << "the window";
    EXPECT_TRUE(readFile(program()) == older);
    EXPECT_EQ(readFile(m_dir.file("cache/quavero/refused-version")), "2.1.0.1\n") << "cancelled";
}

} // namespace
} // namespace qvr::test
