#!/usr/bin/python3
"""vtxserver's configuration file commands through its pipe, judged by a reader and writer of the
format that is not ours (tests/engine/currency/vxcnf.py): exports parsed, crafted files imported,
damaged ones refused with nothing changed, and the import switch answered on a terminal.

Usage: configfile_blackbox.py <vtxserver> <vtxsetup> <source dir>
"""
import os
import pty
import re
import select
import stat
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "engine", "currency"))
import vxcnf  # noqa: E402
from vtxtest import message as head, pipe_request as request, private_store, register_product, wait_for  # noqa: E402

sys.setrecursionlimit(5000)  # the trees of 513 levels are walked recursively

WM_COPYDATA, WM_VX_QUIT = 0x4A, 0x8067
WM_VX_IMPORTSETTINGS, WM_VX_EXPORTSETTINGS = 0x8073, 0x8074
E_INVALIDDATA, E_NEWER, E_NOTFOUND, E_TOOLARGE = 0x8007000D, 0x8004020D, 0x80070002, 0x800700DF
# Names of the application key that belong to the machine, and the language catalogues.
MACHINE = {"path", "filters", "actions", "validators", "server", "logs", "displaymessages", "configurations",
           "webservicesite", "webservicesiteurl", "webservicesitenumber", "webservicesitevirtualdirectory",
           "webserviceaddress", "webserviceport", "webservicepath", "webservicethreads"}


def machine_name(name):
    return name.lower() in MACHINE or re.fullmatch("resources[0-9a-f]{4}", name.lower()) is not None

failures = []


def check(name, got, want):
    if got != want:
        failures.append(f"{name}: got {got!r}, want {want!r}")


def settings_file(pipe, code, path, flag=1):
    # SettingsFileData: the flag, the path with its NUL, three spare bytes (cbData = path + 8).
    payload = struct.pack("<I", flag) + path.encode() + b"\0" + b"\0" * 3
    return request(pipe, head(WM_COPYDATA) + struct.pack("<III", code, len(payload), 0) + payload, timeout=60)


def comparable(key):
    """The tree without the value that every lock of the configuration rewrites, with subkeys in
    the store's order (by name without regard to case)."""
    def ordered(plain):
        return (plain[0], sorted(((n, ordered(k)) for n, k in plain[1]), key=lambda nk: nk[0].upper()))
    values, subkeys = ordered(key.plain())
    return ([v for v in values if v[0] != "LastSaved"], subkeys)


def difference(a, b, path=""):
    """The first difference between two comparable trees, None when they are equal."""
    (va, ka), (vb, kb) = a, b
    for i in range(max(len(va), len(vb))):
        x = va[i] if i < len(va) else None
        y = vb[i] if i < len(vb) else None
        if x != y:
            return "%s: value %d is %r, not %r" % (path or "\\", i, x, y)
    if [n for n, _ in ka] != [n for n, _ in kb]:
        return "%s: subkeys %r, not %r" % (path or "\\", [n for n, _ in ka], [n for n, _ in kb])
    for (name, x), (_, y) in zip(ka, kb):
        d = difference(x, y, path + "\\" + name)
        if d:
            return d
    return None


def same_trees(name, got, want):
    check(name, difference(comparable(got), comparable(want)), None)


def without_machine_names(key):
    return vxcnf.Key("", [v for v in key.values if not machine_name(v[0])],
                     [k for k in key.subkeys if not machine_name(k.name)])


def nested(depth, leaf_value):
    key = vxcnf.Key("k%d" % depth, values=[("v", vxcnf.REG_SZ, vxcnf.sz(leaf_value))])
    for d in range(depth - 1, 0, -1):
        key = vxcnf.Key("k%d" % d, subkeys=[key])
    return key


