// The uninstaller's decisions: what an installation as the setup leaves it
// turns into, which edited registry values are refused, and the exit code and
// final message that the outcomes give.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "payload/remove/removal.h"

namespace {

const ProductFile kFiles[] = {{"QVRemove.exe", FileCheck::Program, 0, 0},
                              {"Quorvel.GID", FileCheck::Plain, 0, 0},
                              {"Quorvel.Hlp", FileCheck::Contents, 300, 0x0badcafe},
                              {"Quorvel.scr", FileCheck::Contents, 200, 0x5ca1ab1e},
                              {"ReadMe.txt", FileCheck::Contents, 100, 0x12345678}};
const ProductNames kNames = {kFiles, 5, "Quorvel.scr", "QVRemove.exe"};
const char* const kPrograms = "C:\\ProgramData\\Start Menu\\Programs";

// An installation with the setup's defaults, run from its own folder.
RemovalFacts Installed() {
    RemovalFacts f;
    f.productKey = true;
    f.installDir = "C:\\Program Files\\Quorvel";
    f.hasShellFolder = true;
    f.shellFolder = "Quorvel";
    f.saverPath = "C:\\WINDOWS\\Quorvel.scr";
    f.appPathDir = "C:\\Program Files\\Quorvel";
    f.programPath = "C:\\Program Files\\Quorvel\\QVRemove.exe";
    f.programRead = true;
    f.programSize = 36000;
    f.programCrc = 0xfeedf00d;
    f.folders.windows = "C:\\WINDOWS";
    f.folders.system[0] = "C:\\WINDOWS\\system32";
    f.folders.system[1] = "C:\\WINDOWS\\SysWOW64";
    f.folders.programFiles[0] = "C:\\Program Files";
    f.folders.programFiles[1] = "C:\\Program Files (x86)";
    f.programsDir = kPrograms;
    return f;
}

// "Step target" a line; a file that is checked by its contents with
// " size/crc" after it, a plain one with " plain".
std::vector<std::string> Steps(const RemovalPlan& plan) {
    static const char* const kNames[] = {"clear", "delete", "self", "folder",
                                         "link",  "group",  "key",  "empty-key"};
    std::vector<std::string> lines;
    for (size_t i = 0; i < plan.actionCount; ++i) {
        const Action& a = plan.actions[i];
        std::string line = std::string(kNames[static_cast<int>(a.step)]) + " " + a.target.c_str();
        if (a.step == Step::DeleteFile || a.step == Step::DeleteLink) {
            char sums[32];
            std::snprintf(sums, sizeof sums, " %u/%08x", a.size, a.crc);
            line += a.check == FileCheck::Contents ? sums : " plain";
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Refusals(const RemovalPlan& plan) {
    std::string all;
    for (size_t i = 0; i < plan.refusalCount; ++i) all += std::string(plan.refusals[i].c_str());
    return all;
}

bool HasStep(const RemovalPlan& plan, const std::string& line) {
    for (const std::string& s : Steps(plan))
        if (s == line) return true;
    return false;
}

}  // namespace

TEST(RemovalPlan, RemovesWhatTheSetupInstalledInOrder) {
    RemovalFacts f = Installed();
    f.activeSaver = "C:\\WINDOWS\\QUORVE~1.SCR";  // the short form, as Windows may store it
    f.activeSaverLong = "c:\\windows\\quorvel.scr";
    RemovalPlan plan = MakeRemovalPlan(f, kNames);
    std::string group = std::string(kPrograms) + "\\Quorvel";
    // Each file with the size and CRC-32 it was packed with; the help
    // viewer's index file, which the setup does not write, as a plain file.
    std::vector<std::string> want = {
        "clear C:\\WINDOWS\\QUORVE~1.SCR",
        "delete C:\\WINDOWS\\Quorvel.scr 200/5ca1ab1e",
        "delete C:\\Program Files\\Quorvel\\Quorvel.GID plain",
        "delete C:\\Program Files\\Quorvel\\Quorvel.Hlp 300/0badcafe",
        "delete C:\\Program Files\\Quorvel\\ReadMe.txt 100/12345678",
        "self C:\\Program Files\\Quorvel\\QVRemove.exe",
        "folder C:\\Program Files\\Quorvel",
        "link " + group + "\\Quorvel Help.Lnk plain",
        "link " + group + "\\Quorvel Settings.Lnk plain",
        "group " + group,
        "key SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quorvel.scr",
        "key SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel",
        "key SOFTWARE\\Tembra\\Quorvel\\1.0",
        "empty-key SOFTWARE\\Tembra\\Quorvel",
        "empty-key SOFTWARE\\Tembra"};
    EXPECT_EQ(Steps(plan), want);
    EXPECT_EQ(plan.refusalCount, 0u);
}

TEST(RemovalPlan, FolderValuesThatPointElsewhereRemoveNothing) {
    struct Case {
        const char* installDir;
        const char* appPathDir;
        const char* why;
    } cases[] = {
        {"", "", "does not say where"},
        {"Quorvel", "", "not a full path"},
        {"C:Quorvel", "", "not a full path"},
        {"C:\\Quorvel*", "", "no usable folder name"},
        {"C:\\", "", "drive or share root"},
        {"C:\\\\", "", "drive or share root"},
        {"C:\\Program Files\\..", "", "drive or share root"},
        {"\\\\server\\share\\", "", "drive or share root"},
        {"c:\\windows\\", "", "Windows folder"},
        {"C:\\WINDOWS\\SYSWOW64", "", "system folder"},
        {"C:\\Program Files (x86)", "", "program-files folder"},
        {"D:\\Quorvel", "", "not the folder this program runs from"},
        {"C:\\Program Files\\Quorvel\\..\\Other", "", "not the folder this program runs from"},
        {"C:\\Program Files\\Quorvel", "C:\\Elsewhere", "application path names"},
    };
    for (const Case& c : cases) {
        RemovalFacts f = Installed();
        f.installDir = c.installDir;
        f.appPathDir = c.appPathDir;
        RemovalPlan plan = MakeRemovalPlan(f, kNames);
        EXPECT_EQ(plan.actionCount, 0u) << c.installDir;
        EXPECT_NE(Refusals(plan).find(c.why), std::string::npos) << Refusals(plan);
        EXPECT_EQ(RemovalExitCode(plan), kExitIncomplete) << c.installDir;
        EXPECT_EQ(std::string(RemovalMessage(plan).c_str()), Refusals(plan));
    }
}

TEST(RemovalPlan, SameFolderInOtherSpellingIsAccepted) {
    // As an older setup recorded what was typed; removed from its full path.
    for (const char* typed : {"c:/program files/quorvel/", "C:\\\\Program Files\\.\\Quorvel. ."}) {
        RemovalFacts f = Installed();
        f.installDir = typed;
        f.appPathDir = typed;
        RemovalPlan plan = MakeRemovalPlan(f, kNames);
        EXPECT_EQ(plan.refusalCount, 0u) << Refusals(plan);
        std::string folder =
            typed[0] == 'c' ? "c:\\program files\\quorvel" : "C:\\Program Files\\Quorvel";
        EXPECT_TRUE(HasStep(plan, "folder " + folder)) << typed;
        EXPECT_TRUE(HasStep(plan, "delete " + folder + "\\ReadMe.txt 100/12345678")) << typed;
    }
}

TEST(RemovalPlan, ScreenSaverOnlyUnderItsNameInTheWindowsOrInstallationFolder) {
    for (const char* elsewhere : {"C:\\WINDOWS\\system32\\Quorvel.scr", "C:\\WINDOWS\\Other.scr",
                                  "C:\\WINDOWS\\Quorvel.scr.exe"}) {
        RemovalFacts f = Installed();
        f.saverPath = elsewhere;
        f.activeSaver = elsewhere;
        RemovalPlan plan = MakeRemovalPlan(f, kNames);
        for (const std::string& s : Steps(plan)) {
            EXPECT_EQ(s.find(elsewhere), std::string::npos) << s;
            EXPECT_NE(s.rfind("clear", 0), 0u) << s;
        }
        EXPECT_NE(Refusals(plan).find(elsewhere), std::string::npos);
        EXPECT_TRUE(HasStep(plan, "key SOFTWARE\\Tembra\\Quorvel\\1.0"));
    }
    RemovalFacts f = Installed();
    f.saverPath = "C:\\Program Files\\Quorvel\\QUORVEL.SCR";  // no room in the Windows folder
    f.activeSaver = "C:\\WINDOWS\\Other.scr";                 // someone else's: stays
    RemovalPlan plan = MakeRemovalPlan(f, kNames);
    EXPECT_TRUE(HasStep(plan, "delete C:\\Program Files\\Quorvel\\QUORVEL.SCR 200/5ca1ab1e"));
    EXPECT_EQ(Steps(plan)[0].rfind("clear", 0), std::string::npos);
    EXPECT_EQ(plan.refusalCount, 0u);
}

TEST(RemovalPlan, ProgramGroupOnlyInsideTheProgramsFolder) {
    RemovalFacts f = Installed();
    f.shellFolder = "Screen Savers\\Quorvel";
    EXPECT_TRUE(HasStep(MakeRemovalPlan(f, kNames),
                        "group " + std::string(kPrograms) + "\\Screen Savers\\Quorvel"));
    f.hasShellFolder = false;  // installed without shortcuts: nothing to say
    RemovalPlan none = MakeRemovalPlan(f, kNames);
    EXPECT_EQ(none.refusalCount, 0u);
    for (const std::string& s : Steps(none)) EXPECT_EQ(s.find("Programs"), std::string::npos);

    for (const char* edited : {"", "..\\..", "C:\\WINDOWS", "\\Quorvel", "Quorvel\\..\\.."}) {
        RemovalFacts g = Installed();
        g.shellFolder = edited;
        RemovalPlan plan = MakeRemovalPlan(g, kNames);
        EXPECT_NE(Refusals(plan).find("does not lie inside the Programs folder"), std::string::npos)
            << edited;
        for (const std::string& s : Steps(plan)) EXPECT_EQ(s.find("Programs"), std::string::npos);
        EXPECT_TRUE(HasStep(plan, "folder C:\\Program Files\\Quorvel"));
    }
    RemovalFacts g = Installed();
    g.programsDir = "";
    EXPECT_NE(Refusals(MakeRemovalPlan(g, kNames)).find("Programs folder is unknown"),
              std::string::npos);
}

TEST(RemovalPlan, UninstallerUnderAnotherNameDeletesTheProductsCopyWhenItIsItsTwin) {
    RemovalFacts f = Installed();
    f.programPath = "C:\\Program Files\\Quorvel\\Uninstall.exe";
    RemovalPlan plan = MakeRemovalPlan(f, kNames);
    EXPECT_TRUE(HasStep(plan, "delete C:\\Program Files\\Quorvel\\QVRemove.exe 36000/feedf00d"));
    for (const std::string& s : Steps(plan)) EXPECT_NE(s.rfind("self", 0), 0u) << s;
    f.programRead = false;  // nothing to compare it with: it stays
    for (const std::string& s : Steps(MakeRemovalPlan(f, kNames)))
        EXPECT_EQ(s.find("QVRemove.exe"), std::string::npos) << s;
}

TEST(RemovalPlan, NotInstalledChangesNothing) {
    RemovalFacts f = Installed();
    f.productKey = false;
    RemovalPlan plan = MakeRemovalPlan(f, kNames);
    EXPECT_EQ(plan.actionCount, 0u);
    EXPECT_EQ(RemovalExitCode(plan), kExitNotInstalled);
    EXPECT_EQ(std::string(RemovalMessage(plan).c_str()),
              "Quorvel screen saver is not installed on this computer.");
}

TEST(RemovalOutcome, ExitCodeAndMessageSayWhatIsLeft) {
    RemovalPlan plan = MakeRemovalPlan(Installed(), kNames);
    ASSERT_EQ(Steps(plan)[5], "folder C:\\Program Files\\Quorvel");
    EXPECT_EQ(RemovalExitCode(plan), kExitRemoved);
    EXPECT_EQ(std::string(RemovalMessage(plan).c_str()),
              "Quorvel screen saver was removed from your computer.");

    // Kept files, noted in any order, are named in the order of their
    // paths: the first five, then how many more.
    plan.outcomes[5] = Outcome::Kept;
    const struct {
        const char* name;
        KeptWhy why;
    } kept[] = {{"letter.doc", KeptWhy::NotOurs}, {"Scenes.dat", KeptWhy::Link},
                {"ReadMe.txt", KeptWhy::Changed}, {"~qv12.tmp", KeptWhy::Link},
                {"Photos", KeptWhy::Folder},      {"zz.txt", KeptWhy::NotOurs},
                {"a.txt", KeptWhy::NotOurs}};
    for (const auto& k : kept)
        NoteKept(plan, AnsiString("C:\\Program Files\\Quorvel\\") + k.name, k.why);
    EXPECT_EQ(RemovalExitCode(plan), kExitKept);
    EXPECT_EQ(std::string(RemovalMessage(plan).c_str()),
              "Quorvel screen saver was removed from your computer, except for what is listed "
              "below.\n\n"
              "Kept, because Quorvel did not install them as they are now:\n"
              "    C:\\Program Files\\Quorvel\\a.txt\n"
              "    C:\\Program Files\\Quorvel\\letter.doc\n"
              "    C:\\Program Files\\Quorvel\\Photos (a folder)\n"
              "    C:\\Program Files\\Quorvel\\ReadMe.txt (not the file Quorvel installed)\n"
              "    C:\\Program Files\\Quorvel\\Scenes.dat (a link)\n"
              "    and 2 more\n\n"
              "The folder \"C:\\Program Files\\Quorvel\" was kept: it holds files that are not "
              "part of Quorvel.");

    // A file left for the restart: kept files still outrank it in the code.
    plan.outcomes[0] = Outcome::Scheduled;
    EXPECT_EQ(RemovalExitCode(plan), kExitKept);
    plan.keptCount = 0;
    EXPECT_EQ(RemovalExitCode(plan), kExitRestart);
    std::string later = RemovalMessage(plan).c_str();
    EXPECT_NE(later.find("Removed when you restart your computer:\n    C:\\WINDOWS\\Quorvel.scr"),
              std::string::npos)
        << later;

    plan.outcomes[plan.actionCount - 3] = Outcome::Failed;
    EXPECT_EQ(RemovalExitCode(plan), kExitIncomplete);
    std::string failed = RemovalMessage(plan).c_str();
    EXPECT_NE(failed.find("Could not be removed:\n    HKEY_LOCAL_MACHINE\\SOFTWARE\\Tembra"),
              std::string::npos)
        << failed;
    EXPECT_NE(failed.find("except for what is listed below"), std::string::npos);
}

// The second phase acts only as the uninstaller's own copy, outside the
// installation folder, on that installation's uninstaller, after the
// process that runs it.
TEST(RemovalCopy, ActsOnlyAsTheInstallationsOwnCopy) {
    const char* const kTempCopy =
        "C:\\Users\\u\\AppData\\Local\\Temp\\QVR0A1B2C3D.tmp\\QVRemove.exe";
    const char* const kOriginal = "C:\\Program Files\\Quorvel\\QVRemove.exe";
    const char* const kUsers = "C:\\users\\Public\\MyStuff\\QVRemove.exe";
    const struct {
        const char *installDir, *program, *given, *image;
        bool acts;
    } cases[] = {
        {"C:\\Program Files\\Quorvel", kTempCopy, kOriginal, kOriginal, true},
        {"c:/program files/quorvel/", kTempCopy, "C:\\PROGRAM FILES\\Quorvel\\qvremove.exe",
         kOriginal, true},
        {"C:\\Program Files\\Quorvel", "C:\\Program Files\\Quorvel2\\QVR1.tmp\\QVRemove.exe",
         kOriginal, kOriginal, true},
        // The installed uninstaller itself, or a copy inside the folder.
        {"C:\\Program Files\\Quorvel", kOriginal, kUsers, kOriginal, false},
        {"C:\\Program Files\\Quorvel", kOriginal, kOriginal, kOriginal, false},
        {"C:\\Program Files\\Quorvel", "C:\\Program Files\\Quorvel\\Temp\\QVR1.tmp\\QVRemove.exe",
         kOriginal, kOriginal, false},
        // Another file, or another installation's.
        {"C:\\Program Files\\Quorvel", kTempCopy, kUsers, kUsers, false},
        {"C:\\Program Files\\Quorvel", kTempCopy, "C:\\Program Files\\Quorvel\\ReadMe.txt",
         "C:\\Program Files\\Quorvel\\ReadMe.txt", false},
        // No such process, or another program's.
        {"C:\\Program Files\\Quorvel", kTempCopy, kOriginal, "", false},
        {"C:\\Program Files\\Quorvel", kTempCopy, kOriginal, "C:\\WINDOWS\\explorer.exe", false},
        // A folder the rule refuses, or none.
        {"", kTempCopy, "QVRemove.exe", "QVRemove.exe", false},
        {"C:\\", kTempCopy, "C:\\QVRemove.exe", "C:\\QVRemove.exe", false},
        {"C:\\WINDOWS", kTempCopy, "C:\\WINDOWS\\QVRemove.exe", "C:\\WINDOWS\\QVRemove.exe", false},
    };
    for (const auto& c : cases) {
        CopyFacts f;
        f.installDir = c.installDir;
        f.folders = Installed().folders;
        f.programPath = c.program;
        f.givenPath = c.given;
        f.originalImage = c.image;
        EXPECT_EQ(CopyMayAct(f, kNames), c.acts)
            << c.installDir << " " << c.program << " " << c.given;
    }
}
