// Drives VEXOLITE.CPL under Wine the way the Control Panel and a user would, in one process:
//   applet_driver               the CPlApplet message table and the dialog, case by case
//   applet_driver --control     the Control Panel's own launcher opens the applet's dialog
//   applet_driver --screenshot FILE.bmp   captures the dialog as first shown
// The dialog is driven from a thread timer that runs inside its modal message loop: each tick
// performs one step (focus, keys posted to the focused control, paste, clicks) and checks what
// the fields show and what the registry holds. One line per case, then "N passed, N failed".
#include <windows.h>
// windows.h first: cpl.h relies on its types.
#include <cpl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "shared/board_key.h"

namespace {

namespace board_key = vexo::board_key;

// --- a small test runner ------------------------------------------------------------------

int passedCases = 0, failedCases = 0;
bool caseFailed = false;

void Fail(int line, const std::string& what) {
    caseFailed = true;
    std::printf("    line %d: %s\n", line, what.c_str());
    std::fflush(stdout);
}

#define CHECK(cond) ((cond) ? (void)0 : Fail(__LINE__, std::string("CHECK(") + #cond + ") failed"))
#define CHECK_EQ_TEXT(actual, expected)                                                           \
    do {                                                                                          \
        const std::string a_ = (actual), e_ = (expected);                                         \
        if (a_ != e_)                                                                             \
            Fail(__LINE__, std::string(#actual) + " is \"" + a_ + "\", expected \"" + e_ + "\""); \
    } while (0)
#define CHECK_EQ_HEX(actual, expected)                                                    \
    do {                                                                                  \
        const unsigned long a_ = (actual), e_ = (expected);                               \
        if (a_ != e_) {                                                                   \
            char m_[160];                                                                 \
            std::snprintf(m_, sizeof m_, "%s is 0x%lX, expected 0x%lX", #actual, a_, e_); \
            Fail(__LINE__, m_);                                                           \
        }                                                                                 \
    } while (0)

void RunCase(const char* name, const std::function<void()>& body) {
    caseFailed = false;
    body();
    (caseFailed ? failedCases : passedCases)++;
    std::printf("%s %s\n", caseFailed ? "FAIL" : "ok  ", name);
    std::fflush(stdout);
}

// --- the registry -------------------------------------------------------------------------

void DeleteBoardKey() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, board_key::kPath);
}

bool BoardKeyExists() {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, board_key::kPath, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void StoreValue(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    RegCreateKeyA(HKEY_LOCAL_MACHINE, board_key::kPath, &key);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void StoreDword(const char* name, DWORD value) {
    StoreValue(name, REG_DWORD, &value, sizeof value);
}

struct StoredValue {
    bool exists = false;
    DWORD type = 0;
    std::vector<unsigned char> bytes;
    DWORD dword() const {
        DWORD v = 0xBAD0BAD0;
        if (bytes.size() == 4) std::memcpy(&v, bytes.data(), 4);
        return v;
    }
};

StoredValue ReadStored(const char* name) {
    StoredValue value;
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, board_key::kPath, &key) != ERROR_SUCCESS) return value;
    unsigned char data[64];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &value.type, data, &size) == ERROR_SUCCESS) {
        value.exists = true;
        value.bytes.assign(data, data + size);
    }
    RegCloseKey(key);
    return value;
}

// Every value a 4-byte REG_DWORD with these contents.
#define CHECK_STORED(intMem, extMem, io1, io2)                                            \
    do {                                                                                  \
        const DWORD expected_[4] = {intMem, extMem, io1, io2};                            \
        for (int i_ = 0; i_ < 4; ++i_) {                                                  \
            const StoredValue v_ = ReadStored(board_key::kValueNames[i_]);                \
            if (!v_.exists || v_.type != REG_DWORD || v_.bytes.size() != 4) {             \
                Fail(__LINE__, std::string(board_key::kValueNames[i_]) + " not a DWORD"); \
                continue;                                                                 \
            }                                                                             \
            CHECK_EQ_HEX(v_.dword(), expected_[i_]);                                      \
        }                                                                                 \
    } while (0)
