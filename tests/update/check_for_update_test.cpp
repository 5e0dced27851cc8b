// The check-and-install routine against the store simulator, and every result value;
// the version texts and addresses it works with.
#include "res/strings.h"
#include "tools/store-sim/store_sim.h"
#include "update/self_update.h"
#include "update/url.h"

#include "tests/support/process.h"
#include "tests/support/sync_log.h"


namespace qvr {
namespace {

using test::modeOf;
using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

struct ScriptedUpdatePrompts : UpdatePrompts {
    bool askToInstall(const std::string& question) override
    {
        questions.push_back(question);
        return answer;
    }
    bool downloadProgress(std::uint64_t bytes, std::uint64_t) override
    {
        received = bytes;
        return !cancel;
    }
    void announceInstalled(const std::string&, const std::string&) override {}
    bool answer = true;
    bool cancel = false;
    std::uint64_t received = 0;
    std::vector<std::string> questions;
};

// The real file operations, except the one the test picks, with a look at the
// executable's name after each: a kill could come at any of these moments.
struct WatchedFiles : ExecutableFiles {
    WatchedFiles(std::string executable, int failingStep, std::vector<std::string> whole)
        : exe(std::move(executable)), failing(failingStep), wholePrograms(std::move(whole)) {}
    bool stage(const std::string& from, const std::string& to, const std::string& like) override
    {
        return step([&] { return ExecutableFiles::stage(from, to, like); });
    }
    bool keep(const std::string& from, const std::string& to) override
    {
        return step([&] { return ExecutableFiles::keep(from, to); });
    }
    bool replace(const std::string& from, const std::string& to) override
    {
        return step([&] { return ExecutableFiles::replace(from, to); });
    }
    bool step(const std::function<bool()>& operation)
    {
        if (++steps == failing)
            return false;
        const bool done = operation();
        EXPECT_TRUE(std::ranges::count(wholePrograms, readFile(exe))) << "after step " << steps << ", no whole program";
        return done;
    }
    const std::string exe;
    const int failing;
    const std::vector<std::string> wholePrograms;
    int steps = 0;
};

// An install folder with a program of version QVR_FILE_VERSION, under a name the user
// gave it, and the store publishing a newer program by default.
class CheckForUpdate : public ::testing::Test {
public:
    CheckForUpdate()
    {
        m_store.start();
        ::mkdir(m_dir.file("install").c_str(), 0755);
        test::copyExecutable(QVR_VERSION_PROBE, exePath());
        ::chmod(exePath().c_str(), 0750);
        m_original = readFile(exePath());
        test::stampedCopy(QVR_VERSION_PROBE, m_dir.file("newer"), "2.1.0.1");
        m_newer = readFile(m_dir.file("newer"));
        m_signature = readFile(m_dir.file("newer.sig"));
        publish("2.1.0.1", m_newer);
        m_env.http = curlHttpClientFactory({std::chrono::milliseconds(5000), std::chrono::milliseconds(5000)});
        m_env.prompts = &m_prompts;
        m_env.executable = exePath();
        m_env.networkUp = [] { return false; }; // the store is on loopback all the same
        m_env.refusedNote = m_dir.file("cache/refused-version");
    }

    std::string exePath() const { return m_dir.file("install/my player"); }
    std::string folderUrl() const { return loadString(IDS_UPDATE_FOLDER_URL, m_store.hostPort()); }
    void publish(const std::string& version, const std::string& program, int status = 200)
    {
        m_store.setVersionText(version);
        m_store.setVersionFile("my%20player", program, status);
        m_store.setVersionFile("my%20player.sig", m_signature);
    }

    int check(const std::string& url = {})
    {
        CAutoUpdater updater(m_env);
        const int result = updater.CheckForUpdate(url.empty() ? folderUrl() : url);
        m_unanswered = updater.storeUnanswered();
        return result;
    }

