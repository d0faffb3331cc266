/*
 * vexolite_sim.h - control of the simulated VexoLite card inside vexolite.vxd.
 *
 * vexolite.vxd stands in for the VexoLite driver under Wine: the device path "\\.\VexoLite.vxd"
 * reaches it, port instructions of the process are emulated against its card, and its memories
 * are the two windows. These exports let a test program or tool shape that card and read back
 * what reached it. Link with libvexolite.vxd.a, or load the module and look the functions up with
 * GetProcAddress (typedefs below); the module a program loads itself is the one the device path
 * reaches.
 *
 * Functions are named by bus, device and function number; those that can miss return 1 when
 * the function exists and 0 when it does not.
 *
 * Every function here that touches the card, every trapped port instruction and every driver
 * request holds the card's bus, across the threads of the process and every other process on the
 * card; those about this process's own trace and windows hold its threads apart only. So any
 * thread may call them at any time; each bus access is atomic.
 *
 * With VEXO_SIM_TRACE=<file> in the environment when the module loads, every port access, window
 * load and store and driver request of the process is also written to that file, with a summary
 * at the end (the format is in docs/without-a-card.md). That file does not depend on
 * SimSetTracing; window accesses are in the file only.
 */
#ifndef VEXOLITE_SIM_H
#define VEXOLITE_SIM_H

#include <stdint.h>

#if defined(_WIN32)
#define SIM_CALL __cdecl
#else
#define SIM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Where the default card sits: function 1 of this bus and device. */
#define SIM_DEFAULT_BUS 2
#define SIM_DEFAULT_DEVICE 5

/* Trace operations. */
enum {
    SIM_OP_PORT_READ = 0,     /* where = port, width = 8/16/32, value = value read */
    SIM_OP_PORT_WRITE = 1,    /* where = port, width, value = value written */
    SIM_OP_WINDOW_LOAD = 2,   /* never recorded here: window accesses are plain memory accesses */
    SIM_OP_WINDOW_STORE = 3,  /* never recorded here */
    SIM_OP_DRIVER_OPEN = 4,   /* never recorded here: opening happens inside Wine */
    SIM_OP_DRIVER_REQUEST = 5 /* where = control code, value = 1 when it succeeded */
};

typedef struct SimTraceEvent {
    uint32_t op;
    uint32_t width; /* bits, port accesses only */
    uint32_t where;
    uint32_t value;
} SimTraceEvent;

/* What control code 16 delivered: four 32-bit values in the request's order. */
typedef struct SimBaseRecord {
    uint32_t intMemBase;
    uint32_t extMemBase;
    uint32_t io1Base;
    uint32_t io2Base;
} SimBaseRecord;

/* Which memory. */
#define SIM_INT_MEM 0 /* 64 KiB */
#define SIM_EXT_MEM 1 /* 16 MiB, followed by an inaccessible page */

/* The default board: one card at SIM_DEFAULT_BUS/SIM_DEFAULT_DEVICE with power-on registers,
 * driver identity 0x2004/0x10CF, no failing codes, no bases received, memories zeroed, trace
 * empty and on. The memories keep their addresses. */
void SIM_CALL SimResetBoard(void);
/* Takes every function off the bus. */
void SIM_CALL SimRemoveAllFunctions(void);
/* Adds a function with identity `id`; id 0x200410CF makes it a card that decodes I/O ranges. */
void SIM_CALL SimAddFunction(uint32_t bus, uint32_t device, uint32_t function, uint32_t id);

/* Base address registers 0-5 and the command/status register. */
int SIM_CALL SimSetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t value);
int SIM_CALL SimGetBar(uint32_t bus, uint32_t device, uint32_t function, uint32_t index,
                       uint32_t* value);
int SIM_CALL SimSetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t value);
int SIM_CALL SimGetCommand(uint32_t bus, uint32_t device, uint32_t function, uint32_t* value);
/* A register of I/O range `range` (0 or 1) at `offset`, read as `width` bits, untraced. */
int SIM_CALL SimReadIoRegister(uint32_t bus, uint32_t device, uint32_t function, uint32_t range,
                               uint32_t offset, uint32_t width, uint32_t* value);

