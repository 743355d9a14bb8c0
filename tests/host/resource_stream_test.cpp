// The resource stream over the POSIX table of registered byte blocks, and
// the release stamp on a real file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include "base/platform.h"
#include "tests/common/archive_fixture.h"

using qvtest::ScratchDir;

namespace {

const uint8_t kFirst[10] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
const uint8_t kSecond[3] = {'x', 'y', 'z'};

class ResourceStream : public ::testing::Test {
protected:
    void SetUp() override {
        ClearResources();
        RegisterResource("ARC", "#101", kFirst, 10);
        RegisterResource("ARC", "#102", kSecond, 3);
        RegisterResource("RTF", "#103", kSecond, 3);
    }
    void TearDown() override { ClearResources(); }
};

TEST_F(ResourceStream, OpenReadAndClamp) {
    TMyResourceStream s;
    EXPECT_EQ(s.Size(), 0);
    ASSERT_TRUE(s.Open("#101"));
    EXPECT_TRUE(s.IsOpen);
    EXPECT_EQ(s.Name, "#101");
    EXPECT_EQ(s.Size(), 10);
    uint8_t buf[16];
    EXPECT_EQ(s.Read(buf, 4), 4);
    EXPECT_EQ(buf[3], 'd');
    EXPECT_EQ(s.Read(buf, 16), 6);  // only the rest
    EXPECT_EQ(buf[0], 'e');
    EXPECT_EQ(s.Position(), 10);
    EXPECT_EQ(s.Read(buf, 1), 0);
    EXPECT_TRUE(s.Close());
    EXPECT_FALSE(s.IsOpen);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Read(buf, 1), 0);
}

TEST_F(ResourceStream, SeekLimitsAndOrigins) {
    TMyResourceStream s;
    ASSERT_TRUE(s.Open("#101"));
    EXPECT_EQ(s.Seek(10, kSeekStart), kSeekOk);  // exactly the end is allowed
    EXPECT_EQ(s.Position(), 10);
    EXPECT_EQ(s.Seek(11, kSeekStart), kSeekBadPosition);
    EXPECT_EQ(s.Seek(-1, kSeekStart), kSeekBadPosition);
    EXPECT_EQ(s.Seek(0, 3), kSeekBadOrigin);
    EXPECT_EQ(s.Seek(0, -1), kSeekBadOrigin);
    EXPECT_EQ(s.Position(), 10);
    EXPECT_EQ(s.Seek(-4, kSeekEnd), kSeekOk);
    EXPECT_EQ(s.Position(), 6);
    EXPECT_EQ(s.Seek(-7, kSeekCurrent), kSeekBadPosition);
    EXPECT_EQ(s.Seek(-6, kSeekCurrent), kSeekOk);
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(s.Seek(0x7FFFFFFF, kSeekCurrent), kSeekBadPosition);
}

TEST_F(ResourceStream, ReopenRewindsOrSwitches) {
    TMyResourceStream s;
    ASSERT_TRUE(s.Open("#101"));
    uint8_t buf[4];
    s.Read(buf, 4);
    ASSERT_TRUE(s.Open("#101"));
    EXPECT_EQ(s.Position(), 0);
    ASSERT_TRUE(s.Open("#102"));
    EXPECT_EQ(s.Size(), 3);
    EXPECT_EQ(s.Read(buf, 4), 3);
    EXPECT_EQ(buf[0], 'x');
    // Another type under the same name is not an archive resource.
    EXPECT_FALSE(s.Open("#103"));
    EXPECT_FALSE(s.IsOpen);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Name, "#102");
    EXPECT_FALSE(s.Open("#999"));
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Read(buf, 4), 0);
}

TEST(ReleaseStamp, StampedFileReadsBackAsApril1998) {
    ScratchDir dir("stamp");
    TMyFileStream s;
    ASSERT_TRUE(s.Create(dir.File("s").c_str()));
    s.Write("abc", 3);
    s.StampTimes();
    ASSERT_TRUE(s.Close());
    struct stat st;
    ASSERT_EQ(stat(dir.File("s").c_str(), &st), 0);
    time_t t = st.st_mtime;
    struct tm local;
    localtime_r(&t, &local);
    EXPECT_EQ(local.tm_year, 98);
    EXPECT_EQ(local.tm_mon, 3);
    EXPECT_EQ(local.tm_mday, 1);
    EXPECT_EQ(local.tm_hour, 1);
    EXPECT_EQ(local.tm_min, 10);
    EXPECT_EQ(local.tm_sec, 0);
    EXPECT_EQ(st.st_atime, st.st_mtime);
    uint64_t fileTime = 0;
    ASSERT_TRUE(ReleaseStampFileTime(&fileTime));
    EXPECT_EQ(fileTime, (static_cast<uint64_t>(t) + 11644473600ull) * 10000000ull);
}

}  // namespace
