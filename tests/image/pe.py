"""Minimal PE reader for the image checks: header position and imported DLLs."""
import struct


class PE:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        assert d[:2] == b"MZ", "not an MZ image"
        self.lfanew = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[self.lfanew:self.lfanew + 4] == b"PE\0\0", "no PE signature at e_lfanew"
        self.nsect, = struct.unpack_from("<H", d, self.lfanew + 6)
        self.optsize, = struct.unpack_from("<H", d, self.lfanew + 20)
        self.opt = self.lfanew + 24
        self.magic, = struct.unpack_from("<H", d, self.opt)
        self.pe32plus = self.magic == 0x20B
        self.subsystem, = struct.unpack_from("<H", d, self.opt + 68)
        dd = self.opt + (112 if self.pe32plus else 96)
        self.dirs = [struct.unpack_from("<II", d, dd + 8 * i) for i in range(16)]
        self.sections = []
        s = self.opt + self.optsize
        for i in range(self.nsect):
            name, vsize, va, rsize, rptr = struct.unpack_from("<8sIIII", d, s + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), va, vsize, rptr, rsize))

    def rva_to_off(self, rva):
        for _, va, vsize, rptr, rsize in self.sections:
            if va <= rva < va + max(vsize, rsize):
                return rva - va + rptr
        raise ValueError(f"rva {rva:#x} not in a section")

    def cstr(self, off):
        end = self.data.index(b"\0", off)
        return self.data[off:end].decode("latin-1")

    def imported_dlls(self):
        rva, size = self.dirs[1]
        out = []
        if not rva:
            return out
        off = self.rva_to_off(rva)
        while True:
            ilt, ts, fc, name, iat = struct.unpack_from("<IIIII", self.data, off)
            if not (ilt or name or iat):
                break
            out.append(self.cstr(self.rva_to_off(name)))
            off += 20
        return out

    def has_resource_dir(self):
        return self.dirs[2][0] != 0
