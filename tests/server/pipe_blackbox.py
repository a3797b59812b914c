#!/usr/bin/python3
"""vtxserver through its pipe, with a client that is not ours: golden request bytes on a raw socket."""
import os
import resource
import socket
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vtxtest import message as head, pipe_request as request, private_store, register_product, wait_for  # noqa: E402

WM_COPYDATA = 0x4A
WM_TIMER = 0x113
WM_VX_LOCKCONFIG, WM_VX_UNLOCKCONFIG, WM_VX_QUIT = 0x8065, 0x8066, 0x8067
WM_VX_ISUPDATING, WM_VX_PING, WM_VX_COUNTHIT = 0x806D, 0x806F, 0x8075


def main():
    program, setup, source = sys.argv[1], sys.argv[2], sys.argv[3]
    os.umask(0o022)
    failures = []

    def check(name, got, want):
        if got != want:
            failures.append(f"{name}: got {got!r}, want {want!r}")

    with tempfile.TemporaryDirectory() as run:
        # A runtime folder whose parents are missing too.
        runtime = os.path.join(run, "missing", "parents", "runtime")
        env = private_store(run, runtime)
        env.pop("ASAN_OPTIONS", None)
        register_product(run, source, setup, program, env)
        # A runtime folder that cannot be made: no instance lock, no pipe, no server.
        blocked = os.path.join(run, "a-file")
        open(blocked, "w").close()
        refused = subprocess.run([program], env=dict(env, VANTREX_RUNTIME_DIR=os.path.join(blocked, "runtime")),
                                 capture_output=True, text=True, timeout=60)
        check("exit without a runtime folder", refused.returncode, 1)
        check("its reason", "instance lock" in refused.stderr and len(refused.stderr.strip().splitlines()) == 1, True)
        events = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        events.bind(env["VANTREX_SYSLOG_SOCKET"])
        events.settimeout(10)
        server = subprocess.Popen([program, "/SERVICE"], env=env, stderr=subprocess.PIPE, text=True)
        pipe = os.path.join(runtime, "HulvaneVantrexAppPipe")
        if not wait_for(lambda: os.path.exists(pipe), 10):
            server.kill()
            print("the pipe never appeared", file=sys.stderr)
            return 1
        mode = os.stat(pipe).st_mode & 0o777
        check("socket mode", oct(mode), oct(0o660))
        for folder in (os.path.join(run, "missing"), os.path.join(run, "missing", "parents"), runtime):
            check("mode of " + folder, oct(os.stat(folder).st_mode & 0o777), oct(0o750))

        check("ping", request(pipe, head(WM_VX_PING)), 1)
        check("is updating", request(pipe, head(WM_VX_ISUPDATING)), 0)
        check("lock", request(pipe, head(WM_VX_LOCKCONFIG, 0)), 0)
        check("lock again", request(pipe, head(WM_VX_LOCKCONFIG, 0)), 0x80040207)
        check("unlock", request(pipe, head(WM_VX_UNLOCKCONFIG, 0)), 0)
        check("count USD", request(pipe, head(WM_VX_COUNTHIT, 0x00445355)), 1)
        check("count US$", request(pipe, head(WM_VX_COUNTHIT, 0x00245355)), 0)
        check("timer from outside", request(pipe, head(WM_TIMER, 1)), 0)
        # WM_COPYDATA announcing 100 bytes, delivering 3.
        short = head(WM_COPYDATA) + struct.pack("<III", 0x8069, 100, 0) + b"abc"
        check("short copydata", request(pipe, short, half_close=True), 0x8007000D)
        huge = head(WM_COPYDATA) + struct.pack("<III", 0x8069, 0x7FFFFFFF, 0)
        check("oversized cbData", request(pipe, huge), 0x8007000D)
        # A show-message request whose text is not terminated inside cbData.
        unterminated = head(WM_COPYDATA) + struct.pack("<III", 0x8069, 8, 0) + struct.pack("<I", 0x40) + b"abcd"
        check("unterminated text", request(pipe, unterminated), 0x80070057)
        # A client that says nothing is dropped; the next one is served.
        silent = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        silent.connect(pipe)
        check("ping after a silent client", request(pipe, head(WM_VX_PING)), 1)
        silent.close()
        # A thousand silent clients hold nobody up: a ping is answered while they are connected.
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        if soft != resource.RLIM_INFINITY and soft < 2048:
            resource.setrlimit(resource.RLIMIT_NOFILE, (2048 if hard == resource.RLIM_INFINITY else min(2048, hard), hard))
        crowd = []
        for _ in range(1000):
            c = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            c.connect(pipe)
            crowd.append(c)
        check("ping among 1000 silent clients", request(pipe, head(WM_VX_PING), timeout=2), 1)
        for c in crowd:
            c.close()
        # The test notification writes its file entry only into the product's messages files.
        def test_notification(path):
            payload = struct.pack("<IIII", 0, 1, 0, 0) + b"\0\0\0\0" + path.encode() + b"\0"
            return request(pipe, head(WM_COPYDATA) + struct.pack("<III", 0x8076, len(payload), 0) + payload)
        elsewhere = os.path.join(run, "elsewhere")
        check("test notification elsewhere", test_notification(elsewhere), 0x80070005)
        check("nothing written elsewhere", os.path.exists(elsewhere + ".log"), False)
        logs = os.path.join(run, "Hulvane", "Vantrex", "Logs")
        check("test notification in the log folder", test_notification(os.path.join(logs, "test")), 0)
        written = os.path.join(logs, "test.log")
        check("entry in the log folder", os.path.exists(written) and open(written, "rb").read().startswith(b"---"),
              True)
        check("quit", request(pipe, head(WM_VX_QUIT, 0x1FF)), 0)
        try:
            code = server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            code = "still running"
        check("exit status", code, 0)
        entries = [events.recv(9000).decode("latin-1") for _ in range(2)]
        if "event 0x0000000A" not in entries[0]:
            failures.append("no start event: " + entries[0])
        if "event 0x0000000B" not in entries[1] or "data: FF" not in entries[1]:
            failures.append("no stop event with exit code 255: " + entries[1])
        check("pipe removed", os.path.exists(pipe), False)

    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
