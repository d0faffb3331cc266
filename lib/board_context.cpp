// Construction, destruction and the configuration query of the one board context.
#include "board_context.h"

#include "driver_protocol.h"
#include "little_endian.h"

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
    return static_cast<int>(little_endian::Load32(reply));
}

}  // namespace vexo
