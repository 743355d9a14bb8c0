#include "payload/remove/removal.h"

#include "install/paths.h"

namespace {

char Folded(char c) {
    if (c == '/') return '\\';
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Without one trailing separator, except on a bare drive root ("C:\").
AnsiString Trimmed(const AnsiString& path) {
    size_t n = path.size();
    if (n > 3 && IsPathSeparator(path[n - 1])) return path.Substr(0, n - 1);
    return path;
}

bool SameFolded(const AnsiString& a, const AnsiString& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i])) return false;
    return true;
}

bool IsFullPath(const AnsiString& path) {
    bool drive = path.size() >= 3 && path[1] == ':' && IsPathSeparator(path[2]);
    bool network = path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
    return drive || network;
}

// "C:\", or a share's root "\\server\share".
bool IsRoot(const AnsiString& path) {
    AnsiString p = Trimmed(path);
    if (p.size() <= 3 && p.size() >= 2 && p[1] == ':') return true;
    if (p.size() < 2 || !IsPathSeparator(p[0]) || !IsPathSeparator(p[1])) return false;
    int separators = 0;
    for (size_t i = 2; i < p.size(); ++i) separators += IsPathSeparator(p[i]) ? 1 : 0;
    return separators <= 1;
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
// can. Every value that names the folder must agree with where this program
// runs, or it is not the installation this program belongs to.
AnsiString FolderRefusal(const RemovalFacts& facts) {
    const AnsiString& dir = facts.installDir;
    if (dir.empty()) return "the registry does not say where Quorvel is installed";
    AnsiString named = "the registry names " + Quoted(dir) + " as the installation folder, which ";
    if (!IsFullPath(dir)) return named + "is not a full path";
    if (IsRoot(dir)) return named + "is a drive root";
    if (SamePath(dir, facts.windowsDir)) return named + "is the Windows folder";
    for (const AnsiString& system : facts.systemDirs)
        if (!system.empty() && SamePath(dir, system)) return named + "is the system folder";
    for (const AnsiString& programFiles : facts.programFilesDirs) {
        if (!programFiles.empty() && SamePath(dir, programFiles))
            return named + "is the program-files folder";
    }
    AnsiString own = DirectoryPart(facts.programPath);
    if (!SamePath(dir, own))
        return named + "is not the folder this program runs from (" + Quoted(Trimmed(own)) + ")";
    if (!facts.appPathDir.empty() && !SamePath(dir, facts.appPathDir)) {
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
    void Refuse(const AnsiString& sentence) {
        if (plan.refusalCount < kMaxRefusals) plan.refusals[plan.refusalCount++] = sentence;
    }
};

void PlanScreenSaver(const RemovalFacts& facts, const ProductNames& names, const AnsiString& folder,
                     PlanBuilder& out) {
    const AnsiString& saver = facts.saverPath;
    if (saver.empty()) return;
    AnsiString where = DirectoryPart(saver);
    bool ours = SameText(FileNamePart(saver), names.saver) &&
                (SamePath(where, facts.windowsDir) || SamePath(where, folder));
    if (!ours) {
        out.Refuse(Quoted(saver) + " was not removed: the screen saver is " + names.saver +
                   " in the Windows folder or the installation folder.");
        return;
    }
    // Windows would go on trying to start a file that is gone.
    if (SamePath(facts.activeSaver, saver) || SamePath(facts.activeSaverLong, saver))
        out.Add(Step::ClearActiveSaver, facts.activeSaver);
    out.Add(Step::DeleteFile, saver);
}

void PlanFolder(const RemovalFacts& facts, const ProductNames& names, const AnsiString& folder,
                PlanBuilder& out) {
    AnsiString ownName = FileNamePart(facts.programPath);
    bool self = false;
    for (size_t i = 0; i < names.count; ++i) {
        AnsiString name = names.files[i];
        // The screen saver goes only where the application path names it.
        if (SameText(name, names.saver)) continue;
        if (SameText(name, names.remover) && SameText(name, ownName)) {
            self = true;
            continue;
        }
        out.Add(Step::DeleteFile, folder + "\\" + name);
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

}  // namespace

bool SameText(const AnsiString& a, const AnsiString& b) {
    return SameFolded(a, b);
}

bool SamePath(const AnsiString& a, const AnsiString& b) {
    if (a.empty() || b.empty()) return false;
    return SameFolded(Trimmed(a), Trimmed(b));
}

RemovalPlan MakeRemovalPlan(const RemovalFacts& facts, const ProductNames& names) {
    RemovalPlan plan;
    plan.installed = facts.productKey;
    if (!plan.installed) return plan;
    PlanBuilder out{plan};
    AnsiString refusal = FolderRefusal(facts);
    if (!refusal.empty()) {
        // Without a trustworthy folder nothing tells this installation apart.
        out.Refuse("Nothing was removed: " + refusal + ".");
        return plan;
    }
    AnsiString folder = Trimmed(facts.installDir);
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
