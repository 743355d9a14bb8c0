// Checks the setup program's resources: the committed artwork and licence
// files, and the dialog templates as windres really compiles them (the
// script is compiled into a .res file and parsed here).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "product_version.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

const fs::path kResources = fs::path(QV_SOURCE_DIR) / "resources";

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint16_t U16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
uint32_t U32(const Bytes& b, size_t at) {
    return U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}
int32_t S32(const Bytes& b, size_t at) {
    return static_cast<int32_t>(U32(b, at));
}

// ------------------------------------------------------------ artwork files

const uint8_t kStandardPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

size_t RowBytes(int bits, int width) {
    return static_cast<size_t>((bits * width + 31) / 32 * 4);
}

struct IconImage {
    int width, height, bits;
};

// Parses an icon file and checks each image's internal consistency.
std::vector<IconImage> ParseIcon(const Bytes& file) {
    std::vector<IconImage> images;
    EXPECT_EQ(U16(file, 0), 0);
    EXPECT_EQ(U16(file, 2), 1);
    size_t count = U16(file, 4);
    for (size_t i = 0; i < count; ++i) {
        size_t entry = 6 + 16 * i;
        int width = file.at(entry) == 0 ? 256 : file.at(entry);
        int height = file.at(entry + 1) == 0 ? 256 : file.at(entry + 1);
        int bits = U16(file, entry + 6);
        uint32_t length = U32(file, entry + 8);
        uint32_t offset = U32(file, entry + 12);
        EXPECT_LE(offset + length, file.size());
        // The image itself: a bitmap header with the doubled height, the
        // palette, the colour bitmap and the transparency mask.
        EXPECT_EQ(U32(file, offset), 40u);
        EXPECT_EQ(S32(file, offset + 4), width);
        EXPECT_EQ(S32(file, offset + 8), 2 * height);
        EXPECT_EQ(U16(file, offset + 14), bits);
        EXPECT_EQ(U32(file, offset + 16), 0u) << "uncompressed";
        size_t colours = bits <= 8 ? (1u << bits) : 0;
        size_t expected =
            40 + 4 * colours + RowBytes(bits, width) * height + RowBytes(1, width) * height;
        EXPECT_EQ(length, expected) << width << "x" << height;
        if (bits == 4) {
            for (size_t c = 0; c < 16; ++c) {
                size_t at = offset + 40 + 4 * c;  // blue, green, red, 0
                EXPECT_EQ(file.at(at + 2), kStandardPalette[c][0]) << "colour " << c;
                EXPECT_EQ(file.at(at + 1), kStandardPalette[c][1]) << "colour " << c;
                EXPECT_EQ(file.at(at), kStandardPalette[c][2]) << "colour " << c;
            }
        }
        images.push_back({width, height, bits});
    }
    return images;
}

bool HasImage(const std::vector<IconImage>& images, int size, int bits) {
    for (const IconImage& image : images) {
        if (image.width == size && image.height == size && image.bits == bits) return true;
    }
    return false;
}

TEST(ResourceFiles, WizardBitmapIs90By90TrueColour) {
    Bytes bmp = ReadFile(kResources / "wizard.bmp");
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(U32(bmp, 2), bmp.size());
    EXPECT_EQ(U32(bmp, 14), 40u);
    EXPECT_EQ(S32(bmp, 18), 90);
    EXPECT_EQ(S32(bmp, 22), 90);
    EXPECT_EQ(U16(bmp, 28), 24);
    EXPECT_EQ(U32(bmp, 30), 0u);
    EXPECT_EQ(U32(bmp, 10) + RowBytes(24, 90) * 90, bmp.size());
}