#define CHECK_STORED_DEFAULTS() CHECK_STORED(0xE9000000, 0xEA000000, 0xC000, 0xC400)

// --- watching and bending the applet's registry calls ---------------------------------------

// The applet's calls to RegCreateKeyExA and RegCloseKey pass through these spies (its import
// table is patched), so a case can see how the key is opened and that it is closed again, and can
// stage a failure.
struct RegistrySpy {
    int creates = 0;
    HKEY lastParent = nullptr;
    std::string lastSubkey, lastClass;
    REGSAM lastAccess = 0;
    DWORD lastOptions = 0xFFFFFFFF;
    std::set<HKEY> openKeys;  // opened by the applet and not closed yet
    bool refuseCreate = false;
    bool deleteAfterCreate = false;
} spy;

LONG WINAPI SpyRegCreateKeyExA(HKEY parent, LPCSTR subkey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY result, LPDWORD disposition) {
    spy.creates++;
    spy.lastParent = parent;
    spy.lastSubkey = subkey ? subkey : "";
    spy.lastClass = keyClass ? keyClass : "";
    spy.lastAccess = access;
    spy.lastOptions = options;
    if (spy.refuseCreate) return ERROR_ACCESS_DENIED;
    const LONG rc = RegCreateKeyExA(parent, subkey, reserved, keyClass, options, access, security,
                                    result, disposition);
    if (rc == ERROR_SUCCESS) {
        spy.openKeys.insert(*result);
        // The handle now names a deleted key: every read and write through it fails.
        if (spy.deleteAfterCreate) DeleteBoardKey();
    }
    return rc;
}

LONG WINAPI SpyRegCloseKey(HKEY key) {
    spy.openKeys.erase(key);
    return RegCloseKey(key);
}

bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name != 0; ++desc) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + desc->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<DWORD>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
            return true;
        }
    }
    return false;
}

// --- the applet ---------------------------------------------------------------------------

using CplAppletFn = LONG(APIENTRY*)(HWND, UINT, LPARAM, LPARAM);
HMODULE cplModule = nullptr;
CplAppletFn cplApplet = nullptr;

bool LoadApplet() {
    cplModule = LoadLibraryA("VEXOLITE.CPL");
    if (cplModule == nullptr) return false;
    // Through void*: FARPROC has no parameters to match.
    cplApplet = reinterpret_cast<CplAppletFn>(
        reinterpret_cast<void*>(GetProcAddress(cplModule, "CPlApplet")));
    return cplApplet != nullptr &&
           PatchImport(cplModule, "ADVAPI32.dll", "RegCreateKeyExA",
                       reinterpret_cast<void*>(SpyRegCreateKeyExA)) &&
           PatchImport(cplModule, "ADVAPI32.dll", "RegCloseKey",
                       reinterpret_cast<void*>(SpyRegCloseKey));
}

// --- finding the applet's windows -----------------------------------------------------------

constexpr char kDialogCaption[] = "VexoLite Config.";

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

// WM_GETTEXT rather than GetWindowTextA: the latter does not ask a control of another process.
std::string WindowText(HWND window) {
    char text[300] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// --- driving the dialog -------------------------------------------------------------------

using Step = std::function<void()>;
std::vector<Step> script;
size_t nextStep = 0;
int idleTicks = 0;
bool inStep = false;
HWND dialog = nullptr;  // the dialog being driven, found afresh before each step

HWND Field(int id) {
    return GetDlgItem(dialog, id);
}
std::string FieldText(int id) {
    return WindowText(Field(id));
}

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
        Fail(__LINE__, "stuck before step " + std::to_string(nextStep + 1) + " of " +
                           std::to_string(script.size()));
        EndStuckDialog();
    }
}

