// The progress page: its activation starts an installation attempt; from
// then on the two workers drive it with their messages.
#include <new>

#include "app/setup_state.h"
#include "app/wizard.h"
#include "install/files_thread.h"
#include "install/registry.h"
#include "install/shorts_thread.h"
#include "resources/resource.h"

// The status line's steps after the file phase ("Program Files...", the
// template's own text).
enum class ProgressStep { RegistryEntries = 1, Shortcuts = 2, Finished = 3 };

static void ShowProgressStatus(HWND page, ProgressStep step) {
    switch (step) {
        case ProgressStep::RegistryEntries:
            SetDlgItemTextA(page, IDC_PROGRESS_STATUS, "Registry Entries...");
            break;
        case ProgressStep::Shortcuts:
            SetDlgItemTextA(page, IDC_PROGRESS_STATUS, "Shortcuts...");
            break;
        case ProgressStep::Finished:
            SetDlgItemTextA(page, IDC_PROGRESS_STATUS, "Finished.");
            ShowWindow(GetDlgItem(page, IDC_PROGRESS_DONE), SW_SHOW);
            SendMessageA(GetParent(page), PSM_CANCELTOCLOSE, 0, 0);
            SendMessageA(GetParent(page), PSM_SETFINISHTEXT, 0, reinterpret_cast<LPARAM>("Close"));
            Setup.installationFinished = true;
            break;
    }
}

// Only called when no worker thread can still be sending to the page: each
// release waits for its thread.
static void ReleaseWorkers() {
    delete Setup.filesWorker;
    Setup.filesWorker = nullptr;
    delete Setup.shortcutsWorker;
    Setup.shortcutsWorker = nullptr;
}

static INT_PTR StartAttempt(HWND page) {
    SendMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
    SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    // A failed attempt left the flag raised and a worker without a thread;
    // lowering the flag keeps this attempt's running worker from being
    // released early.
    ReleaseWorkers();
    Setup.installationFinished = false;
    Setup.launchConfiguration = true;
    Setup.filesWorker = new (std::nothrow) TProcessFilesThread(page, Setup.installDir, Setup);
    if (Setup.filesWorker != nullptr && !Setup.filesWorker->folderFailed) return FALSE;
    Setup.installationFinished = true;
    Setup.launchConfiguration = false;
    // The install-folder page would pass itself over again for a previous
    // folder that exists but can't be used, and the attempt would fail
    // again and again. From now on it shows, with that folder in its edit
    // box (put there when the page passed itself over), so the user can
    // choose another one.
    Setup.keepPreviousDir = false;
    MessageBoxA(page, "Can't create specified folder. Please check your choice and try again.",
                "Quorvel Setup Error", MB_ICONWARNING);
    return Answer(page, IDD_INSTALL_DIR);
}

// Two entries of one size in a row read as one, and the percentage then
// falls back: the bar keeps its place until it is passed.
static INT_PTR ShowProgress(HWND page, LPARAM percent) {
    if (percent > SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0)) {
        SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, percent, 0);
    }
    return FALSE;
}

static INT_PTR FilesDone(HWND page, LPARAM result) {
    // The file phase is over: a bar short of its end would say otherwise
    // (the whole it counts against is fixed, and kept files add nothing).
    SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, 100, 0);
    if (result != 0) {
        Setup.launchConfiguration = false;
        MessageBoxA(page,
                    "Warning: Error(s) encountered while creating files. Some of Quorvel "
                    "elements will not work properly.",
                    "Quorvel Setup Error", MB_ICONWARNING);
    }
    ShowProgressStatus(page, ProgressStep::RegistryEntries);
    WriteInstallEntries(Setup.installDir, Setup);
    ShowProgressStatus(page, ProgressStep::Shortcuts);
    if (Setup.createShortcuts) {
        Setup.shortcutsWorker =
            new (std::nothrow) TProcessShortsThread(page, Setup.groupPath, Setup);
        if (Setup.shortcutsWorker == nullptr) SendMessageA(page, WM_SETUP_DONE, 0, 1);
    } else {
        SendMessageA(page, WM_SETUP_DONE, 0, 0);
    }
    return FALSE;
}

static INT_PTR LeavePage(HWND page) {
    if (!Setup.installationFinished) return Answer(page, TRUE);
    ReleaseWorkers();
    return Answer(page, FALSE);
}

// Esc still reaches the sheet after the end, when Cancel is disabled: it
// closes the wizard as Close does, without a question.
static INT_PTR CancelQuery(HWND page) {
    if (Setup.installationFinished) return Answer(page, FALSE);
    INT_PTR refused = AnswerQueryCancel(page);
    if (!refused) {
        // The wizard closes under a running installation: the file worker
        // stops before its next entry and nothing is launched afterwards.
        Setup.cancelRequested = true;
        Setup.launchConfiguration = false;
    }
    return refused;
}

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            ShowWizardPicture(page);
            return TRUE;
        case WM_SETUP_PROGRESS:
            return ShowProgress(page, lParam);
        case WM_SETUP_FILES_DONE:
            return FilesDone(page, lParam);
        case WM_SETUP_DONE:
            Setup.installationFinished = true;
            ShowProgressStatus(page, ProgressStep::Finished);
            return FALSE;
    }
    switch (NotifyCode(message, lParam)) {
        case PSN_SETACTIVE:
            return StartAttempt(page);
        case PSN_KILLACTIVE:
            return LeavePage(page);
        case PSN_QUERYCANCEL:
            return CancelQuery(page);
        case PSN_RESET:
            return AnswerReset(page);
    }
    return FALSE;
}

void ReleaseWorkersAfterWizard() {
    ReleaseWorkers();
}