TEST(ResourceFiles, IconsHaveTheRequiredSizesAndColours) {
    for (const char* name : {"browse_folder.ico", "browse_group.ico"}) {
        SCOPED_TRACE(name);
        std::vector<IconImage> images = ParseIcon(ReadFile(kResources / name));
        EXPECT_EQ(images.size(), 2u);
        EXPECT_TRUE(HasImage(images, 32, 4));
        EXPECT_TRUE(HasImage(images, 16, 4));
    }
    std::vector<IconImage> main = ParseIcon(ReadFile(kResources / "mainicon.ico"));
    EXPECT_EQ(main.size(), 3u);
    EXPECT_TRUE(HasImage(main, 32, 4));
    EXPECT_TRUE(HasImage(main, 16, 4));
    EXPECT_TRUE(HasImage(main, 48, 8));
}

TEST(ResourceFiles, ArtworkIsReproducedByItsScript) {
    if (std::system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    fs::path out = fs::temp_directory_path() / ("qv-artwork-" + std::to_string(getpid()));
    std::string command = "python3 '" + std::string(QV_SOURCE_DIR) + "/scripts/make-artwork.py' '" +
                          out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* name :
         {"wizard.bmp", "mainicon.ico", "browse_folder.ico", "browse_group.ico"}) {
        EXPECT_TRUE(ReadFile(out / name) == ReadFile(kResources / name)) << name << " is stale";
    }
    fs::remove_all(out);
}

TEST(ResourceFiles, LicenceIsAnAnsiRtfDocument) {
    Bytes rtf = ReadFile(fs::path(QV_GENERATED_DIR) / "licence.rtf");
    std::string text(rtf.begin(), rtf.end());
    EXPECT_EQ(text.rfind("{\\rtf1\\ansi", 0), 0u);
    size_t fonts = text.find("{\\fonttbl");
    ASSERT_NE(fonts, std::string::npos);
    EXPECT_NE(text.find("Times New Roman;", fonts), std::string::npos);
    EXPECT_NE(text.find("MS Sans Serif;", fonts), std::string::npos);
    EXPECT_NE(text.find("Tembra"), std::string::npos);
    EXPECT_NE(text.find("Quorvel"), std::string::npos);
    EXPECT_GT(rtf.size(), 3500u);
    EXPECT_LT(rtf.size(), 5500u);
    // Groups nest properly and the document closes where it ends.
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;  // an escaped brace does not count
        } else if (text[i] == '{') {
            ++depth;
        } else if (text[i] == '}') {
            --depth;
            ASSERT_GE(depth, 0) << "at " << i;
            if (depth == 0) {
                EXPECT_EQ(text.find_first_not_of("\r\n", i + 1), std::string::npos);
            }
        }
    }
    EXPECT_EQ(depth, 0);
    for (uint8_t c : rtf) EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\r' || c == '\t');
}

TEST(ResourceFiles, PayloadHoldsTheFilesTheRegistryPointsAt) {
    fs::path payload = fs::path(QV_SOURCE_DIR) / "payload";
    EXPECT_TRUE(fs::is_regular_file(payload / "Scenes.dat"));
    // The screen saver, the help file and the uninstaller are built and
    // staged beside this file; a second file with ".scr" in its name would
    // become the installed saver instead.
    for (const fs::directory_entry& entry : fs::directory_iterator(payload)) {
        EXPECT_EQ(entry.path().filename().string().find(".scr"), std::string::npos)
            << entry.path().filename();
    }
}

// ------------------------------------------------------------ compiled templates

// A name or id in a .res entry or a dialog template: 0xFFFF then an ordinal,
// or a NUL-terminated UTF-16 string (kept as ASCII here).
struct NameOrId {
    int id = -1;
    std::string name;
};

NameOrId ReadNameOrId(const Bytes& b, size_t& at) {
    NameOrId result;
    if (U16(b, at) == 0xFFFF) {
        result.id = U16(b, at + 2);
        at += 4;
        return result;
    }
    while (uint16_t c = U16(b, at)) {
        result.name += static_cast<char>(c);
        at += 2;
    }
    at += 2;
    return result;
}