class Server:
    def __init__(self, program, setup, source, run):
        self.program, self.run = program, run
        self.env = private_store(run, syslog="no-log.sock")
        register_product(run, source, setup, program, self.env)
        self.proc = subprocess.Popen([program], env=self.env, stderr=subprocess.DEVNULL)
        self.pipe = os.path.join(run, "HulvaneVantrexAppPipe")
        if not wait_for(lambda: os.path.exists(self.pipe), 10):
            raise RuntimeError("the pipe never appeared")
        self.files = 0

    def export(self, flag=1, name=None):
        self.files += 1
        path = os.path.join(self.run, name or "export%d" % self.files)
        code = settings_file(self.pipe, WM_VX_EXPORTSETTINGS, path, flag)
        return code, path + (".vx-cnf" if flag and not path.lower().endswith(".vx-cnf") else "")

    def tree(self):
        code, path = self.export()
        if code != 0:
            raise RuntimeError("export failed: 0x%08X" % code)
        return vxcnf.read(open(path, "rb").read())[1]

    def import_bytes(self, data, name="in.vx-cnf"):
        path = os.path.join(self.run, name)
        with open(path, "wb") as f:
            f.write(data)
        return settings_file(self.pipe, WM_VX_IMPORTSETTINGS, path)

    def stop(self):
        request(self.pipe, head(WM_VX_QUIT))
        try:
            return self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return "still running"


def check_exports(server):
    code, path = server.export(name="first")
    check("export", hex(code), "0x0")
    if code != 0:
        return None
    check("extension appended", path.endswith("first.vx-cnf"), True)
    check("export is private", stat.S_IMODE(os.stat(path).st_mode), 0o600)
    data = open(path, "rb").read()
    version, root, declared = vxcnf.read(data)  # raises on any break of the layout
    check("version", version, b"4")
    check("no further header bytes", data[20:24], b"\0\0\0\0")
    names = {n.lower() for n, _, _ in root.values} | {k.name.lower() for k in root.subkeys}
    check("machine names left out", sorted(n for n in names if machine_name(n)), [])
    check("settings exported", "autoupdate" in names and "lastsaved" in names, True)
    for keypath, (longest_key, longest_name, longest_data) in declared.items():
        if keypath:  # below the application key the maxima are exactly the key's own
            key = root
            for part in keypath.split("\\")[1:]:
                key = next(k for k in key.subkeys if k.name == part)
            check("maxima of " + keypath, (longest_key, longest_name, longest_data), key.maxima())
    code, same = server.export(flag=0, name="plain.cfg")
    check("export without the flag keeps the name", (code, os.path.exists(os.path.join(server.run, "plain.cfg"))),
          (0, True))
    return root