// Opens the dialog as the Control Panel does and runs the steps inside it. Returns when the
// dialog has ended; checks that every step ran and that CPL_DBLCLK answered 0.
void RunDialog(std::vector<Step> steps) {
    script = std::move(steps);
    nextStep = 0;
    idleTicks = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
    const LONG result = cplApplet(GetDesktopWindow(), CPL_DBLCLK, 0, 0);
    KillTimer(nullptr, timer);
    CHECK_EQ_HEX(result, 0);
    if (nextStep != script.size()) {
        Fail(__LINE__, "the dialog ended before step " + std::to_string(nextStep + 1) + " of " +
                           std::to_string(script.size()));
    }
    CHECK(FindOwnDialog(kDialogCaption) == nullptr);
    CHECK(spy.openKeys.empty());  // the key is closed however the dialog ended
}

void PostKey(UINT vk) {
    HWND target = GetFocus() != nullptr ? GetFocus() : dialog;
    const UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
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
        if (!OpenClipboard(nullptr)) Fail(__LINE__, "clipboard");
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
    return [id] { CHECK_EQ_HEX(GetDlgCtrlID(GetFocus()), static_cast<unsigned long>(id)); };
}
Step ExpectFields(std::string intMem, std::string extMem, std::string io1, std::string io2) {
    return [=] {
        CHECK(dialog != nullptr);
        CHECK_EQ_TEXT(FieldText(1000), intMem);
        CHECK_EQ_TEXT(FieldText(1001), extMem);
        CHECK_EQ_TEXT(FieldText(1002), io1);
        CHECK_EQ_TEXT(FieldText(1003), io2);
    };
}
Step ExpectDefaultsShown() {
    return ExpectFields("E9000000", "EA000000", "C000", "C400");
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

// The failure message: "Fail !!" under "Error", one OK button, owned by the dialog (or by the
// dialog's owner when the dialog never appeared). Pressing its OK closes it.
Step ExpectFailureMessageAndDismissIt() {
    return [] {
        HWND box = FindOwnDialog("Error");
        if (box == nullptr) {
            Fail(__LINE__, "no message box");
            return;
        }
        std::vector<HWND> children;
        EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&children));
        int buttons = 0;
        bool text = false;
        for (HWND child : children) {
            char cls[32] = {};
            GetClassNameA(child, cls, sizeof cls);
            if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child)) {
                ++buttons;
                CHECK_EQ_HEX(GetDlgCtrlID(child), IDOK);
            }
            text = text || WindowText(child) == "Fail !!";
        }
        CHECK_EQ_HEX(buttons, 1);
        CHECK(text);
        HWND owner = GetWindow(box, GW_OWNER);
        char ownerCaption[64] = {};
        GetWindowTextA(owner, ownerCaption, sizeof ownerCaption);
        CHECK_EQ_TEXT(ownerCaption, kDialogCaption);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    };
}

// A field's text fits the field: an edit control without automatic scrolling would refuse
// what does not.
bool TextFits(HWND edit) {
    RECT client;
    GetClientRect(edit, &client);
    const DWORD margins = static_cast<DWORD>(SendMessageA(edit, EM_GETMARGINS, 0, 0));
    const int room = client.right - LOWORD(margins) - HIWORD(margins);
    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(edit, WM_GETFONT, 0, 0)));
    const std::string text = WindowText(edit);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
    return size.cx <= room;
}

// --- the cases ----------------------------------------------------------------------------

void FreshKey() {
    DeleteBoardKey();
    spy = RegistrySpy{};
}

