// The process's one open board: what cVexoOpen learned from the driver, the registry and the
// card, and the operations that act on it. A plain record with non-virtual operations; the
// library keeps at most one, on the heap, behind `activeBoard`.
#pragma once

#include <cstdint>

#include "platform.h"

namespace vexo {

struct BoardContext {
    // Fields in their documented order.
    platform::DriverHandle hDriver;  // kInvalidDriverHandle when the driver could not be opened
    std::int32_t ready;              // 1 once Initialize has completed every step
    std::uint32_t driverInfo;        // driver's reply to code 1, reported, never interpreted
    std::uint32_t intMemBase;        // PCI bus address of the internal memory (BAR1)
    std::uint32_t extMemBase;        // PCI bus address of the external memory (BAR0)
    std::uint32_t intMemWindow;      // process-linear address of the internal memory window
    std::uint32_t extMemWindow;      // process-linear address of the external memory window
    std::uint32_t io1Base;           // first port of I/O range 1 (BAR2)
    std::uint32_t io2Base;           // first port of I/O range 2 (BAR3)
    std::uint32_t deviceId;          // driver's reply to code 3
    std::uint32_t vendorId;          // driver's reply to code 2

    // Construction: ready = 0, then opens the driver. A failure to open is left for
    // Initialize to find.
    BoardContext();
    // Closes the driver unless it was never opened. No driver request, no hardware access.
    ~BoardContext();
    BoardContext(const BoardContext&) = delete;
    BoardContext& operator=(const BoardContext&) = delete;

    // Discovery and handshake: identity, registry, PCI scan, base address registers, windows,
    // set-up registers. 1 when the board is open, 0 at the first failure (board_discovery.cpp).
    int Initialize();
    // First word of the driver's PCI configuration reply (code 15), 0 when not ready or refused.
    int QueryPciConfig();

    // The board address map: the translations are inline in address_map.h, which callers
    // include; the pause and the start filter are in address_map.cpp.
    std::uint32_t MapMemoryAddress(std::uint32_t address);
    std::uint32_t MapIoAddress(std::uint32_t address) const;
    void AccessPause();
    static bool AcceptsStart(std::uint32_t address);

    // Block transfers behind the six block exports (block_transfer.cpp): 1 or 0.
    int ReadBlock(std::uint32_t address, void* buffer, std::uint32_t count,
                  std::uint16_t elementSize);
    int WriteBlock(std::uint32_t address, const void* buffer, std::uint32_t count,
                   std::uint16_t elementSize);
};

// What the map's translations return for an address they do not map.
constexpr std::uint32_t kNotMapped = 0xFFFFFFFFu;

}  // namespace vexo
