"""The Python module against the host build of the library (libVexoDLL.so on the loader path),
whose simulated card comes up with its registers at their power-on values: every export
through the module, the results checked against what that card holds."""
import array
import ctypes
import mmap
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import vexo

# The card of the host library: identity, driver word, and the bases cVexoOpen takes from its
# base address registers (no board configuration key), flag bits cleared.
CARD_ID = 0x200410CF
DRIVER_INFO = 0x00010203
BASES = {"intMemBase": 0xE9800000, "extMemBase": 0xE8000000, "io1Base": 0xD000,
         "io2Base": 0xD400}
# The set-up registers cVexoOpen writes: (board address, value).
SET_UP_REGISTERS = [(vexo.io_address(vexo.IO1_AREA, 0xC4), 0x0000000E),
                    (vexo.io_address(vexo.IO2_AREA, 0x00), 0x6B19D4A7),
                    (vexo.io_address(vexo.IO2_AREA, 0x10), 0x00018000)]
LEGACY = ["cVexoBuffAlloc", "cVexoBuffFree", "cVexoReadBuffByte", "cVexoReadBuffShort",
          "cVexoReadBuffLong", "cVexoWriteBuffByte", "cVexoWriteBuffShort", "cVexoWriteBuffLong"]
TRANSFERS = ["cVexoReadBlockByte", "cVexoReadBlockShort", "cVexoReadBlockLong",
             "cVexoWriteBlockByte", "cVexoWriteBlockShort", "cVexoWriteBlockLong"]
NOWHERE = 0x00000100  # between internal memory blocks 0 and 1


def little(data, width):
    return [int.from_bytes(data[k:k + width], "little") for k in range(0, len(data), width)]


class CardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.card = vexo.Card()
        cls.dll = cls.card.dll

    def setUp(self):
        self.dll.cVexoClose()


class WithoutCardOpen(CardTest):
    def test_every_export_reports_no_card(self):
        buffer = (ctypes.c_ubyte * 8)(*([0xA5] * 8))
        for name in TRANSFERS:
            self.assertEqual(getattr(self.dll, name)(vexo.INTMEM_BLOCK0, buffer, 2), 0, name)
        self.assertEqual(list(buffer), [0xA5] * 8)
        for name in LEGACY:
            self.assertEqual(getattr(self.dll, name)(), 0, name)
        self.assertEqual(self.dll.cVexoGetINTA(), -1)
        info = vexo.DeviceInfo(driverInfo=7)
        self.assertEqual(self.dll.cVexoDeviceInfo(ctypes.byref(info)), 0)
        self.assertEqual(info.driverInfo, 7)
        self.assertEqual(self.dll.cVexoPciConfig(), 0)
        self.assertEqual(self.dll.cVexoClose(), 0)

    def test_the_wrapper_raises_naming_the_function(self):
        self.assertFalse(self.card.is_open)
        with self.assertRaises(vexo.VexoError) as caught:
            self.card.read(vexo.INTMEM_BLOCK0, 4)
        self.assertEqual(caught.exception.function, "cVexoReadBlockByte")
        self.assertEqual(caught.exception.result, 0)
        for call in (self.card.device_info, self.card.pci_config, self.card.inta):
            self.assertRaises(vexo.VexoError, call)


