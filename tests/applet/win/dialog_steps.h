// Drives VEXOLITE.CPL's dialog from inside its modal message loop. RunDialog opens the dialog as
// the Control Panel does and runs a script of steps on a thread timer, one step a tick: focus,
// keys posted to the focused control (as a user's keys go), paste, clicks, and checks of what the
// dialog shows. Also the applet's loading, with its registry calls spied on, and the windows'
// lookup.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace applet_test {

constexpr char kDialogCaption[] = "VexoLite Config.";

using CplAppletFn = LONG(APIENTRY*)(HWND, UINT, LPARAM, LPARAM);
extern HMODULE cplModule;
extern CplAppletFn cplApplet;

// Loads VEXOLITE.CPL from the program's folder and puts the registry spy in its imports.
bool LoadApplet();

// ---- the windows ---------------------------------------------------------------------------

// A visible dialog of this thread, or of process `processId`, with this caption.
HWND FindOwnDialog(const char* caption);
HWND FindProcessDialog(const char* caption, DWORD processId);
// WM_GETTEXT rather than GetWindowTextA: the latter does not ask a control of another process.
std::string WindowText(HWND window);

extern HWND dialog;  // the dialog being driven, found afresh before each step
HWND Field(int id);
std::string FieldText(int id);

// ---- the steps -----------------------------------------------------------------------------

using Step = std::function<void()>;

// Runs the steps inside the dialog; returns when it has ended. Checks that every step ran, that
// CPL_DBLCLK answered 0 and that the applet closed the key however the dialog ended.
void RunDialog(std::vector<Step> steps);

Step FocusField(int id);
Step Type(std::string text);
Step ClearFocusedField();
Step Key(UINT vk);
Step Click(int id);
Step CloseBox();
Step Paste(std::string text);
Step Check(std::function<void()> check);
Step ExpectFocusOn(int id);

// The window as it is on the screen, as a 24-bit BMP file.
bool CaptureWindow(HWND window, const char* path);

}  // namespace applet_test
