// Drives VEXOLITE.CPL under Wine the way the Control Panel and a user would, in one process:
//   applet_driver               the CPlApplet message table and the dialog, case by case
//   applet_driver --control     the Control Panel's own launcher opens the applet's dialog
//   applet_driver --screenshot FILE.bmp   captures the dialog as first shown
// The dialog is driven from a thread timer that runs inside its modal message loop: each tick
// performs one step (focus, keys posted to the focused control, paste, clicks) and checks what
// the fields show and what the registry holds. One line per case, then "N passed, N failed".
// The cases are here; the machinery that drives the dialog is in dialog_steps.h, the spy on the
// applet's registry calls in registry_spy.h.
#include <windows.h>
// windows.h first: cpl.h relies on its types.
#include <cpl.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "board_key_registry.h"
#include "child_programs.h"
#include "dialog_steps.h"
#include "registry_spy.h"
#include "win_test.h"

namespace {

using namespace applet_test;
using board_key_registry::BoardKeyExists;
using board_key_registry::DeleteBoardKey;
using board_key_registry::ReadBoardKeyValue;
using board_key_registry::SetBoardKeyValue;
using board_key_registry::StoredValue;
using win_test::RunCase;
namespace board_key = vexo::board_key;

// Every value a 4-byte REG_DWORD with these contents.
#define EXPECT_STORED(intMem, extMem, io1, io2)                                 \
    do {                                                                        \
        const DWORD expected_[4] = {intMem, extMem, io1, io2};                  \
        for (int i_ = 0; i_ < 4; ++i_) {                                        \
            const char* name_ = board_key::kValueNames[i_];                     \
            const StoredValue v_ = ReadBoardKeyValue(name_);                    \
            EXPECT_TRUE(v_.IsDword()) << name_ << " is not a 4-byte REG_DWORD"; \
            if (v_.IsDword()) {                                                 \
                EXPECT_EQ(expected_[i_], v_.Dword()) << name_;                  \
            }                                                                   \
        }                                                                       \
    } while (0)
#define EXPECT_STORED_DEFAULTS() EXPECT_STORED(0xE9000000, 0xEA000000, 0xC000, 0xC400)

// --- what the applet's dialog shows -----------------------------------------------------------

Step ExpectFields(std::string intMem, std::string extMem, std::string io1, std::string io2) {
    return [=] {
        EXPECT_TRUE(dialog != nullptr);
        EXPECT_EQ(FieldText(1000), intMem);
        EXPECT_EQ(FieldText(1001), extMem);
        EXPECT_EQ(FieldText(1002), io1);
        EXPECT_EQ(FieldText(1003), io2);
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
            FAIL() << "no message box";
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
                EXPECT_EQ(GetDlgCtrlID(child), IDOK);
            }
            text = text || WindowText(child) == "Fail !!";
        }
        EXPECT_EQ(buttons, 1);
        EXPECT_TRUE(text);
        HWND owner = GetWindow(box, GW_OWNER);
        char ownerCaption[64] = {};
        GetWindowTextA(owner, ownerCaption, sizeof ownerCaption);
        EXPECT_STREQ(ownerCaption, kDialogCaption);
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
        EXPECT_EQ(cplApplet(nullptr, CPL_GETCOUNT, 0, 0), 1);
        EXPECT_EQ(cplApplet(nullptr, CPL_INIT, 0, 0), 1);
        EXPECT_EQ(cplApplet(nullptr, CPL_GETCOUNT, 0, 0), 1);
    });
    RunCase("CPL_NEWINQUIRE fills the same record whatever the applet index", [] {
        const HICON icon = LoadIconA(cplModule, MAKEINTRESOURCEA(100));
        EXPECT_TRUE(icon != nullptr);
        for (LPARAM index : {0, 1, 7, -1}) {
            NEWCPLINFOA info;
            std::memset(&info, 0xCC, sizeof info);
            EXPECT_EQ(cplApplet(nullptr, CPL_NEWINQUIRE, index, reinterpret_cast<LPARAM>(&info)),
                      0);
            EXPECT_EQ(info.dwSize, 244);
            EXPECT_EQ(info.dwFlags, 0);
            EXPECT_EQ(info.dwHelpContext, 0);
            EXPECT_EQ(info.lData, 0);
            EXPECT_TRUE(info.hIcon == icon);
            EXPECT_STREQ(info.szName, "VEXOLITE");
            EXPECT_STREQ(info.szInfo, "VexoLite Config.");
            EXPECT_EQ(static_cast<unsigned char>(info.szHelpFile[0]), 0);
        }
        ICONINFO iconInfo = {};
        EXPECT_TRUE(GetIconInfo(icon, &iconInfo));
        BITMAP mask = {};
        GetObjectA(iconInfo.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, 32);
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
            EXPECT_EQ(cplApplet(nullptr, message, 0, reinterpret_cast<LPARAM>(record)), 0);
            EXPECT_TRUE(std::memcmp(record, before, sizeof record) == 0);
        }
        EXPECT_FALSE(BoardKeyExists());
    });
}

