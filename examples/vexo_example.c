/*
 * vexo_example.c - a first program for the VexoLite card.
 *
 * Opens the card, prints its identity and base addresses, writes a pattern into internal
 * memory, external memory and four I/O registers, reads each back and compares, and closes the
 * card. Plain C; it needs only VexoDLL.h and the import library:
 *
 *   i686-w64-mingw32-gcc -I../include vexo_example.c -L../lib -lVexoDLL -o vexo_example.exe
 *   cl /I..\include vexo_example.c ..\lib\VexoDLL.lib /link /SUBSYSTEM:CONSOLE,4.00
 *
 * The I/O registers used here, ports 0x20-0x27 of I/O range 1, read back what is written on the
 * simulated card, which models every I/O register as plain storage. On a real card, point
 * IO_SCRATCH at registers that the card maker's documentation gives you to use: the kit knows only
 * the registers the library itself writes and reads, listed under "The card's registers" in
 * docs/reference.md, and this example stays clear of them.
 */
#include <stdio.h>
#include <string.h>

#include "VexoDLL.h"

#define INT_MEM_ADDRESS VEXO_INTMEM_BLOCK1              /* 0x8000 */
#define EXT_MEM_ADDRESS VEXO_EXTMEM_START               /* 0x08000000 */
#define IO_SCRATCH VEXO_IO_ADDRESS(VEXO_IO1_AREA, 0x20) /* 0x10020: I/O range 1, port 0x20 */

static int failures = 0;

static void Verdict(int same) {
    printf("  %s\n", same ? "read back correctly" : "MISMATCH");
    if (!same) failures++;
}

static int Open(void) {
    DeviceInfo info;
    printf("Opening the card ... ");
    if (!cVexoOpen()) {
        printf(
            "failed.\n  No driver, no card, or the card refused its windows;"
            " 'vexotool info' says which.\n");
        return 0;
    }
    printf("ok\n");
    cVexoDeviceInfo(&info);
    printf("  device 0x%04lX, vendor 0x%04lX, driver information 0x%08lX\n",
           (unsigned long)info.deviceId, (unsigned long)info.vendorId,
           (unsigned long)info.driverInfo);
    printf("  internal memory at bus address 0x%08lX, external memory at 0x%08lX\n",
           (unsigned long)info.intMemBase, (unsigned long)info.extMemBase);
    printf("  I/O range 1 at port 0x%04lX, I/O range 2 at port 0x%04lX\n",
           (unsigned long)info.io1Base, (unsigned long)info.io2Base);
    return 1;
}

static void InternalMemory(void) {
    const char text[17] = "VexoLite example";
    char back[17] = {0};
    printf("Internal memory: 16 bytes at board address 0x%04X\n", INT_MEM_ADDRESS);
    if (!cVexoWriteBlockByte(INT_MEM_ADDRESS, text, 16) ||
        !cVexoReadBlockByte(INT_MEM_ADDRESS, back, 16)) {
        printf("  transfer failed\n");
        failures++;
        return;
    }
    printf("  wrote \"%s\", read \"%s\"\n", text, back);
    Verdict(memcmp(text, back, 16) == 0);
}

static void ExternalMemory(void) {
    VexoUInt32 words[4], back[4];
    int i;
    for (i = 0; i < 4; i++) words[i] = 0x01234567u * (VexoUInt32)(i + 1);
    printf("External memory: 4 32-bit words at board address 0x%08lX\n",
           (unsigned long)EXT_MEM_ADDRESS);
    if (!cVexoWriteBlockLong(EXT_MEM_ADDRESS, words, 4) ||
        !cVexoReadBlockLong(EXT_MEM_ADDRESS, back, 4)) {
        printf("  transfer failed\n");
        failures++;
        return;
    }
    printf("  wrote");
    for (i = 0; i < 4; i++) printf(" %08lX", (unsigned long)words[i]);
    printf("\n  read ");
    for (i = 0; i < 4; i++) printf(" %08lX", (unsigned long)back[i]);
    printf("\n");
    Verdict(memcmp(words, back, sizeof words) == 0);
}

static void IoRegisters(void) {
    /* 16 bits wide with every Windows compiler, also those without <stdint.h>. */
    const unsigned short values[4] = {0x1234, 0x5678, 0x9ABC, 0xDEF0};
    unsigned short back[4];
    int i;
    printf("I/O registers: 4 16-bit registers at board address 0x%05lX (I/O range 1, port 0x20)\n",
           (unsigned long)IO_SCRATCH);
    if (!cVexoWriteBlockShort(IO_SCRATCH, values, 4) || !cVexoReadBlockShort(IO_SCRATCH, back, 4)) {
        printf("  transfer failed\n");
        failures++;
        return;
    }
    printf("  wrote");
    for (i = 0; i < 4; i++) printf(" %04X", values[i]);
    printf("\n  read ");
    for (i = 0; i < 4; i++) printf(" %04X", back[i]);
    printf("\n");
    Verdict(memcmp(values, back, sizeof values) == 0);
}

int main(void) {
    printf("VexoLite example\n\n");
    if (!Open()) return 1;
    InternalMemory();
    ExternalMemory();
    IoRegisters();
    printf("Closing the card ... %s\n", cVexoClose() ? "ok" : "failed");
    printf("\n%s\n", failures == 0 ? "All three patterns read back correctly."
                                   : "Some patterns did not read back.");
    return failures == 0 ? 0 : 1;
}
