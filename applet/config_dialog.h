// The base-address dialog (template IDD_BASE_ADDRESSES).
#pragma once

#include <windows.h>

namespace vexo::applet {

// The dialog procedure, for DialogBoxParamA.
INT_PTR CALLBACK ConfigDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace vexo::applet