/* The driver. With `present` 0 every request fails (the module is already loaded, so the
 * device path itself still opens: remove the module to make it fail). */
void SIM_CALL SimSetDriverPresent(int present);
void SIM_CALL SimSetDriverIdentity(uint32_t deviceId, uint32_t vendorId);
void SIM_CALL SimSetDriverInfo(uint32_t driverInfo);
/* Makes one control code fail (failing 1) or answer again (failing 0). At most
 * SIM_MAX_FAILING_CODES codes fail at once (the card file keeps that many): 0 when the code
 * would be one more and nothing changed, else 1. */
#define SIM_MAX_FAILING_CODES 32
int SIM_CALL SimSetFailingCode(uint32_t code, int failing);
/* Replaces the reply to code 15 with `count` bytes (the rest of the 256 zero); null restores
 * the card's configuration space. */
void SIM_CALL SimSetPciConfigReply(const void* bytes, uint32_t count);
/* 1 and the record when code 16 has been received since the last reset, else 0. */
int SIM_CALL SimGetLastBaseRecord(SimBaseRecord* record);

/* The memories: 1 when offset..offset+count lies inside, else 0 and nothing moved. */
int SIM_CALL SimReadMemory(uint32_t which, uint32_t offset, void* buffer, uint32_t count);
int SIM_CALL SimWriteMemory(uint32_t which, uint32_t offset, const void* buffer, uint32_t count);
/* The address codes 6 and 7 answer for that memory. */
uint32_t SIM_CALL SimGetWindowAddress(uint32_t which);

/* Bus cycles on the simulated machine without a port instruction (traced). */
uint32_t SIM_CALL SimPortRead(uint32_t port, uint32_t width);
void SIM_CALL SimPortWrite(uint32_t port, uint32_t width, uint32_t value);

/* The trace. It keeps the first 1048576 events after a reset or clear; later ones are only
 * counted by SimTraceDropped. */
uint32_t SIM_CALL SimTraceCount(void);
uint32_t SIM_CALL SimTraceDropped(void);
int SIM_CALL SimGetTraceEvent(uint32_t index, SimTraceEvent* event);
void SIM_CALL SimClearTrace(void);
void SIM_CALL SimSetTracing(int on);

/* Trapped port instructions. One trap performs the run of port instructions that starts at the
 * trapping one, each access traced on its own as if it had trapped by itself, and a direct call
 * of a port accessor function (loads from the stack, one port instruction, ret) is redirected
 * after its first trap to perform the same access without one. With batching off (here, which
 * also puts redirected calls back, or VEXO_SIM_TRAP_BATCHING=0 in the environment when the module
 * loads) each instruction traps. SimTrapCount counts the traps taken since the module loaded. */
void SIM_CALL SimSetTrapBatching(int on);
uint32_t SIM_CALL SimTrapCount(void);

/* The shared card. The card's memories, registers, configuration space and the driver's
 * settings live in a file every process maps and uses in place (C:\windows\vexolite-card.bin in
 * the Wine prefix, or the file VEXO_SIM_CARD names), so programs running at once share one card
 * and the next program finds it as the last one left it; SimResetBoard is the power cycle. */
/* Takes the card off the bus (0), keeping its registers, or puts it back (1) as it was, or a
 * power-on card at its place when none was taken off. */
void SIM_CALL SimSetCardPresent(int present);
/* Moves the card to function 1 of bus/device; 0 when the place is out of range or another
 * function sits there. */
int SIM_CALL SimPlaceCard(uint32_t bus, uint32_t device);

