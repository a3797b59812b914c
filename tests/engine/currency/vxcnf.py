#!/usr/bin/python3
"""The configuration file (".vx-cnf") read and written from its published layout, independently of
the system's own code: a 24-byte header, then tagged records, all numbers u32 little-endian.

    header: 0x89 "hulvane.vxcnf" 0D 0A 1A 0A | version '4' | 0 | u32 further header bytes
    2 key begin: longest subkey name (chars), longest value name (chars), longest value data (bytes)
    1 value:     type, name length (chars), data length, name UTF-16LE + NUL, data
    0 subkey:    name length (chars, not 0), name UTF-16LE + NUL, then the subkey's own records
    3 key end

Used as a module by the tests, or: vxcnf.py dump FILE | vxcnf.py hex FILE (annotated hex).
"""
import struct
import sys

MAGIC = b"\x89hulvane.vxcnf\r\n\x1a\n"
SUBKEY, VALUE, BEGIN, END = 0, 1, 2, 3
REG_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 3, 4, 7, 11


class Damaged(Exception):
    pass


class Key:
    """A key: values in order as (name, type, data bytes), subkeys in order as Key objects.
    `declared` overrides the three maxima of the key-begin record (for crafting damaged files)."""

    def __init__(self, name="", values=None, subkeys=None, declared=None):
        self.name = name
        self.values = list(values or [])
        self.subkeys = list(subkeys or [])
        self.declared = declared

    def maxima(self):
        if self.declared is not None:
            return self.declared
        return (max((chars(k.name) for k in self.subkeys), default=0),
                max((chars(n) for n, _, _ in self.values), default=0),
                max((len(d) for _, _, d in self.values), default=0))

    def plain(self):
        """Comparable form: (values, {subkey name: plain}) with names as given."""
        return ([(n, t, bytes(d)) for n, t, d in self.values], [(k.name, k.plain()) for k in self.subkeys])


def utf16(name):
    return name.encode("utf-16-le") + b"\0\0"


def chars(name):
    return len(name.encode("utf-16-le")) // 2


def sz(text):
    """REG_SZ data: UTF-16LE with its NUL."""
    return text.encode("utf-16-le") + b"\0\0"


def dword(v):
    return struct.pack("<I", v)


def header(version=b"4", further=b""):
    return MAGIC + version + b"\0" + struct.pack("<I", len(further)) + further


def records(key):
    out = struct.pack("<IIII", BEGIN, *key.maxima())
    for name, vtype, data in key.values:
        out += struct.pack("<IIII", VALUE, vtype, chars(name), len(data)) + utf16(name) + data
    for sub in key.subkeys:
        out += struct.pack("<II", SUBKEY, chars(sub.name)) + utf16(sub.name) + records(sub)
    return out + struct.pack("<I", END)


def write(key, version=b"4", further=b""):
    return header(version, further) + records(key)


class _In:
    def __init__(self, data, pos):
        self.data, self.pos = data, pos

    def take(self, n):
        if self.pos + n > len(self.data):
            raise Damaged("the file ends inside a record at %d" % self.pos)
        b = self.data[self.pos:self.pos + n]
        self.pos += n
        return b

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def name(self, length):
        raw = self.take(2 * length + 2)
        if raw[-2:] != b"\0\0":
            raise Damaged("a name without its NUL at %d" % self.pos)
        return raw[:-2].decode("utf-16-le", "surrogatepass")


def read(data):
    """(version character, root Key, maxima per key path) of a whole file; Damaged when it breaks
    the layout; the version is returned, not judged."""
    if len(data) < 24 or data[:18] != MAGIC:
        raise Damaged("not a configuration file")
    version = data[18:19]
    further = struct.unpack("<I", data[20:24])[0]
    src = _In(data, 24)
    src.take(further)
    declared = {}

    def key(name, path):
        if src.u32() != BEGIN:
            raise Damaged("a key that does not start with its key-begin record: " + path)
        longest_key, longest_name, longest_data = src.u32(), src.u32(), src.u32()
        declared[path] = (longest_key, longest_name, longest_data)
        k = Key(name)
        while True:
            tag = src.u32()
            if tag == VALUE:
                vtype, length, size = src.u32(), src.u32(), src.u32()
                if length > longest_name or size > longest_data:
                    raise Damaged("a value beyond its key's declared longest: " + path)
                k.values.append((src.name(length), vtype, src.take(size)))
            elif tag == SUBKEY:
                length = src.u32()
                if length == 0 or length > longest_key:
                    raise Damaged("a subkey name of length %d in %s" % (length, path))
                sub = src.name(length)
                k.subkeys.append(key(sub, path + "\\" + sub))
            elif tag == END:
                return k
            else:
                raise Damaged("unknown tag %d in %s" % (tag, path))

    root = key("", "")
    if src.pos != len(data):
        raise Damaged("bytes after the application key's end")
    return version, root, declared


def from_hex(text):
    """Bytes of an annotated hex fixture: '#' starts a comment, blanks separate."""
    return bytes.fromhex("".join(line.split("#", 1)[0] for line in text.splitlines()).replace(" ", ""))


def dump(key, indent=""):
    for name, vtype, data in key.values:
        print("%s%r type %d: %s" % (indent, name, vtype, data.hex()))
    for sub in key.subkeys:
        print("%s[%s]" % (indent, sub.name))
        dump(sub, indent + "  ")


def annotated_hex(data):
    """The file as hex, one record a line, with what each record is."""
    lines = ["%s  # magic" % data[:18].hex(" "), "%s  # version, 0, further header bytes" % data[18:24].hex(" ")]
    src = _In(data, 24)
    src.take(struct.unpack("<I", data[20:24])[0])
    depth = 0  # a subkey's records are indented below its subkey record
    while src.pos < len(data):
        start, indent = src.pos, depth
        tag = src.u32()
        if tag == BEGIN:
            src.take(12)
            note = "key begin"
        elif tag == VALUE:
            vtype, length, size = src.u32(), src.u32(), src.u32()
            note = "value %r type %d" % (src.name(length), vtype)
            src.take(size)
        elif tag == SUBKEY:
            note = "subkey %r" % src.name(src.u32())
            depth += 1
        else:
            note = "key end"
            depth -= 1
        lines.append("%s%s  # %s" % ("  " * indent, data[start:src.pos].hex(" "), note))
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    blob = open(sys.argv[2], "rb").read()
    if sys.argv[1] == "hex":
        sys.stdout.write(annotated_hex(blob))
    else:
        v, tree, _ = read(blob)
        print("version", v)
        dump(tree)
