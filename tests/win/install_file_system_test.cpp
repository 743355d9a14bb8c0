// The installation's file-system helpers on real folders and files.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/streams.h"
#include "install/file_system.h"
#include "tests/win/install_support.h"

using qvtest::IsDirectory;
using qvtest::ScratchDir;

namespace {

bool Ensure(std::string& path, std::string& prefix) {
    AnsiString p(path.c_str());
    AnsiString e(prefix.c_str());
    bool ok = EnsureDirectoryChain(p, e);
    path = p.c_str();
    prefix = e.c_str();
    return ok;
}

}  // namespace

TEST(EnsureDirectoryChain, CreatesMissingPartOfChainAndDropsOneTrailingSeparator) {
    ScratchDir base("chain");
    std::string path = base / "Tembra\\Quorvel\\";
    std::string prefix;
    EXPECT_TRUE(Ensure(path, prefix));
    EXPECT_EQ(path, base / "Tembra\\Quorvel");
    EXPECT_EQ(prefix, base.path());
    EXPECT_TRUE(IsDirectory(base / "Tembra"));
    EXPECT_TRUE(IsDirectory(base / "Tembra\\Quorvel"));

    // Existing completely: found by the look-up, nothing created.
    std::string again = base / "Tembra/Quorvel/";
    EXPECT_TRUE(Ensure(again, prefix));
    EXPECT_EQ(again, base / "Tembra/Quorvel");
    EXPECT_EQ(prefix, again);

    // Forward slashes separate as well.
    std::string slashed = base / "a/b/c";
    EXPECT_TRUE(Ensure(slashed, prefix));
    EXPECT_EQ(prefix, base.path());
    EXPECT_TRUE(IsDirectory(base / "a\\b\\c"));
}

TEST(EnsureDirectoryChain, TakesBackCreatedFoldersWhenALaterStepFails) {
    ScratchDir base("takeback");
    // A name longer than any file system allows: the look-up fails and so
    // does its creation, after the folders above it were made.
    std::string tooLong(300, 'x');
    std::string path = base / ("one\\two\\" + tooLong);
    std::string prefix;
    EXPECT_FALSE(Ensure(path, prefix));
    EXPECT_EQ(prefix, base.path());
    EXPECT_FALSE(IsDirectory(base / "one\\two"));
    EXPECT_FALSE(IsDirectory(base / "one"));
    EXPECT_TRUE(IsDirectory(base.path()));

    // A doubled separator makes an empty step whose creation fails: the
    // folder made just before it goes again.
    std::string doubled = base / "made\\\\below";
    EXPECT_FALSE(Ensure(doubled, prefix));
    EXPECT_FALSE(IsDirectory(base / "made"));
    EXPECT_TRUE(IsDirectory(base.path()));
}