void MessageTableCases() {
    RunCase("CPL_GETCOUNT answers 1 before CPL_INIT, CPL_INIT answers 1", [] {
        CHECK_EQ_HEX(cplApplet(nullptr, CPL_GETCOUNT, 0, 0), 1);
        CHECK_EQ_HEX(cplApplet(nullptr, CPL_INIT, 0, 0), 1);
        CHECK_EQ_HEX(cplApplet(nullptr, CPL_GETCOUNT, 0, 0), 1);
    });
    RunCase("CPL_NEWINQUIRE fills the same record whatever the applet index", [] {
        const HICON icon = LoadIconA(cplModule, MAKEINTRESOURCEA(100));
        CHECK(icon != nullptr);
        for (LPARAM index : {0, 1, 7, -1}) {
            NEWCPLINFOA info;
            std::memset(&info, 0xCC, sizeof info);
            CHECK_EQ_HEX(cplApplet(nullptr, CPL_NEWINQUIRE, index, reinterpret_cast<LPARAM>(&info)),
                         0);
            CHECK_EQ_HEX(info.dwSize, 244);
            CHECK_EQ_HEX(info.dwFlags, 0);
            CHECK_EQ_HEX(info.dwHelpContext, 0);
            CHECK_EQ_HEX(info.lData, 0);
            CHECK(info.hIcon == icon);
            CHECK_EQ_TEXT(info.szName, "VEXOLITE");
            CHECK_EQ_TEXT(info.szInfo, "VexoLite Config.");
            CHECK_EQ_HEX(static_cast<unsigned char>(info.szHelpFile[0]), 0);
        }
        ICONINFO iconInfo = {};
        CHECK(GetIconInfo(icon, &iconInfo));
        BITMAP mask = {};
        GetObjectA(iconInfo.hbmMask, sizeof mask, &mask);
        CHECK_EQ_HEX(mask.bmWidth, 32);
        DeleteObject(iconInfo.hbmMask);
        DeleteObject(iconInfo.hbmColor);
    });
    RunCase("CPL_INQUIRE, CPL_SELECT, CPL_STOP, CPL_EXIT and unknown messages do nothing", [] {
        DeleteBoardKey();
        for (UINT message : std::initializer_list<UINT>{CPL_INQUIRE, CPL_SELECT, CPL_STOP, CPL_EXIT,
                                                        0, 9, 10, 11, 200, 0xFFFF}) {
            unsigned char record[300], before[300];
            std::memset(record, 0xA5, sizeof record);
            std::memcpy(before, record, sizeof record);
            CHECK_EQ_HEX(cplApplet(nullptr, message, 0, reinterpret_cast<LPARAM>(record)), 0);
            CHECK(std::memcmp(record, before, sizeof record) == 0);
        }
        CHECK(!BoardKeyExists());
    });
}

void OpeningCases() {
    RunCase("a missing key is created with the defaults, focus on OK, Esc keeps them", [] {
        FreshKey();
        RunDialog({ExpectDefaultsShown(), ExpectFocusOn(IDOK), Check([] {
                       CHECK_STORED_DEFAULTS();
                       for (int id = 1000; id <= 1003; ++id) CHECK(TextFits(Field(id)));
                   }),
                   Key(VK_ESCAPE)});
        CHECK_STORED_DEFAULTS();
        CHECK_EQ_HEX(spy.creates, 1);
        CHECK(spy.lastParent == HKEY_LOCAL_MACHINE);
        CHECK_EQ_TEXT(spy.lastSubkey, board_key::kPath);
        CHECK_EQ_TEXT(spy.lastClass, "VEXOLITE");
        CHECK_EQ_HEX(spy.lastOptions, REG_OPTION_NON_VOLATILE);
        CHECK_EQ_HEX(spy.lastAccess, 0x2001F);
    });
    RunCase("stored values are shown unmasked and written back unchanged when untouched", [] {
        FreshKey();
        StoreDword(board_key::kIntMemBase, 0x12345678);
        StoreDword(board_key::kIo1Base, 0x12345);
        RunDialog({ExpectFields("12345678", "EA000000", "12345", "C400"), FocusField(1002),
                   FocusField(1003), ExpectFields("12345678", "EA000000", "2300", "C400"),
                   Click(IDOK)});
        CHECK_STORED(0x12345678, 0xEA000000, 0x2300, 0xC400);
    });
    RunCase("a short value fills the default's low bytes, an oversized one is replaced", [] {
        FreshKey();
        const unsigned char twoBytes[] = {0x34, 0x12};
        StoreValue(board_key::kIntMemBase, REG_BINARY, twoBytes, sizeof twoBytes);
        StoreValue(board_key::kExtMemBase, REG_SZ, "12345678", 9);
        RunDialog({ExpectFields("E9001234", "EA000000", "C000", "C400"), Check([] {
                       const StoredValue ext = ReadStored(board_key::kExtMemBase);
                       CHECK(ext.type == REG_DWORD && ext.dword() == 0xEA000000);
                   }),
                   CloseBox()});
        // Closing wrote nothing: the short value is still as it was.
        const StoredValue intMem = ReadStored(board_key::kIntMemBase);
        CHECK(intMem.type == REG_BINARY && intMem.bytes.size() == 2);
    });
    RunCase("a key that cannot be opened: Fail !! and the dialog ends", [] {
        FreshKey();
        spy.refuseCreate = true;
        RunDialog({ExpectFailureMessageAndDismissIt()});
        CHECK(!BoardKeyExists());
    });
    RunCase("a default that cannot be written: Fail !! and the dialog ends", [] {
        FreshKey();
        spy.deleteAfterCreate = true;
        RunDialog({ExpectFailureMessageAndDismissIt()});
        CHECK_EQ_HEX(spy.creates, 1);
        CHECK(!BoardKeyExists());
    });
}

