// The check-and-install routine against the store simulator, every result value,
// and the update step of a start around it.
#include "res/strings.h"
#include "tools/store-sim/store_sim.h"
#include "update/self_update.h"

#include "tests/support/executables.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace qvr {
namespace {

using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

class ScriptedUpdatePrompts : public UpdatePrompts {
public:
    bool askToInstall(const std::string& question) override
    {
        questions.push_back(question);
        return answer;
    }
    void announceInstalled(const std::string& text, const std::string& caption) override
    {
        notices.push_back(text + "|" + caption);
    }
    bool answer = true;
    std::vector<std::string> questions;
    std::vector<std::string> notices;
};

// Moves as the real file system does, except the one the test picks.
class FailingMoves : public ExecutableFiles {
public:
    explicit FailingMoves(int failing) : m_failing(failing) {}
    bool move(const std::string& from, const std::string& to) override
    {
        moves.push_back(from + " -> " + to);
        return static_cast<int>(moves.size()) != m_failing && ExecutableFiles::move(from, to);
    }
    std::vector<std::string> moves;

private:
    int m_failing;
};

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// An install folder with a program of version QVR_FILE_VERSION, a private
// temporary folder, and the store publishing a newer program by default.
class CheckForUpdate : public ::testing::Test {
protected:
    CheckForUpdate()
    {
        m_store.start();
        ::mkdir(m_dir.file("install").c_str(), 0755);
        ::mkdir(m_dir.file("tmp").c_str(), 0700);
        test::copyExecutable(QVR_VERSION_PROBE, exePath());
        ::chmod(exePath().c_str(), 0750);
        m_original = readFile(exePath());
        test::stampedCopy(QVR_VERSION_PROBE, m_dir.file("newer"), "2.1.0.1");
        m_newer = readFile(m_dir.file("newer"));
        publish("2.1.0.1", m_newer);
    }

    std::string exePath() const { return m_dir.file("install/quavero"); }
    std::string folderUrl() const { return loadString(IDS_UPDATE_FOLDER_URL, m_store.hostPort()); }
    void publish(const std::string& version, const std::string& program, int status = 200)
    {
        m_store.setVersionText(version);
        m_store.setVersionFile("quavero", program, status);
    }

    UpdaterEnvironment environment()
    {
        UpdaterEnvironment environment;
        environment.http = curlHttpClientFactory({std::chrono::milliseconds(5000), std::chrono::milliseconds(5000)});
        environment.prompts = &m_prompts;
        environment.files = m_files;
        environment.executable = exePath();
        environment.tempFolder = m_dir.file("tmp") + "/";
        environment.networkUp = [] { return false; }; // the store is on loopback all the same
        return environment;
    }
    int check() { return CAutoUpdater(environment()).CheckForUpdate(folderUrl()); }

    // Nothing but the untouched program in its folder, nothing left in the temporary one.
    void expectUntouched()
    {
        EXPECT_TRUE(readFile(exePath()) == m_original);
        EXPECT_EQ(modeOf(exePath()), 0750u);
        EXPECT_EQ(test::countEntries(m_dir.file("install")), 1u);
        EXPECT_EQ(test::countEntries(m_dir.file("tmp")), 0u);
    }
    std::size_t requestsFor(const std::string& name) const
    {
        std::size_t count = 0;
        for (const auto& request : m_store.requests())
            count += request.path.ends_with("/QVR_DLM/" + name);
        return count;
    }

