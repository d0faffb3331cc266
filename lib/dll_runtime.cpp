// What the DLL has instead of a C runtime: its entry point (named to the linker in
// lib/CMakeLists.txt) and the platform seam's heap, the process heap through kernel32. They live
// apart from platform_win32.cpp because vexotool links that file too, and the tool starts and
// allocates through its C runtime.
#include <windows.h>

#include "platform.h"

namespace vexo::platform {

void* HeapAllocate(std::size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}
void HeapRelease(void* memory) {
    HeapFree(GetProcessHeap(), 0, memory);
}

}  // namespace vexo::platform

// Loading and unloading do no work of their own, and an open board is left to the operating
// system when the process ends.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
