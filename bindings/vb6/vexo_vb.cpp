// VexoVB.dll: the board access library for Visual Basic 6. VB6 calls only functions that remove
// their own arguments (stdcall), the library's are cdecl: each wrapper here takes the library
// function's own parameters, calls it and returns its result. Vexo.bas declares them.
#include <windows.h>

#include <tuple>
#include <type_traits>

#include "VexoDLL.h"

extern "C" {

#define VEXO_VB_TRANSFER(name, Buffer)                                             \
    int __stdcall vb_##name(VexoUInt32 address, Buffer buffer, VexoUInt32 count) { \
        return name(address, buffer, count);                                       \
    }
VEXO_VB_TRANSFER(cVexoReadBlockByte, void*)
VEXO_VB_TRANSFER(cVexoReadBlockShort, void*)
VEXO_VB_TRANSFER(cVexoReadBlockLong, void*)
VEXO_VB_TRANSFER(cVexoWriteBlockByte, const void*)
VEXO_VB_TRANSFER(cVexoWriteBlockShort, const void*)
VEXO_VB_TRANSFER(cVexoWriteBlockLong, const void*)
#undef VEXO_VB_TRANSFER

#define VEXO_VB_NO_ARGUMENTS(name) \
    int __stdcall vb_##name() {    \
        return name();             \
    }
VEXO_VB_NO_ARGUMENTS(cVexoBuffAlloc)
VEXO_VB_NO_ARGUMENTS(cVexoBuffFree)
VEXO_VB_NO_ARGUMENTS(cVexoReadBuffByte)
VEXO_VB_NO_ARGUMENTS(cVexoReadBuffShort)
VEXO_VB_NO_ARGUMENTS(cVexoReadBuffLong)
VEXO_VB_NO_ARGUMENTS(cVexoWriteBuffByte)
VEXO_VB_NO_ARGUMENTS(cVexoWriteBuffShort)
VEXO_VB_NO_ARGUMENTS(cVexoWriteBuffLong)
VEXO_VB_NO_ARGUMENTS(cVexoOpen)
VEXO_VB_NO_ARGUMENTS(cVexoClose)
VEXO_VB_NO_ARGUMENTS(cVexoGetINTA)
VEXO_VB_NO_ARGUMENTS(cVexoPciConfig)
#undef VEXO_VB_NO_ARGUMENTS

int __stdcall vb_cVexoDeviceInfo(DeviceInfo* info) {
    return cVexoDeviceInfo(info);
}

// Nothing to set up or tear down: an open card belongs to the library.
BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"

namespace {

template <typename Function>
struct Parameters;
template <typename Result, typename... Arguments>
struct Parameters<Result(Arguments...)> {
    using type = std::tuple<Arguments...>;
};
template <typename Result, typename... Arguments>
struct Parameters<Result __stdcall(Arguments...)> {
    using type = std::tuple<Arguments...>;
};

// Every export of the library has its wrapper, with exactly its parameters, so that the stdcall
// symbol's byte count is the library function's.
#define VEXO_EXPORT(ordinal, name, shortName)                                                    \
    static_assert(                                                                               \
        std::is_same_v<Parameters<decltype(name)>::type, Parameters<decltype(vb_##name)>::type>, \
        #name "'s wrapper takes other parameters");
#include "dll_exports.inc"
#undef VEXO_EXPORT

}  // namespace
