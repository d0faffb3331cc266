// The simulated machine of the host build of VexoDLL (libVexoDLL.so), which the bindings' tests
// load in place of the Windows DLL. A shared library has no test fixture to install a board, so
// this one is installed when the library loads: one card at the simulator's usual slot, its
// base address registers at their power-on values and no board configuration key, so cVexoOpen
// takes every base from the card the way it does before the applet has run. The memories start
// zeroed and keep what is written to them until the library is unloaded.
#include "host_machine.h"

namespace {

struct DefaultMachine {
    vexo::sim::HostMachine machine;

    // Nobody reads the trace here, and every external-memory element adds 50 port reads.
    DefaultMachine() { machine.board.tracing = false; }
};

DefaultMachine defaultMachine;

}  // namespace