    void expectUntouched()
    {
        EXPECT_TRUE(readFile(exePath()) == m_original);
        EXPECT_EQ(modeOf(exePath()), 0750u);
        EXPECT_EQ(test::countEntries(m_dir.file("install")), 1u);
    }
    std::size_t requestsFor(const std::string& name) const
    {
        return static_cast<std::size_t>(std::ranges::count_if(
            m_store.requests(), [&](const auto& request) { return request.path.ends_with("/QVR_DLM/" + name); }));
    }

    test::TempDir m_dir;
    sim::StoreSimulator m_store;
    ScriptedUpdatePrompts m_prompts;
    UpdaterEnvironment m_env;
    std::string m_original, m_newer, m_signature;
    bool m_unanswered = false;
};

// A power cut never leaves the name on a program that is not whole, nor takes it back once installed.
TEST_F(CheckForUpdate, InstallsANewerProgramInPlaceOfTheRunningOneUnderItsPresentName)
{
    writeFile(m_dir.file("install/OldExecutable.bak"), "the previous update's");
    static_cast<void>(test::takeDiskEvents()); // those of earlier tests
    CAutoUpdater updater(m_env);
    EXPECT_EQ(updater.CheckForUpdate(folderUrl()), UPD_INSTALLED);
    const auto events = test::takeDiskEvents();
    const auto renamed = std::find(events.begin(), events.end(), test::DiskEvent {test::DiskEvent::Rename, exePath()});
    const test::DiskEvent staged {test::DiskEvent::Sync, m_dir.file("install/.my player.update")};
    const test::DiskEvent folder {test::DiskEvent::Sync, m_dir.file("install")};
    EXPECT_TRUE(std::find(events.begin(), renamed, staged) != renamed) << "the new program, before";
    EXPECT_TRUE(std::find(renamed, events.end(), folder) != events.end()) << "its name, after";

    EXPECT_TRUE(readFile(exePath()) == m_newer);
    EXPECT_EQ(modeOf(exePath()), 0750u) << "the new program gets the old one's mode";
    EXPECT_TRUE(readFile(m_dir.file("install/OldExecutable.bak")) == m_original);
    for (const auto& request : m_store.requests())
        EXPECT_EQ(std::tuple(request.header("User-Agent"), request.header("Cache-Control"), request.header("Pragma")),
                  std::tuple("AutoUpdateAgent", "no-cache", "no-cache"))
            << request.path;
}

TEST_F(CheckForUpdate, AStoreNotOnThisMachineNeedsANetwork)
{
    EXPECT_EQ(check("http://store.invalid/downloader/app_versions/QVR_DLM/"), UPD_NO_CONNECTION);
}

// What goes wrong, and how far the check got before it.
struct Failure {
    const char* name;
    std::function<void(CheckForUpdate&)> setUp;
    int result;
    bool fetched = false;  // the new program was asked for
    bool asked = false;    // and the question came, after it was fetched whole
    bool noted = false;    // a verdict of this machine's (the probe, the user's Cancel): not asked for again
};

class AFailedCheck : public CheckForUpdate, public ::testing::WithParamInterface<Failure> {
    void TearDown() override { ::unsetenv("QVR_TEST_PROBE"); }
};

TEST_P(AFailedCheck, LeavesTheProgramAlone)
{
    const Failure& failure = GetParam();
    failure.setUp(*this);
    EXPECT_EQ(check(), failure.result);
    const bool fetched = failure.fetched || failure.asked;
    EXPECT_EQ(m_unanswered, failure.result == UPD_OPEN_FAILED && !fetched) << "the store out of reach";
    EXPECT_EQ(m_prompts.questions.size(), failure.asked ? 1u : 0u);
    EXPECT_EQ(requestsFor("my%20player") > 0, fetched);
    EXPECT_LE(m_prompts.received, m_env.largestProgram) << "never more taken than a program can be";
    expectUntouched();
    EXPECT_EQ(fs::exists(m_dir.file("cache/refused-version")), failure.noted);
}

// The new program, and its signature, as the store serves them.
void serveProgram(CheckForUpdate& f, const std::string& bytes, int status = 200)
{
    f.m_store.setVersionFile("my%20player", bytes, status);
}
void serveSignature(CheckForUpdate& f, const std::string& bytes, int status = 200)
{
    f.m_store.setVersionFile("my%20player.sig", bytes, status);
}
// How the new program answers its probe (tests/helpers/version_probe.cpp).
void probeAnswers(const char* answer) { ::setenv("QVR_TEST_PROBE", answer, 1); }
// A program of the version, signed with the build's key, or with `key`.
std::string stamped(CheckForUpdate& f, const char* version, const std::string& key = {})
{
    test::stampedCopy(QVR_VERSION_PROBE, f.m_dir.file(version), version, key);
    return f.m_dir.file(version);
}
void signedByAnotherKey(CheckForUpdate& f)
{
    const std::string key = f.m_dir.file("other.pem");
    ASSERT_EQ(test::runProcess({QVR_OPENSSL, "genpkey", "-algorithm", "ED25519", "-out", key}), 0);
    serveSignature(f, readFile(stamped(f, "2.1.0.1", key) + ".sig"));
}
void oneByteFlipped(CheckForUpdate& f)
{
    std::string flipped = f.m_newer;
    flipped[flipped.size() / 2] ^= 1;
    serveProgram(f, flipped);
}

using F = CheckForUpdate;
constexpr int kFailed = UPD_DOWNLOAD_FAILED;
INSTANTIATE_TEST_SUITE_P(CheckForUpdate, AFailedCheck, ::testing::Values(
    Failure {.name = "NoSession", .setUp = [](F& f) {
                 f.m_env.http = [](const std::string&) { return std::unique_ptr<HttpClient>(); };
             }, .result = UPD_NO_CONNECTION},
    Failure {.name = "NoWayToMakeASession", .setUp = [](F& f) { f.m_env.http = nullptr; }, .result = UPD_NO_CONNECTION},
    Failure {.name = "TheListUnreachable", .setUp = [](F& f) { f.m_store.goDown(); }, .result = UPD_OPEN_FAILED},
    Failure {.name = "AnEmptyList", .setUp = [](F& f) { f.m_store.setVersionText(""); }, .result = UPD_NO_DATA},
    Failure {.name = "TheSameVersion", .setUp = [](F& f) { f.m_store.setVersionText("2.1.0.0"); }, .result = UPD_NOT_NEWER},
    Failure {.name = "AnHtmlList", .setUp = [](F& f) { f.m_store.setVersionText("<html><h1>404 Not Found</h1></html>"); },
             .result = UPD_NOT_NEWER},
    Failure {.name = "NoLocalVersion", .setUp = [](F& f) { writeFile(f.exePath(), f.m_original = "#!/bin/sh\n"); },
             .result = UPD_NO_LOCAL_VERSION},
    // The new program must be served whole before the question.
    Failure {.name = "NotFound", .setUp = [](F& f) { serveProgram(f, f.m_newer, 404); }, .result = UPD_OPEN_FAILED, .fetched = true},
    Failure {.name = "ARedirect", .setUp = [](F& f) { serveProgram(f, f.m_newer, 302); }, .result = UPD_OPEN_FAILED, .fetched = true},
    // What anyone on the way could answer proves nothing about the version.
    Failure {.name = "AnnouncedLargerThanAProgramCanBe",
             .setUp = [](F& f) { f.m_env.largestProgram = f.m_newer.size() / 2; }, .result = kFailed, .fetched = true},
    // Anything but a newer whole program is thrown away; a break may not come again.
    Failure {.name = "ABreakMidway", .setUp = [](F& f) { f.m_store.setUpdateDropAfter(f.m_newer.size() / 2, 1); },
             .result = kFailed, .asked = true},
    Failure {.name = "LargerThanAProgramCanBeUnannounced", .setUp = [](F& f) {
                 f.m_env.largestProgram = f.m_newer.size() / 2;
                 f.m_store.setFraming(sim::Framing::NoLength);
             }, .result = kFailed, .asked = true},
    Failure {.name = "ASignedProgramOfAnotherVersionThanTheListNames",
             .setUp = [](F& f) { f.m_store.setVersionText("2.1.0.2"); }, .result = kFailed, .asked = true},
    Failure {.name = "AnErrorPageWithStatus200", .setUp = [](F& f) { serveProgram(f, "<html>Please try again later</html>"); },
             .result = kFailed, .asked = true},
    Failure {.name = "AnOlderProgram", .setUp = [](F& f) { serveProgram(f, readFile(stamped(f, "2.0.0.0"))); },
             .result = kFailed, .asked = true},
    Failure {.name = "NoSignature", .setUp = [](F& f) { serveSignature(f, "", 404); }, .result = kFailed, .asked = true},
    Failure {.name = "AnotherKeysSignature", .setUp = signedByAnotherKey, .result = kFailed, .asked = true},
    Failure {.name = "TheSignatureAndAByteMore", .setUp = [](F& f) { serveSignature(f, f.m_signature + "x"); },
             .result = kFailed, .asked = true},
    Failure {.name = "OneByteOfTheProgramFlipped", .setUp = oneByteFlipped, .result = kFailed, .asked = true},
    // Signed, but it cannot run; one that does not answer in time may next time.
    Failure {.name = "AProbeThatFails", .setUp = [](F&) { probeAnswers("exit1"); }, .result = kFailed, .asked = true,
             .noted = true},
    Failure {.name = "AProbeThatCrashes", .setUp = [](F&) { probeAnswers("crash"); }, .result = kFailed, .asked = true,
             .noted = true},
    Failure {.name = "AProbeThatHangs", .setUp = [](F& f) {
                 probeAnswers("hang");
                 f.m_env.probeLimit = std::chrono::milliseconds(200);
             }, .result = kFailed, .asked = true},
    // It ends well, but is not the program, or not the version signed.
    Failure {.name = "AProbeThatSaysNothing", .setUp = [](F&) { probeAnswers("silent"); }, .result = kFailed, .asked = true,
             .noted = true},
    Failure {.name = "AProbeOfAnotherProgram", .setUp = [](F&) { probeAnswers("other-program"); }, .result = kFailed,
             .asked = true, .noted = true},
    Failure {.name = "AProbeOfAnotherVersion", .setUp = [](F&) { probeAnswers("other-version"); }, .result = kFailed,
             .asked = true, .noted = true},
    // The question comes again at every start.
    Failure {.name = "TheAnswerNo", .setUp = [](F& f) { f.m_prompts.answer = false; }, .result = UPD_NOT_INSTALLED, .asked = true},
    Failure {.name = "TheDownloadCancelled", .setUp = [](F& f) { f.m_prompts.cancel = true; }, .result = kFailed,
             .asked = true, .noted = true}), test::kByName);

TEST_F(CheckForUpdate, AVersionRefusedHereIsNotAskedForAgainButOneTheListNamesAnewIs)
{
    m_prompts.cancel = true;
    ASSERT_EQ(check(), UPD_DOWNLOAD_FAILED);
    m_prompts = {};
    m_store.clearRequests();
    EXPECT_EQ(check(), UPD_DOWNLOAD_FAILED);
    EXPECT_TRUE(m_prompts.questions.empty());
    EXPECT_EQ(requestsFor("my%20player"), 0u);
    const std::string newest = stamped(*this, "2.1.0.2");
    m_signature = readFile(newest + ".sig");
    publish("2.1.0.2", readFile(newest));
    EXPECT_EQ(check(), UPD_INSTALLED);
    EXPECT_EQ(m_prompts.questions.size(), 1u);
}

TEST_F(CheckForUpdate, TheProgramsNameHoldsAWholeProgramAtEveryStep)
{
    // What an exchange cut short by a kill left behind goes at the next check.
    writeFile(m_dir.file("install/.my player.update"), "half");
    writeFile(m_dir.file("install/.my player.Ab12Cd"), "half of a copy");
    for (const int failing : {1, 2, 3, 0}) {
        SCOPED_TRACE(failing);
        auto files = std::make_shared<WatchedFiles>(exePath(), failing, std::vector {m_original, m_newer});
        m_env.files = files;
        EXPECT_EQ(check(), failing ? UPD_NOT_INSTALLED : UPD_INSTALLED);
        EXPECT_EQ(files->steps, failing ? failing : 3);
        if (failing) {
            EXPECT_EQ(fs::remove(m_dir.file("install/OldExecutable.bak")), failing == 3) << "the backup stays";
            expectUntouched();
        }
    }
    EXPECT_EQ(readFile(m_dir.file("install/update-trial")), "2.1.0.1\n") << "the new version on trial";
    EXPECT_EQ(test::countEntries(m_dir.file("install")), 3u) << "the program, its backup and the trial alone";
}

// Two version texts and what comparing them gives: which is newer, or which is malformed.
struct Comparison {
    const char* name;
    std::string_view first, second;
    int result;
};

class VersionText : public ::testing::TestWithParam<Comparison> {};

TEST_P(VersionText, ComparesNumericallyFieldByField)
{
    EXPECT_EQ(CAutoUpdater::CompareVersions(GetParam().first, GetParam().second), GetParam().result);
}

using namespace std::string_view_literals;
INSTANTIATE_TEST_SUITE_P(Comparisons, VersionText, ::testing::Values(
    Comparison {.name = "MissingFieldsCountZero", .first = "2.1", .second = "2.1.0.0", .result = 0},
    Comparison {.name = "ALeadingZeroCountsNothing", .first = "02.1", .second = "2.1.0.0", .result = 0},
    Comparison {.name = "TenIsAfterNine", .first = "2.10.0.0", .second = "2.9.0.0", .result = 1},
    Comparison {.name = "AnEarlierFieldOutweighsLaterOnes", .first = "2.1.0.65535", .second = "2.1.1.0", .result = -1},
    Comparison {.name = "TheLargestField", .first = "2147483647", .second = "2147483646.9", .result = 1},
    // Dots only separate fields.
    Comparison {.name = "EmptyFields", .first = "..2..1.", .second = "2.1.0.0", .result = 0},
    Comparison {.name = "Empty", .first = "", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "DotsOnly", .first = "...", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "ALineEnd", .first = "2.1.0.1\n", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "FiveFields", .first = "2.1.0.1.5", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "ALetter", .first = "v2.1.0.1", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "ASign", .first = "-1", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "ANul", .first = "2.1\0" "1"sv, .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "AFieldPast31Bits", .first = "2147483648", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "AFieldPast64Bits", .first = "99999999999999999999.1", .second = "2.1.0.0", .result = VER_BAD_FIRST},
    Comparison {.name = "AMalformedSecond", .first = "2.1.0.0", .second = "2,1", .result = VER_BAD_SECOND},
    Comparison {.name = "BothMalformed", .first = "x", .second = "y", .result = VER_BAD_FIRST}), test::kByName);

TEST(Url, CanonicalFormEscapesOnlyBeforeTheQuery)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/app versions/index.html", "http://h/app%20versions/index.html"},
        {"http://h/a\"<>\\^`{|}b", "http://h/a%22%3C%3E%5C%5E%60%7B%7C%7Db"},
        {"http://h/t\tab\x7f\xc3\xa9", "http://h/t%09ab%7F%C3%A9"},
        {"http://h/a b?x y#z w", "http://h/a%20b?x y#z w"},
        {"http://h/already%20done/~user/[x]", "http://h/already%20done/~user/[x]"},
        {"http://[::1]:8080/QVR_DLM/", "http://[::1]:8080/QVR_DLM/"},
    };
    for (const auto& [given, canonical] : cases)
        EXPECT_EQ(canonicalizeUrl(given), std::optional<std::string>(canonical)) << given;
    const std::string longest = "http://h/" + std::string(kCanonicalUrlBuffer - 10, 'a');
    EXPECT_EQ(canonicalizeUrl(longest), longest) << "1023 bytes and the NUL fit";
    EXPECT_FALSE(canonicalizeUrl(longest + "a"));
    EXPECT_FALSE(canonicalizeUrl("http://h/" + std::string(400, ' '))) << "too long once escaped";
}

} // namespace
} // namespace qvr
