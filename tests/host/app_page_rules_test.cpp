// The wizard pages' text rules: where the product may live, browsed
// folders, the group text relative to the Programs folder, the licence
// streaming, and the wizard picture drawn at another size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/page_rules.h"

// The one rule for where the product may live, shared by the folder page
// and the uninstaller: the verdict, and the full path it takes.
TEST(FolderRule, FullPathThenVerdict) {
    SystemFolders folders;
    folders.windows = "C:\\windows";
    folders.system[0] = "C:\\windows\\system32";
    folders.system[1] = "C:\\windows\\syswow64";
    folders.programFiles[0] = "C:\\Program Files (x86)";
    folders.programFiles[1] = "C:\\Program Files";
    const std::string longName(240, 'q');
    using V = FolderVerdict;
    const struct {
        std::string text;
        FolderVerdict verdict;
        const char* full;
    } cases[] = {
        {"C:\\Program Files\\Quorvel", V::Usable, "C:\\Program Files\\Quorvel"},
        {"c:/program files/quorvel/", V::Usable, "c:\\program files\\quorvel"},
        {"C:\\Program Files\\Quorvel...", V::Usable, "C:\\Program Files\\Quorvel"},
        {"C:\\Program Files. \\Quorvel . .", V::Usable, "C:\\Program Files\\Quorvel"},
        {"C:\\\\Apps\\\\\\Quorvel", V::Usable, "C:\\Apps\\Quorvel"},
        {"C:\\Program Files\\..\\Quorvel", V::Usable, "C:\\Quorvel"},
        {"C:\\a\\.\\b\\..\\..\\..\\Quorvel", V::Usable, "C:\\Quorvel"},  // never above the root
        {"C:\\windows\\Quorvel", V::Usable, "C:\\windows\\Quorvel"},     // inside is fine
        {"C:\\" + longName + "\\..\\Q", V::Usable, "C:\\Q"},             // long only as typed
        {"\\\\localhost\\C$\\Quorvel", V::Usable, "\\\\localhost\\C$\\Quorvel"},
        {"\\\\srv\\share\\a\\..\\Q", V::Usable, "\\\\srv\\share\\Q"},
        {"", V::Empty, ""},
        {"C:\\Prog*", V::Unusable, ""},
        {"C:\\a:b", V::Unusable, ""},
        {"C:\\" + longName + "\\..\\Q?", V::Unusable, ""},
        {"C:\\" + longName + "\\Quorvel", V::Unusable, ""},
        {"Quorvel", V::NotFullPath, ""},
        {"C:Quorvel", V::NotFullPath, ""},
        {"C:", V::NotFullPath, ""},
        {"\\Quorvel", V::NotFullPath, ""},
        {"\\\\server", V::NotFullPath, ""},
        {"\\\\\\srv\\share", V::NotFullPath, ""},
        {"\\\\.\\PhysicalDrive0\\Q", V::NotFullPath, ""},
        {"C:\\", V::Root, "C:\\"},
        {"C:/", V::Root, "C:\\"},
        {"C:\\\\", V::Root, "C:\\"},
        {"C:\\windows\\..", V::Root, "C:\\"},
        {"C:\\.", V::Root, "C:\\"},
        {"d:\\..\\..", V::Root, "d:\\"},
        {"\\\\srv\\share\\", V::Root, "\\\\srv\\share"},
        {"\\\\localhost\\C$\\x\\..", V::Root, "\\\\localhost\\C$"},
        {"C:\\windows", V::WindowsFolder, "C:\\windows"},
        {"c:\\WINDOWS\\", V::WindowsFolder, "c:\\WINDOWS"},
        {"C:\\windows\\system32", V::SystemFolder, "C:\\windows\\system32"},
        {"C:\\Windows\\SysWOW64\\.", V::SystemFolder, "C:\\Windows\\SysWOW64"},
        {"C:\\Program Files", V::ProgramFilesFolder, "C:\\Program Files"},
        {"C:\\Program Files (x86)...", V::ProgramFilesFolder, "C:\\Program Files (x86)"},
        {"C:\\Program Files\\Quorvel\\..", V::ProgramFilesFolder, "C:\\Program Files"},
    };
    for (const auto& c : cases) {
        AnsiString full;
        EXPECT_EQ(CheckInstallFolder(c.text.c_str(), folders, full), c.verdict) << c.text;
        EXPECT_EQ(std::string(full.c_str()), c.full) << c.text;
    }
    // Folders the system does not name match nothing.
    AnsiString full;
    EXPECT_EQ(CheckInstallFolder("C:\\windows", SystemFolders{}, full), V::Usable);
}

TEST(FolderRule, RootOfAFullPathIsItsDriveOrShare) {
    EXPECT_EQ(std::string(RootOf("E:\\Games\\Q").c_str()), "E:\\");
    EXPECT_EQ(std::string(RootOf("\\\\srv\\share\\Q").c_str()), "\\\\srv\\share\\");
    EXPECT_EQ(std::string(RootOf("\\\\srv\\share").c_str()), "\\\\srv\\share\\");
    EXPECT_TRUE(RootOf("Games\\Q").empty());
    EXPECT_TRUE(RootOf("C:Q").empty());
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
