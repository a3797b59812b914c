#!/usr/bin/python3
"""The product as an operator installs it, with the units run by a real systemd as PID 1 in
private namespaces: vtxsetup, then -RegServerStartService of both services; the three units
active, the services under the product's account, the store and the display-messages file with
their owners and modes, the server's pipe, a web service call, a screen notice in the display file,
the sandbox's exposure scores, a killed vtxservice, and stops within their limits.

Usage: systemd_units.py <cmake> <build dir> <source dir>
"""
import os
import re
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from systemdns import NamespaceError, SystemdNamespace  # noqa: E402
from vtxtest import account_command, remove_account, wait_for  # noqa: E402

WM_VX_PING = 0x806F
UNITS = ["hulvane-vantrex.service", "hulvane-vantrex-web.service", "hulvane-vantrex-messenger.service"]
VERSION_CALL = ('<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
                '<Version xmlns="urn:hulvane:vantrex:webservice:4.0/"/></s:Body></s:Envelope>')

failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")
    return ok


class EventLog:
    """The event log's socket: every entry that arrives."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(path)
        os.chmod(path, 0o666)  # the services write as the product's account
        self.sock.settimeout(0.2)
        self.entries = []
        self.open = True
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while self.open:
            try:
                self.entries.append(self.sock.recv(65536).decode("utf-8", "replace"))
            except socket.timeout:
                pass
            except OSError:
                return

    def has(self, text):
        return any(text in e for e in self.entries)

    def close(self):
        self.open = False
        self.thread.join()
        self.sock.close()


def pipe_ask(ns, pipe, request, timeout=10, prefix=()):
    """One request to a pipe inside the namespace (`prefix` runs the client under another
    account): the 32-bit reply, or None."""
    script = ("import socket,struct,sys\n"
              "s=socket.socket(socket.AF_UNIX);s.settimeout(%d);s.connect(sys.argv[1])\n"
              "s.sendall(bytes.fromhex(sys.argv[2]));r=b''\n"
              "while len(r)<4:\n c=s.recv(4-len(r))\n if not c: break\n r+=c\n"
              "print(struct.unpack('<I',r)[0] if len(r)==4 else 'none')\n") % timeout
    r = ns.run(list(prefix) + ["/usr/bin/python3", "-c", script, pipe, request.hex()], check=False,
               timeout=timeout + 10)
    out = r.stdout.strip()
    return int(out) if out.isdigit() else None


def exposure(ns, unit):
    out = ns.run(["systemd-analyze", "security", "--no-pager", unit], check=False).stdout
    m = re.search(r"Overall exposure level for \S+: ([0-9.]+)", out)
    return float(m.group(1)) if m else None


def timed_stop(ns, unit):
    begin = time.monotonic()
    r = ns.systemctl("stop", unit, timeout=200)
    return time.monotonic() - begin, r.returncode


def main(cmake, build, source):
    root = tempfile.mkdtemp(prefix="vtxsd-", dir=build)  # not under /tmp: the units' /tmp is their own
    os.chmod(root, 0o755)
    account = "vtxs%d" % (os.getpid() % 100000)
    remove_account(account)
    product = os.path.join(root, "product")
    subprocess.run([cmake, "--install", build, "--prefix", product], check=True, stdout=subprocess.DEVNULL)
    log = EventLog(os.path.join(root, "log.sock"))
    data = os.path.join(root, "data")
    env = {
        "PATH": "/usr/sbin:/usr/bin:/sbin:/bin",
        "VANTREX_REGISTRY": os.path.join(data, "registry.db"),
        "VANTREX_APPDATA": os.path.join(root, "appdata"),
        "VANTREX_SYSLOG_SOCKET": os.path.join(root, "log.sock"),
        # The namespace's /etc is the host's: the logon service goes here instead.
        "VANTREX_PAM_DIR": os.path.join(root, "pam.d"),
        "VANTREX_ACCOUNT": account,
        "ASAN_OPTIONS": "detect_leaks=0",
    }
    ns = SystemdNamespace(log_path=os.path.join(root, "systemd.log"))
    try:
        ns.start()
    except NamespaceError as e:
        print(f"FAIL the namespace for systemd: {e}", file=sys.stderr)
        log.close()
        shutil.rmtree(root, ignore_errors=True)
        return 1
    try:
        scenario(ns, env, product, data, account, log, source)
    finally:
        ns.stop()
        log.close()
        remove_account(account)
        shutil.rmtree(root, ignore_errors=True)
    for f in failures:
        print("FAIL", f, file=sys.stderr)
    print(f"{0 if failures else 1} passed, {len(failures)} failed")
    return 1 if failures else 0


def operate(ns, env, product, account, uid, gid, feed):
    """The README's day-two commands under the running units, as root, as a member of the product's
    group and as an account outside it, each with its own rights (numeric ids)."""
    ctl = os.path.join(product, "vtxctl")
    folder = os.path.dirname(product)
    member = account + "m"
    remove_account(member)
    if not check("a member account", account_command(["useradd", "-M", "-N", "-G", account, member])):
        return
    try:
        member_uid = int(subprocess.run(["id", "-u", member], stdout=subprocess.PIPE, text=True).stdout)
        as_member = ["setpriv", f"--reuid={member_uid}", "--regid=65534", f"--groups={gid}"]
        as_outsider = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]

        def run(argv, who=()):
            r = ns.run(list(who) + argv, env=env, check=False, timeout=120, input="")
            return r.returncode, r.stdout

        def sources():
            return re.findall(r"^(?:data sources:)? +\d+\. (\S+)", run([ctl, "status"])[1], re.M)

        status, out = run([ctl, "status"])
        check("vtxctl status", status == 0 and re.search(r"^server: +running", out, re.M) and sources() == [feed],
              out)
        status, out = run([ctl, "update"])
        check("vtxctl update", (status, out.strip()) == (0, "update succeeded"), out)
        status, out = run([ctl, "status"])
        check("status after the update", status == 0 and "rates accepted:    never" not in out
              and re.search(r"^last run: .*succeeded", out, re.M) and "automatic updates: on" in out, out)
        status, out = run([ctl, "logs"])
        check("vtxctl logs", status == 0 and out.strip() == os.path.join(env["VANTREX_APPDATA"], "Hulvane", "Vantrex",
                                                                          "Logs"), out)

        # Backup and restore as root, in a folder only root may enter (the server's account may not).
        home = os.path.join(folder, "root-home")
        os.mkdir(home, 0o700)
        backup = os.path.join(home, "vantrex")
        status, out = run([ctl, "export", backup])
        st = os.stat(backup + ".vx-cnf") if os.path.exists(backup + ".vx-cnf") else None
        check("root's export", status == 0 and st and (st.st_uid, stat.S_IMODE(st.st_mode)) == (0, 0o600),
              (out, st and (st.st_uid, oct(st.st_mode))))
        status, out = run([os.path.join(product, "vtxsetup"), product, "--source", feed + "?second", "eurfeed.ini",
                           "--source", feed, "eurfeed.ini"])
        check("a second source", status == 0 and sources() == [feed + "?second", feed], out)
        status, out = run([ctl, "import", backup + ".vx-cnf"])
        check("root's import", status == 0 and sources() == [feed], out)
        # The import switch of the server program takes the same way; without a terminal and without
        # /y it imports nothing and says so with its status.
        status, out = run([os.path.join(product, "vtxserver"), "-l:" + backup])
        check("vtxserver -l without a terminal", status == 1 and "/y" in out, out)
        status, out = run([os.path.join(product, "vtxserver"), "-l:" + backup, "/y"])
        check("vtxserver -l /y as root", status == 0, out)

        # A member of the group: its own files, with its own rights; root's are closed to it.
        own = os.path.join(folder, "member-home")
        os.mkdir(own, 0o700)
        os.chown(own, member_uid, 65534)
        status, out = run([ctl, "export", os.path.join(own, "mine")], as_member)
        mine = os.path.join(own, "mine.vx-cnf")
        st = os.stat(mine) if os.path.exists(mine) else None
        check("a member's export", status == 0 and st and (st.st_uid, stat.S_IMODE(st.st_mode)) == (member_uid, 0o600),
              (out, st and (st.st_uid, oct(st.st_mode))))
        status, out = run([ctl, "import", mine], as_member)
        check("a member's import", status == 0 and "imported" in out and sources() == [feed], out)
        status, out = run([ctl, "import", backup], as_member)
        check("a member's import of root's file", status == 1 and "0x80070005" in out, out)
        damaged = os.path.join(own, "damaged.vx-cnf")
        with open(damaged, "wb") as f:
            f.write(b"\x89hulvane.vxcnf\r\n\x1a\n4\0\0\0\0\0\2")
        os.chown(damaged, member_uid, 65534)
        status, out = run([ctl, "import", damaged], as_member)
        check("a member's import of a damaged file", status == 1 and "0x8007000D" in out and sources() == [feed], out)
        status, out = run([os.path.join(product, "vtxsetup"), product, "--schedule", "1800", "43200"], as_member)
        check("a member's vtxsetup", status == 0 and "at most every 1800 s" in run([ctl, "status"])[1], out)
        status, out = run([ctl, "update"], as_member)
        check("a member's update", status == 0, out)
        status, out = run([ctl, "status"], as_member)
        check("a member's status", status == 0 and re.search(r"^server: +running", out, re.M), out)
        status, out = run([os.path.join(product, "vtxrates")], as_member)
        check("a member's vtxrates", status == 0 and "USD" in out, out)
        reply = pipe_ask(ns, "/run/vantrex/HulvaneVantrexSvcPipe", struct.pack("<III", 3, 0, 0), prefix=as_member)
        check("the service's pipe for a member", reply == 1, reply)

        # An account outside the group is refused, and told why.
        status, out = run([ctl, "update"], as_outsider)
        check("an outsider's update", status == 1 and "may not use the server's pipe" in out
              and "not running" not in out, out)
        status, out = run([ctl, "export", "/tmp/x"], as_outsider)
        check("an outsider's export", status == 1 and "may not use the server's pipe" in out, out)
        status, out = run([ctl, "status"], as_outsider)
        check("an outsider's status", status == 1 and "may not be read by this account" in out, out)
        status, out = run([os.path.join(product, "vtxrates")], as_outsider)
        check("an outsider's vtxrates", status == 1, out)
        reply = pipe_ask(ns, "/run/vantrex/HulvaneVantrexSvcPipe", struct.pack("<III", 3, 0, 0), prefix=as_outsider)
        check("the service's pipe for an outsider", reply is None, reply)
    finally:
        remove_account(member)


def scenario(ns, env, product, data, account, log, source):
    # The data source and the currency definitions as local copies that the server's account may read.
    samples = os.path.join(os.path.dirname(product), "samples")
    os.mkdir(samples)
    for name in ("eurofxref.html", "definitions.txt"):
        shutil.copy(os.path.join(source, "resources", "samples", name), samples)
    # The sanitizer's leak check cannot run in the sandbox (no ptrace): off for these builds only.
    # The definitions' address goes into a drop-in, as the README has it.
    for unit in UNITS:
        extra = f"Environment=VANTREX_DEFINITIONS_URL=file://{samples}/definitions.txt\\n" if unit == UNITS[0] else ""
        ns.run(["sh", "-c", f"mkdir -p /etc/systemd/system/{unit}.d && printf '[Service]\\n"
                            f"Environment=ASAN_OPTIONS=detect_leaks=0\\n{extra}' > "
                            f"/etc/systemd/system/{unit}.d/asan.conf"])

    # The README's steps.
    feed = "file://" + os.path.join(samples, "eurofxref.html")
    r = ns.run([os.path.join(product, "vtxsetup"), product, "--source", feed, "eurfeed.ini"], env=env, check=False)
    check("vtxsetup", r.returncode == 0, r.stdout)
    begin = time.monotonic()
    r = ns.run([os.path.join(product, "vtxservice"), "-RegServerStartService"], env=env, check=False, timeout=200)
    check("vtxservice -RegServerStartService", r.returncode == 0, r.stdout)
    r = ns.run([os.path.join(product, "vtxmessenger"), "-RegServerStartService"], env=env, check=False, timeout=200)
    check("vtxmessenger -RegServerStartService", r.returncode == 0, r.stdout)
    check("the logon service", os.path.exists(os.path.join(env["VANTREX_PAM_DIR"], "hulvane-vantrex")))
    print(f"the three units started in {time.monotonic() - begin:.1f} s")

    for unit in UNITS:
        state = ns.property(unit, "ActiveState")
        check(f"{unit} active", state == "active", state + " " + ns.systemctl("status", unit).stdout[-800:])

    # Who runs what.
    users = {}
    for line in ns.run(["ps", "-eo", "user:32,comm"]).stdout.splitlines()[1:]:
        user, _, comm = line.strip().partition(" ")
        users.setdefault(comm.strip(), set()).add(user)
    for program, expected in (("vtxservice", account), ("vtxserver", account), ("vtxwebservice", account),
                              ("vtxmessenger", "root")):
        check(f"{program} runs as {expected}", users.get(program) == {expected}, users.get(program))

    # The rights model on disk.
    uid, gid = int(subprocess.run(["id", "-u", account], stdout=subprocess.PIPE, text=True).stdout), \
        int(subprocess.run(["getent", "group", account], stdout=subprocess.PIPE, text=True).stdout.split(":")[2])
    for path, mode in ((data, 0o2770), (os.path.join(data, "registry.db"), 0o660),
                       (os.path.join(product, "Configurations"), 0o2770)):
        st = os.stat(path)
        check(f"owner and mode of {path}", (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (uid, gid, mode),
              (st.st_uid, st.st_gid, oct(stat.S_IMODE(st.st_mode))))
    st = ns.run(["stat", "-c", "%U %G %a", "/run/vantrex"], check=False).stdout.split()
    check("the runtime folder", st == [account, account, "750"], st)

    # The server's pipe and the web service answer.
    check("the server's pipe answers", pipe_ask(ns, "/run/vantrex/HulvaneVantrexAppPipe",
                                                  struct.pack("<III", WM_VX_PING, 0, 0)) is not None)
    answered = False
    for _ in range(50):
        r = ns.run(["curl", "-s", "-m", "10", "-H", "Content-Type: text/xml", "--data-binary", VERSION_CALL,
                    "http://127.0.0.1:8080/Vantrex"], check=False)
        answered = "<VersionResult>4.0</VersionResult>" in r.stdout
        if answered:
            break
        time.sleep(0.1)
    check("the web service answers a call", answered, r.stdout[-300:])

    # Root's export through the pipe of a server under the product's account is refused, even into
    # a folder that the server could write: the server never acts on a file with rights other than
    # the caller's (vtxctl then writes the file itself, below).
    path = os.path.join(data, "export").encode() + b"\0"
    block = struct.pack("<I", 1) + path + b"\0" * 3
    request = struct.pack("<IIIIII", 74, 0, 0, 0x8074, len(block), 0) + block
    check("root's export through the pipe", pipe_ask(ns, "/run/vantrex/HulvaneVantrexAppPipe", request, 30)
          == 0x80070005)
    check("no export written by the server", not os.path.exists(os.path.join(data, "export.vx-cnf")))

    operate(ns, env, product, account, uid, gid, feed)

    # A registration run again (as after an upgrade) writes the unit anew and keeps the drop-in.
    r = ns.run([os.path.join(product, "vtxservice"), "-RegServer"], env=env, check=False, timeout=200)
    check("-RegServer again", r.returncode == 0, r.stdout)
    environment = ns.property(UNITS[0], "Environment")
    check("the drop-in's variable stays", "VANTREX_DEFINITIONS_URL=file://" in environment
          and "VANTREX_ACCOUNT=" + account in environment, environment)

    # A screen notice reaches the display-messages file, written as the product's account.
    data_block = struct.pack("<II", 0, 0x40) + b"Rates arrived late\0Vantrex\0" + b"\0" * 4
    request = struct.pack("<IIIIII", 74, 0, 0, 1, len(data_block), 0) + data_block
    check("the messenger takes the notice", pipe_ask(ns, "/run/vantrex/HulvaneVantrexMsngPipe", request) == 0)
    display = os.path.join(data, "DisplayMessages.txt")
    text = open(display, errors="replace").read() if os.path.exists(display) else ""
    check("the notice is in the display file", "Rates arrived late" in text, text)
    if os.path.exists(display):
        st = os.stat(display)
        check("the display file's owner and mode", (st.st_uid, stat.S_IMODE(st.st_mode)) == (uid, 0o660),
              (st.st_uid, oct(stat.S_IMODE(st.st_mode))))

    # How exposed each unit is, as systemd rates it (10 is a unit without any sandbox).
    for unit in UNITS:
        score = exposure(ns, unit)
        print(f"systemd-analyze security {unit}: {score}")
        check(f"exposure of {unit}", score is not None and score < (9.0 if "messenger" in unit else 3.0), score)

    # vtxservice killed hard: the server still ends in order, and systemd starts the unit again.
    old = ns.property(UNITS[0], "MainPID")
    ns.systemctl("kill", "--signal=KILL", "--kill-whom=main", UNITS[0])
    check("the server ends in order after its service was killed",
          wait_for(lambda: log.has("Vantrex application stopped."), 15), log.entries[-5:])
    check("the killed service comes back", wait_for(
        lambda: ns.property(UNITS[0], "ActiveState") == "active" and ns.property(UNITS[0], "MainPID") not in ("0", old),
        30), ns.systemctl("status", UNITS[0]).stdout[-800:])

    # Stops within the units' limits, each ending as a success.
    for unit in reversed(UNITS):
        seconds, rc = timed_stop(ns, unit)
        print(f"systemctl stop {unit}: {seconds:.1f} s")
        result = ns.property(unit, "Result")
        check(f"{unit} stops", rc == 0 and seconds < 15 and ns.property(unit, "ActiveState") == "inactive",
              f"{seconds:.1f} s, status {rc}")
        check(f"{unit} stops as a success", result == "success", result)
    stopped = sum("Vantrex application stopped." in e for e in log.entries)
    check("the server's stopped event at each end", stopped >= 2, stopped)

    # The README's upgrade and uninstall: a restart of the three units, then the removal of running
    # services, which stops them and takes their units away.
    r = ns.systemctl("start", *UNITS, timeout=200)
    check("the units start again", r.returncode == 0 and all(ns.property(u, "ActiveState") == "active"
                                                             for u in UNITS), r.stdout)
    for program in ("vtxmessenger", "vtxservice"):
        r = ns.run([os.path.join(product, program), "-UnregServer"], env=env, check=False, timeout=200)
        check(f"{program} -UnregServer", r.returncode == 0, r.stdout)
    left = [u for u in UNITS if ns.run(["test", "-e", "/etc/systemd/system/" + u], check=False).returncode == 0]
    check("no unit left", not left, left)
    running = ns.run(["pgrep", "-l", "^vtx"], check=False).stdout.split()
    check("no program left running", not running, running)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