void EditingCases() {
    RunCase("typing: hex digits in either case only, Backspace works, eight digits fit", [] {
        FreshKey();
        RunDialog({FocusField(1000),
                   ClearFocusedField(),
                   Type("1agx- \xE9+b"),
                   ExpectFields("1AB", "EA000000", "C000", "C400"),
                   Type("\b"),
                   ExpectFields("1A", "EA000000", "C000", "C400"),
                   Key(VK_TAB),
                   ExpectFocusOn(1001),
                   Type("E9123456"),
                   ExpectFields("00000000", "E9123456", "C000", "C400"),
                   Key(VK_TAB),
                   ExpectFocusOn(1002),
                   Type("c0ff"),
                   ExpectFields("00000000", "E9000000", "C0FF", "C400"),
                   Key(VK_TAB),
                   ExpectFocusOn(1003),
                   ClearFocusedField(),
                   Key(VK_TAB),
                   ExpectFocusOn(IDOK),
                   ExpectFields("00000000", "E9000000", "C000", "0000"),
                   Check([] { CHECK_STORED_DEFAULTS(); }),  // leaving a field writes nothing
                   Key(VK_RETURN)});
        CHECK_STORED(0, 0xE9000000, 0xC000, 0);
    });
    RunCase("pasted text bypasses the filter and is aligned on leaving", [] {
        FreshKey();
        RunDialog({FocusField(1000), ClearFocusedField(), Paste("-1"),
                   ExpectFields("-1", "EA000000", "C000", "C400"), FocusField(1002),
                   ClearFocusedField(), Paste("-1"), FocusField(1003), ClearFocusedField(),
                   Paste("c4"), ExpectFields("FF000000", "EA000000", "FF00", "C4"),
                   FocusField(1001), ExpectFields("FF000000", "EA000000", "FF00", "0000"),
                   Click(IDOK)});
        CHECK_STORED(0xFF000000, 0xEA000000, 0xFF00, 0);
    });
    RunCase("only the first eight characters of a field count", [] {
        FreshKey();
        RunDialog({FocusField(1000), Check([] { SetWindowTextA(Field(1000), "111111111AB"); }),
                   FocusField(1002), Check([] { SetWindowTextA(Field(1002), "0000C4FF99"); }),
                   Key(VK_TAB), ExpectFields("11000000", "EA000000", "C400", "C400"),
                   Key(VK_ESCAPE)});
        CHECK_STORED_DEFAULTS();
    });
    RunCase("Cancel and the close box write nothing; reopening reads the key afresh", [] {
        FreshKey();
        RunDialog({FocusField(1000), ClearFocusedField(), Type("ab123456"), FocusField(1001),
                   ExpectFields("AB000000", "EA000000", "C000", "C400"), Click(IDCANCEL)});
        CHECK_STORED_DEFAULTS();
        RunDialog(
            {ExpectDefaultsShown(), FocusField(1003), ClearFocusedField(), Type("d0"), CloseBox()});
        CHECK_STORED_DEFAULTS();
        RunDialog(
            {ExpectDefaultsShown(), FocusField(1001), ClearFocusedField(), Type("0"), Click(IDOK)});
        CHECK_STORED(0xE9000000, 0, 0xC000, 0xC400);
        RunDialog({ExpectFields("E9000000", "00000000", "C000", "C400"), Key(VK_ESCAPE)});
        CHECK_EQ_HEX(spy.creates, 4);
    });
}

