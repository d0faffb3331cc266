// The library's 19 entry points. Every one except cVexoOpen first looks for the open board and
// answers at once, without touching driver or card, when there is none.
#include <new>

#include "VexoDLL.h"
#include "board_context.h"

namespace vexo {
namespace {

// The process's one board: set by a successful cVexoOpen, cleared by cVexoClose. Loading and
// unloading the library leave it alone.
BoardContext* activeBoard = nullptr;

void DestroyActiveBoard() {
    activeBoard->~BoardContext();
    platform::HeapRelease(activeBoard);
    activeBoard = nullptr;
}

// The buffer exports of older versions now only report whether a board is open.
int BoardIsOpen() {
    return activeBoard != nullptr ? 1 : 0;
}

int ReadBlock(std::uint32_t address, void* buffer, std::uint32_t count, std::uint16_t size) {
    if (activeBoard == nullptr) return 0;
    return activeBoard->ReadBlock(address, buffer, count, size);
}

int WriteBlock(std::uint32_t address, const void* buffer, std::uint32_t count, std::uint16_t size) {
    if (activeBoard == nullptr) return 0;
    return activeBoard->WriteBlock(address, buffer, count, size);
}

}  // namespace
}  // namespace vexo

using vexo::activeBoard;

extern "C" {

int VEXO_CALL cVexoReadBlockByte(uint32_t address, void* buffer, uint32_t count) {
    return vexo::ReadBlock(address, buffer, count, 1);
}
int VEXO_CALL cVexoReadBlockShort(uint32_t address, void* buffer, uint32_t count) {
    return vexo::ReadBlock(address, buffer, count, 2);
}
int VEXO_CALL cVexoReadBlockLong(uint32_t address, void* buffer, uint32_t count) {
    return vexo::ReadBlock(address, buffer, count, 4);
}
int VEXO_CALL cVexoWriteBlockByte(uint32_t address, const void* buffer, uint32_t count) {
    return vexo::WriteBlock(address, buffer, count, 1);
}
int VEXO_CALL cVexoWriteBlockShort(uint32_t address, const void* buffer, uint32_t count) {
    return vexo::WriteBlock(address, buffer, count, 2);
}
int VEXO_CALL cVexoWriteBlockLong(uint32_t address, const void* buffer, uint32_t count) {
    return vexo::WriteBlock(address, buffer, count, 4);
}

int VEXO_CALL cVexoBuffAlloc(void) {
    return vexo::BoardIsOpen();
}
int VEXO_CALL cVexoBuffFree(void) {
    return vexo::BoardIsOpen();
}
int VEXO_CALL cVexoReadBuffByte(void) {
    return vexo::BoardIsOpen();
}
int VEXO_CALL cVexoReadBuffShort(void) {
    return vexo::BoardIsOpen();
}
int VEXO_CALL cVexoReadBuffLong(void) {
    return vexo::BoardIsOpen();
}
int VEXO_CALL cVexoWriteBuffByte(void) {
    return vexo::BoardIsOpen();
}
int VEXO_CALL cVexoWriteBuffShort(void) {
    return vexo::BoardIsOpen();
}
int VEXO_CALL cVexoWriteBuffLong(void) {
    return vexo::BoardIsOpen();
}

// An open board stays open: a second call does nothing and reports success.
int VEXO_CALL cVexoOpen(void) {
    if (activeBoard != nullptr) return 1;
    void* memory = vexo::platform::HeapAllocate(sizeof(vexo::BoardContext));
    if (memory == nullptr) return 0;
    activeBoard = new (memory) vexo::BoardContext();
    if (activeBoard->Initialize()) return 1;
    // What Initialize already changed on the card and in the driver stays changed.
    vexo::DestroyActiveBoard();
    return 0;
}

// Closing tells neither the driver nor the card anything; only the handle is closed.
int VEXO_CALL cVexoClose(void) {
    if (activeBoard == nullptr) return 0;
    vexo::DestroyActiveBoard();
    return 1;
}

int VEXO_CALL cVexoGetINTA(void) {
    return activeBoard != nullptr ? 0 : -1;
}

// A null record is refused like a missing board: nothing is written and the result is 0.
int VEXO_CALL cVexoDeviceInfo(DeviceInfo* info) {
    if (activeBoard == nullptr || info == nullptr) return 0;
    info->driverInfo = activeBoard->driverInfo;
    info->deviceId = activeBoard->deviceId;
    info->vendorId = activeBoard->vendorId;
    info->intMemBase = activeBoard->intMemBase;
    info->extMemBase = activeBoard->extMemBase;
    info->io1Base = activeBoard->io1Base;
    info->io2Base = activeBoard->io2Base;
    return 1;
}

int VEXO_CALL cVexoPciConfig(void) {
    if (activeBoard == nullptr) return 0;
    return activeBoard->QueryPciConfig();
}

}  // extern "C"
