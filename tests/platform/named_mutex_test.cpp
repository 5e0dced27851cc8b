#include "platform/named_mutex.h"
#include "platform/paths.h"

#include "tests/support/process.h"

#include <atomic>
#include <thread>

namespace qvr {
namespace {

using test::TempDir;

TEST(NamedMutex, OnlyOpenHoldersCountAndOnlyTheOwnerReleases)
{
    TempDir dir;
    auto first = NamedMutex::create(dir.path(), "m");
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->alreadyExisted() || first->openElsewhere());
    auto second = NamedMutex::create(dir.path(), "m");
    ASSERT_TRUE(second && second->alreadyExisted() && first->openElsewhere());
    EXPECT_FALSE(NamedMutex::create(dir.path(), "another name").value().alreadyExisted());

    // The gate between the window and a worker: owned twice, handed over after two releases.
    EXPECT_FALSE(second->unlock()) << "releasing a mutex one does not own";
    ASSERT_TRUE(first->lock() && first->lock());
    std::atomic<bool> secondOwns {false};
    std::thread thread([&] { secondOwns = second->lock(); });
    EXPECT_TRUE(first->unlock());
    EXPECT_FALSE(secondOwns) << "still owned once";
    EXPECT_TRUE(first->unlock());
    thread.join();
    EXPECT_TRUE(secondOwns && !first->unlock() && second->unlock());

    second.reset();
    EXPECT_FALSE(first->openElsewhere() || first->openElsewhere()) << "asking does not let the name go";
    first.reset();
    EXPECT_FALSE(NamedMutex::create(dir.path(), "m").value().alreadyExisted()) << "its file stays, but nobody holds it";
}

TEST(NamedMutex, ANameWeMayNotOpenIsSomebodysElseAndOtherFailuresAreNot)
{
    TempDir dir;
    ASSERT_TRUE(NamedMutex::create(dir.path(), "m"));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.file("m").c_str(), ::getuid() == 0 ? 0600 : 0), 0);
    const auto failure = [](const std::string& folder, const std::string& name) {
        NamedMutex::Failure why = NamedMutex::Failure::None;
        return NamedMutex::create(folder, name, &why) ? -1 : static_cast<int>(why);
    };
    // Root opens everything: the other user is played by a child process.
    const int denied = ::getuid() == 0 ? test::exitCodeAsNobody([&] { return failure(dir.path(), "m"); })
                                       : failure(dir.path(), "m");
    EXPECT_EQ(denied, static_cast<int>(NamedMutex::Failure::AccessDenied));
    EXPECT_EQ(failure(dir.file("missing"), "m"), static_cast<int>(NamedMutex::Failure::Other)) << "a missing folder";
}

TEST(RuntimeDirectory, IsPrivateAndRefusesAFolderOfAnotherKind)
{
    TempDir dir;
    const std::string folder = dir.file("objects");
    ASSERT_TRUE(ensurePrivateDirectory(folder));
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(ensurePrivateDirectory(folder));
    EXPECT_EQ(test::modeOf(folder), 0700u) << "a folder others can enter is closed again";
    test::writeFile(dir.file("plain"), "x");
    ASSERT_EQ(::symlink(folder.c_str(), dir.file("link").c_str()), 0);
    // An unusable folder (a file, a planted link) is passed over for the next, alike by every start.
    EXPECT_EQ(firstPrivateDirectory({dir.file("plain"), dir.file("plain/x"), dir.file("link"), dir.file("mine")}),
              dir.file("mine"));
    EXPECT_FALSE(firstPrivateDirectory({dir.file("plain/x")}));
}

} // namespace
} // namespace qvr
