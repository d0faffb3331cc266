// The pause and the start filter of the board address map; the translations are inline in
// address_map.h.
#include "address_map.h"

#include "board_context.h"
#include "platform.h"

namespace vexo {

void BoardContext::AccessPause() {
    // The pause is the time its port reads take; the values read mean nothing.
    platform::PortReadRun8(static_cast<std::uint16_t>(io1Base), map::kPauseReads);
}

bool BoardContext::AcceptsStart(std::uint32_t address) {
    using map::InRange;
    return InRange(address, map::kIntBlock0First, 0xFFFF) ||
           InRange(address, map::kExtMemFirst, map::kExtMemLast) ||
           InRange(address, map::kIoAreaFirst, map::kIoAreaLast);
}

}  // namespace vexo