class OpeningAndQueries(CardTest):
    def test_open_and_close_through_the_raw_exports(self):
        self.assertEqual(self.dll.cVexoOpen(), 1)
        self.assertEqual(self.dll.cVexoOpen(), 1)  # already open: nothing happens
        for name in LEGACY:
            self.assertEqual(getattr(self.dll, name)(), 1, name)
        self.assertEqual(self.dll.cVexoGetINTA(), 0)
        self.assertEqual(self.dll.cVexoClose(), 1)
        self.assertEqual(self.dll.cVexoClose(), 0)

    def test_the_context_manager_closes_even_on_an_exception(self):
        with self.assertRaises(RuntimeError):
            with vexo.Card(self.dll) as card:
                self.assertTrue(card.is_open)
                raise RuntimeError("stop")
        self.assertFalse(self.card.is_open)

    def test_device_info_and_configuration_word_are_the_cards(self):
        with self.card as card:
            info = card.device_info()
            self.assertEqual(ctypes.sizeof(vexo.DeviceInfo), 28)
            self.assertEqual((info.driverInfo, info.deviceId, info.vendorId),
                             (DRIVER_INFO, 0x2004, 0x10CF))
            self.assertEqual({name: getattr(info, name) for name in BASES}, BASES)
            self.assertEqual(card.pci_config(), CARD_ID)
            self.assertEqual(card.pci_config(), info.deviceId << 16 | info.vendorId)
            self.assertEqual(card.inta(), 0)
            self.assertIn("deviceId=0x2004", repr(info))


