"""Opens the card, shows what it reports, and writes and reads back a pattern in the first
block of internal memory and in the first words of external memory.

    python example.py                          (on Windows: a 32-bit Python 3, with VexoDLL.dll
                                                beside vexo.py or this file)
    wine C:/path/to/python.exe example.py      (on Linux: a 32-bit Windows Python 3 under Wine,
                                                with the simulated card)

Python 3 runs on Windows XP and later, not on Windows 95, 98 or Me: the last Python for those is
2.5, which cannot import vexo.py. docs/bindings.md says what to do there.
"""
import array
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vexo  # noqa: E402  (found beside this example)


def main():
    with vexo.Card() as card:
        info = card.device_info()
        print("card %04X:%04X, internal memory at 0x%08X, external at 0x%08X, I/O at 0x%X and 0x%X"
              % (info.vendorId, info.deviceId, info.intMemBase, info.extMemBase, info.io1Base,
                 info.io2Base))

        pattern = bytes(range(vexo.INTMEM_BLOCK_SIZE))
        card.write(vexo.INTMEM_BLOCK0, pattern)
        ok = card.read(vexo.INTMEM_BLOCK0, len(pattern)) == pattern

        words = array.array("I", [0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x4B5A6978])
        card.write(vexo.EXTMEM_START, words, width=4)
        back = array.array("I", bytes(len(words) * words.itemsize))
        card.read_into(vexo.EXTMEM_START, back, width=4)
        ok = ok and back == words

    print("Both patterns read back correctly" if ok else "A pattern did NOT read back")
    return 0 if ok else 1


# Where the library cannot be, what to do instead.
ON_LINUX = """VexoDLL.dll is a 32-bit Windows DLL and the kit has no library for Linux. On Linux, run
this example under Wine with a 32-bit Windows Python: set up Wine and the simulated card as
docs/without-a-card.md says, copy VexoDLL.dll (bin/) beside vexo.py and sim/vexolite.vxd into
the prefix's system folder, then run 'wine C:/path/to/python.exe example.py' with the path of
that Python's python.exe. docs/bindings.md has the details."""


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (vexo.VexoError, OSError) as error:  # a failed call, or no library to load
        print("Failed: %s" % error)
        if isinstance(error, OSError) and os.name != "nt":
            print(ON_LINUX)
        sys.exit(1)
