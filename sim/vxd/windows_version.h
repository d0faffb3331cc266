// Which Windows the module runs on, as GetVersion says (under Wine: the version Wine plays).
//
// Wine offers later systems' functions whatever version it plays; the module takes such a function
// only where that Windows would have it, so that under Wine set to XP it behaves as on XP.
#pragma once

#include <windows.h>

namespace vexo::sim::vxd {

// Windows NT, 2000, XP and later, rather than the 9x family.
inline bool RunsOnWindowsNt() {
    return (GetVersion() & 0x80000000u) == 0;
}

// Windows Vista (NT 6.0) or later.
inline bool RunsOnVistaOrLater() {
    return RunsOnWindowsNt() && LOBYTE(LOWORD(GetVersion())) >= 6;
}

}  // namespace vexo::sim::vxd
