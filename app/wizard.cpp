#include "app/wizard.h"

#include <richedit.h>

#include "app/page_rules.h"
#include "app/setup_state.h"
#include "base/path_buffer.h"
#include "resources/resource.h"

namespace {

LicenceSource licence;

// The size of bitmap 101, which it is drawn at on 96 DPI, and the side of
// the square that the pages' layout then gives it, frame included.
constexpr int kPictureSize = 90;
constexpr int kPictureBox = 94;
// The picture drawn at another size, made once and shown by every page
// that has one.
HBITMAP scaledPicture = nullptr;

}  // namespace

void InitPage(PROPSHEETPAGEA& page, int templateId, DLGPROC procedure) {
    ZeroMemory(&page, sizeof(page));
    page.dwSize = PROPSHEETPAGEA_V1_SIZE;
    page.dwFlags = PSP_USEICONID;
    page.hInstance = GetModuleHandleA(nullptr);
    page.pszTemplate = MAKEINTRESOURCEA(templateId);
    page.pszIcon = QV_MAINICON_NAME;
    page.pfnDlgProc = procedure;
    page.lParam = 0;
}

INT_PTR Answer(HWND page, LONG_PTR answer) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, answer);
    return TRUE;
}

bool ConfirmExit(HWND page) {
    return MessageBoxA(page, "Are you sure you want to exit?", "Quorvel Setup",
                       MB_OKCANCEL | MB_ICONQUESTION | MB_TASKMODAL) != IDCANCEL;
}

INT_PTR AnswerReset(HWND page) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
    return FALSE;
}

INT_PTR AnswerQueryCancel(HWND page) {
    BOOL refused = ConfirmExit(page) ? FALSE : TRUE;
    SetWindowLongPtrA(page, DWLP_MSGRESULT, refused);
    return refused;
}

bool LoadLicenceText(int id) {
    if (licence.loadedId != 0 && licence.loadedId == id) {
        licence.position = 0;
        return true;
    }
    licence.position = 0;
    licence.loadedId = 0;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), QV_RT_LICENCE);
    if (found == nullptr) return false;
    licence.size = static_cast<int32_t>(SizeofResource(module, found));
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return false;
    licence.text = static_cast<const uint8_t*>(LockResource(loaded));
    licence.loadedId = id;
    return true;
}

DWORD CALLBACK LicenceStreamCallback(DWORD_PTR, LPBYTE buffer, LONG capacity, LONG* count) {
    *count = ReadLicencePiece(licence, buffer, capacity);
    return 0;
}

void CentreOnWorkArea(HWND window) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    RECT frame;
    if (!GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor) ||
        !GetWindowRect(window, &frame)) {
        return;
    }
    const RECT& work = monitor.rcWork;
    // A window larger than the work area keeps its title bar inside it.
    int x = work.left + (work.right - work.left - (frame.right - frame.left)) / 2;
    int y = work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2;
    SetWindowPos(window, nullptr, x > work.left ? x : work.left, y > work.top ? y : work.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static HBITMAP MakeScaledPicture(int size) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDB_WIZARD), RT_BITMAP);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    auto* source = static_cast<const BITMAPINFOHEADER*>(loaded ? LockResource(loaded) : nullptr);
    if (source == nullptr) return nullptr;
    // The resource's own header (90 x 90, 24 bits) with the new size.
    BITMAPINFOHEADER header = *source;
    header.biWidth = size;
    header.biHeight = size;
    header.biSizeImage = 0;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        ScalePicture(reinterpret_cast<const uint8_t*>(source + 1), kPictureSize, kPictureSize,
                     static_cast<uint8_t*>(bits), size, size);
    }
    return bitmap;
}

