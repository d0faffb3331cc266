// Placeholder until the board address map lands: nothing is mapped, no start is accepted.
#include "board_context.h"

namespace vexo {

std::uint32_t BoardContext::MapMemoryAddress(std::uint32_t) { return kNotMapped; }
std::uint32_t BoardContext::MapIoAddress(std::uint32_t) const { return kNotMapped; }
void BoardContext::AccessPause() {}
bool BoardContext::AcceptsStart(std::uint32_t) { return false; }

}  // namespace vexo
