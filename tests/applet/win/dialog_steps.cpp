// The dialog's driver: the applet loaded and spied on, its windows found, the steps run.
#include "dialog_steps.h"

// windows.h first: cpl.h relies on its types.
#include <cpl.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "registry_spy.h"
#include "win_test.h"

namespace applet_test {

HMODULE cplModule = nullptr;
CplAppletFn cplApplet = nullptr;
HWND dialog = nullptr;

bool LoadApplet() {
    cplModule = LoadLibraryA("VEXOLITE.CPL");
    if (cplModule == nullptr) return false;
    // Through void*: FARPROC has no parameters to match.
    cplApplet = reinterpret_cast<CplAppletFn>(
        reinterpret_cast<void*>(GetProcAddress(cplModule, "CPlApplet")));
    return cplApplet != nullptr && SpyOnRegistryCalls(cplModule);
}

// ---- the windows ---------------------------------------------------------------------------

namespace {

struct WindowQuery {
    const char* caption;
    DWORD processId;  // 0: this thread's windows
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
    auto* query = reinterpret_cast<WindowQuery*>(param);
    char cls[32] = {}, caption[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, caption, sizeof caption);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (std::strcmp(cls, "#32770") == 0 && std::strcmp(caption, query->caption) == 0 &&
        (query->processId == 0 || query->processId == pid) && IsWindowVisible(window)) {
        query->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindOwnDialog(const char* caption) {
    WindowQuery query{caption, 0, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

HWND FindProcessDialog(const char* caption, DWORD processId) {
    WindowQuery query{caption, processId, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::string WindowText(HWND window) {
    char text[300] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

HWND Field(int id) {
    return GetDlgItem(dialog, id);
}

std::string FieldText(int id) {
    return WindowText(Field(id));
}

// ---- running a script ----------------------------------------------------------------------

namespace {

std::vector<Step> script;
size_t nextStep = 0;
int idleTicks = 0;
bool inStep = false;

void EndStuckDialog() {
    if (HWND box = FindOwnDialog("Error")) PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (HWND open = FindOwnDialog(kDialogCaption)) PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    // A step never blocks (what may open a message box is posted), but a tick can still arrive
    // from a nested loop while a step is sending.
    if (inStep) return;
    dialog = FindOwnDialog(kDialogCaption);
    // The dialog manager shows the dialog only once its queue is empty, which can be after the
    // first tick; a step runs on a visible dialog or on the failure message.
    const bool ready = dialog != nullptr || FindOwnDialog("Error") != nullptr;
    if (ready && nextStep < script.size()) {
        inStep = true;
        script[nextStep++]();
        inStep = false;
        return;
    }
    // About ten seconds without a step to run: end the dialog rather than hang.
    if (++idleTicks == 500) {
        ADD_FAILURE() << "stuck before step " << nextStep + 1 << " of " << script.size();
        EndStuckDialog();
    }
}

void PostKey(UINT vk) {
    HWND target = GetFocus() != nullptr ? GetFocus() : dialog;
    const UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

}  // namespace

void RunDialog(std::vector<Step> steps) {
    script = std::move(steps);
    nextStep = 0;
    idleTicks = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
    const LONG result = cplApplet(GetDesktopWindow(), CPL_DBLCLK, 0, 0);
    KillTimer(nullptr, timer);
    EXPECT_EQ(0, result);
    EXPECT_EQ(script.size(), nextStep)
        << "the dialog ended before step " << nextStep + 1 << " of " << script.size();
    EXPECT_TRUE(FindOwnDialog(kDialogCaption) == nullptr);
    EXPECT_TRUE(spy.openKeys.empty());  // the key is closed however the dialog ended
}

// Steps. Keys go to whichever control has the focus, as a user's would.
Step FocusField(int id) {
    return [id] { SetFocus(Field(id)); };
}
Step Type(std::string text) {
    return [text] {
        for (unsigned char c : text) PostMessageA(GetFocus(), WM_CHAR, c, 1);
    };
}
Step ClearFocusedField() {
    return [] {
        SendMessageA(GetFocus(), EM_SETSEL, 0, -1);
        PostMessageA(GetFocus(), WM_CHAR, VK_BACK, 1);
    };
}
Step Key(UINT vk) {
    return [vk] { PostKey(vk); };
}
Step Click(int id) {
    return [id] { PostMessageA(Field(id), BM_CLICK, 0, 0); };
}
Step CloseBox() {
    return [] { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); };
}
Step Paste(std::string text) {
    return [text] {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
        std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
        EXPECT_TRUE(OpenClipboard(nullptr)) << "clipboard";
        EmptyClipboard();
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
        PostMessageA(GetFocus(), WM_CHAR, 0x16, 1);  // Ctrl+V
    };
}
Step Check(std::function<void()> check) {
    return check;
}
Step ExpectFocusOn(int id) {
    return [id] { EXPECT_EQ(id, GetDlgCtrlID(GetFocus())); };
}

bool CaptureWindow(HWND window, const char* path) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const DWORD stride = (width * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(stride * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    return std::fclose(out) == 0;
}

}  // namespace applet_test