std::string Key(const NameOrId& type, const NameOrId& name) {
    return (type.id >= 0 ? std::to_string(type.id) : type.name) + "/" +
           (name.id >= 0 ? std::to_string(name.id) : name.name);
}

std::map<std::string, Bytes> ParseRes(const Bytes& res) {
    std::map<std::string, Bytes> entries;
    size_t at = 0;
    while (at + 8 <= res.size()) {
        uint32_t dataSize = U32(res, at);
        uint32_t headerSize = U32(res, at + 4);
        size_t p = at + 8;
        NameOrId type = ReadNameOrId(res, p);
        NameOrId name = ReadNameOrId(res, p);
        size_t data = at + headerSize;
        if (dataSize != 0)
            entries[Key(type, name)] = Bytes(res.begin() + data, res.begin() + data + dataSize);
        at = (data + dataSize + 3) & ~size_t(3);
    }
    return entries;
}

struct Control {
    uint32_t style;
    int x, y, cx, cy, id;
    std::string cls, text;
};

struct Dialog {
    uint32_t style;
    int x, y, cx, cy;
    std::string caption, font;
    int pointSize;
    std::vector<Control> controls;
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string ClassName(const NameOrId& cls) {
    static const std::map<int, std::string> kAtoms = {
        {0x80, "Button"}, {0x81, "Edit"}, {0x82, "Static"}, {0x83, "ListBox"}, {0x85, "ComboBox"}};
    if (cls.id >= 0) return kAtoms.count(cls.id) ? kAtoms.at(cls.id) : "#" + std::to_string(cls.id);
    return cls.name;
}

Dialog ParseDialog(const Bytes& b) {
    Dialog d{};
    d.style = U32(b, 0);
    size_t count = U16(b, 8);
    d.x = static_cast<int16_t>(U16(b, 10));
    d.y = static_cast<int16_t>(U16(b, 12));
    d.cx = static_cast<int16_t>(U16(b, 14));
    d.cy = static_cast<int16_t>(U16(b, 16));
    size_t at = 18;
    ReadNameOrId(b, at);  // menu
    ReadNameOrId(b, at);  // class
    d.caption = ReadNameOrId(b, at).name;
    if (d.style & 0x40) {  // DS_SETFONT
        d.pointSize = U16(b, at);
        at += 2;
        d.font = ReadNameOrId(b, at).name;
    }
    for (size_t i = 0; i < count; ++i) {
        at = (at + 3) & ~size_t(3);
        Control c{};
        c.style = U32(b, at);
        c.x = static_cast<int16_t>(U16(b, at + 8));
        c.y = static_cast<int16_t>(U16(b, at + 10));
        c.cx = static_cast<int16_t>(U16(b, at + 12));
        c.cy = static_cast<int16_t>(U16(b, at + 14));
        c.id = static_cast<int16_t>(U16(b, at + 16));
        at += 18;
        c.cls = ClassName(ReadNameOrId(b, at));
        NameOrId text = ReadNameOrId(b, at);
        c.text = text.id >= 0 ? "#" + std::to_string(text.id) : text.name;
        at += 2 + U16(b, at);  // creation data
        d.controls.push_back(c);
    }
    return d;
}

// Window and control styles, spelled out because the host has no Windows headers.
constexpr uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                   WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_VSCROLL = 0x00200000,
                   WS_SYSMENU = 0x00080000, WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000,
                   DS_SETFONT = 0x40, DS_MODALFRAME = 0x80, SS_BITMAP = 0x0E,
                   SS_REALSIZEIMAGE = 0x800, SS_SUNKEN = 0x1000, ES_MULTILINE = 0x4,
                   ES_AUTOVSCROLL = 0x40, ES_AUTOHSCROLL = 0x80, ES_READONLY = 0x800,
                   BS_AUTOCHECKBOX = 0x3, BS_ICON = 0x40;
constexpr uint32_t kText = WS_CHILD | WS_VISIBLE | WS_GROUP;
constexpr uint32_t kEdit = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr uint32_t kBrowse = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_ICON;
const Control kPicture = {
    WS_CHILD | WS_VISIBLE | WS_BORDER | SS_BITMAP | SS_REALSIZEIMAGE | SS_SUNKEN,
    5,
    78,
    63,
    58,
    -1,
    "Static",
    "#101"};

const std::map<int, std::vector<Control>> kTemplates = {
    {101,
     {kPicture,
      {kText, 80, 10, 186, 20, -1, "Static",
       "Welcome to the Quorvel v." QV_VERSION_TEXT " screen saver Setup!"},
      {kText, 80, 32, 175, 21, 1001, "Static",
       "This wizard will help you quickly install Quorvel. Press Next to continue."},
      {kText, 80, 59, 170, 34, 1002, "Static",
       "Quorvel is already installed at your computer.\nPress Next to update your copy to version "
       QV_VERSION_TEXT ".\nYour current settings will be preserved."}}},
    {102,
     {{kText, 5, 3, 267, 14, -1, "Static", "Please read the following license agreement."},
      {WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
       5, 19, 267, 94, 1001, "RICHEDIT", ""},
      {kText, 5, 117, 266, 21, -1, "Static",
       "Proceeding with installation implies that you accept all of the terms of the license "
       "agreement. If you do not accept the terms, press Cancel button."}}},
    {103,
     {{kText, 83, 9, 181, 24, -1, "Static",
       "Setup wizard will copy the Quorvel files to the following folder:"},
      {kEdit, 83, 42, 174, 14, 1001, "Edit", ""},
      {kBrowse, 259, 42, 13, 14, 1002, "Button", "Browse..."},
      {kText, 83, 68, 178, 32, -1, "Static",
       "If you wish to install Quorvel into another folder, type its full path or select the "
       "Browse button to the right."},
      kPicture}},
    {104,
     {{kText, 83, 9, 186, 29, -1, "Static",
       "Setup wizard will create shortcuts to the Quorvel components in the following Programs "
       "group of Start button:"},
      {kEdit, 83, 42, 174, 14, 1001, "Edit", ""},
      {kBrowse, 259, 42, 13, 14, 1002, "Button", "Browse..."},
      {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 83, 124, 185, 10, 1003, "Button",
       "Do not create shortcuts in Start menu"},
      {kText, 83, 68, 178, 24, -1, "Static",
       "If you want to select another Programs submenu, type its name or press Browse button to "
       "the right."},
      kPicture}},
    {105,
     {{kText, 83, 10, 186, 16, 1005, "Static", "Please wait while Setup wizard installs Quorvel."},
      {kText, 83, 47, 70, 13, 1006, "Static", "Program Files..."},
      {WS_CHILD | WS_VISIBLE | WS_BORDER, 83, 67, 159, 8, 1011, "msctls_progress32", ""},
      {WS_CHILD | WS_GROUP, 83, 86, 178, 24, 1004, "Static",
       "Quorvel screen saver has been installed to your computer. Press Close to launch "
       "Configuration dialog."},
      kPicture}},
};

class CompiledResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("qv-res-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        std::ofstream(dir_ / "quorvel.arc", std::ios::binary) << "ARCHIVE BYTES";
        // windres looks in the working directory first: run it in ours.
        std::string command = "cd '" + dir_.string() + "' && i686-w64-mingw32-windres -I '" +
                              kResources.string() + "' -I '" + QV_GENERATED_DIR + "' -I '" +
                              dir_.string() + "' -O res '" +
                              (kResources / "setup.rc").string() + "' '" +
                              (dir_ / "setup.res").string() + "' 2>&1";
        compiled_ = std::system(command.c_str()) == 0;
        if (compiled_) entries_ = ParseRes(ReadFile(dir_ / "setup.res"));
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        if (std::system("command -v i686-w64-mingw32-windres >/dev/null") != 0) {
            GTEST_SKIP() << "no windres";
        }
        ASSERT_TRUE(compiled_) << "windres failed on setup.rc";
    }
    static const Bytes& Entry(const std::string& key) {
        static const Bytes kNone;
        auto it = entries_.find(key);
        EXPECT_NE(it, entries_.end()) << "missing resource " << key;
        return it == entries_.end() ? kNone : it->second;
    }

