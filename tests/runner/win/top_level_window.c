/* The Wine runner's own test: a program that opens a top-level window, as the applet's dialog
 * does, must succeed in either display mode. It fails when the desktop came up without a usable
 * display driver (nodrv_CreateWindow). */
#include <stdio.h>
#include <windows.h>

int main(void) {
    HWND window = CreateWindowExA(0, "STATIC", "runner check", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    MSG message;

    if (window == NULL) {
        printf("cannot create a top-level window (error %lu)\n", GetLastError());
        return 1;
    }
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    if (!DestroyWindow(window)) {
        printf("cannot destroy the window (error %lu)\n", GetLastError());
        return 1;
    }
    printf("top-level window created and destroyed\n");
    return 0;
}
