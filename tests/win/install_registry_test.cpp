// Registry entries and system-folder look-ups, read back from the registry
// of the test run's own Wine prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/registry.h"
#include "product_version.h"

namespace {

const char* kAppPathKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Sample.scr";

// The string value, or "<missing>"/"<type N>".
std::string ReadString(HKEY root, const char* keyName, const char* value) {
    HKEY key;
    if (RegOpenKeyExA(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1;
    DWORD type = 0;
    LONG status =
        RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<missing>";
    if (type != REG_SZ) return "<type " + std::to_string(type) + ">";
    // The stored size counts the terminating zero.
    if (size != strlen(buffer) + 1) return "<size " + std::to_string(size) + ">";
    return buffer;
}

DWORD ReadDword(HKEY root, const char* keyName, const char* value) {
    HKEY key;
    DWORD data = 0xDEADBEEF, size = sizeof(data), type = 0;
    if (RegOpenKeyExA(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return data;
    RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(key);
    return type == REG_DWORD ? data : 0xDEADBEEF;
}

std::string KeyClass(const char* keyName) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "<no key>";
    }
    char cls[128] = {};
    DWORD size = sizeof(cls);
    RegQueryInfoKeyA(key, cls, &size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    return cls;
}

// The local date as YYYYMMDD.
std::string Today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[12];
    snprintf(text, sizeof(text), "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

void DeleteTestKeys() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppPathKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
}

// Sets (or, with nullptr, deletes) a value for the life of the object.
class ScopedValue {
public:
    ScopedValue(HKEY root, const char* keyName, const char* value, const char* data,
                DWORD type = REG_SZ)
        : root_(root), key_(keyName), value_(value) {
        old_ = ReadString(root, keyName, value);
        HKEY key;
        RegCreateKeyExA(root, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (data) {
            RegSetValueExA(key, value, 0, type, reinterpret_cast<const BYTE*>(data),
                           static_cast<DWORD>(strlen(data) + 1));
        } else {
            RegDeleteValueA(key, value);
        }
        RegCloseKey(key);
    }
    ~ScopedValue() {
        HKEY key;
        RegOpenKeyExA(root_, key_, 0, KEY_ALL_ACCESS, &key);
        if (old_[0] == '<') {
            RegDeleteValueA(key, value_);
        } else {
            RegSetValueExA(key, value_, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                           static_cast<DWORD>(old_.size() + 1));
        }
        RegCloseKey(key);
    }

private:
    HKEY root_;
    const char* key_;
    const char* value_;
    std::string old_;
};

// No key can be created below parent while this lives: parent is made
// anew as a volatile key, which takes no lasting subkeys. The parent is
// deleted again at the end (the prefix is the test run's own).
class BlockedParent {
public:
    explicit BlockedParent(const char* parent) : parent_(parent) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, parent);
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, parent, 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegCloseKey(key);
        }
    }
    ~BlockedParent() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, parent_); }

private:
    const char* parent_;
};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteTestKeys(); }
    void TearDown() override { DeleteTestKeys(); }
    InstallRecord results;
};

}  // namespace

TEST_F(RegistryTest, InstallEntriesAreWrittenAndOverwrittenOnASecondRun) {
    results.screenSaverPath = "C:\\WINDOWS\\Sample.scr";
    results.installedDir = "C:\\Program Files\\Tembra\\Quorvel";
    CreateDirectoryA("C:\\Program Files\\Tembra", nullptr);
    CreateDirectoryA("C:\\Program Files\\Tembra\\Quorvel", nullptr);
    HANDLE file = CreateFileA("C:\\Program Files\\Tembra\\Quorvel\\big.bin", GENERIC_WRITE, 0,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string content(3000, 'q');
    DWORD written = 0;
    ::WriteFile(file, content.data(), 3000, &written, nullptr);
    CloseHandle(file);

    for (int run = 0; run < 2; ++run) {
        EXPECT_TRUE(WriteInstallEntries("C:\\Program Files\\Tembra\\Quorvel\\", results));
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir"),
                  "C:\\Program Files\\Tembra\\Quorvel\\");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAppPathKey, ""), "C:\\WINDOWS\\Sample.scr");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAppPathKey, "Path"),
                  "C:\\Program Files\\Tembra\\Quorvel");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"),
                  "Quorvel screen saver");
        // Quoted, so that the blank in the folder can't start C:\Program.exe.
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"),
                  "\"C:\\Program Files\\Tembra\\Quorvel\\QVRemove.exe\"");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString"),
                  "\"C:\\Program Files\\Tembra\\Quorvel\\QVRemove.exe\" /S");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallDate"), Today());
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayIcon"),
                  "C:\\WINDOWS\\Sample.scr");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion"), QV_VERSION_TEXT);
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher"), "Tembra");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation"),
                  "C:\\Program Files\\Tembra\\Quorvel");
        // 3000 bytes in the folder (the screen-saver file does not exist).
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize"), 3u);
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, "NoModify"), 1u);
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, "NoRepair"), 1u);
        for (const char* key : {kProductKey, kAppPathKey, kUninstallKey}) {
            EXPECT_EQ(KeyClass(key), "Application Global Data") << key;
        }
        results.installedDir = "C:\\Program Files\\Tembra\\Quorvel";
    }
    DeleteFileA("C:\\Program Files\\Tembra\\Quorvel\\big.bin");
    RemoveDirectoryA("C:\\Program Files\\Tembra\\Quorvel");
    RemoveDirectoryA("C:\\Program Files\\Tembra");
}

