"""The VexoLite PCI card from Python: VexoDLL.dll through ctypes.

    import vexo

    with vexo.Card() as card:                    # cVexoOpen ... cVexoClose
        info = card.device_info()                # a vexo.DeviceInfo
        card.write(vexo.INTMEM_BLOCK0, b"\\x12\\x34")
        data = card.read(vexo.INTMEM_BLOCK0, 2)  # bytes

Every transfer takes a board address and moves elements of 1, 2 or 4 bytes (``width``) in the
machine's byte order. A call the library reports as failed raises VexoError.

The module needs Python 3, which runs on Windows XP and later, not on Windows 95, 98 or Me.
The library is a 32-bit Windows DLL: on Windows the Python that loads it must be a 32-bit one.
It is found, in this order, at the path in the environment variable VEXO_LIBRARY, beside this
module, then by name (VexoDLL.dll, or libVexoDLL.so elsewhere) where the system's loader looks.
libVexoDLL.so is not in the kit: the kit's source tree builds it, the library linked with the
simulated card, for its own tests. On Linux, use VexoDLL.dll from a Windows Python under Wine.
The library serves one thread at a time and keeps one open card per process; so does this
module.
"""
import ctypes
import os

__all__ = [
    "Card", "DeviceInfo", "VexoError", "load", "io_address",
    "INTMEM_BLOCK0", "INTMEM_BLOCK1", "INTMEM_BLOCK2", "INTMEM_BLOCK_SIZE",
    "IO1_AREA", "IO2_AREA", "IO_AREA_END", "EXTMEM_START", "EXTMEM_SIZE", "MAP_LIMIT",
]

# The board address map (VexoDLL.h).
INTMEM_BLOCK0 = 0x00000000
INTMEM_BLOCK1 = 0x00008000
INTMEM_BLOCK2 = 0x0000C000
INTMEM_BLOCK_SIZE = 0x100
IO1_AREA = 0x00010000
IO2_AREA = 0x00010200
IO_AREA_END = 0x000103FF
EXTMEM_START = 0x08000000
EXTMEM_SIZE = 0x01000000
MAP_LIMIT = 0x08FFFFFF

LIBRARY_VARIABLE = "VEXO_LIBRARY"


def io_address(area, port):
    """Board address of port offset ``port`` (0x00-0xFF) of the I/O range at ``area``: every 64
    ports take a block of 128 addresses (VEXO_IO_ADDRESS)."""
    return area + ((port >> 6) << 7) + (port & 0x3F)


class DeviceInfo(ctypes.Structure):
    """What cVexoDeviceInfo fills: seven 32-bit values, 28 bytes."""
    _fields_ = [
        ("driverInfo", ctypes.c_uint32),
        ("deviceId", ctypes.c_uint32),
        ("vendorId", ctypes.c_uint32),
        ("intMemBase", ctypes.c_uint32),
        ("extMemBase", ctypes.c_uint32),
        ("io1Base", ctypes.c_uint32),
        ("io2Base", ctypes.c_uint32),
    ]

    def __repr__(self):
        fields = ", ".join("%s=0x%X" % (name, getattr(self, name)) for name, _ in self._fields_)
        return "DeviceInfo(%s)" % fields


class VexoError(Exception):
    """A library function reported failure. ``function`` names it, ``result`` is what it
    returned."""

    def __init__(self, function, result, detail=""):
        message = "%s returned %d" % (function, result)
        if detail:
            message += ": " + detail
        Exception.__init__(self, message)
        self.function = function
        self.result = result


_int = ctypes.c_int
_u32 = ctypes.c_uint32
_ptr = ctypes.c_void_p

# All 19 exports: result type and argument types. Every one is cdecl, hence CDLL.
_PROTOTYPES = {
    "cVexoReadBlockByte": (_int, [_u32, _ptr, _u32]),
    "cVexoReadBlockShort": (_int, [_u32, _ptr, _u32]),
    "cVexoReadBlockLong": (_int, [_u32, _ptr, _u32]),
    "cVexoWriteBlockByte": (_int, [_u32, _ptr, _u32]),
    "cVexoWriteBlockShort": (_int, [_u32, _ptr, _u32]),
    "cVexoWriteBlockLong": (_int, [_u32, _ptr, _u32]),
    "cVexoBuffAlloc": (_int, []),
    "cVexoBuffFree": (_int, []),
    "cVexoReadBuffByte": (_int, []),
    "cVexoReadBuffShort": (_int, []),
    "cVexoReadBuffLong": (_int, []),
    "cVexoWriteBuffByte": (_int, []),
    "cVexoWriteBuffShort": (_int, []),
    "cVexoWriteBuffLong": (_int, []),
    "cVexoOpen": (_int, []),
    "cVexoClose": (_int, []),
    "cVexoGetINTA": (_int, []),
    "cVexoDeviceInfo": (_int, [ctypes.POINTER(DeviceInfo)]),
    "cVexoPciConfig": (_int, []),
}