void ConfirmingCases() {
    RunCase("Enter in a field takes that field over before writing", [] {
        FreshKey();
        RunDialog({FocusField(1002), ClearFocusedField(), Type("c4ff"), Key(VK_RETURN)});
        CHECK_STORED(0xE9000000, 0xEA000000, 0xC400, 0xC400);
        RunDialog({FocusField(1000), ClearFocusedField(), Type("123"), Key(VK_RETURN)});
        CHECK_STORED(0, 0xEA000000, 0xC400, 0xC400);
    });
    RunCase("a failed write at OK: Fail !!, the dialog stays with the user's values", [] {
        FreshKey();
        RunDialog({FocusField(1001), ClearFocusedField(), Type("ab345678"),
                   // The dialog's key handle now names a deleted key, so every write fails.
                   Check([] { DeleteBoardKey(); }), Key(VK_RETURN),
                   ExpectFailureMessageAndDismissIt(),
                   ExpectFields("E9000000", "AB000000", "C000", "C400"), Check([] {
                       CHECK(IsWindowVisible(dialog));
                       CHECK(!BoardKeyExists());
                   }),
                   Click(IDOK), ExpectFailureMessageAndDismissIt(), Key(VK_ESCAPE)});
        CHECK(!BoardKeyExists());
    });
}

// --- the Control Panel's launcher ---------------------------------------------------------

int RunControlPanel() {
    RunCase("control.exe VEXOLITE.CPL opens the dialog", [] {
        DeleteBoardKey();
        char cpl[MAX_PATH];
        GetFullPathNameA("VEXOLITE.CPL", sizeof cpl, cpl, nullptr);
        std::string command = "C:\\windows\\syswow64\\control.exe \"" + std::string(cpl) + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            Fail(__LINE__, "cannot start " + command);
            return;
        }
        // Starting another process takes about a minute under the emulator.
        HWND found = nullptr;
        for (int waited = 0; waited < 400 && found == nullptr; ++waited) {
            if (WaitForSingleObject(process.hProcess, 500) == WAIT_OBJECT_0) break;
            found = FindProcessDialog(kDialogCaption, process.dwProcessId);
        }
        CHECK(found != nullptr);
        if (found != nullptr) {
            Sleep(500);
            dialog = found;
            ExpectDefaultsShown()();
            CHECK_STORED_DEFAULTS();
            PostMessageA(found, WM_COMMAND, IDCANCEL, 0);
        }
        if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
            Fail(__LINE__, "control.exe did not end");
            TerminateProcess(process.hProcess, 1);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    });
    return 0;
}

// --- the screenshot -----------------------------------------------------------------------

bool WriteBitmap(const char* path, HWND window) {
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

int RunScreenshot(const char* path) {
    RunCase("the dialog as first shown, captured", [path] {
        FreshKey();
        const Step settle = [] { RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW); };
        RunDialog({settle, settle, settle, ExpectDefaultsShown(), Check([] {
                       for (int id = 1000; id <= 1003; ++id) CHECK(TextFits(Field(id)));
                   }),
                   settle, Check([path] { CHECK(WriteBitmap(path, dialog)); }), Key(VK_ESCAPE)});
    });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--control") {
        RunControlPanel();
    } else {
        if (!LoadApplet()) {
            std::printf("cannot load VEXOLITE.CPL or patch its imports\n");
            return 2;
        }
        if (mode == "--screenshot" && argc > 2) {
            RunScreenshot(argv[2]);
        } else {
            MessageTableCases();
            OpeningCases();
            EditingCases();
            ConfirmingCases();
        }
    }
    std::printf("%d passed, %d failed\n", passedCases, failedCases);
    return failedCases == 0 ? 0 : 1;
}
