// The wizard frame shared by the five pages: page records, the answer
// convention, the exit confirmation and the licence text source.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "base/ansi_string.h"

// Fills one page record: icon "MAINICON", template id, dialog procedure.
void InitPage(PROPSHEETPAGEA& page, int templateId, DLGPROC procedure);

// Stores answer as the notification's result and returns TRUE, which is
// what the dialog procedure returns so that the sheet reads the answer.
INT_PTR Answer(HWND page, LONG_PTR answer);
// The sheet reads -1 two ways: as the answer to PSN_SETACTIVE it passes the
// page over, as the answer to PSN_WIZNEXT it keeps the sheet on the page.
constexpr LONG_PTR kSkipPage = -1;
constexpr LONG_PTR kStayOnPage = -1;

// "Are you sure you want to exit?": true unless the user chose Cancel.
bool ConfirmExit(HWND page);

// PSN_RESET, as every page answers it: 0, and FALSE returned.
INT_PTR AnswerReset(HWND page);
// PSN_QUERYCANCEL on the pages that ask first: FALSE (cancel goes ahead)
// when the user confirmed, else TRUE, stored and returned alike.
INT_PTR AnswerQueryCancel(HWND page);

// Prepares resource "RTF" id for LicenceStreamCallback; rewinds when the
// same id is loaded already.
bool LoadLicenceText(int id);
DWORD CALLBACK LicenceStreamCallback(DWORD_PTR cookie, LPBYTE buffer, LONG capacity, LONG* count);

// Puts the window in the middle of the work area of its monitor.
void CentreOnWorkArea(HWND window);

// The page's wizard picture at the size the page's layout gives it at the
// current DPI (90 x 90 pixels at 96 DPI), scaled smoothly from bitmap 101.
void ShowWizardPicture(HWND page);
// After the wizard closed: frees the scaled picture that the pages shared.
void ReleaseWizardPicture();

// The control's text, at most kPathBuffer characters.
AnsiString GetItemText(HWND page, int id);

// The sheet's notification code, or 0 for any other message.
UINT NotifyCode(UINT message, LPARAM lParam);

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LicencePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InstallFolderPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgramGroupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// After the wizard closed: lets a worker that still runs (the user left
// with Cancel) finish, then frees both workers.
void ReleaseWorkersAfterWizard();
