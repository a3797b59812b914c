#!/usr/bin/python3
"""vtxserver killed with SIGKILL during its work and started again at once, in a loop, while clients
keep asking: every new server takes over (it answers) instead of taking the dying one for a running
server and ending. On a busy machine a killed process may go some time after the kill; here it is
held stopped while the next server starts, and killed a moment later."""
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vtxtest import message, pipe_request, private_store, register_product  # noqa: E402

WM_VX_UPDATENOW, WM_VX_PING, WM_VX_QUIT = 0x8068, 0x806F, 0x8067
ROUNDS = 25


def request(path, msg, timeout=2.0):
    try:
        return pipe_request(path, message(msg), timeout=timeout)
    except OSError:
        return None


def main():
    program, setup, source = sys.argv[1], sys.argv[2], sys.argv[3]
    with tempfile.TemporaryDirectory() as run:
        env = private_store(run)
        env.pop("ASAN_OPTIONS", None)
        register_product(run, source, setup, program, env)
        pipe = os.path.join(run, "HulvaneVantrexAppPipe")

        # Clients that keep the server busy the whole time.
        stop = threading.Event()

        def hammer():
            while not stop.is_set():
                request(pipe, WM_VX_PING, timeout=0.5)

        clients = [threading.Thread(target=hammer) for _ in range(4)]
        for c in clients:
            c.start()
        failures = []
        server = None
        dying = None
        try:
            for round in range(ROUNDS):
                # The next server starts while the last one is still on its way out.
                server = subprocess.Popen([program, "/SERVICE"], env=env, stderr=subprocess.PIPE, text=True)
                if dying:
                    time.sleep(0.05 * (round % 4))
                    dying.send_signal(signal.SIGKILL)
                    dying.wait()
                    dying.stderr.close()
                    dying = None
                deadline = time.time() + 30
                while time.time() < deadline and server.poll() is None and request(pipe, WM_VX_PING) != 1:
                    time.sleep(0.01)
                if server.poll() is not None:
                    failures.append(f"round {round}: the server ended at once with {server.returncode}: "
                                    + server.stderr.read().strip())
                    break
                if request(pipe, WM_VX_PING) != 1:
                    failures.append(f"round {round}: the server does not answer")
                    break
                # Stopped (and then killed) while it works on an update request.
                threading.Thread(target=request, args=(pipe, WM_VX_UPDATENOW, 5.0), daemon=True).start()
                time.sleep(0.005 * (round % 5))
                server.send_signal(signal.SIGSTOP)
                dying, server = server, None
            if dying:
                dying.send_signal(signal.SIGKILL)
                dying.wait()
                dying.stderr.close()
                dying = None
            if not failures:
                server = subprocess.Popen([program], env=env, stderr=subprocess.PIPE, text=True)
                deadline = time.time() + 30
                while time.time() < deadline and server.poll() is None and request(pipe, WM_VX_PING) != 1:
                    time.sleep(0.01)
                if request(pipe, WM_VX_QUIT) != 0:
                    failures.append("the last server does not take the quit command")
                try:
                    code = server.wait(timeout=15)
                    if code != 0:
                        failures.append(f"the last server ended with {code}: " + server.stderr.read().strip())
                except subprocess.TimeoutExpired:
                    failures.append("the last server did not end")
        finally:
            stop.set()
            for c in clients:
                c.join()
            for p in (server, dying):
                if p and p.poll() is None:
                    p.kill()
                    p.wait()
    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
