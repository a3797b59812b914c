#!/usr/bin/python3
"""vtxserver as an operator of a Linux daemon runs it, with the installed programs on private stores:
start-up failures said on stderr with a nonzero status, stops within 10 s whatever an update is
doing, SIGHUP and vtxsetup changing the configuration of a running server, one server per store,
and any locale.

Usage: daemon.py <cmake> <build dir> <source dir>
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "support"))
sys.path.insert(0, os.path.join(here, "..", "mainroad"))
from mainroad import WM_VX_PING, WM_VX_QUIT, WM_VX_UPDATENOW, Installation, ask, check, finish, page_with_dollar  # noqa: E402
from vtxtest import wait_for  # noqa: E402

WM_VX_LOCKCONFIG, WM_VX_UNLOCKCONFIG, WM_VX_ISUPDATING = 0x8065, 0x8066, 0x806D

STOP_LIMIT = 10  # seconds


class Server:
    """vtxserver started with `args`; its stderr is kept."""

    def __init__(self, inst, *args, env=None):
        self.inst = inst
        self.proc = subprocess.Popen([os.path.join(inst.product, "vtxserver"), *args], env=env or inst.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def up(self):
        return wait_for(lambda: ask(self.inst.pipe, WM_VX_PING, timeout=5) == 1 or self.proc.poll() is not None,
                        20) and self.proc.poll() is None

    def end(self, timeout=30):
        """Waits for the end: (status, stdout, stderr, seconds)."""
        t0 = time.time()
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
        return self.proc.returncode, out, err, time.time() - t0


class SilentSource:
    """An HTTP address that accepts connections and never answers."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.connections = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.connections.append(conn)

    @property
    def url(self):
        return "http://127.0.0.1:%d/rates.html" % self.sock.getsockname()[1]


def page(root, name, usd):
    """A copy of the sample page with its own dollar rate, as a file: address."""
    path = os.path.join(root, name)
    page_with_dollar(SOURCE, path, usd)
    return "file://" + path


def update_in_background(inst):
    result = {}
    t = threading.Thread(target=lambda: result.setdefault("reply", ask(inst.pipe, WM_VX_UPDATENOW, timeout=60)))
    t.start()
    return t, result