    static inline fs::path dir_;
    static inline bool compiled_ = false;
    static inline std::map<std::string, Bytes> entries_;
};

TEST_F(CompiledResources, TemplatesHaveTheCommonFrame) {
    for (int id = 101; id <= 105; ++id) {
        SCOPED_TRACE(id);
        Dialog d = ParseDialog(Entry("5/" + std::to_string(id)));
        EXPECT_EQ(d.style,
                  DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU);
        EXPECT_EQ(d.cx, 276);
        EXPECT_EQ(d.cy, 140);
        EXPECT_EQ(d.font, "MS Sans Serif");
        EXPECT_EQ(d.pointSize, 8);
        // The wizard's title bar shows the page's title, on every page.
        EXPECT_EQ(d.caption, "Quorvel screen saver Setup");
    }
}

TEST_F(CompiledResources, TemplatesHoldExactlyTheirControls) {
    for (const auto& [id, expected] : kTemplates) {
        Dialog d = ParseDialog(Entry("5/" + std::to_string(id)));
        ASSERT_EQ(d.controls.size(), expected.size()) << "template " << id;
        for (size_t i = 0; i < expected.size(); ++i) {
            const Control& want = expected[i];
            const Control& got = d.controls[i];
            SCOPED_TRACE("template " + std::to_string(id) + " control " + std::to_string(i) + " " +
                         want.text.substr(0, 30));
            EXPECT_EQ(got.id, want.id);
            EXPECT_EQ(Upper(got.cls), Upper(want.cls));  // window classes ignore case
            EXPECT_EQ(got.text, want.text);
            EXPECT_EQ(got.style, want.style) << std::hex << (got.style ^ want.style);
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
            EXPECT_EQ(got.cx, want.cx);
            EXPECT_EQ(got.cy, want.cy);
        }
    }
}

