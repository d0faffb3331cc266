// The Wine runner's own test: a program that opens a top-level window, as the applet's dialog
// does, must succeed in either display mode. It fails when the desktop came up without a usable
// display driver (nodrv_CreateWindow).
#include <windows.h>

#include "win_test.h"

namespace {

void ATopLevelWindowOpensAndCloses() {
    HWND window = CreateWindowExA(0, "STATIC", "runner check", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(window != nullptr)
        << "cannot create a top-level window (error " << GetLastError() << ")";
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    EXPECT_TRUE(DestroyWindow(window))
        << "cannot destroy the window (error " << GetLastError() << ")";
}

const win_test::Case kCases[] = {
    {"a top-level window opens and closes", ATopLevelWindowOpensAndCloses},
};

}  // namespace

int main() {
    win_test::ReportCrashes();
    win_test::RunCases(kCases);
    return win_test::Summary();
}
