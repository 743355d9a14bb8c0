// The Windows streams against real files and the real resource "ARC" 101
// compiled into this program, and a whole extraction run from it.
#include <gtest/gtest.h>
#include <windows.h>

#include "base/platform.h"
#include "tests/common/archive_fixture.h"

using qvtest::ExtractWith;
using qvtest::ReadAll;
using qvtest::Recorder;
using qvtest::ScratchDir;

namespace {

TEST(WinResourceStream, FindsTheArchiveResource) {
    std::vector<uint8_t> expected = ReadAll(QV_WIN_ARCHIVE);
    ASSERT_FALSE(expected.empty());
    TMyResourceStream s;
    ASSERT_TRUE(s.Open("#101"));
    ASSERT_EQ(s.Size(), static_cast<int32_t>(expected.size()));
    std::vector<uint8_t> got(expected.size() + 10);
    EXPECT_EQ(s.Read(got.data(), static_cast<int32_t>(got.size())), s.Size());
    got.resize(expected.size());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(s.Read(got.data(), 1), 0);
    // Same name: rewinds only.
    ASSERT_TRUE(s.Open("#101"));
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(s.Seek(s.Size(), kSeekStart), kSeekOk);
    EXPECT_EQ(s.Seek(s.Size() + 1, kSeekStart), kSeekBadPosition);
    // Another name: the first resource is released, the lookup fails.
    EXPECT_FALSE(s.Open("#102"));
    EXPECT_FALSE(s.IsOpen);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.ResHandle, nullptr);
    EXPECT_TRUE(s.Open("#101"));
    EXPECT_TRUE(s.Close());
    EXPECT_EQ(s.Data, nullptr);
}

TEST(WinFileStream, SharesReadingOnlyAndStampsTheReleaseTime) {
    ScratchDir dir("win-stamp");
    std::string path = dir.File("stamped.bin");
    TMyFileStream s;
    ASSERT_TRUE(s.Create(path.c_str()));
    EXPECT_EQ(s.Write("abc", 3), 3);
    // Others may read the file meanwhile, but not write it.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    s.StampTimes();
    ASSERT_TRUE(s.Close());

    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
    CloseHandle(h);
    FILETIME local;
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToLocalFileTime(&written, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
    EXPECT_EQ(st.wYear, 1998);
    EXPECT_EQ(st.wMonth, 4);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 10);
    EXPECT_EQ(st.wSecond, 0);
    uint64_t stamp = 0;
    ASSERT_TRUE(ReleaseStampFileTime(&stamp));
    EXPECT_EQ(stamp, (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    EXPECT_EQ(accessed.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(accessed.dwHighDateTime, written.dwHighDateTime);
}

// The temporary file beside a destination has an 8.3 name, so that it fits
// wherever the installation folder leaves room for one: in a folder of the
// longest accepted length (247 characters) too.
TEST(WinFileStream, PartialFileFitsInTheLongestFolder) {
    ScratchDir dir("win-long");
    std::string folder = dir.Path.string();
    while (folder.size() < 247) {
        folder += "\\" + std::string(std::min<size_t>(100, 247 - folder.size() - 1), 'f');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    ASSERT_EQ(folder.size(), 247u);
    const std::string dest = folder + "\\Quorvel.cnt";
    TMyFileStream s;
    ASSERT_TRUE(s.CreatePartial(dest.c_str()));
    EXPECT_EQ(s.Write("cnt", 3), 3);
    EXPECT_TRUE(s.Commit());
    EXPECT_EQ(ReadAll(dest), (std::vector<uint8_t>{'c', 'n', 't'}));
}

TEST(WinExtraction, RunFromTheEmbeddedResource) {
    ExtractRun run;
    ScratchDir dir("win-run");
    TMyResourceStream archive;
    TMyFileStream target;
    Recorder rec;
    rec.Dir = dir.Path.string();
    ExtractWith(run, archive, target, rec);
    EXPECT_EQ(run.ExtractResult, 0);
    EXPECT_EQ(rec.Asked, (std::vector<std::string>{"stored.txt", "packed.txt"}));
    EXPECT_TRUE(rec.Errors.empty());
    for (const char* name : {"packed.txt", "stored.txt"}) {
        std::vector<uint8_t> want = ReadAll(std::string(QV_WIN_PAYLOAD_DIR) + "/" + name);
        ASSERT_FALSE(want.empty()) << name;
        EXPECT_EQ(ReadAll(dir.File(name)), want) << name;
    }
    EXPECT_FALSE(archive.IsOpen);
}

}  // namespace
