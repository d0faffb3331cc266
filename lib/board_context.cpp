// Construction, destruction and the configuration query of the one board context.
#include "board_context.h"

#include "driver_protocol.h"

namespace vexo {

BoardContext::BoardContext() : hDriver(platform::kInvalidDriverHandle), ready(0) {
    // A driver that cannot be opened leaves the invalid handle for Initialize to find.
    hDriver = platform::OpenDriver(driver::kDevicePath);
}

BoardContext::~BoardContext() {
    if (hDriver != platform::kInvalidDriverHandle) platform::CloseDriver(hDriver);
}

int BoardContext::QueryPciConfig() {
    if (ready != 1) return 0;
    std::uint8_t reply[driver::kPciConfigReplySize];
    // The count of bytes returned is not examined, so a driver that answers with less than a
    // word must not leave stack contents to be reported: the first word starts out as 0.
    reply[0] = reply[1] = reply[2] = reply[3] = 0;
    if (!platform::DriverRequest(hDriver, driver::kPciConfig, nullptr, 0, reply, sizeof reply))
        return 0;
    // Only the first little-endian word is reported; the rest of the reply is not used.
    const std::uint32_t first = std::uint32_t{reply[0]} | std::uint32_t{reply[1]} << 8 |
                                std::uint32_t{reply[2]} << 16 | std::uint32_t{reply[3]} << 24;
    return static_cast<int>(first);
}

}  // namespace vexo
