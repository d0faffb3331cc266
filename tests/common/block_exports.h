// The six block exports called alike, for cases in which each of them must fail: the host
// library tests and the Windows-side ones share it.
#pragma once

#include <cstdint>
#include <string>

#include "VexoDLL.h"

namespace block_exports {

// Calls each block export once, in the header's order, for `count` elements at `address` of
// `buffer`; the names of those that succeeded, empty when every one failed.
inline std::string Succeeding(std::uint32_t address, void* buffer, std::uint32_t count) {
    struct Call {
        const char* name;
        int result;
    };
    // A braced list is evaluated in order, so the calls are made in the order written.
    const Call calls[] = {
        {"cVexoReadBlockByte", cVexoReadBlockByte(address, buffer, count)},
        {"cVexoReadBlockShort", cVexoReadBlockShort(address, buffer, count)},
        {"cVexoReadBlockLong", cVexoReadBlockLong(address, buffer, count)},
        {"cVexoWriteBlockByte", cVexoWriteBlockByte(address, buffer, count)},
        {"cVexoWriteBlockShort", cVexoWriteBlockShort(address, buffer, count)},
        {"cVexoWriteBlockLong", cVexoWriteBlockLong(address, buffer, count)},
    };
    std::string succeeded;
    for (const Call& call : calls) {
        if (call.result != 0)
            succeeded += succeeded.empty() ? call.name : std::string(" ") + call.name;
    }
    return succeeded;
}

}  // namespace block_exports