void OpeningCases() {
    RunCase("a missing key is created with the defaults, focus on OK, Esc keeps them", [] {
        FreshKey();
        RunDialog({ExpectDefaultsShown(), ExpectFocusOn(IDOK), Check([] {
                       EXPECT_STORED_DEFAULTS();
                       for (int id = 1000; id <= 1003; ++id) EXPECT_TRUE(TextFits(Field(id)));
                   }),
                   Key(VK_ESCAPE)});
        EXPECT_STORED_DEFAULTS();
        EXPECT_EQ(spy.creates, 1);
        EXPECT_TRUE(spy.lastParent == HKEY_LOCAL_MACHINE);
        EXPECT_EQ(spy.lastSubkey, board_key::kPath);
        EXPECT_EQ(spy.lastClass, "VEXOLITE");
        EXPECT_EQ(spy.lastOptions, REG_OPTION_NON_VOLATILE);
        EXPECT_EQ(spy.lastAccess, 0x2001F);
    });
    RunCase("stored values are shown unmasked and written back unchanged when untouched", [] {
        FreshKey();
        SetBoardKeyValue(board_key::kIntMemBase, 0x12345678);
        SetBoardKeyValue(board_key::kIo1Base, 0x12345);
        RunDialog({ExpectFields("12345678", "EA000000", "12345", "C400"), FocusField(1002),
                   FocusField(1003), ExpectFields("12345678", "EA000000", "2300", "C400"),
                   Click(IDOK)});
        EXPECT_STORED(0x12345678, 0xEA000000, 0x2300, 0xC400);
    });
    RunCase("a short value fills the default's low bytes, an oversized one is replaced", [] {
        FreshKey();
        const unsigned char twoBytes[] = {0x34, 0x12};
        SetBoardKeyValue(board_key::kIntMemBase, REG_BINARY, twoBytes, sizeof twoBytes);
        SetBoardKeyValue(board_key::kExtMemBase, REG_SZ, "12345678", 9);
        RunDialog({ExpectFields("E9001234", "EA000000", "C000", "C400"), Check([] {
                       const StoredValue ext = ReadBoardKeyValue(board_key::kExtMemBase);
                       EXPECT_TRUE(ext.type == REG_DWORD && ext.Dword() == 0xEA000000);
                   }),
                   CloseBox()});
        // Closing wrote nothing: the short value is still as it was.
        const StoredValue intMem = ReadBoardKeyValue(board_key::kIntMemBase);
        EXPECT_TRUE(intMem.type == REG_BINARY && intMem.bytes.size() == 2);
    });
    RunCase("a key that cannot be opened: Fail !! and the dialog ends", [] {
        FreshKey();
        spy.refuseCreate = true;
        RunDialog({ExpectFailureMessageAndDismissIt()});
        EXPECT_FALSE(BoardKeyExists());
    });
    RunCase("a default that cannot be written: Fail !! and the dialog ends", [] {
        FreshKey();
        spy.deleteAfterCreate = true;
        RunDialog({ExpectFailureMessageAndDismissIt()});
        EXPECT_EQ(spy.creates, 1);
        EXPECT_FALSE(BoardKeyExists());
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
                   Check([] { EXPECT_STORED_DEFAULTS(); }),  // leaving a field writes nothing
                   Key(VK_RETURN)});
        EXPECT_STORED(0, 0xE9000000, 0xC000, 0);
    });
    RunCase("pasted text bypasses the filter and is aligned on leaving", [] {
        FreshKey();
        RunDialog({FocusField(1000), ClearFocusedField(), Paste("-1"),
                   ExpectFields("-1", "EA000000", "C000", "C400"), FocusField(1002),
                   ClearFocusedField(), Paste("-1"), FocusField(1003), ClearFocusedField(),
                   Paste("c4"), ExpectFields("FF000000", "EA000000", "FF00", "C4"),
                   FocusField(1001), ExpectFields("FF000000", "EA000000", "FF00", "0000"),
                   Click(IDOK)});
        EXPECT_STORED(0xFF000000, 0xEA000000, 0xFF00, 0);
    });
    RunCase("only the first eight characters of a field count", [] {
        FreshKey();
        RunDialog({FocusField(1000), Check([] { SetWindowTextA(Field(1000), "111111111AB"); }),
                   FocusField(1002), Check([] { SetWindowTextA(Field(1002), "0000C4FF99"); }),
                   Key(VK_TAB), ExpectFields("11000000", "EA000000", "C400", "C400"),
                   Key(VK_ESCAPE)});
        EXPECT_STORED_DEFAULTS();
    });
    RunCase("Cancel and the close box write nothing; reopening reads the key afresh", [] {
        FreshKey();
        RunDialog({FocusField(1000), ClearFocusedField(), Type("ab123456"), FocusField(1001),
                   ExpectFields("AB000000", "EA000000", "C000", "C400"), Click(IDCANCEL)});
        EXPECT_STORED_DEFAULTS();
        RunDialog(
            {ExpectDefaultsShown(), FocusField(1003), ClearFocusedField(), Type("d0"), CloseBox()});
        EXPECT_STORED_DEFAULTS();
        RunDialog(
            {ExpectDefaultsShown(), FocusField(1001), ClearFocusedField(), Type("0"), Click(IDOK)});
        EXPECT_STORED(0xE9000000, 0, 0xC000, 0xC400);
        RunDialog({ExpectFields("E9000000", "00000000", "C000", "C400"), Key(VK_ESCAPE)});
        EXPECT_EQ(spy.creates, 4);
    });
}

