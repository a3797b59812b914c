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
from vtxtest import wait_for  # noqa: E402

WM_VX_PING = 0x806F
UNITS = ["hulvane-vantrex.service", "hulvane-vantrex-web.service", "hulvane-vantrex-messenger.service"]
VERSION_CALL = ('<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
                '<Version xmlns="urn:hulvane:vantrex:webservice:4.0/"/></s:Body></s:Envelope>')

failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")
    return ok


def account_command(argv):
    """useradd and its kin wait for the account files' lock that other tests may hold."""
    for _ in range(40):
        if subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return True
        time.sleep(0.25)
    return False


def remove_account(name):
    if subprocess.run(["getent", "passwd", name], stdout=subprocess.DEVNULL).returncode == 0:
        account_command(["userdel", name])
    if subprocess.run(["getent", "group", name], stdout=subprocess.DEVNULL).returncode == 0:
        account_command(["groupdel", name])


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
        scenario(ns, env, product, data, account, log)
    finally:
        ns.stop()
        log.close()
        remove_account(account)
        shutil.rmtree(root, ignore_errors=True)
    for f in failures:
        print("FAIL", f, file=sys.stderr)
    print(f"{0 if failures else 1} passed, {len(failures)} failed")
    return 1 if failures else 0


def scenario(ns, env, product, data, account, log):
    # The sanitizer's leak check cannot run in the sandbox (no ptrace): off for these builds only.
    for unit in UNITS:
        ns.run(["sh", "-c", f"mkdir -p /etc/systemd/system/{unit}.d && printf '[Service]\\n"
                            f"Environment=ASAN_OPTIONS=detect_leaks=0\\n' > /etc/systemd/system/{unit}.d/asan.conf"])

    # The README's steps.
    r = ns.run([os.path.join(product, "vtxsetup"), product], env=env, check=False)
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

    # An account of the group reads the store and reaches the pipes; one outside it does neither.
    member = account + "m"
    remove_account(member)
    if check("a member account", account_command(["useradd", "-M", "-N", "-G", account, member])):
        try:
            for who, ok in ((member, True), ("nobody", False)):
                as_who = ["setpriv", "--reuid", who, "--regid", "nogroup", "--init-groups"]
                r = ns.run(as_who + [os.path.join(product, "vtxrates")], env=env, check=False)
                check(f"vtxrates as {who}", (r.returncode == 0) == ok, r.stdout)
                reply = pipe_ask(ns, "/run/vantrex/HulvaneVantrexSvcPipe", struct.pack("<III", 3, 0, 0), prefix=as_who)
                check(f"the service's pipe for {who}", (reply == 1) == ok, reply)
        finally:
            account_command(["userdel", member])

    # Root's export through the pipe of a server that runs as the product's account is written
    # with the server's rights.
    path = os.path.join(data, "export").encode() + b"\0"
    block = struct.pack("<I", 1) + path + b"\0" * 4
    request = struct.pack("<IIIIII", 74, 0, 0, 0x8074, len(block), 0) + block
    check("root's export through the pipe", pipe_ask(ns, "/run/vantrex/HulvaneVantrexAppPipe", request, 30) == 0)
    exported = os.path.join(data, "export.vx-cnf")
    check("the export is the server account's", os.path.exists(exported) and os.stat(exported).st_uid == uid)

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


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
