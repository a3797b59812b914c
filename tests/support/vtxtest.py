"""The tests' helpers for Python scripts: a client of the server's pipe, free ports, waits with a limit.

Scripts import it from tests/support: sys.path.insert(0, <tests>/support).
"""
import socket
import struct
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
        reply = b""
        while len(reply) < 4:
            chunk = s.recv(4 - len(reply))
            if not chunk:
                break
            reply += chunk
    finally:
        s.close()
    return struct.unpack("<I", reply)[0] if len(reply) == 4 else None


def free_port():
    """A port of 127.0.0.1 that nothing listens on now."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


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