void ShowWizardPicture(HWND page) {
    HWND picture = GetWindow(page, GW_CHILD);
    while (picture != nullptr && (GetWindowLongA(picture, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) {
        picture = GetWindow(picture, GW_HWNDNEXT);
    }
    if (picture == nullptr) return;
    // The page's layout gives the picture its box, which is 94 x 94 pixels
    // around the 90 x 90 picture at 96 DPI; at any DPI the picture takes
    // the same share of it. (The texts' font need not grow as the DPI
    // does, and the box grows with the font.) Every page has the same.
    RECT box = {0, 0, QV_PICTURE_BOX_WIDTH, QV_PICTURE_BOX_HEIGHT};
    MapDialogRect(page, &box);
    int size = MulDiv(kPictureSize, box.right < box.bottom ? box.right : box.bottom, kPictureBox);
    if (size != kPictureSize && scaledPicture == nullptr) scaledPicture = MakeScaledPicture(size);
    if (size != kPictureSize && scaledPicture != nullptr) {
        // The control hands back the bitmap it loaded for the template.
        DeleteObject(reinterpret_cast<HGDIOBJ>(SendMessageA(
            picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaledPicture))));
    } else {
        size = kPictureSize;  // as the template shows it
    }
    // The whole picture inside the control's frame.
    RECT outer, inner;
    GetWindowRect(picture, &outer);
    GetClientRect(picture, &inner);
    SetWindowPos(picture, nullptr, 0, 0, size + outer.right - outer.left - inner.right,
                 size + outer.bottom - outer.top - inner.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ReleaseWizardPicture() {
    if (scaledPicture != nullptr) DeleteObject(scaledPicture);
    scaledPicture = nullptr;
}

AnsiString GetItemText(HWND page, int id) {
    AnsiString text;
    char* buffer = text.Buffer(kPathBufferWithZero);
    if (buffer == nullptr) return text;
    GetDlgItemTextA(page, id, buffer, kPathBufferWithZero);
    text.SyncLength();
    return text;
}

UINT NotifyCode(UINT message, LPARAM lParam) {
    if (message != WM_NOTIFY) return 0;
    return reinterpret_cast<NMHDR*>(lParam)->code;
}

// Welcome page: tells a first installation from an update.

static INT_PTR WelcomeInit(HWND page) {
    // The first page is made once the sheet has its size, before it shows.
    CentreOnWorkArea(GetParent(page));
    ShowWizardPicture(page);
    ShowWindow(
        GetDlgItem(page, Setup.previousInstallFound ? IDC_WELCOME_FIRST : IDC_WELCOME_UPDATE),
        SW_HIDE);
    return TRUE;
}

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) return WelcomeInit(page);
    switch (NotifyCode(message, lParam)) {
        case PSN_SETACTIVE:
            SendMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
            return FALSE;
        case PSN_KILLACTIVE:
            return Answer(page, FALSE);
        case PSN_RESET:
            return AnswerReset(page);
    }
    return FALSE;
}

// Licence page: the RTF resource in a read-only rich-edit box.

static INT_PTR LicenceInit(HWND page) {
    SendDlgItemMessageA(page, IDC_LICENCE_TEXT, EM_SETBKGNDCOLOR, 0, RGB(255, 255, 225));
    EDITSTREAM stream = {};
    stream.dwCookie = 0;
    stream.dwError = 0;
    stream.pfnCallback = LicenceStreamCallback;
    SendDlgItemMessageA(page, IDC_LICENCE_TEXT, EM_STREAMIN, SF_RTF,
                        reinterpret_cast<LPARAM>(&stream));
    SendDlgItemMessageA(page, IDC_LICENCE_TEXT, EM_HIDESELECTION, 1, 1);
    return TRUE;
}

INT_PTR CALLBACK LicencePageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) return LicenceInit(page);
    switch (NotifyCode(message, lParam)) {
        case PSN_SETACTIVE:
            SendMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
            return FALSE;
        case PSN_KILLACTIVE:
            return Answer(page, FALSE);
        case PSN_RESET:
            return AnswerReset(page);
    }
    return FALSE;
}
