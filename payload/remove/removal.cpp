#include "payload/remove/removal.h"

#include "install/paths.h"

namespace {

// Without one trailing separator, except on a bare drive root ("C:\").
AnsiString Trimmed(const AnsiString& path) {
    size_t n = path.size();
    if (n > 3 && IsPathSeparator(path[n - 1])) return path.Substr(0, n - 1);
    return path;
}

// A path below the Programs folder: no drive, no leading separator, no
// empty, "." or ".." part.
bool IsInsideRelative(const AnsiString& relative) {
    AnsiString r = Trimmed(relative);
    if (r.empty() || IsPathSeparator(r[0]) || r.Contains(":")) return false;
    size_t start = 0;
    for (size_t i = 0; i <= r.size(); ++i) {
        if (i < r.size() && !IsPathSeparator(r[i])) continue;
        AnsiString part = r.Substr(start, i - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = i + 1;
    }
    return true;
}

AnsiString Quoted(const AnsiString& text) {
    return "\"" + text + "\"";
}

// Why the installation folder can't be the one to remove from; empty when it
// can, and folder is then its full path. The setup's folder page applies the
// same rule, so that it never installs where this refuses. Every value that
// names the folder must agree with where this program runs, or it is not
// the installation this program belongs to.
AnsiString FolderRefusal(const RemovalFacts& facts, AnsiString& folder) {
    const AnsiString& dir = facts.installDir;
    AnsiString named = "the registry names " + Quoted(dir) + " as the installation folder, which ";
    switch (CheckInstallFolder(dir, facts.folders, folder)) {
        case FolderVerdict::Usable:
            break;
        case FolderVerdict::Empty:
            return "the registry does not say where Quorvel is installed";
        case FolderVerdict::Unusable:
            return named + "is no usable folder name";
        case FolderVerdict::NotFullPath:
            return named + "is not a full path";
        case FolderVerdict::Root:
            return named + "is a drive or share root";
        case FolderVerdict::WindowsFolder:
            return named + "is the Windows folder";
        case FolderVerdict::SystemFolder:
            return named + "is a system folder";
        case FolderVerdict::ProgramFilesFolder:
            return named + "is a program-files folder";
    }
    AnsiString own;
    if (!FullPathOf(DirectoryPart(facts.programPath), own) || !SamePath(folder, own))
        return named + "is not the folder this program runs from (" +
               Quoted(Trimmed(DirectoryPart(facts.programPath))) + ")";
    AnsiString appPath;
    if (!facts.appPathDir.empty() &&
        !(FullPathOf(facts.appPathDir, appPath) && SamePath(folder, appPath))) {
        return "the product key names " + Quoted(dir) + " as the installation folder, but the " +
               "application path names " + Quoted(facts.appPathDir);
    }
    return AnsiString();
}

struct PlanBuilder {
    RemovalPlan& plan;

    void Add(Step step, const AnsiString& target) {
        if (plan.actionCount < kMaxActions) plan.actions[plan.actionCount++] = {step, target};
    }
    void AddFile(const AnsiString& path, FileCheck check, uint32_t size, uint32_t crc) {
        Add(Step::DeleteFile, path);
        if (plan.actionCount == 0) return;
        Action& action = plan.actions[plan.actionCount - 1];
        action.check = check;
        action.size = size;
        action.crc = crc;
    }
    void Refuse(const AnsiString& sentence) {
        if (plan.refusalCount < kMaxRefusals) plan.refusals[plan.refusalCount++] = sentence;
    }
};

const ProductFile* FindFile(const ProductNames& names, const char* name) {
    for (size_t i = 0; i < names.count; ++i)
        if (SameText(names.files[i].name, name)) return &names.files[i];
    return nullptr;
}

void PlanScreenSaver(const RemovalFacts& facts, const ProductNames& names, const AnsiString& folder,
                     PlanBuilder& out) {
    const AnsiString& saver = facts.saverPath;
    if (saver.empty()) return;
    AnsiString where = DirectoryPart(saver);
    const ProductFile* file = FindFile(names, names.saver);
    bool ours = file != nullptr && SameText(FileNamePart(saver), names.saver) &&
                (SamePath(where, facts.folders.windows) || SamePath(where, folder));
    if (!ours) {
        out.Refuse(Quoted(saver) + " was not removed: the screen saver is " + names.saver +
                   " in the Windows folder or the installation folder.");
        return;
    }
    // Windows would go on trying to start a file that is gone (cleared
    // only when the file goes).
    if (SamePath(facts.activeSaver, saver) || SamePath(facts.activeSaverLong, saver))
        out.Add(Step::ClearActiveSaver, facts.activeSaver);
    out.AddFile(saver, file->check, file->size, file->crc);
}

void PlanFolder(const RemovalFacts& facts, const ProductNames& names, const AnsiString& folder,
                PlanBuilder& out) {
    AnsiString ownName = FileNamePart(facts.programPath);
    bool self = false;
    for (size_t i = 0; i < names.count; ++i) {
        const ProductFile& file = names.files[i];
        // The screen saver goes only where the application path names it.
        if (SameText(file.name, names.saver)) continue;
        AnsiString path = folder + "\\" + file.name;
        if (file.check != FileCheck::Program) {
            out.AddFile(path, file.check, file.size, file.crc);
        } else if (SameText(file.name, ownName)) {
            self = true;
        } else if (facts.programRead) {
            // Started under another name: the product's copy goes when it
            // is this program's twin.
            out.AddFile(path, FileCheck::Contents, facts.programSize, facts.programCrc);
        }
    }
    if (self) out.Add(Step::DeleteSelf, folder + "\\" + ownName);
    out.Add(Step::RemoveFolder, folder);
}

void PlanGroup(const RemovalFacts& facts, PlanBuilder& out) {
    if (!facts.hasShellFolder) return;  // installed without shortcuts
    if (facts.programsDir.empty()) {
        out.Refuse("The program group " + Quoted(facts.shellFolder) +
                   " was not removed: the Programs folder is unknown.");
        return;
    }
    if (!IsInsideRelative(facts.shellFolder)) {
        out.Refuse("The program group " + Quoted(facts.shellFolder) +
                   " was not removed: it does not lie inside the Programs folder.");
        return;
    }
    AnsiString group = Trimmed(facts.programsDir) + "\\" + Trimmed(facts.shellFolder);
    for (const char* link : kProductLinks) out.Add(Step::DeleteLink, group + "\\" + link);
    out.Add(Step::RemoveGroup, group);
}

void PlanKeys(const ProductNames& names, PlanBuilder& out) {
    out.Add(Step::DeleteKey, AnsiString(kAppPathsKey) + names.saver);
    out.Add(Step::DeleteKey, kUninstallKey);
    out.Add(Step::DeleteKey, kProductKey);
    for (const char* parent : kProductKeyParents) out.Add(Step::DeleteEmptyKey, parent);
}

AnsiString Label(const Action& action) {
    switch (action.step) {
        case Step::ClearActiveSaver:
            return "the current user's screen-saver setting";
        case Step::DeleteKey:
        case Step::DeleteEmptyKey:
            return "HKEY_LOCAL_MACHINE\\" + action.target;
        default:
            return action.target;
    }
}

// One heading and the labels of the actions with that outcome, or nothing.
AnsiString Section(const RemovalPlan& plan, Outcome outcome, const char* heading) {
    AnsiString lines;
    for (size_t i = 0; i < plan.actionCount; ++i)
        if (plan.outcomes[i] == outcome) lines += "\n    " + Label(plan.actions[i]);
    return lines.empty() ? lines : "\n\n" + AnsiString(heading) + lines;
}

// Before b in the order of the paths, letter case ignored.
bool PathBefore(const AnsiString& a, const AnsiString& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

AnsiString Decimal(size_t n) {
    AnsiString digits = n >= 10 ? Decimal(n / 10) : AnsiString();
    return digits += static_cast<char>('0' + n % 10);
}

AnsiString KeptLine(const KeptFile& file) {
    switch (file.why) {
        case KeptWhy::NotOurs:
            break;
        case KeptWhy::Changed:
            return file.path + " (not the file Quorvel installed)";
        case KeptWhy::Link:
            return file.path + " (a link)";
        case KeptWhy::Folder:
            return file.path + " (a folder)";
    }
    return file.path;
}

// The kept files the message names, then how many more there are.
AnsiString KeptSection(const RemovalPlan& plan) {
    if (plan.keptCount == 0) return AnsiString();
    AnsiString text = "\n\nKept, because Quorvel did not install them as they are now:";
    size_t shown = plan.keptCount < kKeptShown ? plan.keptCount : kKeptShown;
    for (size_t i = 0; i < shown; ++i) text += "\n    " + KeptLine(plan.kept[i]);
    if (plan.keptCount > shown) text += "\n    and " + Decimal(plan.keptCount - shown) + " more";
    return text;
}

}  // namespace

void NoteKept(RemovalPlan& plan, const AnsiString& path, KeptWhy why) {
    size_t shown = plan.keptCount < kKeptShown ? plan.keptCount : kKeptShown;
    ++plan.keptCount;
    size_t at = shown;
    while (at > 0 && PathBefore(path, plan.kept[at - 1].path)) --at;
    if (at == kKeptShown) return;  // beyond the ones named
    size_t last = shown < kKeptShown ? shown : kKeptShown - 1;
    for (size_t i = last; i > at; --i) plan.kept[i] = plan.kept[i - 1];
    plan.kept[at] = {path, why};
}

RemovalPlan MakeRemovalPlan(const RemovalFacts& facts, const ProductNames& names) {
    RemovalPlan plan;
    plan.installed = facts.productKey;
    if (!plan.installed) return plan;
    PlanBuilder out{plan};
    AnsiString folder;
    AnsiString refusal = FolderRefusal(facts, folder);
    if (!refusal.empty()) {
        // Without a trustworthy folder nothing tells this installation apart.
        out.Refuse("Nothing was removed: " + refusal + ".");
        return plan;
    }
    PlanScreenSaver(facts, names, folder, out);
    PlanFolder(facts, names, folder, out);
    PlanGroup(facts, out);
    PlanKeys(names, out);
    return plan;
}

int RemovalExitCode(const RemovalPlan& plan) {
    if (!plan.installed) return kExitNotInstalled;
    bool scheduled = false;
    bool failed = plan.refusalCount > 0;
    for (size_t i = 0; i < plan.actionCount; ++i) {
        scheduled = scheduled || plan.outcomes[i] == Outcome::Scheduled;
        failed = failed || plan.outcomes[i] == Outcome::Failed;
    }
    if (failed) return kExitIncomplete;
    if (plan.keptCount > 0) return kExitKept;
    return scheduled ? kExitRestart : kExitRemoved;
}

AnsiString RemovalMessage(const RemovalPlan& plan) {
    if (!plan.installed) return "Quorvel screen saver is not installed on this computer.";
    if (plan.actionCount == 0) return plan.refusals[0];
    AnsiString text = RemovalExitCode(plan) == kExitRemoved
                          ? "Quorvel screen saver was removed from your computer."
                          : "Quorvel screen saver was removed from your computer, except for "
                            "what is listed below.";
    text += Section(plan, Outcome::Scheduled, "Removed when you restart your computer:");
    text += Section(plan, Outcome::Failed, "Could not be removed:");
    for (size_t i = 0; i < plan.refusalCount; ++i) text += "\n\n" + plan.refusals[i];
    text += KeptSection(plan);
    for (size_t i = 0; i < plan.actionCount; ++i) {
        if (plan.outcomes[i] != Outcome::Kept) continue;
        const Action& action = plan.actions[i];
        if (action.step == Step::RemoveFolder) {
            text += "\n\nThe folder " + Quoted(action.target) +
                    " was kept: it holds files that are not part of Quorvel.";
        } else if (action.step == Step::RemoveGroup) {
            text += "\n\nThe program group " + Quoted(action.target) +
                    " was kept: it holds other items.";
        }
    }
    return text;
}

bool CopyMayAct(const CopyFacts& facts, const ProductNames& names) {
    AnsiString folder, program, given, original;
    return CheckInstallFolder(facts.installDir, facts.folders, folder) == FolderVerdict::Usable &&
           FullPathOf(facts.programPath, program) && !IsWithinFolder(program, folder) &&
           FullPathOf(facts.givenPath, given) && SamePath(given, folder + "\\" + names.remover) &&
           FullPathOf(facts.originalImage, original) && SamePath(original, given);
}
