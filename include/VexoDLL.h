/*
 * VexoDLL.h - board access library for the VexoLite PCI card.
 *
 * Link against VexoDLL.dll (import library libVexoDLL.dll.a, or one made from VexoDLL.def).
 * Call cVexoOpen once, then the transfer and query functions, then cVexoClose.
 * Every function returns 1 for success and 0 for failure, except cVexoGetINTA (0 with a board
 * open, -1 without) and cVexoPciConfig (a value from the driver, 0 on failure).
 * The library is not thread-safe: call it from one thread at a time.
 */
#ifndef VEXODLL_H
#define VEXODLL_H

/* The 32-bit unsigned type of every address, count and value below. Visual C++ before 2010 (the
 * versions that still build programs for the Windows 9x family) has no <stdint.h>. */
#if defined(_MSC_VER) && _MSC_VER < 1600
typedef unsigned __int32 VexoUInt32;
#else
#include <stdint.h>
typedef uint32_t VexoUInt32;
#endif

#if defined(_WIN32)
#define VEXO_CALL __cdecl
#else
#define VEXO_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What cVexoDeviceInfo reports: seven 32-bit little-endian values, 28 bytes. */
typedef struct DeviceInfo {
    VexoUInt32 driverInfo; /* the driver's information word, not interpreted by the library */
    VexoUInt32 deviceId;   /* PCI device identifier, 0x2004 */
    VexoUInt32 vendorId;   /* PCI vendor identifier, 0x10CF */
    VexoUInt32 intMemBase; /* PCI bus address of the internal memory */
    VexoUInt32 extMemBase; /* PCI bus address of the external memory */
    VexoUInt32 io1Base;    /* first port of I/O range 1 */
    VexoUInt32 io2Base;    /* first port of I/O range 2 */
} DeviceInfo;

/* Applications and the library exchange this record by layout; it must stay 28 bytes. */
typedef char VexoDeviceInfoIs28Bytes[(sizeof(DeviceInfo) == 28) ? 1 : -1];

/* The board address map. Every location on the card is named by one 32-bit board address. */
#define VEXO_INTMEM_BLOCK0 0x00000000u /* internal memory, 256 bytes */
#define VEXO_INTMEM_BLOCK1 0x00008000u /* internal memory, 256 bytes */
#define VEXO_INTMEM_BLOCK2 0x0000C000u /* internal memory, 256 bytes */
#define VEXO_INTMEM_BLOCK_SIZE 0x100u
#define VEXO_IO1_AREA 0x00010000u /* I/O range 1: ports 0x00-0xFF in four blocks of 64 */
#define VEXO_IO2_AREA 0x00010200u /* I/O range 2: ports 0x00-0x3F, 0x80-0xFF */
#define VEXO_IO_AREA_END 0x000103FFu  /* last address of the I/O area */
#define VEXO_EXTMEM_START 0x08000000u /* external memory, 16 MiB */
#define VEXO_EXTMEM_SIZE 0x01000000u
#define VEXO_MAP_LIMIT 0x08FFFFFFu /* no transfer reaches beyond this address */

/* Board address of port offset `port` (0x00-0xFF) of an I/O range: each 64 ports take a block of
 * 128 addresses whose upper half leads nowhere. I/O range 2 has no address for ports 0x40-0x7F. */
#define VEXO_IO_ADDRESS(area, port) \
    ((area) + ((((VexoUInt32)(port)) >> 6) << 7) + (((VexoUInt32)(port)) & 0x3Fu))

/* Block transfers: `count` elements of 1, 2 or 4 bytes from board address `address` on. */
int VEXO_CALL cVexoReadBlockByte(VexoUInt32 address, void *buffer, VexoUInt32 count);
int VEXO_CALL cVexoReadBlockShort(VexoUInt32 address, void *buffer, VexoUInt32 count);
int VEXO_CALL cVexoReadBlockLong(VexoUInt32 address, void *buffer, VexoUInt32 count);
int VEXO_CALL cVexoWriteBlockByte(VexoUInt32 address, const void *buffer, VexoUInt32 count);
int VEXO_CALL cVexoWriteBlockShort(VexoUInt32 address, const void *buffer, VexoUInt32 count);
int VEXO_CALL cVexoWriteBlockLong(VexoUInt32 address, const void *buffer, VexoUInt32 count);

/* Kept for older applications: each only reports whether a board is open (1) or not (0). */
int VEXO_CALL cVexoBuffAlloc(void);
int VEXO_CALL cVexoBuffFree(void);
int VEXO_CALL cVexoReadBuffByte(void);
int VEXO_CALL cVexoReadBuffShort(void);
int VEXO_CALL cVexoReadBuffLong(void);
int VEXO_CALL cVexoWriteBuffByte(void);
int VEXO_CALL cVexoWriteBuffShort(void);
int VEXO_CALL cVexoWriteBuffLong(void);

int VEXO_CALL cVexoOpen(void);
int VEXO_CALL cVexoClose(void);
int VEXO_CALL cVexoGetINTA(void);
int VEXO_CALL cVexoDeviceInfo(DeviceInfo *info);
int VEXO_CALL cVexoPciConfig(void);

#ifdef __cplusplus
}
#endif

#endif /* VEXODLL_H */