TEST(EnsureDirectoryChain, RefusesAFileOrHiddenOrSystemFolderAsDeepestExistingPart) {
    ScratchDir base("refuse");
    qvtest::WriteFile(base / "file.txt", "x");
    CreateDirectoryA((base / "hidden").c_str(), nullptr);
    SetFileAttributesA((base / "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryA((base / "system").c_str(), nullptr);
    SetFileAttributesA((base / "system").c_str(), FILE_ATTRIBUTE_SYSTEM);

    for (const char* name : {"file.txt", "hidden", "system"}) {
        std::string path = base / (std::string(name) + "\\new\\deeper");
        std::string prefix = "untouched";
        EXPECT_FALSE(Ensure(path, prefix)) << name;
        EXPECT_EQ(prefix, "untouched") << name;
        EXPECT_FALSE(IsDirectory(base / (std::string(name) + "\\new"))) << name;
        // The existing item itself as the whole path is refused as well.
        std::string itself = base / name;
        EXPECT_FALSE(Ensure(itself, prefix)) << name;
    }
}

TEST(EnsureDirectoryChain, DriveRootsAndEmptyPathNeedNoWork) {
    for (const char* root : {"C:\\", "C:", "Q:\\"}) {
        std::string path = root;
        std::string prefix;
        EXPECT_TRUE(Ensure(path, prefix)) << root;
        EXPECT_EQ(path, root);  // three characters keep their backslash
        EXPECT_EQ(prefix, root);
    }
    std::string empty;
    std::string prefix = "untouched";
    EXPECT_TRUE(Ensure(empty, prefix));
    EXPECT_EQ(prefix, "untouched");
}

TEST(EnsureDirectoryChain, RelativePathWithNothingExistingIsCreatedInTheCurrentFolder) {
    ScratchDir base("relative");
    char saved[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(base.path().c_str()));
    std::string path = "rel\\inner";
    std::string prefix = "untouched";
    bool ok = Ensure(path, prefix);
    SetCurrentDirectoryA(saved);
    EXPECT_TRUE(ok);
    EXPECT_EQ(prefix, "");
    EXPECT_TRUE(IsDirectory(base / "rel\\inner"));
}

TEST(RemoveCreatedDirectories, RemovesDeepestFirstAndStopsAtAFolderInUse) {
    ScratchDir base("remove");
    std::string path = base / "a\\b\\c";
    std::string prefix;
    ASSERT_TRUE(Ensure(path, prefix));
    qvtest::WriteFile(base / "a\\keep.txt", "x");
    RemoveCreatedDirectories(path.c_str(), base.path().c_str());
    EXPECT_FALSE(IsDirectory(base / "a\\b"));
    EXPECT_TRUE(IsDirectory(base / "a"));  // not empty: the walk stops here
    EXPECT_TRUE(IsDirectory(base.path()));

    // A prefix that the path does not contain, or an empty one: nothing.
    ASSERT_TRUE(Ensure(path, prefix));
    RemoveCreatedDirectories(path.c_str(), "Z:\\elsewhere");
    RemoveCreatedDirectories(path.c_str(), "");
    EXPECT_TRUE(IsDirectory(path));
}

TEST(FreeDiskBytes, QueriesTheRightRoot) {
    EXPECT_GT(FreeDiskBytes("C:\\"), 0);
    EXPECT_GT(FreeDiskBytes("C:\\windows\\system32"), 0);
    EXPECT_GT(FreeDiskBytes("relative\\folder"), 0);
    // A drive that does not exist gives 0 when named with a backslash;
    // written with forward slashes the current folder's drive is asked.
    EXPECT_EQ(FreeDiskBytes("Q:\\folder"), 0);
    EXPECT_GT(FreeDiskBytes("Q:/folder"), 0);
    // A doubled backslash after the start is no path.
    EXPECT_EQ(FreeDiskBytes("C:\\windows\\\\system32"), 0);
    EXPECT_EQ(FreeDiskBytes("\\\\"), 0);
    EXPECT_EQ(FreeDiskBytes("\\\\server"), 0);
    EXPECT_EQ(FreeDiskBytes("\\\\noserver-qv\\noshare\\folder"), 0);
}

TEST(IsSameOrNewer, ComparesTheLastWriteTimeWithTheReleaseStamp) {
    ScratchDir base("stamp");
    std::string stamped = base / "stamped.bin";
    {
        TMyFileStream stream;
        ASSERT_TRUE(stream.Create(stamped.c_str()));
        EXPECT_EQ(stream.Write("abc", 3), 3);
        stream.StampTimes();
        stream.Close();
    }
    std::string older = base / "older.bin";
    qvtest::WriteFile(older, "abc");
    qvtest::SetLastWrite(older, qvtest::AddSeconds(ReleaseStampUtc(), -1));
    std::string newer = base / "newer.bin";
    qvtest::WriteFile(newer, "abc");

    auto check = [](const std::string& path) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
        bool result = IsSameOrNewer(file);
        CloseHandle(file);
        return result;
    };
    EXPECT_TRUE(check(stamped));
    EXPECT_FALSE(check(older));
    EXPECT_TRUE(check(newer));
    // Times that can't be read answer false.
    EXPECT_FALSE(IsSameOrNewer(INVALID_HANDLE_VALUE));
}

TEST(IsSameOrNewer, ReleaseStampIsTheFirstOfAprilNineteenNinetyEightLocalTime) {
    FILETIME utc = ReleaseStampUtc();
    FILETIME local;
    SYSTEMTIME parts;
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &parts));
    EXPECT_EQ(parts.wYear, 1998);
    EXPECT_EQ(parts.wMonth, 4);
    EXPECT_EQ(parts.wDay, 1);
    EXPECT_EQ(parts.wHour, 1);
    EXPECT_EQ(parts.wMinute, 10);
    EXPECT_EQ(parts.wSecond, 0);
}
