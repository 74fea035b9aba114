#!/usr/bin/env python3
"""Reads and finishes the PE images the Windows builds ship, without Windows tools.

  pe_image.py show IMAGE
      One fact a line, for the image checks:
        size FILE_BYTES IMAGE_BYTES        the file, and SizeOfImage in memory
        checksum STORED COMPUTED           the header's CheckSum and the file's own
        symbols N                          COFF symbols left in the file
        section NAME VSIZE RAWSIZE FLAGS   FLAGS: code,data,bss,execute,read,write,discardable
        directory NAME RVA SIZE            the data directories in use
        codeview GUID AGE PDB              the CodeView (RSDS) record that names the image's PDB
        characteristics DLL_FLAGS ALIGN    DllCharacteristics (hex) and SectionAlignment
        unwind FUNCTIONS ok|PROBLEM        x64: the exception directory's RUNTIME_FUNCTION
                                           entries, each over code, its unwind information
                                           (version 1 or 2) in read-only data
        resource TYPE NAME LANGUAGE SIZE   each resource (numbers, or names as they are)
  pe_image.py resource IMAGE TYPE NAME
      Writes the data of that resource (the first language found) to the output.
  pe_image.py version IMAGE
      The version resource (VS_VERSIONINFO), one fact a line:
        fixed FILE_VERSION PRODUCT_VERSION OS TYPE SUBTYPE   VS_FIXEDFILEINFO (numbers in hex)
        string TABLE KEY VALUE                               StringFileInfo, TABLE as "040904B0"
        translation LANGUAGE CODEPAGE                        VarFileInfo (hex)
  pe_image.py messages IMAGE
      The message table (RT_MESSAGETABLE): "message ID TEXT" a line, the ID in hex, the
      text on one line.
  pe_image.py layout IMAGE
      Where things lie, as relative addresses (hex), for the symbol checks:
        entry RVA                          AddressOfEntryPoint
        section INDEX NAME RVA VSIZE       INDEX counts from 1, as a PDB's section numbers do
        export NAME RVA                    each named export
  pe_image.py finish IMAGE [SECTION...]
      Marks the named sections discardable (IMAGE_SCN_MEM_DISCARDABLE) and writes the
      header's CheckSum, which the kernel's loader checks for drivers.
"""
import struct
import sys

SCN_FLAGS = [
    (0x00000020, "code"),
    (0x00000040, "data"),
    (0x00000080, "bss"),
    (0x02000000, "discardable"),
    (0x20000000, "execute"),
    (0x40000000, "read"),
    (0x80000000, "write"),
]
SCN_MEM_DISCARDABLE = 0x02000000
DIRECTORIES = ["export", "import", "resource", "exception", "security", "basereloc", "debug",
               "architecture", "globalptr", "tls", "loadconfig", "boundimport", "iat",
               "delayimport", "clr", "reserved"]


