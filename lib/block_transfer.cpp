// Placeholder until the block transfers land: every transfer fails.
#include "board_context.h"

namespace vexo {

int BoardContext::ReadBlock(std::uint32_t, void*, std::uint32_t, std::uint16_t) { return 0; }
int BoardContext::WriteBlock(std::uint32_t, const void*, std::uint32_t, std::uint16_t) { return 0; }

}  // namespace vexo
