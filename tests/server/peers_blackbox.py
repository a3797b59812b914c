#!/usr/bin/python3
"""vtxserver against peers that hold their side: a mail server that accepts and never greets, and
clients that give up on a lock request, and another process that holds the settings lock. The pipe
answers while the peer still holds its side, and a lock request whose caller has gone leaves the
server unlocked."""
import fcntl
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vtxtest import message as head, pipe_request as request, private_store, read_reply, register_product, wait_for  # noqa: E402

WM_COPYDATA = 0x4A
WM_VX_LOCKCONFIG, WM_VX_UNLOCKCONFIG = 0x8065, 0x8066
WM_VX_PING = 0x806F
WM_VX_TESTNOTIFICATION = 0x8076


def copydata(code, payload):
    return head(WM_COPYDATA) + struct.pack("<III", code, len(payload), 0) + payload


def served_state(pipe, pid):
    """What vtxsetup looks at to tell whether a server serves the pipe, and the server's own state."""
    try:
        with open(pipe + ".lock") as lock:
            try:
                fcntl.flock(lock, fcntl.LOCK_SH | fcntl.LOCK_NB)
                held = "free"
            except BlockingIOError:
                held = "held"
    except OSError as e:
        held = f"cannot be opened ({e.strerror})"
    try:
        with open(f"/proc/{pid}/stat") as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        state = "gone"
    return f"lock file {held}, socket {'there' if os.path.exists(pipe) else 'missing'}, server state {state}"


def main():
    program, setup, source = sys.argv[1], sys.argv[2], sys.argv[3]
    failures = []

    def check(name, got, want):
        if got != want:
            failures.append(f"{name}: got {got!r}, want {want!r}")

    with tempfile.TemporaryDirectory() as run:
        env = private_store(run)
        env.pop("ASAN_OPTIONS", None)
        register_product(run, source, setup, program, env)
        # A mail server that takes connections and never says a word.
        mute = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        mute.bind(("127.0.0.1", 0))
        mute.listen(8)
        mute.settimeout(20)
        smtp = "127.0.0.1:%d" % mute.getsockname()[1]
        server = subprocess.Popen([program], env=env, stderr=subprocess.PIPE, text=True)
        pipe = os.path.join(run, "HulvaneVantrexAppPipe")
        try:
            if not wait_for(lambda: os.path.exists(pipe) and request(pipe, head(WM_VX_PING), timeout=2) == 1, 20):
                print("the server never answered", file=sys.stderr)
                return 1

            # A test notification by SMTP to the mute server: the answer comes at once, and pings are
            # answered while the mail waits on the server's greeting.
            strings = [b"<SMTP>", b"ops@example.test", b"vantrex@example.test", smtp.encode(), b""]
            payload = struct.pack("<IIII", 0, 0, 1, 0) + b"".join(x + b"\0" for x in strings)
            check("test notification", request(pipe, copydata(WM_VX_TESTNOTIFICATION, payload), timeout=5), 0)
            peer, _ = mute.accept()
            check("ping while the mail server is silent", request(pipe, head(WM_VX_PING), timeout=2), 1)
            peer.setblocking(False)
            try:
                still = peer.recv(1, socket.MSG_PEEK) != b""
            except BlockingIOError:
                still = True
            check("the mail server still holds its connection", still, True)
            peer.close()

            # A client that gives up on its lock request before the server reaches it: the stopped
            # server serves the queue after SIGCONT, and nothing stays locked.
            os.kill(server.pid, signal.SIGSTOP)
            quitter = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            quitter.connect(pipe)
            quitter.sendall(head(WM_VX_LOCKCONFIG, 0))
            time.sleep(0.5)
            quitter.close()
            os.kill(server.pid, signal.SIGCONT)
            check("ping after the stop", request(pipe, head(WM_VX_PING), timeout=5), 1)
            check("lock by the next session", request(pipe, head(WM_VX_LOCKCONFIG, 0)), 0)
            check("its unlock", request(pipe, head(WM_VX_UNLOCKCONFIG, 0)), 0)

            # vtxsetup itself against a server that answers too late (it waits 30 s for the lock).
            os.kill(server.pid, signal.SIGSTOP)
            try:
                late = subprocess.run([setup, os.path.join(run, "product")], env=env, capture_output=True, text=True,
                                      timeout=90)
                seen = served_state(pipe, server.pid)
            finally:
                os.kill(server.pid, signal.SIGCONT)
            check("vtxsetup gives up", (late.returncode, "does not answer" in late.stderr), (1, True))
            if late.returncode == 0:
                # vtxsetup found no server to ask: say what the server was doing.
                failures.append(f"vtxsetup said {late.stdout!r} {late.stderr!r}; the server's status {server.poll()!r}; "
                                f"while it ran: {seen}")
                if server.poll() is None:
                    server.kill()
                failures.append("the server's stderr: " + server.stderr.read()[-4000:])
            check("ping after vtxsetup gave up", request(pipe, head(WM_VX_PING), timeout=5), 1)
            check("lock after vtxsetup gave up", request(pipe, head(WM_VX_LOCKCONFIG, 0)), 0)
            check("and its unlock", request(pipe, head(WM_VX_UNLOCKCONFIG, 0)), 0)

            # Another process holds the settings lock: a lock request waits for it, and pings are
            # answered while it waits.
            holder = open(os.path.join(run, "locks", "HulvaneVantrexMutex"), "a+")
            fcntl.flock(holder, fcntl.LOCK_EX)
            locking = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            locking.settimeout(15)
            locking.connect(pipe)
            locking.sendall(head(WM_VX_LOCKCONFIG, 0))
            time.sleep(0.3)
            check("ping while the settings lock is held elsewhere", request(pipe, head(WM_VX_PING), timeout=2), 1)
            locking.setblocking(False)
            try:
                waiting = locking.recv(4) == b""
                waiting = False
            except BlockingIOError:
                waiting = True
            check("the lock request still waits for the settings lock", waiting, True)
            fcntl.flock(holder, fcntl.LOCK_UN)
            holder.close()
            locking.settimeout(15)
            reply = read_reply(locking)
            locking.close()
            check("the lock once the settings lock is free", reply, 0)
            check("its unlock", request(pipe, head(WM_VX_UNLOCKCONFIG, 0)), 0)

            # SIGTERM while a mail waits on the mute server: the server ends within seconds.
            check("another test notification", request(pipe, copydata(WM_VX_TESTNOTIFICATION, payload), timeout=5), 0)
            peer, _ = mute.accept()
            server.send_signal(signal.SIGTERM)
            try:
                check("exit status", server.wait(timeout=10), 0)
            except subprocess.TimeoutExpired:
                failures.append("the server did not end within 10 s of SIGTERM while a mail waited")
            peer.close()
        finally:
            if server.poll() is None:
                server.kill()
                server.wait()
            mute.close()

    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
