"""systemd as PID 1 in private namespaces, for tests of the units that the services write.

    with SystemdNamespace() as ns:
        ns.run(["systemctl", "start", "some.service"])

The namespace has its own mount, pid, cgroup, network (loopback only) and uts namespaces; /run and
/etc/systemd are tmpfs, so the units written there and the runtime folders go with it. Every unit
of the host, every SysV script and every generator is masked, so nothing of the host starts: only
the targets of a boot remain. The file system is otherwise the host's, and so are the account
files (tests make and remove their own accounts). systemd is /lib/systemd/systemd; the namespace
needs root and a cgroup2 hierarchy. Where it cannot be made, start() raises NamespaceError with the
reason.
"""
import os
import shutil
import signal
import subprocess
import time

SYSTEMD = "/lib/systemd/systemd"

# Units of the host that a boot to multi-user.target needs and that start nothing.
_KEEP = {
    "-.slice", "system.slice", "sysinit.target", "basic.target", "sockets.target", "timers.target",
    "paths.target", "slices.target", "multi-user.target", "network-online.target", "network.target",
    "network-pre.target", "local-fs.target", "local-fs-pre.target", "swap.target", "shutdown.target",
    "final.target", "umount.target", "emergency.target", "rescue.target", "exit.target",
    "systemd-exit.service", "poweroff.target", "halt.target", "systemd-poweroff.service", "systemd-halt.service",
    "reboot.target",
}

# Runs as PID 1 of the new namespaces, then becomes systemd.
_INIT = r"""
set -e
mount --make-rprivate /
mount -t proc proc /proc
mount -t tmpfs -o mode=755 tmpfs /run
mount -t tmpfs -o mode=755 tmpfs /etc/systemd
mkdir -p /etc/systemd/system /etc/systemd/system-generators
mount -t cgroup2 cgroup2 /sys/fs/cgroup
ip link set lo up
hostname vtxtest
for f in /usr/lib/systemd/system/* /etc/init.d/*; do
  [ -d "$f" ] && continue
  n=$(basename "$f")
  case "$f" in /etc/init.d/*) n="$n.service";; esac
  case " $KEEP " in *" $n "*) continue;; esac
  ln -sf /dev/null "/etc/systemd/system/$n"
done
for g in /usr/lib/systemd/system-generators/*; do
  ln -sf /dev/null "/etc/systemd/system-generators/$(basename "$g")"
done
exec env -i container=vantrex-test PATH=/usr/sbin:/usr/bin:/sbin:/bin "$SYSTEMD" --unit=multi-user.target
"""


class NamespaceError(Exception):
    pass


def _cgroup2_root():
    """The mount point of the host's cgroup2 hierarchy, or None."""
    with open("/proc/self/mounts") as mounts:
        for line in mounts:
            fields = line.split()
            if len(fields) > 2 and fields[2] == "cgroup2":
                return fields[1]
    return None


class SystemdNamespace:
    def __init__(self, log_path=None):
        self.log_path = log_path
        self.pid = None  # systemd's pid as the host sees it
        self._unshare = None
        self._cgroup = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self, timeout=30):
        if os.geteuid() != 0:
            raise NamespaceError("systemd in private namespaces needs root")
        for tool in ("unshare", "nsenter", "ip", "mount"):
            if not shutil.which(tool):
                raise NamespaceError(f"{tool} is missing")
        if not os.access(SYSTEMD, os.X_OK):
            raise NamespaceError(f"{SYSTEMD} is missing")
        root = _cgroup2_root()
        if not root:
            raise NamespaceError("the host has no cgroup2 hierarchy for systemd to run in")
        # A cgroup of its own, so that the namespace's root cgroup is empty and systemd's.
        self._cgroup = os.path.join(root, f"vtxsd-{os.getpid()}-{time.monotonic_ns()}")
        try:
            os.mkdir(self._cgroup)
        except OSError as e:
            raise NamespaceError(f"cannot make the cgroup {self._cgroup}: {e}")
        cgroup_procs = os.path.join(self._cgroup, "cgroup.procs")

        def enter_cgroup():
            with open(cgroup_procs, "w") as f:
                f.write(str(os.getpid()))

        log = open(self.log_path, "wb") if self.log_path else subprocess.DEVNULL
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "KEEP": " ".join(sorted(_KEEP)), "SYSTEMD": SYSTEMD}
        self._unshare = subprocess.Popen(
            ["unshare", "--mount", "--pid", "--cgroup", "--net", "--uts", "--fork", "sh", "-c", _INIT],
            env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log, preexec_fn=enter_cgroup)
        if log is not subprocess.DEVNULL:
            log.close()
        end = time.monotonic() + timeout
        state = ""
        while time.monotonic() < end:
            if self._unshare.poll() is not None:
                raise NamespaceError(f"the namespace ended at once (status {self._unshare.returncode})" +
                                     self._log_tail())
            if self.pid is None:
                self.pid = self._child_of(self._unshare.pid)
            if self.pid is not None:
                r = self.run(["systemctl", "is-system-running"], check=False, timeout=10)
                state = r.stdout.strip()
                if state in ("running", "degraded"):
                    return
            time.sleep(0.2)
        self.stop()
        raise NamespaceError(f"systemd did not come up within {timeout} s (state {state or 'unknown'})" +
                             self._log_tail())

    def _log_tail(self):
        if not self.log_path or not os.path.exists(self.log_path):
            return ""
        with open(self.log_path, errors="replace") as f:
            return ": " + " | ".join(f.read().splitlines()[-5:])

    @staticmethod
    def _child_of(pid):
        try:
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/children") as f:
                    children = f.read().split()
                if children:
                    return int(children[0])
        except OSError:
            pass
        return None

    def run(self, argv, check=True, timeout=60, env=None, input=None):
        """Runs a command inside the namespaces (as root): its CompletedProcess, text output."""
        if self.pid is None:
            raise NamespaceError("the namespace is not running")
        full = ["nsenter", "-t", str(self.pid), "-a"]
        if env is not None:
            full += ["env", "-i"] + [f"{k}={v}" for k, v in env.items()]
        r = subprocess.run(full + list(argv), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           timeout=timeout, input=input)
        if check and r.returncode != 0:
            raise subprocess.CalledProcessError(r.returncode, argv, r.stdout)
        return r

    def systemctl(self, *args, check=False, timeout=60):
        return self.run(["systemctl", "--no-pager"] + list(args), check=check, timeout=timeout)

    def property(self, unit, name):
        return self.systemctl("show", "-P", name, unit).stdout.strip()

    def stop(self):
        """Ends every process of the namespace (killing its PID 1 ends the pid namespace) and
        removes the cgroups that systemd made."""
        if self.pid is not None:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except OSError:
                pass
        if self._unshare is not None:
            try:
                self._unshare.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._unshare.kill()
                self._unshare.wait()
        self.pid = None
        if self._cgroup and os.path.isdir(self._cgroup):
            end = time.monotonic() + 10
            while time.monotonic() < end:
                for folder, _, _ in sorted(os.walk(self._cgroup), key=lambda w: -len(w[0])):
                    try:
                        os.rmdir(folder)
                    except OSError:
                        pass
                if not os.path.isdir(self._cgroup):
                    break
                time.sleep(0.1)
        self._cgroup = None