def main():
    global SOURCE
    cmake, build, SOURCE = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as root:
        inst = Installation(cmake, build, root)
        inst.env["VANTREX_DEFINITIONS_URL"] = "file://" + os.path.join(root, "no-definitions.txt")
        first = page(root, "first.html", "1.1111")
        second = page(root, "second.html", "2.2222")

        # Start-up failures: one line on stderr, what to do, a nonzero status.
        inst.store("unregistered")
        s = Server(inst)
        status, _, err, _ = s.end()
        check("unregistered store", status != 0 and "vtxsetup" in err and len(err.strip().splitlines()) == 1,
              f"{status}: {err!r}")
        s = Server(inst, "--frobnicate", "/SERVICE", "/x")
        status, _, err, _ = s.end()
        check("unknown switches", status == 2 and "--frobnicate" in err and "/x" in err, f"{status}: {err!r}")
        s = Server(inst, "--help")
        status, out, _, _ = s.end()
        check("--help", status == 0 and "usage: vtxserver" in out, f"{status}: {out!r}")

        # Under a German and a French locale the neutral catalogue answers.
        inst.store("locales")
        inst.setup()
        for lang in ("de_DE.UTF-8", "fr_FR.UTF-8"):
            s = Server(inst, env=dict(inst.env, LANG=lang, LC_ALL=lang))
            up = s.up()
            ask(inst.pipe, WM_VX_QUIT)
            status, _, err, _ = s.end()
            check(f"server under {lang}", up and status == 0, f"{status}: {err!r}")

        # A stop whatever the update is doing: a download that never answers, a filter that never
        # ends; by SIGTERM and by the quit command. The run is a failed attempt; the stored rates stay.
        inst.store("stops")
        inst.setup("--source", first, "eurfeed.ini")
        s = Server(inst)
        check("stops: server up", s.up(), s.proc.poll())
        check("stops: first update", ask(inst.pipe, WM_VX_UPDATENOW) == 0, "")
        ask(inst.pipe, WM_VX_QUIT)
        s.end()
        kept = inst.rates()
        check("stops: first rates", kept.get("USD") == 1.1111, repr(kept))
        silent = SilentSource()
        filters = os.path.join(inst.product, "Filters")
        with open(os.path.join(filters, "eurfeed.ini"), encoding="utf-8") as f:
            definition = f.read()
        with open(os.path.join(filters, "hang.ini"), "w", encoding="utf-8") as f:
            f.write(definition.replace("Executable = eurfeed", "Executable = hang"))
        hang = os.path.join(filters, "hang")
        with open(hang, "w") as f:
            f.write("#!/bin/sh\nsleep 600\n")
        os.chmod(hang, 0o755)
        for what, source, definition_name in [("download", silent.url, "eurfeed.ini"), ("filter", first, "hang.ini")]:
            for how in ("SIGTERM", "quit"):
                inst.setup("--source", source, definition_name)
                s = Server(inst)
                check(f"stop during a {what} by {how}: up", s.up(), "")
                worker, result = update_in_background(inst)
                time.sleep(1.5)
                check(f"stop during a {what} by {how}: busy", worker.is_alive(), result)
                t0 = time.time()
                if how == "SIGTERM":
                    s.proc.send_signal(signal.SIGTERM)
                else:
                    ask(inst.pipe, WM_VX_QUIT, timeout=5)
                status, _, err, _ = s.end()
                took = time.time() - t0
                worker.join(5)
                check(f"stop during a {what} by {how}", status == 0 and took < STOP_LIMIT,
                      f"status {status} after {took:.1f} s: {err!r}")
                reply = result.get("reply")
                check(f"stop during a {what} by {how}: a failed attempt", reply is None or reply >= 0x80000000,
                      hex(reply or 0))
                check(f"stop during a {what} by {how}: rates kept", inst.rates() == kept, repr(inst.rates()))

        # The configuration of a running server: vtxsetup takes the lock, writes and unlocks with a
        # reload; SIGHUP re-reads what was written behind the server's back. Both survive the stop.
        inst.store("configuration")
        inst.setup("--source", first, "eurfeed.ini")
        s = Server(inst)
        check("configuration: up", s.up(), "")
        # A store given its source updates at once; a configuration lock waits for that update.
        check("configuration: first update over", wait_for(lambda: ask(inst.pipe, WM_VX_ISUPDATING) == 0, 30), "")
        r = subprocess.run([os.path.join(inst.product, "vtxsetup"), inst.product, "--source", second, "eurfeed.ini"],
                           env=inst.env, capture_output=True, text=True)
        check("vtxsetup beside the server", r.returncode == 0, repr(r))
        check("vtxsetup's change in force", ask(inst.pipe, WM_VX_UPDATENOW) == 0 and inst.rates().get("USD") == 2.2222,
              repr(inst.rates()))
        # Another session holds the lock: vtxsetup says so and changes nothing.
        ask(inst.pipe, WM_VX_LOCKCONFIG)
        r = subprocess.run([os.path.join(inst.product, "vtxsetup"), inst.product, "--source", first, "eurfeed.ini"],
                           env=inst.env, capture_output=True, text=True)
        check("vtxsetup during another session", r.returncode == 1 and "locked by another session" in r.stderr, repr(r))
        ask(inst.pipe, WM_VX_UNLOCKCONFIG)
        check("nothing changed", ask(inst.pipe, WM_VX_UPDATENOW) == 0 and inst.rates().get("USD") == 2.2222,
              repr(inst.rates()))
        behind = dict(inst.env, VANTREX_RUNTIME_DIR=os.path.join(root, "elsewhere"))
        subprocess.run([os.path.join(inst.product, "vtxsetup"), inst.product, "--source", first, "eurfeed.ini"],
                       env=behind, check=True, stdout=subprocess.DEVNULL)
        s.proc.send_signal(signal.SIGHUP)
        time.sleep(0.5)
        check("SIGHUP keeps the server", s.proc.poll() is None and ask(inst.pipe, WM_VX_PING) == 1, s.proc.poll())
        check("SIGHUP's reload in force", ask(inst.pipe, WM_VX_UPDATENOW) == 0 and inst.rates().get("USD") == 1.1111,
              repr(inst.rates()))
        ask(inst.pipe, WM_VX_QUIT)
        s.end()
        s = Server(inst)
        s.up()
        check("the change survives the stop", ask(inst.pipe, WM_VX_UPDATENOW) == 0 and inst.rates().get("USD") == 1.1111,
              repr(inst.rates()))

        # One server per store, whatever its runtime folder.
        other = Server(inst, env=behind)
        status, _, err, _ = other.end()
        check("a second server on the store", status != 0 and str(s.proc.pid) in err, f"{status}: {err!r}")
        ask(inst.pipe, WM_VX_QUIT)
        s.end()

    return finish()


if __name__ == "__main__":
    sys.exit(main())