void ConfirmingCases() {
    RunCase("Enter in a field takes that field over before writing", [] {
        FreshKey();
        RunDialog({FocusField(1002), ClearFocusedField(), Type("c4ff"), Key(VK_RETURN)});
        EXPECT_STORED(0xE9000000, 0xEA000000, 0xC400, 0xC400);
        RunDialog({FocusField(1000), ClearFocusedField(), Type("123"), Key(VK_RETURN)});
        EXPECT_STORED(0, 0xEA000000, 0xC400, 0xC400);
    });
    RunCase("a failed write at OK: Fail !!, the dialog stays with the user's values", [] {
        FreshKey();
        RunDialog({FocusField(1001), ClearFocusedField(), Type("ab345678"),
                   // The dialog's key handle now names a deleted key, so every write fails.
                   Check([] { DeleteBoardKey(); }), Key(VK_RETURN),
                   ExpectFailureMessageAndDismissIt(),
                   ExpectFields("E9000000", "AB000000", "C000", "C400"), Check([] {
                       EXPECT_TRUE(IsWindowVisible(dialog));
                       EXPECT_FALSE(BoardKeyExists());
                   }),
                   Click(IDOK), ExpectFailureMessageAndDismissIt(), Key(VK_ESCAPE)});
        EXPECT_FALSE(BoardKeyExists());
    });
}

// --- the Control Panel's launcher ---------------------------------------------------------

void RunControlPanel() {
    RunCase("control.exe VEXOLITE.CPL opens the dialog", [] {
        DeleteBoardKey();
        char cpl[MAX_PATH];
        GetFullPathNameA("VEXOLITE.CPL", sizeof cpl, cpl, nullptr);
        const std::string command =
            "C:\\windows\\syswow64\\control.exe \"" + std::string(cpl) + "\"";
        child_programs::Started control = child_programs::Launch(command);
        if (!control.Running()) {
            FAIL() << "cannot start " << command << ": " << control.collected;
        }
        // Starting another process takes about a minute under the emulator.
        HWND found = nullptr;
        for (int waited = 0; waited < 400 && found == nullptr; ++waited) {
            if (WaitForSingleObject(control.process, 500) == WAIT_OBJECT_0) break;
            found = FindProcessDialog(kDialogCaption, control.id);
        }
        EXPECT_TRUE(found != nullptr);
        if (found != nullptr) {
            Sleep(500);
            dialog = found;
            ExpectDefaultsShown()();
            EXPECT_STORED_DEFAULTS();
            PostMessageA(found, WM_COMMAND, IDCANCEL, 0);
        }
        if (child_programs::FinishWithin(&control, 120000) == child_programs::kNotEnded) {
            ADD_FAILURE() << "control.exe did not end";
        }
    });
}

// --- the screenshot -----------------------------------------------------------------------

void RunScreenshot(const char* path) {
    RunCase("the dialog as first shown, captured", [path] {
        FreshKey();
        const Step settle = [] { RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW); };
        RunDialog({settle, settle, settle, ExpectDefaultsShown(), Check([] {
                       for (int id = 1000; id <= 1003; ++id) EXPECT_TRUE(TextFits(Field(id)));
                   }),
                   settle, Check([path] { EXPECT_TRUE(CaptureWindow(dialog, path)); }),
                   Key(VK_ESCAPE)});
    });
}

}  // namespace

int main(int argc, char** argv) {
    win_test::ReportCrashes();
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
    return win_test::Summary();
}
