// Memory regions: what the module may read of the process's memory, asked before touching it.
//
// The system's word on a region, so that decoding code or a stack never faults inside the
// exception handler.
#pragma once

#include <windows.h>

#include <cstdint>

namespace vexo::sim::vxd {

// The processor's page: the unit of protection, and of the views' guards.
constexpr std::uintptr_t kPageSize = 0x1000;

constexpr DWORD kExecutable = PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kReadable = kExecutable | PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY;

// One past the end of the committed region holding `at` when it has one of `protections` and no
// guard; `at` itself otherwise.
inline std::uintptr_t RegionEnd(std::uintptr_t at, DWORD protections) {
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0 ||
        region.State != MEM_COMMIT || (region.Protect & protections) == 0 ||
        (region.Protect & PAGE_GUARD) != 0) {
        return at;
    }
    return reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
}

// Whether all `count` bytes at `from` lie in such regions.
inline bool Accessible(std::uintptr_t from, std::uintptr_t count, DWORD protections) {
    const std::uintptr_t end = from + count;
    if (end < from) return false;
    for (std::uintptr_t at = from; at < end;) {
        const std::uintptr_t next = RegionEnd(at, protections);
        if (next == at) return false;
        at = next;
    }
    return true;
}

}  // namespace vexo::sim::vxd