class Image:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = bytearray(f.read())
        d = self.data
        if d[:2] != b"MZ":
            raise SystemExit(f"{path}: not a PE image")
        self.pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[self.pe:self.pe + 4] != b"PE\0\0":
            raise SystemExit(f"{path}: not a PE image")
        coff = self.pe + 4
        (_, self.nsections, _, self.symtab, self.nsymbols, optsize, _) = struct.unpack_from(
            "<HHIIIHH", d, coff)
        self.opt = coff + 20
        magic = struct.unpack_from("<H", d, self.opt)[0]
        self.pe32plus = magic == 0x20B
        self.checksum_at = self.opt + 64
        self.size_of_image = struct.unpack_from("<I", d, self.opt + 56)[0]
        dirs_at = self.opt + (112 if self.pe32plus else 96)
        count = struct.unpack_from("<I", d, dirs_at - 4)[0]
        self.directories = [struct.unpack_from("<II", d, dirs_at + 8 * i) for i in range(count)]
        self.sections_at = self.opt + optsize
        self.entry = struct.unpack_from("<I", d, self.opt + 16)[0]
        self.section_alignment = struct.unpack_from("<I", d, self.opt + 32)[0]
        self.dll_characteristics = struct.unpack_from("<H", d, self.opt + 70)[0]

    def section_name(self, raw):
        name = raw.rstrip(b"\0").decode("latin-1")
        # A long name is "/offset" into the string table after the symbols.
        if name.startswith("/") and self.symtab:
            strings = self.symtab + 18 * self.nsymbols
            start = strings + int(name[1:])
            end = self.data.index(b"\0", start)
            name = self.data[start:end].decode("latin-1")
        return name

    def sections(self):
        for i in range(self.nsections):
            at = self.sections_at + 40 * i
            name = self.section_name(bytes(self.data[at:at + 8]))
            vsize, _, rawsize, rawptr = struct.unpack_from("<IIII", self.data, at + 8)
            flags = struct.unpack_from("<I", self.data, at + 36)[0]
            yield at, name, vsize, rawsize, rawptr, flags

    def file_offset(self, rva):
        for i in range(self.nsections):
            at = self.sections_at + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", self.data, at + 8)
            if va <= rva < va + max(vsize, rawsize):
                return rawptr + rva - va
        raise SystemExit(f"{self.path}: RVA 0x{rva:X} lies in no section")

    def section_rvas(self):
        for i in range(self.nsections):
            at = self.sections_at + 40 * i
            vsize, va = struct.unpack_from("<II", self.data, at + 8)
            yield self.section_name(bytes(self.data[at:at + 8])), va, vsize

    def codeview(self):
        """(GUID text, age, PDB name) of the debug directory's RSDS record, or None."""
        if len(self.directories) <= 6 or not self.directories[6][0]:
            return None
        rva, size = self.directories[6]
        at = self.file_offset(rva)
        for entry in range(at, at + size, 28):
            kind, data_size, _, pointer = struct.unpack_from("<IIII", self.data, entry + 12)
            if kind != 2 or self.data[pointer:pointer + 4] != b"RSDS":
                continue
            d1, d2, d3 = struct.unpack_from("<IHH", self.data, pointer + 4)
            rest = bytes(self.data[pointer + 12:pointer + 20]).hex().upper()
            age = struct.unpack_from("<I", self.data, pointer + 20)[0]
            name = bytes(self.data[pointer + 24:pointer + data_size]).split(b"\0")[0].decode()
            return f"{{{d1:08X}-{d2:04X}-{d3:04X}-{rest[:4]}-{rest[4:]}}}", age, name
        return None

    def section_flags(self, rva):
        for i in range(self.nsections):
            at = self.sections_at + 40 * i
            vsize, va = struct.unpack_from("<II", self.data, at + 8)
            if va <= rva < va + vsize:
                return struct.unpack_from("<I", self.data, at + 36)[0]
        return 0

    def unwind(self):
        """(RUNTIME_FUNCTION entries, "ok" or what is wrong) of an x64 image, or None."""
        if not self.pe32plus:
            return None
        if len(self.directories) <= 3 or not self.directories[3][0]:
            return 0, "no exception directory"
        rva, size = self.directories[3]
        at = self.file_offset(rva)
        count = size // 12
        for i in range(count):
            begin, end, info = struct.unpack_from("<III", self.data, at + 12 * i)
            code = self.section_flags(begin)
            if not code & 0x20000000 or end <= begin or self.section_flags(end - 1) != code:
                return count, f"function 0x{begin:X}-0x{end:X} is not code"
            info &= ~1  # a chained entry points at its parent's with bit 0 set
            flags = self.section_flags(info)
            if not flags & 0x40000000 or flags & 0xA0000000:
                return count, f"unwind information of 0x{begin:X} at 0x{info:X} is not read-only data"
            if self.data[self.file_offset(info)] & 7 not in (1, 2):
                return count, f"unwind information of 0x{begin:X} has version {self.data[self.file_offset(info)] & 7}"
        return count, "ok" if count else "no functions"

    def exports(self):
        if not self.directories or not self.directories[0][0]:
            return
        at = self.file_offset(self.directories[0][0])
        (_, _, _, _, _, _, _, names, address_table, name_table,
         ordinal_table) = struct.unpack_from("<IIHHIIIIIII", self.data, at)
        for i in range(names):
            name_rva = struct.unpack_from("<I", self.data, self.file_offset(name_table) + 4 * i)[0]
            ordinal = struct.unpack_from("<H", self.data, self.file_offset(ordinal_table) + 2 * i)[0]
            rva = struct.unpack_from("<I", self.data, self.file_offset(address_table) + 4 * ordinal)[0]
            start = self.file_offset(name_rva)
            yield self.data[start:self.data.index(b"\0", start)].decode(), rva

    def resources(self):
        """(type, name, language, data) for each resource: numbers, or names as text."""
        if len(self.directories) <= 2 or not self.directories[2][0]:
            return
        base = self.file_offset(self.directories[2][0])
        d = self.data

        def entries(offset):
            named, ids = struct.unpack_from("<HH", d, base + offset + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", d, base + offset + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", d, at)[0]
                    name = d[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        for rtype, types in entries(0):
            for name, names in entries(types & 0x7FFFFFFF):
                for language, leaf in entries(names & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", d, base + leaf)
                    at = self.file_offset(rva)
                    yield rtype, name, language, bytes(d[at:at + size])

    def computed_checksum(self):
        d, skip, total = self.data, self.checksum_at, 0
        for i in range(0, len(d) - 1, 2):
            if i in (skip, skip + 2):
                continue
            total += d[i] | d[i + 1] << 8
            total = (total & 0xFFFF) + (total >> 16)
        if len(d) % 2:
            total += d[-1]
            total = (total & 0xFFFF) + (total >> 16)
        return ((total & 0xFFFF) + (total >> 16) + len(d)) & 0xFFFFFFFF


RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


def version_blocks(data, at, end):
    """(key, value bytes, value type, children offset, end) of each block from `at` to `end`."""
    while at + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        # A text value's length counts characters, a binary one's bytes.
        value_bytes = value_length * 2 if value_type == 1 else value_length
        children = (value_at + value_bytes + 3) & ~3
        yield key, data[value_at:value_at + value_bytes], value_type, children, at + length
        at = (at + length + 3) & ~3


def dotted(ms, ls):
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def version(image):
    found = [data for rtype, name, _, data in image.resources() if rtype == RT_VERSION and name == 1]
    if not found:
        raise SystemExit(f"{image.path}: no version resource")
    data = found[0]
    for key, value, _, children, end in version_blocks(data, 0, len(data)):
        if key != "VS_VERSION_INFO" or len(value) < 52:
            raise SystemExit(f"{image.path}: the version resource is no VS_VERSIONINFO")
        (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, os_, ftype,
         subtype) = struct.unpack_from("<11I", value, 0)
        if signature != FIXED_SIGNATURE:
            raise SystemExit(f"{image.path}: VS_FIXEDFILEINFO has no signature")
        print(f"fixed {dotted(file_ms, file_ls)} {dotted(product_ms, product_ls)} "
              f"0x{os_:X} 0x{ftype:X} 0x{subtype:X}")
        for block, _, _, block_children, block_end in version_blocks(data, children, end):
            for table, value, _, table_children, table_end in version_blocks(data, block_children, block_end):
                if block == "StringFileInfo":
                    for name, text, _, _, _ in version_blocks(data, table_children, table_end):
                        print(f"string {table} {name} {text.decode('utf-16-le').rstrip(chr(0))}")
                elif block == "VarFileInfo" and table == "Translation":
                    for i in range(0, len(value) - 3, 4):
                        language, codepage = struct.unpack_from("<HH", value, i)
                        print(f"translation {language:04X} {codepage:04X}")
        return


def show(image):
    print(f"size {len(image.data)} {image.size_of_image}")
    stored = struct.unpack_from("<I", image.data, image.checksum_at)[0]
    print(f"checksum 0x{stored:08X} 0x{image.computed_checksum():08X}")
    print(f"symbols {image.nsymbols}")
    for _, name, vsize, rawsize, _, flags in image.sections():
        text = ",".join(word for bit, word in SCN_FLAGS if flags & bit) or "-"
        print(f"section {name} 0x{vsize:X} 0x{rawsize:X} {text}")
    for i, (rva, size) in enumerate(image.directories):
        if rva or size:
            print(f"directory {DIRECTORIES[i]} 0x{rva:X} 0x{size:X}")
    for rtype, name, language, data in image.resources():
        print(f"resource {rtype} {name} {language} {len(data)}")
    print(f"characteristics 0x{image.dll_characteristics:04X} 0x{image.section_alignment:X}")
    unwind = image.unwind()
    if unwind:
        print("unwind %d %s" % unwind)
    codeview = image.codeview()
    if codeview:
        print("codeview %s %d %s" % codeview)


RT_MESSAGETABLE = 11


def messages(image):
    found = [data for rtype, name, _, data in image.resources() if rtype == RT_MESSAGETABLE and name == 1]
    if not found:
        raise SystemExit(f"{image.path}: no message table")
    data = found[0]
    blocks = struct.unpack_from("<I", data, 0)[0]
    for b in range(blocks):
        low, high, at = struct.unpack_from("<III", data, 4 + 12 * b)
        for message in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, at)
            raw = data[at + 4:at + length]
            text = raw.decode("utf-16-le" if flags & 1 else "cp1252").rstrip("\0")
            print(f"message 0x{message:08X} {' '.join(text.split())}")
            at += length


def layout(image):
    print(f"entry 0x{image.entry:X}")
    for index, (name, rva, vsize) in enumerate(image.section_rvas(), 1):
        print(f"section {index} {name} 0x{rva:X} 0x{vsize:X}")
    for name, rva in image.exports():
        print(f"export {name} 0x{rva:X}")


def finish(image, discard):
    found = set()
    for at, name, _, _, _, flags in image.sections():
        if name in discard:
            struct.pack_into("<I", image.data, at + 36, flags | SCN_MEM_DISCARDABLE)
            found.add(name)
    missing = set(discard) - found
    if missing:
        raise SystemExit(f"{image.path}: no section {' '.join(sorted(missing))}")
    struct.pack_into("<I", image.data, image.checksum_at, image.computed_checksum())
    with open(image.path, "wb") as f:
        f.write(image.data)


def main(argv):
    if len(argv) >= 3 and argv[1] == "show":
        show(Image(argv[2]))
    elif len(argv) == 5 and argv[1] == "resource":
        for rtype, name, _, data in Image(argv[2]).resources():
            if str(rtype) == argv[3] and str(name) == argv[4]:
                sys.stdout.buffer.write(data)
                return
        raise SystemExit(f"{argv[2]}: no resource {argv[3]} {argv[4]}")
    elif len(argv) == 3 and argv[1] == "messages":
        messages(Image(argv[2]))
    elif len(argv) == 3 and argv[1] == "layout":
        layout(Image(argv[2]))
    elif len(argv) == 3 and argv[1] == "version":
        version(Image(argv[2]))
    elif len(argv) >= 3 and argv[1] == "finish":
        finish(Image(argv[2]), argv[3:])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
