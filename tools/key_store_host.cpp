// The board configuration key's writing side for the host build of vexotool: the simulated
// machine's key (the registry of the host machine sim/host/host_machine.h installs), which the
// library's host build reads. With no machine installed there is no registry: every call fails.
#include "host_machine.h"
#include "key_store.h"

namespace vexo::applet::key_store {
namespace {

sim::Registry* OpenRegistry() {
    sim::HostMachine* machine = sim::Installed();
    return machine == nullptr ? nullptr : &machine->registry;
}

}  // namespace

bool Open() {
    sim::Registry* registry = OpenRegistry();
    if (registry == nullptr) return false;
    registry->keyPresent = true;
    return true;
}

bool OpenExisting(bool* missing) {
    sim::Registry* registry = OpenRegistry();
    *missing = registry != nullptr && !registry->keyPresent;
    return registry != nullptr && registry->keyPresent;
}

void Close() {}

bool ReadValue(const char* name, void* data, std::uint32_t size) {
    sim::Registry* registry = OpenRegistry();
    std::uint32_t written = 0;
    return registry != nullptr && registry->Query(name, data, size, &written) == 0;
}

bool WriteDword(const char* name, std::uint32_t value) {
    sim::Registry* registry = OpenRegistry();
    if (registry == nullptr) return false;
    registry->SetDword(name, value);
    return true;
}

bool DeleteValue(const char* name) {
    sim::Registry* registry = OpenRegistry();
    if (registry == nullptr) return false;
    registry->values.erase(name);
    return true;
}

}  // namespace vexo::applet::key_store