#define SIM_MAX_FAILING_SHOWN 16
typedef struct SimCardState {
    uint32_t cardPresent;   /* 1 when the card answers on the bus */
    uint32_t bus, device;   /* where it sits (function 1), also while off the bus */
    uint32_t command;       /* its command/status register */
    uint32_t bars[6];       /* its base address registers */
    uint32_t driverPresent; /* 1 when the driver answers requests */
    uint32_t deviceId, vendorId, driverInfo; /* what the driver reports */
    uint32_t failingCount; /* control codes that fail, the first SIM_MAX_FAILING_SHOWN */
    uint32_t failing[SIM_MAX_FAILING_SHOWN];
} SimCardState;
int SIM_CALL SimGetCardState(SimCardState* state);
/* Every control code that fails (SimCardState shows the first SIM_MAX_FAILING_SHOWN): the first
 * `size` of them into `codes`, in the order they were made to fail; returns how many fail. */
uint32_t SIM_CALL SimGetFailingCodes(uint32_t* codes, uint32_t size);
/* The card file's Windows path into `path` (cut to size - 1 characters and terminated); returns
 * its length, 0 when the card lives in the module's memory only (the file could not be used: the
 * module said why on standard error when it loaded). */
uint32_t SIM_CALL SimGetCardFile(char* path, uint32_t size);

/* For GetProcAddress. */
typedef void(SIM_CALL* SimResetBoardFn)(void);
typedef void(SIM_CALL* SimRemoveAllFunctionsFn)(void);
typedef void(SIM_CALL* SimAddFunctionFn)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef int(SIM_CALL* SimSetBarFn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
typedef int(SIM_CALL* SimGetBarFn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*);
typedef int(SIM_CALL* SimSetCommandFn)(uint32_t, uint32_t, uint32_t, uint32_t);
typedef int(SIM_CALL* SimGetCommandFn)(uint32_t, uint32_t, uint32_t, uint32_t*);
typedef int(SIM_CALL* SimReadIoRegisterFn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                           uint32_t, uint32_t*);
typedef void(SIM_CALL* SimSetDriverPresentFn)(int);
typedef void(SIM_CALL* SimSetDriverIdentityFn)(uint32_t, uint32_t);
typedef void(SIM_CALL* SimSetDriverInfoFn)(uint32_t);
typedef int(SIM_CALL* SimSetFailingCodeFn)(uint32_t, int);
typedef void(SIM_CALL* SimSetPciConfigReplyFn)(const void*, uint32_t);
typedef int(SIM_CALL* SimGetLastBaseRecordFn)(SimBaseRecord*);
typedef int(SIM_CALL* SimReadMemoryFn)(uint32_t, uint32_t, void*, uint32_t);
typedef int(SIM_CALL* SimWriteMemoryFn)(uint32_t, uint32_t, const void*, uint32_t);
typedef uint32_t(SIM_CALL* SimGetWindowAddressFn)(uint32_t);
typedef uint32_t(SIM_CALL* SimPortReadFn)(uint32_t, uint32_t);
typedef void(SIM_CALL* SimPortWriteFn)(uint32_t, uint32_t, uint32_t);
typedef uint32_t(SIM_CALL* SimTraceCountFn)(void);
typedef uint32_t(SIM_CALL* SimTraceDroppedFn)(void);
typedef int(SIM_CALL* SimGetTraceEventFn)(uint32_t, SimTraceEvent*);
typedef void(SIM_CALL* SimClearTraceFn)(void);
typedef void(SIM_CALL* SimSetTracingFn)(int);
typedef void(SIM_CALL* SimSetTrapBatchingFn)(int);
typedef uint32_t(SIM_CALL* SimTrapCountFn)(void);
typedef void(SIM_CALL* SimSetCardPresentFn)(int);
typedef int(SIM_CALL* SimPlaceCardFn)(uint32_t, uint32_t);
typedef int(SIM_CALL* SimGetCardStateFn)(SimCardState*);
typedef uint32_t(SIM_CALL* SimGetFailingCodesFn)(uint32_t*, uint32_t);
typedef uint32_t(SIM_CALL* SimGetCardFileFn)(char*, uint32_t);

#ifdef __cplusplus
}
#endif

#endif /* VEXOLITE_SIM_H */
