"""The tests' helpers for Python scripts: a client of the server's pipe, free ports, waits with a limit.

Scripts import it from tests/support: sys.path.insert(0, <tests>/support).
"""
import contextlib
import fcntl
import os
import socket
import struct
import subprocess
import time


def message(msg, wparam=0, lparam=0):
    """The head of a pipe request: the message and its two parameters."""
    return struct.pack("<III", msg, wparam, lparam)


def pipe_request(path, data, half_close=False, timeout=10):
    """Sends request bytes to the pipe at `path`: its 4-byte reply as a number, or None when none came."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.settimeout(timeout)
        s.connect(path)
        s.sendall(data)
        if half_close:
            s.shutdown(socket.SHUT_WR)
        return read_reply(s)
    finally:
        s.close()


def read_reply(s):
    """The 4-byte reply of a pipe request on the connected socket `s` as a number, or None when the
    server closed it first."""
    reply = b""
    while len(reply) < 4:
        chunk = s.recv(4 - len(reply))
        if not chunk:
            break
        reply += chunk
    return struct.unpack("<I", reply)[0] if len(reply) == 4 else None


_claimed_ports = []


def _claim_port(port):
    """Claims the port against the other test programs running at the same time (tests/support/net.h
    does the same): each holds a lock on a file named by the port while it lives."""
    folder = os.path.join(os.environ.get("TMPDIR") or "/tmp", "vtxtest-ports")
    try:
        os.makedirs(folder, 0o1777, exist_ok=True)
    except OSError:
        pass
    try:
        fd = os.open(os.path.join(folder, str(port)), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC | os.O_NOFOLLOW, 0o666)
    except OSError:
        return True
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        os.close(fd)
        return False
    _claimed_ports.append(fd)
    if len(_claimed_ports) > 256:
        os.close(_claimed_ports.pop(0))
    return True


def free_port():
    """A port of 127.0.0.1 that nothing listens on now and no other test program has claimed."""
    for _ in range(64):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        if _claim_port(port):
            return port
    raise OSError("no free port")


def accepts(port):
    """True when something accepts connections on the port of 127.0.0.1."""
    try:
        socket.create_connection(("127.0.0.1", port), 1).close()
        return True
    except OSError:
        return False


def wait_for(predicate, seconds):
    """True as soon as predicate() is; False when it still is not after `seconds`."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


# The product's account for programs that a test gives none of its own: a name no host has
# (tests/support/accounts.h).
NO_PRODUCT_ACCOUNT = "vtxtest-none"


def private_store(run, runtime=None, syslog="log.sock"):
    """The environment of programs on a private store in folder `run` (runtime folder: `runtime`,
    else `run`), with event entries on the socket `syslog` there, and no product account of the host."""
    return dict(os.environ, VANTREX_RUNTIME_DIR=runtime or run, VANTREX_REGISTRY=os.path.join(run, "registry.db"),
                VANTREX_APPDATA=run, VANTREX_SYSLOG_SOCKET=os.path.join(run, syslog),
                VANTREX_ACCOUNT=NO_PRODUCT_ACCOUNT)


def account_command(argv):
    """Runs useradd or one of its kin, which refuse while another program holds the account files'
    lock: tried again for up to ten seconds. True when it succeeded."""
    for _ in range(40):
        if subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return True
        time.sleep(0.25)
    return False


def remove_account(name):
    """Removes the account and the group of that name, where they exist."""
    if subprocess.run(["getent", "passwd", name], stdout=subprocess.DEVNULL).returncode == 0:
        account_command(["userdel", name])
    if subprocess.run(["getent", "group", name], stdout=subprocess.DEVNULL).returncode == 0:
        account_command(["groupdel", name])


@contextlib.contextmanager
def throwaway_account(tag):
    """A name for the product's account that an installation run by the test may make; whatever was
    made under it is removed at the end (and what an earlier run left, at the start)."""
    name = f"vtx{tag}{os.getpid() % 100000}"
    remove_account(name)
    try:
        yield name
    finally:
        remove_account(name)


def register_product(run, source, setup, program, env):
    """A product folder in `run` with the server `program`, the filter definitions and the English
    catalogue of the source tree, registered with vtxsetup."""
    product = os.path.join(run, "product")
    os.makedirs(os.path.join(product, "Resources"))
    os.symlink(os.path.join(source, "resources", "0409"), os.path.join(product, "Resources", "0409"))
    os.symlink(os.path.join(source, "resources", "filters"), os.path.join(product, "Filters"))
    os.symlink(program, os.path.join(product, "vtxserver"))
    subprocess.run([setup, product], env=env, check=True, stdout=subprocess.DEVNULL)
    return product
