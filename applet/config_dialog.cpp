// The base-address dialog: opens the board configuration key (key_store), shows the four base
// addresses, filters and aligns the user's edits through two subclassed edit-control procedures,
// and writes the values back on OK.
#include "config_dialog.h"

#include <cstdint>

#include "address_field.h"
#include "applet_resources.h"
#include "base_addresses.h"
#include "key_store.h"

namespace vexo::applet {

namespace {

// Module-level state, kept while the applet is loaded. Each opening of the dialog replaces it.
BaseAddressValues currentValues = {};
HWND editHandles[kFieldCount] = {};
WNDPROC savedProcs[kFieldCount] = {};  // null for a control this opening did not subclass

constexpr int kIntMem = 0, kExtMem = 1, kIo1 = 2, kIo2 = 3;

// Reads the field's first characters, aligns them, shows the result and keeps it as the
// field's current value. The registry is not touched.
void TakeOverField(int field) {
    HWND edit = editHandles[field];
    char text[kParsedChars + 1] = {};
    GetWindowTextA(edit, text, sizeof text);
    const FieldFormat& format = kFieldFormats[field];
    const std::uint32_t value = TakeOverText(text, format);
    char shown[kTextBufferSize];
    FormatFieldValue(value, format, shown);
    SetWindowTextA(edit, shown);
    currentValues[field] = value;
}

LRESULT AddressFieldProc(int field, HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CHAR: {
            const int code = FilterTypedChar(static_cast<unsigned>(wParam));
            if (code == kDroppedChar) return 1;
            wParam = static_cast<WPARAM>(code);
            break;
        }
        case WM_KILLFOCUS:
            TakeOverField(field);
            break;
        default:
            break;
    }
    return CallWindowProcA(savedProcs[field], edit, message, wParam, lParam);
}

LRESULT CALLBACK MemEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    const int field = GetDlgCtrlID(edit) == IDC_INT_MEM_BASE ? kIntMem : kExtMem;
    return AddressFieldProc(field, edit, message, wParam, lParam);
}

LRESULT CALLBACK IoEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    const int field = GetDlgCtrlID(edit) == IDC_IO1_BASE ? kIo1 : kIo2;
    return AddressFieldProc(field, edit, message, wParam, lParam);
}

void ShowBaseAddresses(HWND dialog) {
    for (int i = 0; i < kFieldCount; ++i) editHandles[i] = GetDlgItem(dialog, kEditControlIds[i]);
    for (int i = 0; i < kFieldCount; ++i) {
        if (editHandles[i] == nullptr) continue;
        // Shown as stored, unmasked: a field is aligned only once the user has been in it.
        char shown[kTextBufferSize];
        FormatFieldValue(currentValues[i], kFieldFormats[i], shown);
        SetWindowTextA(editHandles[i], shown);
    }
}

void SubclassFields() {
    for (int i = 0; i < kFieldCount; ++i) {
        if (editHandles[i] == nullptr) continue;
        const WNDPROC proc = i < kIo1 ? MemEditProc : IoEditProc;
        savedProcs[i] = reinterpret_cast<WNDPROC>(
            SetWindowLongA(editHandles[i], GWL_WNDPROC, reinterpret_cast<LONG>(proc)));
    }
}

void RestoreFields() {
    for (int i = 0; i < kFieldCount; ++i) {
        if (savedProcs[i] == nullptr) continue;
        SetWindowLongA(editHandles[i], GWL_WNDPROC, reinterpret_cast<LONG>(savedProcs[i]));
        savedProcs[i] = nullptr;
    }
}

void ReportFailure(HWND dialog) {
    MessageBoxA(dialog, "Fail !!", "Error", MB_OK);
}

BOOL OpenDialog(HWND dialog) {
    for (int i = 0; i < kFieldCount; ++i) {
        editHandles[i] = nullptr;
        savedProcs[i] = nullptr;
    }
    if (!key_store::Open() || LoadBaseAddresses(currentValues) == 0) {
        ReportFailure(dialog);
        EndDialog(dialog, 0);
        return TRUE;
    }
    ShowBaseAddresses(dialog);
    SubclassFields();
    // TRUE: the dialog manager puts the focus on the first tab stop, the OK button.
    return TRUE;
}

// Enter in a field sends IDOK while that field still has the focus, before it has been taken
// over; take it over here so that the user's last edit is among the values written.
void TakeOverFocusedField() {
    HWND focus = GetFocus();
    for (int i = 0; i < kFieldCount; ++i) {
        if (focus != nullptr && focus == editHandles[i] && savedProcs[i] != nullptr) {
            TakeOverField(i);
        }
    }
}

void ConfirmDialog(HWND dialog) {
    TakeOverFocusedField();
    if (SaveBaseAddresses(currentValues) == 0) {
        // Not saved: say so and keep the dialog open with the user's values, so that the user
        // can try again or cancel.
        ReportFailure(dialog);
        return;
    }
    EndDialog(dialog, 1);
}

}  // namespace

INT_PTR CALLBACK ConfigDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            return OpenDialog(dialog);
        case WM_COMMAND:
            // The notification code in the high word does not matter.
            if (LOWORD(wParam) == IDOK) {
                ConfirmDialog(dialog);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 1);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 1);
            return TRUE;
        case WM_DESTROY:
            RestoreFields();
            // The key is closed however the dialog ends; the next opening opens it again.
            key_store::Close();
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace vexo::applet