    test::TempDir m_dir;
    sim::StoreSimulator m_store;
    ScriptedUpdatePrompts m_prompts;
    std::shared_ptr<ExecutableFiles> m_files;
    std::string m_original;
    std::string m_newer;
};

TEST_F(CheckForUpdate, InstallsANewerProgramInPlaceOfTheRunningOne)
{
    writeFile(m_dir.file("install/OldExecutable.bak"), "the previous update's");
    CAutoUpdater updater(environment());
    EXPECT_EQ(updater.CheckForUpdate(folderUrl()), UPD_INSTALLED);
    EXPECT_EQ(updater.installedExecutable(), exePath());

    EXPECT_TRUE(readFile(exePath()) == m_newer);
    EXPECT_EQ(modeOf(exePath()), 0750u) << "the new program gets the old one's mode";
    EXPECT_TRUE(readFile(m_dir.file("install/OldExecutable.bak")) == m_original);
    EXPECT_EQ(test::countEntries(m_dir.file("tmp")), 0u);
    ASSERT_EQ(m_prompts.questions.size(), 1u);
    EXPECT_EQ(m_prompts.questions[0], "THIS VERSION OF THE MUSIC MANAGER IS NO LONGER FUNCTIONAL.  "
                                      "PLEASE CLICK YES TO DOWNLOAD THE NEW VERSION.");

    for (const auto& request : m_store.requests()) {
        SCOPED_TRACE(request.path);
        EXPECT_EQ(request.header("User-Agent"), "AutoUpdateAgent");
        EXPECT_EQ(request.header("Cache-Control"), "no-cache");
        EXPECT_EQ(request.header("Pragma"), "no-cache");
    }
    EXPECT_EQ(requestsFor("index.html"), 1u);
    EXPECT_EQ(requestsFor("quavero"), 1u);
}

TEST_F(CheckForUpdate, CopiesAcrossFileSystemsAndFollowsARenamedProgram)
{
    // The temporary folder is often a tmpfs apart from the program's disk.
    std::error_code error;
    const std::string shm = "/dev/shm/qvr-update-" + std::to_string(::getpid());
    if (!fs::create_directory(shm, error) || fs::status(shm).type() != fs::file_type::directory)
        GTEST_SKIP() << "no /dev/shm here";
    struct stat a {}, b {};
    ::stat(shm.c_str(), &a);
    ::stat(m_dir.path().c_str(), &b);
    const std::string renamed = m_dir.file("install/my-player");
    fs::rename(exePath(), renamed);
    m_store.setVersionFile("my-player", m_newer);

    UpdaterEnvironment env = environment();
    env.executable = renamed;
    env.tempFolder = shm + "/";
    const int result = CAutoUpdater(env).CheckForUpdate(folderUrl());
    const auto leftInShm = std::distance(fs::directory_iterator(shm), fs::directory_iterator());
    fs::remove_all(shm, error);
    EXPECT_EQ(result, UPD_INSTALLED);
    EXPECT_TRUE(readFile(renamed) == m_newer);
    EXPECT_EQ(modeOf(renamed), 0750u);
    EXPECT_EQ(leftInShm, 0) << (a.st_dev != b.st_dev ? "copied and removed" : "renamed");
    EXPECT_EQ(requestsFor("my-player"), 1u) << "its present name";

    std::string url = folderUrl() + "my player";
    EXPECT_TRUE(CAutoUpdater(env).OpenUrl(url));
    EXPECT_EQ(url, folderUrl() + "my%20player") << "the caller gets the address as sent";
    EXPECT_EQ(requestsFor("my%20player"), 1u);
}

TEST_F(CheckForUpdate, NoSessionOrNoNetworkMakesNoRequest)
{
    UpdaterEnvironment env = environment();
    env.http = [](const std::string&) { return std::unique_ptr<HttpClient>(); };
    EXPECT_EQ(CAutoUpdater(env).CheckForUpdate(folderUrl()), UPD_NO_CONNECTION);
    env.http = nullptr;
    EXPECT_EQ(CAutoUpdater(env).CheckForUpdate(folderUrl()), UPD_NO_CONNECTION);
    // A store that is not on this machine needs a network.
    int sessions = 0;
    env = environment();
    env.http = [&sessions](const std::string& agent) {
        ++sessions;
        return makeCurlHttpClient(agent);
    };
    EXPECT_EQ(CAutoUpdater(env).CheckForUpdate("http://store.invalid/downloader/app_versions/QVR_DLM/"),
              UPD_NO_CONNECTION);
    EXPECT_EQ(sessions, 1);
    EXPECT_TRUE(m_store.requests().empty());
    expectUntouched();
}

TEST_F(CheckForUpdate, TheVersionListUnreachableOrEmpty)
{
    m_store.goDown();
    EXPECT_EQ(check(), UPD_OPEN_FAILED);
    ASSERT_TRUE(m_store.comeUp());
    m_store.setVersionText("");
    EXPECT_EQ(check(), UPD_NO_DATA);
    EXPECT_TRUE(m_prompts.questions.empty());
    expectUntouched();
}

TEST_F(CheckForUpdate, PublishedVersionsThatAreNotNewer)
{
    for (const char* published : {"2.1.0.0", "2.1", "2.0.9.9", "2.1.0.1\n", "2.1.0.1.5", " 2.1.0.1",
                                  "<html><body><h1>404 Not Found</h1></body></html>"}) {
        SCOPED_TRACE(published);
        m_store.setVersionText(published);
        EXPECT_EQ(check(), UPD_NOT_NEWER);
    }
    EXPECT_TRUE(m_prompts.questions.empty());
    EXPECT_EQ(requestsFor("quavero"), 0u);
    expectUntouched();
}

TEST_F(CheckForUpdate, AProgramWithoutAVersionIsNeverReplaced)
{
    writeFile(exePath(), "#!/bin/sh\n");
    m_original = readFile(exePath());
    EXPECT_EQ(check(), UPD_NO_LOCAL_VERSION);
    EXPECT_EQ(requestsFor("quavero"), 0u);
    expectUntouched();
}

TEST_F(CheckForUpdate, TheNewProgramMustBeServedWholeBeforeTheQuestion)
{
    struct Case {
        const char* what;
        int status;
    };
    for (const Case& c : {Case {"not found", 404}, Case {"a server error", 500}, Case {"a redirect", 302}}) {
        SCOPED_TRACE(c.what);
        m_store.setVersionFile("quavero", m_newer, c.status);
        EXPECT_EQ(check(), UPD_OPEN_FAILED);
    }
    EXPECT_TRUE(m_prompts.questions.empty());
    expectUntouched();
}

TEST_F(CheckForUpdate, AnythingButANewerWholeProgramIsThrownAway)
{
    test::stampedCopy(QVR_VERSION_PROBE, m_dir.file("older"), "2.0.0.0");
    struct Case {
        const char* what;
        std::string served;
        std::uint64_t dropAfter;
    };
    const Case cases[] = {
        {"a break midway", m_newer, m_newer.size() / 2},
        {"an error page with status 200", "<html><body>Please try again later</body></html>", 0},
        {"an older program", readFile(m_dir.file("older")), 0},
        {"the same version", m_original, 0},
        {"the newer program cut short", m_newer.substr(0, m_newer.size() - 100), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_store.setVersionFile("quavero", c.served);
        m_store.setUpdateDropAfter(c.dropAfter, c.dropAfter ? 1 : 0);
        EXPECT_EQ(check(), UPD_DOWNLOAD_FAILED);
        expectUntouched();
    }
    EXPECT_EQ(m_prompts.questions.size(), std::size(cases));
}

TEST_F(CheckForUpdate, NoTouchesNothing)
{
    m_prompts.answer = false;
    EXPECT_EQ(check(), UPD_NOT_INSTALLED);
    EXPECT_EQ(m_prompts.questions.size(), 1u);
    expectUntouched();
    EXPECT_EQ(check(), UPD_NOT_INSTALLED) << "asked again at the next start";
}

TEST_F(CheckForUpdate, AFailedExchangeLeavesTheProgramUnderItsName)
{
    for (const int failing : {1, 2}) {
        SCOPED_TRACE(failing == 1 ? "moving the program aside fails" : "moving the new one in fails");
        auto files = std::make_shared<FailingMoves>(failing);
        m_files = files;
        EXPECT_EQ(check(), UPD_NOT_INSTALLED);
        EXPECT_TRUE(readFile(exePath()) == m_original);
        EXPECT_EQ(modeOf(exePath()), 0750u);
        EXPECT_FALSE(fs::exists(m_dir.file("install/OldExecutable.bak")));
        EXPECT_EQ(files->moves.size(), failing == 1 ? 1u : 3u) << "the backup is moved back";
        fs::remove_all(m_dir.file("tmp"));
        fs::create_directory(m_dir.file("tmp"));
    }
}

TEST_F(CheckForUpdate, TheStepOfAStartAnnouncesHidesAndRelaunches)
{
    std::vector<std::string> events;
    SelfUpdateEnvironment env;
    env.updater = environment();
    env.storeHost = m_store.hostPort();
    env.launch = [&](const std::string& program, const std::vector<std::string>& args) {
        events.push_back("launch " + program + " " + args.at(0));
        return false; // the outcome is not looked at
    };
    EXPECT_TRUE(RunSelfUpdate(env, [&] { events.push_back("hide after " + m_prompts.notices.at(0)); }));
    EXPECT_EQ(events, (std::vector<std::string> {
                          "hide after The application was updated successfully.|Updater",
                          "launch " + exePath() + " /switch",
                      }));

    events.clear();
    m_prompts.notices.clear();
    EXPECT_FALSE(RunSelfUpdate(env, [&] { events.push_back("hide"); })) << "now it is the same version";
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(m_prompts.notices.empty());
}

} // namespace
} // namespace qvr