TEST_F(CompiledResources, ArtworkLicenceArchiveAndManifestAreEmbedded) {
    // RT_BITMAP drops the file header; the rest of the file is the resource.
    Bytes bmp = ReadFile(kResources / "wizard.bmp");
    EXPECT_TRUE(Entry("2/101") == Bytes(bmp.begin() + 14, bmp.end()));
    // RT_GROUP_ICON: a 6-byte header, then 14-byte entries of width, height, bits.
    const std::map<std::string, std::vector<IconImage>> groups = {
        {"14/101", {{32, 32, 4}, {16, 16, 4}}},
        {"14/102", {{32, 32, 4}, {16, 16, 4}}},
        {"14/MAINICON", {{32, 32, 4}, {16, 16, 4}, {48, 48, 8}}}};
    for (const auto& [key, images] : groups) {
        const Bytes& group = Entry(key);
        ASSERT_EQ(group.size(), 6 + 14 * images.size()) << key;
        for (size_t i = 0; i < images.size(); ++i) {
            EXPECT_EQ(group[6 + 14 * i], images[i].width) << key;
            EXPECT_EQ(group[6 + 14 * i + 1], images[i].height) << key;
            EXPECT_EQ(U16(group, 6 + 14 * i + 6), images[i].bits) << key;
            EXPECT_EQ(entries_.count("3/" + std::to_string(U16(group, 6 + 14 * i + 12))), 1u)
                << key;
        }
    }
    EXPECT_TRUE(Entry("RTF/101") == ReadFile(fs::path(QV_GENERATED_DIR) / "licence.rtf"));
    EXPECT_TRUE(Entry("ARC/101") == ReadFile(dir_ / "quorvel.arc"));
    const Bytes& manifest = Entry("24/1");
    std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(text.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
}

}  // namespace