def check_imports(server, exported):
    # A file written here: the server's own export with changes, another machine's names, a 512-deep key.
    crafted = without_machine_names(exported)
    crafted.values = [(n, t, vxcnf.dword(3600) if n == "UpdateAtMost" else d) for n, t, d in crafted.values]
    crafted.values += [("Marker", vxcnf.REG_SZ, vxcnf.sz("crafted \u20ac")), ("", vxcnf.REG_BINARY, b"\0\1"),
                       ("Path", vxcnf.REG_SZ, vxcnf.sz("/elsewhere")), ("Resources0407", vxcnf.REG_SZ, vxcnf.sz("x"))]
    crafted.subkeys.append(nested(512, "deep"))
    check("crafted import", server.import_bytes(vxcnf.write(crafted)), 0)
    after = server.tree()
    same_trees("crafted file read back", after, without_machine_names(crafted))

    # Further header bytes are skipped.
    crafted.values.append(("Skipped", vxcnf.REG_DWORD, vxcnf.dword(8)))
    crafted.subkeys.pop()
    check("8 further header bytes", server.import_bytes(vxcnf.write(crafted, further=b"\xee" * 8)), 0)
    baseline = server.tree()
    check("read from offset 32", any(n == "Skipped" for n, _, _ in baseline.values), True)
    check("the deep key is gone", any(k.name == "k1" for k in baseline.subkeys), False)

    def body(*records, maxima=(8, 8, 8)):
        return vxcnf.header() + struct.pack("<IIII", vxcnf.BEGIN, *maxima) + b"".join(records) + struct.pack(
            "<I", vxcnf.END)

    def value(name, data=b"\1\0\0\0", vtype=vxcnf.REG_DWORD, length=None, raw_name=None):
        n = raw_name if raw_name is not None else vxcnf.utf16(name)
        return struct.pack("<IIII", vxcnf.VALUE, vtype, vxcnf.chars(name) if length is None else length,
                           len(data)) + n + data

    good = vxcnf.write(crafted)
    long_key = "k" * 256
    damaged = [
        ("fewer than 24 bytes", good[:20], E_INVALIDDATA),
        ("another magic", good[:1] + b"H" + good[2:], E_INVALIDDATA),
        ("a newer version", good[:18] + b"5" + good[19:], E_NEWER),
        ("further header bytes past the end", good[:20] + b"\xff\xff\xff\xff" + good[24:], E_INVALIDDATA),
        ("the last key end missing", good[:-4], E_INVALIDDATA),
        ("cut inside a value", good[:len(good) // 2], E_INVALIDDATA),
        ("bytes after the end", good + b"\0", E_INVALIDDATA),
        ("a key without its key-begin", vxcnf.header() + value("a"), E_INVALIDDATA),
        ("an unknown tag", body(struct.pack("<I", 7)), E_INVALIDDATA),
        ("a subkey without key-begin",
         body(struct.pack("<II", vxcnf.SUBKEY, 1) + vxcnf.utf16("s") + value("a")), E_INVALIDDATA),
        ("a value name beyond the declared", body(value("LongerName")), E_INVALIDDATA),
        ("value data beyond the declared", body(value("a", b"x" * 9, vxcnf.REG_BINARY)), E_INVALIDDATA),
        ("a 4 GiB value", body(struct.pack("<IIII", vxcnf.VALUE, 3, 1, 0xFFFFFFFF) + vxcnf.utf16("a"),
                                maxima=(8, 8, 0xFFFFFFFF)), E_INVALIDDATA),
        ("a subkey name of length 0",
         body(struct.pack("<II", vxcnf.SUBKEY, 0) + b"\0\0" + vxcnf.records(vxcnf.Key())), E_INVALIDDATA),
        ("a subkey name beyond the declared", vxcnf.write(vxcnf.Key(subkeys=[vxcnf.Key("abc")], declared=(2, 0, 0))),
         E_INVALIDDATA),
        ("a key name of 256 characters", vxcnf.write(vxcnf.Key(subkeys=[vxcnf.Key(long_key)])), E_INVALIDDATA),
        ("a backslash in a key name", vxcnf.write(vxcnf.Key(subkeys=[vxcnf.Key("a\\b")])), E_INVALIDDATA),
        ("a NUL inside a value name", body(value("a\0b")), E_INVALIDDATA),
        ("a name without its NUL", body(value("ab", raw_name=b"a\0b\0c\0")), E_INVALIDDATA),
        ("a value name of 16384 characters",
         vxcnf.write(vxcnf.Key(values=[("n" * 16384, vxcnf.REG_DWORD, vxcnf.dword(1))])), E_INVALIDDATA),
        ("value data over 1 MiB",
         vxcnf.write(vxcnf.Key(values=[("big", vxcnf.REG_BINARY, b"\0" * (1024 * 1024 + 1))])), E_INVALIDDATA),
        ("keys 513 deep", vxcnf.write(vxcnf.Key(subkeys=[nested(513, "too deep")])), E_INVALIDDATA),
    ]
    for name, data, want in damaged:
        check(name, server.import_bytes(data), want)
        same_trees(name + ": nothing changed", server.tree(), baseline)
    # Damaged files are refused whole: a sound first half changes nothing either (checked above).
    big = os.path.join(server.run, "big.vx-cnf")
    with open(big, "wb") as f:
        f.truncate(64 * 1024 * 1024 + 1)
    check("a file over 64 MiB", settings_file(server.pipe, WM_VX_IMPORTSETTINGS, big), E_TOOLARGE)
    check("a missing file", settings_file(server.pipe, WM_VX_IMPORTSETTINGS, os.path.join(server.run, "none")),
          E_NOTFOUND)
    same_trees("after every refusal", server.tree(), baseline)
    return crafted


def answer_on_terminal(server, argument, answer):
    """Runs `vtxserver <argument>` on a terminal, answers its question, returns (output, status)."""
    master, slave = pty.openpty()
    proc = subprocess.Popen([server.program, argument], env=server.env, cwd=server.run, stdin=slave, stdout=slave,
                            stderr=slave, close_fds=True)
    os.close(slave)
    output, answered = b"", False
    deadline = time.time() + 30
    while time.time() < deadline:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal closed with the program
                break
            if not chunk:
                break
            output += chunk
        if not answered and b"(default" in output:
            os.write(master, answer + b"\n")
            answered = True
        if proc.poll() is not None and not ready:
            break
    os.close(master)
    try:
        status = proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        status = "still running"
    return output.decode("utf-8", "replace"), status


def check_import_switch(server, crafted):
    crafted.values = [v for v in crafted.values if v[0] != "Marker"]
    crafted.values.append(("Marker", vxcnf.REG_SZ, vxcnf.sz("from the terminal")))
    with open(os.path.join(server.run, "site.vx-cnf"), "wb") as f:
        f.write(vxcnf.write(crafted))
    whole = os.path.join(os.path.realpath(server.run), "site.vx-cnf")

    def marker():
        return next((d for n, _, d in server.tree().values if n == "Marker"), None)

    output, status = answer_on_terminal(server, "-l:site.vx-cnf", b"n")
    check("no: the question names the whole path", '"%s"' % whole in output, True)
    check("no: exit status", status, 1)
    check("no: said", "the import of %s was cancelled" % whole in output, True)
    check("no: nothing imported", marker(), vxcnf.sz("crafted \u20ac"))
    # Without a terminal nothing is asked and nothing imported, unless /y confirms it.
    r = subprocess.run([server.program, "-l:site.vx-cnf"], env=server.env, cwd=server.run, stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=30)
    check("no terminal: refused", (r.returncode, "no terminal to ask on" in r.stderr, "/y" in r.stderr),
          (1, True, True))
    check("no terminal: nothing imported", marker(), vxcnf.sz("crafted \u20ac"))
    # A name without the extension: the question names the file looked for.
    output, status = answer_on_terminal(server, "-l:site", b"y")
    check("yes: the question", "Import the configuration file" in output and '"%s"' % whole in output, True)
    check("yes: the confirmation", "was imported" in output, True)
    check("yes: exit status", status, 0)
    check("yes: imported", marker(), vxcnf.sz("from the terminal"))
    # A refusal of the running server is told on the terminal with its own text.
    with open(os.path.join(server.run, "new.vx-cnf"), "wb") as f:
        f.write(vxcnf.write(crafted, version=b"5"))
    output, status = answer_on_terminal(server, "/l:new.vx-cnf", b"y")
    check("newer: the server's text", "newer version" in output, True)
    check("newer: exit status", status, 1)  # an import that failed
    # A missing file is named with the extension that was added to it.
    r = subprocess.run([server.program, "-l:/etc/hostname", "-y"], env=server.env, cwd=server.run,
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
    check("missing: named", (r.returncode, "/etc/hostname.vx-cnf was not imported" in r.stderr), (1, True))
    crafted.values = [v for v in crafted.values if v[0] != "Marker"]
    crafted.values.append(("Marker", vxcnf.REG_SZ, vxcnf.sz("confirmed")))
    with open(os.path.join(server.run, "site.vx-cnf"), "wb") as f:
        f.write(vxcnf.write(crafted))
    r = subprocess.run([server.program, "-l:site.vx-cnf", "/y"], env=server.env, cwd=server.run,
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
    check("confirmed: exit status", r.returncode, 0)
    check("confirmed: imported", marker(), vxcnf.sz("confirmed"))


def main():
    program, setup, source = sys.argv[1], sys.argv[2], sys.argv[3]
    # The golden fixture, read by the independent reader: what the C++ test compares our export with.
    golden = vxcnf.from_hex(open(os.path.join(source, "tests/engine/currency/configfile/tiny.vx-cnf.hex")).read())
    version, root, declared = vxcnf.read(golden)
    check("golden tree", (version, root.plain()),
          (b"4", ([("AutoUpdate", 4, vxcnf.dword(1)), ("BaseUnit", 1, vxcnf.sz("EUR"))],
                  [("Servers", ([], [("0", ([("URL", 1, vxcnf.sz("file:/r.txt"))], []))]))])))
    check("golden maxima", declared[""], (7, 10, len(vxcnf.sz("/opt/vantrex"))))

    with tempfile.TemporaryDirectory() as run:
        server = Server(program, setup, source, run)
        try:
            exported = check_exports(server)
            if exported is None:
                raise RuntimeError("no export")
            crafted = check_imports(server, exported)
            check_import_switch(server, crafted)
        except Exception as e:  # the checks so far are reported with it
            failures.append("stopped: %r" % e)
        finally:
            check("server exit", server.stop(), 0)

    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
