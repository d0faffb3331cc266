/*
 * A Visual C++ caller of every export: compiled for the MSVC ABI (clang
 * --target=i686-pc-windows-msvc) against the kit's header and linked by lld-link against the
 * kit's lib/VexoDLL.lib. It has no C runtime (none comes with LLVM), so it declares the three
 * kernel32 functions it needs and formats its own output.
 */
#include "VexoDLL.h"

__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);

static unsigned failures;

static void Say(const char* text) {
    unsigned long length = 0, written;
    while (text[length]) length++;
    WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0);
}

static void Check(int good, const char* what) {
    Say(good ? "ok   " : "FAIL ");
    Say(what);
    Say("\n");
    if (!good) failures++;
}

static int Same(const unsigned char* a, const unsigned char* b, unsigned size) {
    unsigned i;
    for (i = 0; i < size; i++)
        if (a[i] != b[i]) return 0;
    return 1;
}

typedef int(__cdecl* BoardOpenQuery)(void);
static const BoardOpenQuery kOldBufferCalls[8] = {
    cVexoBuffAlloc,    cVexoBuffFree,      cVexoReadBuffByte,   cVexoReadBuffShort,
    cVexoReadBuffLong, cVexoWriteBuffByte, cVexoWriteBuffShort, cVexoWriteBuffLong};

static int OldBufferCallsSay(int expected) {
    unsigned i;
    for (i = 0; i < 8; i++)
        if (kOldBufferCalls[i]() != expected) return 0;
    return 1;
}

/* Writes a pattern with one width's write call and reads it back with the same width's read. */
static void RoundTrip(int (*write)(VexoUInt32, const void*, VexoUInt32),
                      int (*read)(VexoUInt32, void*, VexoUInt32), unsigned width,
                      VexoUInt32 address, const char* what) {
    unsigned char out[64], in[64];
    unsigned i;
    for (i = 0; i < sizeof out; i++) {
        out[i] = (unsigned char)(i * 7 + width);
        in[i] = 0;
    }
    Check(write(address, out, sizeof out / width) && read(address, in, sizeof in / width) &&
              Same(out, in, sizeof out),
          what);
}

void __cdecl start(void) {
    DeviceInfo info;

    Check(cVexoGetINTA() == -1 && OldBufferCallsSay(0), "no board yet: cVexoGetINTA -1, Buff* 0");
    Check(cVexoOpen() == 1, "cVexoOpen");
    Check(cVexoDeviceInfo(&info) == 1 && info.vendorId == 0x10CF && info.deviceId == 0x2004,
          "cVexoDeviceInfo: vendor 0x10CF, device 0x2004");
    Check(cVexoPciConfig() != 0, "cVexoPciConfig answers");
    Check(cVexoGetINTA() == 0, "cVexoGetINTA 0 with the board open");
    Check(OldBufferCallsSay(1), "the eight Buff* calls report the open board");
    RoundTrip(cVexoWriteBlockByte, cVexoReadBlockByte, 1, VEXO_INTMEM_BLOCK1,
              "cVexoWriteBlockByte, cVexoReadBlockByte: internal memory");
    RoundTrip(cVexoWriteBlockShort, cVexoReadBlockShort, 2, VEXO_INTMEM_BLOCK2,
              "cVexoWriteBlockShort, cVexoReadBlockShort: internal memory");
    RoundTrip(cVexoWriteBlockLong, cVexoReadBlockLong, 4, VEXO_EXTMEM_START,
              "cVexoWriteBlockLong, cVexoReadBlockLong: external memory");
    Check(cVexoClose() == 1 && OldBufferCallsSay(0), "cVexoClose; Buff* 0 again");
    Say(failures ? "FAILED\n" : "every export answered as documented\n");
    ExitProcess(failures ? 1 : 0);
}
