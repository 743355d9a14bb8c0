// The wizard pages' text rules: drive roots, browsed folders, the group
// text relative to the Programs folder, the licence streaming, and the
// wizard picture drawn at another size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/page_rules.h"

TEST(PageRules, OnlyThreeCharacterDriveRootsAreRoots) {
    EXPECT_TRUE(IsDriveRootText("C:\\"));
    EXPECT_TRUE(IsDriveRootText("C:/"));
    EXPECT_TRUE(IsDriveRootText("d:\\"));
    EXPECT_FALSE(IsDriveRootText("C:"));
    EXPECT_FALSE(IsDriveRootText("C:\\X"));
    EXPECT_FALSE(IsDriveRootText("\\\\"));
    EXPECT_FALSE(IsDriveRootText("C;\\"));
    EXPECT_FALSE(IsDriveRootText(""));
}

TEST(PageRules, FolderTextMustBeHoldableByTheFileSystem) {
    EXPECT_TRUE(IsUsableFolderText("C:\\Program Files\\Quorvel"));
    EXPECT_TRUE(IsUsableFolderText("\\\\srv\\share\\Q"));
    EXPECT_TRUE(IsUsableFolderText(""));  // refused elsewhere, with its own words
    for (const char* bad :
         {"C:\\Prog*", "C:\\Q?", "C:\\\"Q\"", "C:\\<Q>", "C:\\a|b", "C:\\a:b", ":Q", "C:\\a\tb"}) {
        EXPECT_FALSE(IsUsableFolderText(bad)) << bad;
    }
    std::string longest = "C:\\" + std::string(kFolderTextLimit - 3, 'a');
    EXPECT_TRUE(IsUsableFolderText(longest.c_str()));
    EXPECT_FALSE(IsUsableFolderText((longest + "a").c_str()));
}

TEST(PageRules, BrowsedFolderLosesOneTrailingSeparator) {
    EXPECT_EQ(std::string(WithoutTrailingSeparator("D:\\").c_str()), "D:");
    EXPECT_EQ(std::string(WithoutTrailingSeparator("D:\\Apps").c_str()), "D:\\Apps");
    EXPECT_EQ(std::string(WithoutTrailingSeparator("D:\\Apps/").c_str()), "D:\\Apps");
    EXPECT_EQ(std::string(WithoutTrailingSeparator("D:\\Apps\\\\").c_str()), "D:\\Apps\\");
    EXPECT_EQ(std::string(WithoutTrailingSeparator("").c_str()), "");
}

TEST(PageRules, DriveRootComesFromPathElseCurrentDirectory) {
    EXPECT_EQ(std::string(DriveRootFor("E:\\Games", "C:\\windows").c_str()), "E:\\");
    EXPECT_EQ(std::string(DriveRootFor("E:", "C:\\windows").c_str()), "E:\\");
    // Relative, UNC and empty paths are judged by the current directory.
    EXPECT_EQ(std::string(DriveRootFor("Games\\Q", "C:\\windows").c_str()), "C:\\");
    EXPECT_EQ(std::string(DriveRootFor("\\\\srv\\share", "D:\\").c_str()), "D:\\");
    EXPECT_EQ(std::string(DriveRootFor("", "C:\\").c_str()), "C:\\");
    // A current directory without a drive letter gives no root at all.
    EXPECT_TRUE(DriveRootFor("Games", "\\\\srv\\share").empty());
    EXPECT_TRUE(DriveRootFor("X", "").empty());
}

TEST(PageRules, GroupTextIsRelativeToProgramsFolder) {
    AnsiString below("untouched");
    const AnsiString programs = "C:\\WINDOWS\\Start Menu\\Programs";
    ASSERT_TRUE(TextBelowFolder("C:\\WINDOWS\\Start Menu\\Programs\\Quorvel", programs, below));
    EXPECT_EQ(std::string(below.c_str()), "Quorvel");
    ASSERT_TRUE(TextBelowFolder("c:\\windows\\start menu\\programs\\Screen Savers\\Quorvel",
                                programs, below));
    EXPECT_EQ(std::string(below.c_str()), "Screen Savers\\Quorvel");

    below = "untouched";
    // A sibling whose name merely starts like the folder is not inside it.
    EXPECT_FALSE(TextBelowFolder("C:\\WINDOWS\\Start Menu\\ProgramsX\\Q", programs, below));
    EXPECT_FALSE(TextBelowFolder("C:\\WINDOWS\\Start Menu\\Programs", programs, below));
    EXPECT_FALSE(TextBelowFolder("C:\\WINDOWS\\Start Menu\\Programs\\", programs, below));
    EXPECT_FALSE(TextBelowFolder("D:\\Quorvel", "", below));
    EXPECT_EQ(std::string(below.c_str()), "untouched");
}

TEST(PageRules, LicenceStreamsInPiecesOfTheCapacity) {
    std::string text(25, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i);
    LicenceSource source;
    source.loadedId = 101;
    source.text = reinterpret_cast<const uint8_t*>(text.data());
    source.size = static_cast<int32_t>(text.size());

    std::string got;
    uint8_t buffer[16];
    std::vector<int32_t> counts;
    for (int32_t n; (n = ReadLicencePiece(source, buffer, 10)) != 0;) {
        counts.push_back(n);
        got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
    }
    EXPECT_EQ(counts, (std::vector<int32_t>{10, 10, 5}));
    EXPECT_EQ(got, text);
    EXPECT_EQ(ReadLicencePiece(source, buffer, 10), 0);

    // Rewinding replays the whole text; a larger capacity takes it at once.
    source.position = 0;
    EXPECT_EQ(ReadLicencePiece(source, buffer, 16), 16);
    EXPECT_EQ(ReadLicencePiece(source, buffer, 16), 9);
    EXPECT_EQ(ReadLicencePiece(source, buffer, 16), 0);
}

TEST(PageRules, MissingLicenceEndsAtOnce) {
    LicenceSource source;
    uint8_t buffer[8];
    EXPECT_EQ(ReadLicencePiece(source, buffer, 8), 0);
}

TEST(PageRules, PictureScalesSmoothlyAndKeepsItsEdges) {
    // Rows padded to 4 bytes; blue, green, red in each pixel.
    const uint8_t twoWide[8] = {0, 10, 200, 255, 30, 100, 0xEE, 0xEE};
    const struct {
        int width, height;
        std::vector<uint8_t> want;
    } cases[] = {
        // Each end keeps its pixel; between them the colours blend.
        {4, 1, {0, 10, 200, 64, 15, 175, 191, 25, 125, 255, 30, 100}},
        // The same size is a copy; padding stays untouched.
        {2, 1, {0, 10, 200, 255, 30, 100, 0xEE, 0xEE}},
        {1, 2, {128, 20, 150, 0xEE, 128, 20, 150, 0xEE}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(PictureRowBytes(c.width) * c.height, 0xEE);
        ScalePicture(twoWide, 2, 1, out.data(), c.width, c.height);
        EXPECT_EQ(out, c.want) << c.width << " x " << c.height;
    }
    // Three rows to five: the middle row blends the rows above and below.
    const uint8_t column[12] = {0, 0, 0, 0, 100, 100, 100, 0, 200, 200, 200, 0};
    std::vector<uint8_t> tall(4 * 5);
    ScalePicture(column, 1, 3, tall.data(), 1, 5);
    const uint8_t wantTall[5] = {0, 40, 100, 160, 200};
    for (int y = 0; y < 5; ++y) EXPECT_EQ(tall[4 * y], wantTall[y]) << "row " << y;
}
