"""A small reader for 32-bit PE images: sections, imports, exports and the resource tree."""
import struct


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        self.machine, nsections, _, _, _, optsize, self.characteristics = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", self.data, opt)[0]
        if self.magic != 0x10B:
            raise ValueError("not a 32-bit image")
        ndirs = struct.unpack_from("<I", self.data, opt + 92)[0]
        self.directories = [struct.unpack_from("<II", self.data, opt + 96 + 8 * i)
                            for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            off = opt + optsize + 40 * i
            name = self.data[off:off + 8].rstrip(b"\0").decode()
            vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", self.data, off + 8)
            self.sections.append((name, vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for _, vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rawptr
        raise ValueError("RVA %#x outside every section" % rva)

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("ascii")

    def imports(self):
        """{dll name: [function names or '#ordinal']}"""
        rva, _ = self.directories[1]
        result = {}
        off = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, off)
            if name == 0:
                return result
            funcs = []
            t = self.offset(lookup or thunks)
            while True:
                entry = struct.unpack_from("<I", self.data, t)[0]
                if entry == 0:
                    break
                funcs.append("#%d" % (entry & 0xFFFF) if entry & 0x80000000
                             else self.cstring(entry + 2))
                t += 4
            result[self.cstring(name)] = funcs
            off += 20

    def exports(self):
        """[(ordinal, name or None)]"""
        rva, _ = self.directories[0]
        if rva == 0:
            return []
        off = self.offset(rva)
        base, nfuncs, nnames, funcs, names, ordinals = struct.unpack_from(
            "<IIIIII", self.data, off + 16)
        named = {}
        for i in range(nnames):
            name_rva = struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0]
            index = struct.unpack_from("<H", self.data, self.offset(ordinals) + 2 * i)[0]
            named[index] = self.cstring(name_rva)
        result = []
        for i in range(nfuncs):
            if struct.unpack_from("<I", self.data, self.offset(funcs) + 4 * i)[0]:
                result.append((base + i, named.get(i)))
        return result

    def resources(self):
        """{(type, name, language): bytes}; names and types are ints or strings."""
        rva, _ = self.directories[2]
        root = self.offset(rva)
        result = {}

        def entries(dir_off):
            named, ids = struct.unpack_from("<HH", self.data, dir_off + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, dir_off + 16 + 8 * i)
                if key & 0x80000000:
                    soff = root + (key & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", self.data, soff)[0]
                    key = self.data[soff + 2:soff + 2 + 2 * n].decode("utf-16-le")
                yield key, target

        for rtype, t in entries(root):
            for name, n in entries(root + (t & 0x7FFFFFFF)):
                for lang, leaf in entries(root + (n & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, root + leaf)
                    off = self.offset(data_rva)
                    result[(rtype, name, lang)] = self.data[off:off + size]
        return result


class Reader:
    """Sequential little-endian reads over a byte string."""

    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n):
        self.pos = (self.pos + n - 1) // n * n

    def wstring(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def sz_or_ord(self):
        """A dialog template's name field: ('ord', n) or the string."""
        if struct.unpack_from("<H", self.data, self.pos)[0] == 0xFFFF:
            self.pos += 2
            return ("ord", self.take("H"))
        return self.wstring()
