#include "platform/named_mutex.h"
#include "platform/paths.h"

#include "tests/support/common.h"

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

TEST(RuntimeDirectory, IsAPrivateFolderOfOurOwn)
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
