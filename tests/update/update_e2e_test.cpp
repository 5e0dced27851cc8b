// The program as one file, and a whole update with real processes: the boxes are
// answered on the display as a user would, with the keyboard.
#include "platform/handoff.h"
#include "res/strings.h"
#include "tools/store-sim/store_sim.h"

#include "tests/app/hive_fixture.h"
#include "tests/support/executables.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for_files.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace qvr {
namespace {

using test::readFile;
using test::waitForFiles;
using test::writeFile;
namespace fs = std::filesystem;

// The processes running the program file at `path`.
std::vector<pid_t> processesOf(const std::string& path)
{
    std::vector<pid_t> pids;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const auto exe = fs::read_symlink(entry.path() / "exe", error);
        if (!error && exe == path)
            pids.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return pids;
}

// Runs xdotool (given up on after 30 s) and returns its first output line.
std::string xdotool(std::vector<std::string> args)
{
    args.insert(args.begin(), {"/usr/bin/timeout", "30", "xdotool"});
    std::string output;
    test::runProcess(args, {}, &output);
    return output.substr(0, output.find('\n'));
}

// An install folder that holds nothing but a copy of the program, its own settings,
// queues and runtime folder, and the store simulator.
class InstalledProgram : public ::testing::Test {
protected:
    InstalledProgram()
    {
        m_store.start();
        for (const char* folder : {"install", "music", "queues", "requests", "tmp"})
            ::mkdir(m_dir.file(folder).c_str(), 0755);
        ::mkdir(m_dir.file("run").c_str(), 0700);
        test::copyExecutable(QVR_EXECUTABLE, program());
        writeFile(m_dir.file("registry.reg"),
                  test::makeHive("\"Directory\"=\"" + m_dir.file("install") + "\"",
                                 "\"DownloadFolder\"=\"" + m_dir.file("music") + "\"\r\n\"GUID\"=\"G\"",
                                 "\"RawQueue\"=\"" + m_dir.file("queues/raw.txt") + "\"\r\n\"DownloadQueue\"=\""
                                     + m_dir.file("queues/download.txt") + "\""));
    }
    ~InstalledProgram() override
    {
        // A relaunched instance is not our child; it goes with the test all the same.
        for (const pid_t pid : processesOf(program()))
            ::kill(pid, SIGKILL);
    }

    std::string program() const { return m_dir.file("install/quavero"); }
    std::vector<std::string> environment(const std::string& platform) const
    {
        return {"QVR_REGISTRY=" + m_dir.file("registry.reg"), "XDG_RUNTIME_DIR=" + m_dir.file("run"),
                "QVR_STORE_HOST=" + m_store.hostPort(), "QT_QPA_PLATFORM=" + platform,
                "TMPDIR=" + m_dir.file("tmp"), "LSAN_OPTIONS=suppressions=" QVR_LSAN_SUPPRESSIONS};
    }
    std::string objects() const { return m_dir.file("run/quavero"); }
    std::uint32_t publishedWindow() const { return FindWindowHandle(objects(), loadString(IDS_HANDOFF_MAPPING)); }
    bool windowPublished(std::uint32_t other = 0) const
    {
        return waitForFiles(m_dir.file("run"), [&] {
            const std::uint32_t handle = publishedWindow();
            return handle != 0 && handle != other && IsWindow(objects(), handle);
        });
    }
    std::string request(const std::string& id)
    {
        writeFile(m_dir.file("requests/" + id + ".qvr"), "track=" + id + "\r\n");
        return m_dir.file("requests/" + id + ".qvr");
    }
    bool tracksArrive(std::initializer_list<std::pair<std::string, std::uint64_t>> tracks)
    {
        return waitForFiles(m_dir.path(), [&] {
            for (const auto& [title, size] : tracks) {
                std::error_code error;
                if (fs::file_size(m_dir.file("music/" + title + ".mp3"), error) != size || error)
                    return false;
            }
            return readFile(m_dir.file("queues/download.txt")).empty();
        });
    }
    std::vector<std::string> trackInfoQueries() const
    {
        std::vector<std::string> queries;
        for (const auto& r : m_store.requests()) {
            if (r.path == "/downloader/downloader_dlm.html")
                queries.push_back(r.query.substr(0, r.query.find('&')));
        }
        return queries;
    }

    test::TempDir m_dir;
    sim::StoreSimulator m_store;
};

TEST_F(InstalledProgram, TheExecutableAloneOpensItsWindowAndDownloads)
{
    m_store.addTrack({"t", "Single File", 30000, 5});
    const bool display = std::getenv("DISPLAY") != nullptr;
    test::ChildProcess running({program(), request("t")}, environment(display ? "xcb" : "offscreen"));
    ASSERT_TRUE(windowPublished());
    if (display) {
        EXPECT_NE(xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(running.pid())}), "");
    }
    EXPECT_TRUE(tracksArrive({{"Single File", 30000}}));
    EXPECT_EQ(test::countEntries(m_dir.file("install")), 1u);
}

TEST_F(InstalledProgram, UpdatesItselfAndTheNewVersionTakesOver)
{
    if (!std::getenv("DISPLAY") || ::access("/usr/bin/xdotool", X_OK) != 0)
        GTEST_SKIP() << "needs a display and xdotool";
    test::stampedCopy(QVR_EXECUTABLE, m_dir.file("published"), "2.1.0.1");
    const std::string newer = readFile(m_dir.file("published"));
    const std::string older = readFile(program());
    m_store.setVersionText("2.1.0.1");
    m_store.setVersionFile("quavero", newer);
    m_store.addTrack({"old", "Left Over", 20000, 1});
    m_store.addTrack({"new", "Brought Along", 20000, 2});
    writeFile(m_dir.file("queues/raw.txt"), "track=old\r\n");

    test::ChildProcess first({program(), request("new")}, environment("xcb"));
    const std::string pid = std::to_string(first.pid());
    // The question: the only window of the process that can be seen.
    const std::string question = xdotool({"search", "--sync", "--onlyvisible", "--pid", pid});
    ASSERT_NE(question, "");
    EXPECT_NE(xdotool({"getwindowname", question}), "Updater");
    xdotool({"windowfocus", "--sync", question, "key", "Return"});
    const std::string notice = xdotool({"search", "--sync", "--onlyvisible", "--pid", pid, "--name", "^Updater$"});
    ASSERT_NE(notice, "");
    xdotool({"windowfocus", "--sync", notice, "key", "Return"});

    EXPECT_EQ(first.wait(), 0) << "the old instance ends when the new one takes over";
    EXPECT_TRUE(readFile(m_dir.file("install/OldExecutable.bak")) == older);
    EXPECT_TRUE(readFile(program()) == newer);
    EXPECT_EQ(fs::status(program()).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

    const std::string shown = xdotool({"search", "--sync", "--onlyvisible", "--name", "^Quavero$"});
    ASSERT_NE(shown, "");
    const std::string newPid = xdotool({"getwindowpid", shown});
    EXPECT_NE(newPid, pid);
    EXPECT_EQ(processesOf(program()), std::vector<pid_t> {static_cast<pid_t>(std::stoi(newPid))});
    ASSERT_TRUE(tracksArrive({{"Left Over", 20000}, {"Brought Along", 20000}}));
    EXPECT_EQ(trackInfoQueries(), (std::vector<std::string> {"track=old", "track=new"}));
}

} // namespace
} // namespace qvr