class Transfers(CardTest):
    def test_open_wrote_the_set_up_registers(self):
        with self.card as card:
            for address, value in SET_UP_REGISTERS:
                self.assertEqual(little(card.read(address, 1, width=4), 4), [value], hex(address))
                self.assertEqual(little(card.read(address, 2, width=2), 2),
                                 [value & 0xFFFF, value >> 16])

    def test_each_width_writes_what_the_others_read(self):
        pattern = bytes((7 * k + 3) & 0xFF for k in range(64))
        with self.card as card:
            for region in (vexo.INTMEM_BLOCK1, vexo.EXTMEM_START + 0x1000,
                           vexo.io_address(vexo.IO1_AREA, 0x40)):
                for write_width in (1, 2, 4):
                    card.write(region, bytes(64), width=4)
                    card.write(region, pattern, width=write_width)
                    for read_width in (1, 2, 4):
                        self.assertEqual(card.read(region, 64 // read_width, read_width), pattern,
                                         (hex(region), write_width, read_width))

    def test_an_io_range_holds_each_port_on_its_own(self):
        with self.card as card:
            ports = bytes(range(0x80, 0xC0))
            card.write(vexo.io_address(vexo.IO2_AREA, 0x80), ports)
            self.assertEqual(card.read(vexo.io_address(vexo.IO2_AREA, 0x80), 64), ports)
            # The upper half of each 128-address block leads nowhere.
            self.assertEqual(card.read(vexo.IO1_AREA + 0x40, 4), b"\xff" * 4)

    def test_memory_keeps_its_contents_when_the_card_is_closed(self):
        data = os.urandom(256)
        with self.card as card:
            card.write(vexo.EXTMEM_START + 0xFFFF00, data)
        with self.card as card:
            self.assertEqual(card.read(vexo.EXTMEM_START + 0xFFFF00, 256), data)

    def test_addresses_that_lead_nowhere_read_all_ones_and_take_no_writes(self):
        with self.card as card:
            card.write(NOWHERE, b"\x00" * 8)
            self.assertEqual(card.read(NOWHERE, 8), b"\xff" * 8)
            self.assertEqual(card.read(NOWHERE, 2, width=2), b"\xff" * 4)

    def test_failed_transfers_raise_and_keep_the_buffer_as_the_library_leaves_it(self):
        with self.card as card:
            untouched = bytearray(b"\x5a" * 8)
            with self.assertRaises(vexo.VexoError):  # a start that is not accepted
                card.read_into(0x00020000, untouched)
            self.assertEqual(untouched, b"\x5a" * 8)
            card.write(vexo.MAP_LIMIT - 1, b"\x11\x22")
            partly = bytearray(b"\x5a" * 4)
            with self.assertRaises(vexo.VexoError):  # runs past the last address
                card.read_into(vexo.MAP_LIMIT - 1, partly)
            self.assertEqual(partly, b"\x11\x22\x5a\x5a")
            self.assertEqual(card.read(vexo.INTMEM_BLOCK0, 0), b"")  # count 0 at a good start


class Buffers(CardTest):
    def test_writes_take_any_buffer_and_reads_fill_any_writable_one(self):
        address = vexo.INTMEM_BLOCK2
        with self.card as card:
            words = array.array("H", [0x1122, 0x3344, 0x5566, 0x7788])
            sources = [bytes(words), bytearray(words), memoryview(words), words,
                       (ctypes.c_uint16 * 4)(*words)]
            for source in sources:
                card.write(address, bytes(8), width=4)
                card.write(address, source, width=2)
                self.assertEqual(card.read(address, 4, width=2), bytes(words), type(source))
            # A strided view is written as the elements it shows.
            card.write(address, memoryview(b"a-b-c-d-")[::2])
            self.assertEqual(card.read(address, 4), b"abcd")

            into_array = array.array("H", [0] * 4)
            card.write(address, words, width=2)
            card.read_into(address, into_array, width=2)
            self.assertEqual(into_array, words)
            into_ctypes = (ctypes.c_uint32 * 2)()
            card.read_into(address, into_ctypes, width=4)
            self.assertEqual(bytes(into_ctypes), bytes(words))
            window = bytearray(12)
            card.read_into(address, memoryview(window)[2:10])
            self.assertEqual(window, bytes(2) + bytes(words) + bytes(2))

    def test_unusable_arguments_are_refused_before_the_library_is_called(self):
        with self.card as card:
            self.assertRaises(TypeError, card.read_into, vexo.INTMEM_BLOCK0, b"read-only")
            self.assertRaises(ValueError, card.write, vexo.INTMEM_BLOCK0, b"odd", 2)
            self.assertRaises(ValueError, card.read, vexo.INTMEM_BLOCK0, 1, 3)
            # Would be cut to 32 bits, reaching internal memory instead of failing.
            self.assertRaises(ValueError, card.write, 1 << 32, b"\x01")
            self.assertRaises(ValueError, card.read, -1, 1)

    @unittest.skipUnless(sys.maxsize > 2**32, "buffers past 4 GiB need a 64-bit Python")
    def test_counts_past_32_bits_are_refused_before_memory_is_touched(self):
        # A sparse file mapped: a buffer of 2^32 + 16 bytes with nothing behind it.
        size = 2**32 + 16
        with tempfile.TemporaryFile() as backing:
            backing.truncate(size)
            with mmap.mmap(backing.fileno(), size) as mapped, memoryview(mapped) as view:
                with self.card as card:
                    self.assertRaises(ValueError, card.read_into, vexo.EXTMEM_START, view)
                    self.assertRaises(ValueError, card.write, vexo.EXTMEM_START, view)
                    self.assertRaises(ValueError, card.read, vexo.EXTMEM_START, 2**64)


def loaded_library_path():
    vexo.load()
    with open("/proc/self/maps") as maps:
        for line in maps:
            if line.rstrip().endswith("/libVexoDLL.so"):
                return line.split()[-1]
    raise AssertionError("libVexoDLL.so is not mapped")


class Loading(unittest.TestCase):
    SCRIPT = "import vexo; print(vexo.Card().dll._name)"

    def run_python(self, folder, **variables):
        environment = {k: v for k, v in os.environ.items()
                       if k not in ("LD_LIBRARY_PATH", "VEXO_LIBRARY", "PYTHONPATH")}
        environment.update(variables)
        return subprocess.run([sys.executable, "-c", self.SCRIPT], cwd=folder, env=environment,
                              capture_output=True, text=True)

    def test_the_library_beside_the_module_is_found_without_a_search_path(self):
        with tempfile.TemporaryDirectory() as folder:
            shutil.copy(vexo.__file__, folder)
            shutil.copy(loaded_library_path(), folder)
            result = self.run_python(folder)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout.strip(), os.path.join(folder, "libVexoDLL.so"))

    def test_the_variable_names_the_library_to_load(self):
        with tempfile.TemporaryDirectory() as folder:
            shutil.copy(vexo.__file__, folder)
            result = self.run_python(folder, VEXO_LIBRARY="/nonexistent/libVexoDLL.so")
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("/nonexistent/libVexoDLL.so", result.stderr)


if __name__ == "__main__":
    unittest.main()