TEST_F(RegistryTest, WithoutAScreenSaverFileNoApplicationPathIsWritten) {
    results.screenSaverPath = "";
    results.installedDir = "C:\\Quorvel";
    const char* appPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    std::string before = ReadString(HKEY_LOCAL_MACHINE, appPaths, "Path");
    std::string defaultBefore = ReadString(HKEY_LOCAL_MACHINE, appPaths, "");
    EXPECT_TRUE(WriteInstallEntries("C:\\Quorvel", results));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, appPaths, "Path"), before);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, appPaths, ""), defaultBefore);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"),
              "\"C:\\Quorvel\\QVRemove.exe\"");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayIcon"), "<missing>");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kProductKey, "InstallDir"), "C:\\Quorvel");
}

TEST_F(RegistryTest, AKeyThatCannotBeCreatedLeavesTheOthersWritten) {
    results.screenSaverPath = "C:\\WINDOWS\\Sample.scr";
    results.installedDir = "C:\\Quorvel";
    const struct {
        const char* parent;
        const char* key;
        const char* value;
        const char* content;
    } keys[] = {
        {"SOFTWARE\\Tembra", kProductKey, "InstallDir", "C:\\Quorvel"},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths", kAppPathKey, "Path",
         "C:\\Quorvel"},
        {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", kUninstallKey, "DisplayName",
         "Quorvel screen saver"},
    };
    for (const auto& blocked : keys) {
        DeleteTestKeys();
        BlockedParent block(blocked.parent);
        EXPECT_FALSE(WriteInstallEntries("C:\\Quorvel", results)) << blocked.key;
        for (const auto& k : keys) {
            EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, k.key, k.value),
                      &k == &blocked ? "<no key>" : k.content)
                << "with " << blocked.key << " blocked";
        }
    }
}

TEST_F(RegistryTest, ShellFolderIsWrittenToTheProductKey) {
    EXPECT_TRUE(WriteShellFolder("Screen Savers\\Quorvel"));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kProductKey, "ShellFolder"), "Screen Savers\\Quorvel");
    EXPECT_EQ(KeyClass(kProductKey), "Application Global Data");
}

TEST_F(RegistryTest, ReadersAcceptOnlyStringsThatFit) {
    const char* keyName = "SOFTWARE\\QvInstallTest";
    std::string fits(259, 'a');
    std::string tooLong(260, 'b');
    ScopedValue a(HKEY_LOCAL_MACHINE, keyName, "Fits", fits.c_str());
    ScopedValue b(HKEY_LOCAL_MACHINE, keyName, "TooLong", tooLong.c_str());
    ScopedValue c(HKEY_LOCAL_MACHINE, keyName, "Expand", "C:\\x", REG_EXPAND_SZ);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key), ERROR_SUCCESS);

    AnsiString text = "previous";
    ReadRegistryString(key, "Fits", text);
    EXPECT_EQ(std::string(text.c_str()), fits);
    for (const char* name : {"TooLong", "Expand", "Missing"}) {
        AnsiString kept = "previous";
        ReadRegistryString(key, name, kept);
        EXPECT_EQ(std::string(kept.c_str()), "previous") << name;
        AnsiString emptied = "previous";
        QueryRegistryString(key, name, emptied);
        EXPECT_TRUE(emptied.empty()) << name;
    }
    AnsiString queried;
    QueryRegistryString(key, "Fits", queried);
    EXPECT_EQ(std::string(queried.c_str()), fits);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName);
}

TEST(FindProgramsFolder, PrefersAllUsersThenCurrentUserElseEmpty) {
    {
        ScopedValue all(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Programs", "C:\\All\\Progs");
        ScopedValue mine(HKEY_CURRENT_USER, kShellFoldersKey, "Programs", "C:\\Mine\\Progs");
        EXPECT_EQ(std::string(FindProgramsFolder().c_str()), "C:\\All\\Progs");
    }
    {
        ScopedValue all(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Programs", nullptr);
        ScopedValue mine(HKEY_CURRENT_USER, kShellFoldersKey, "Programs", "C:\\Mine\\Progs");
        EXPECT_EQ(std::string(FindProgramsFolder().c_str()), "C:\\Mine\\Progs");
    }
    {
        ScopedValue all(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Programs", "");
        ScopedValue mine(HKEY_CURRENT_USER, kShellFoldersKey, "Programs", "C:\\Mine\\Progs");
        EXPECT_EQ(std::string(FindProgramsFolder().c_str()), "C:\\Mine\\Progs");
    }
    {
        ScopedValue all(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Programs", nullptr);
        ScopedValue mine(HKEY_CURRENT_USER, kShellFoldersKey, "Programs", nullptr);
        EXPECT_TRUE(FindProgramsFolder().empty());
    }
}

TEST(FindProgramFilesFolder, ReadsProgramFilesDir) {
    {
        ScopedValue dir(HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProgramFilesDir", "D:\\Progs");
        EXPECT_EQ(std::string(FindProgramFilesFolder().c_str()), "D:\\Progs");
    }
    {
        ScopedValue dir(HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProgramFilesDir", nullptr);
        EXPECT_TRUE(FindProgramFilesFolder().empty());
    }
}