_READ = {1: "cVexoReadBlockByte", 2: "cVexoReadBlockShort", 4: "cVexoReadBlockLong"}
_WRITE = {1: "cVexoWriteBlockByte", 2: "cVexoWriteBlockShort", 4: "cVexoWriteBlockLong"}


def _library_name():
    return "VexoDLL.dll" if os.name == "nt" else "libVexoDLL.so"


def _library_location():
    chosen = os.environ.get(LIBRARY_VARIABLE)
    if chosen:
        return chosen
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), _library_name())
    if os.path.isfile(beside):
        return beside
    return _library_name()


def load(path=None):
    """Loads the library (``path``, or found as the module's description says) and gives every
    export its argument and result types. The functions are the C ones: they return the
    library's 1/0 results and raise nothing."""
    if os.name == "nt" and ctypes.sizeof(ctypes.c_void_p) != 4:
        raise OSError("VexoDLL.dll is a 32-bit DLL: run a 32-bit Python (this one is %d-bit)"
                      % (8 * ctypes.sizeof(ctypes.c_void_p)))
    library = ctypes.CDLL(path or _library_location())
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


def _check_address(address):
    if not 0 <= address <= 0xFFFFFFFF:
        raise ValueError("board address 0x%X is not a 32-bit value" % address)


def _check_width(width):
    if width not in _READ:
        raise ValueError("width must be 1, 2 or 4 bytes, not %r" % (width,))


def _check_count(count):
    # The library's count is 32 bits: a larger one would be cut and move only its low bits' worth.
    if not 0 <= count <= 0xFFFFFFFF:
        raise ValueError("%d elements are not a 32-bit count" % count)


def _element_count(nbytes, width):
    if nbytes % width:
        raise ValueError("%d bytes are not a whole number of %d-byte elements" % (nbytes, width))
    _check_count(nbytes // width)
    return nbytes // width


class Card(object):
    """The card, opened by open() or by entering a ``with`` block, closed by close() or by
    leaving it. ``dll`` is the loaded library with all 19 functions, for what the methods do not
    cover (the buffer functions of older versions)."""

    def __init__(self, library=None):
        self.dll = library if library is not None else load()

    def __enter__(self):
        self.open()
        return self

    def __exit__(self, kind, value, traceback):
        self.close()
        return False

    def _call(self, name, *arguments):
        result = getattr(self.dll, name)(*arguments)
        if result == 0:
            raise VexoError(name, result)
        return result

    def open(self):
        """cVexoOpen: finds, configures and opens the card. Opening an open card does nothing."""
        self._call("cVexoOpen")

    def close(self):
        """cVexoClose. Closing a card that is not open does nothing."""
        self.dll.cVexoClose()

    @property
    def is_open(self):
        """Whether the library has a card open (what the buffer functions of older versions
        report)."""
        return self.dll.cVexoBuffAlloc() == 1

    def device_info(self):
        """cVexoDeviceInfo: the driver's word, the card's identity and its four bases."""
        info = DeviceInfo()
        self._call("cVexoDeviceInfo", ctypes.byref(info))
        return info

    def pci_config(self):
        """cVexoPciConfig: the first word of the card's configuration space (device << 16 |
        vendor), as an unsigned value."""
        return self._call("cVexoPciConfig") & 0xFFFFFFFF

    def inta(self):
        """cVexoGetINTA: 0 with the card open; VexoError without."""
        result = self.dll.cVexoGetINTA()
        if result == -1:
            raise VexoError("cVexoGetINTA", result, "no card open")
        return result

    def read(self, address, count, width=1):
        """Reads ``count`` elements of ``width`` bytes from board address ``address`` on and
        returns them as bytes (count * width of them)."""
        _check_width(width)
        _check_count(count)
        buffer = bytearray(count * width)
        self.read_into(address, buffer, width)
        return bytes(buffer)

    def read_into(self, address, buffer, width=1):
        """Fills a writable buffer (bytearray, array.array, memoryview, ctypes array...) with
        len(buffer) / width elements read from ``address`` on."""
        _check_address(address)
        _check_width(width)
        view = memoryview(buffer)
        if view.readonly or not view.c_contiguous:
            raise TypeError("read_into needs a writable, contiguous buffer")
        count = _element_count(view.nbytes, width)
        target = (ctypes.c_ubyte * view.nbytes).from_buffer(view)
        self._call(_READ[width], address, target, count)

    def write(self, address, data, width=1):
        """Writes the elements of ``data`` (any buffer: bytes, bytearray, array.array,
        memoryview...) to board address ``address`` on, ``width`` bytes each."""
        _check_address(address)
        _check_width(width)
        view = memoryview(data)
        count = _element_count(view.nbytes, width)
        source = (ctypes.c_ubyte * view.nbytes).from_buffer_copy(view.tobytes())
        self._call(_WRITE[width], address, source, count)

