"""No object file outside platform/ calls the operating system itself: every call goes through the seam.

Usage: seam_check.py <syscalls.h> <build folder> <seam folder> <folder>...
The folders are the build folder's, for the sources' folders of the same names; the seam's folder is
left out of them. The calls are the entries of the seam's table in <syscalls.h>, the C library's other
names for them (stat64, open64, ...) and a few library functions that reach the system on their own
(fopen, popen, system, sleep, ...). The seam's own objects must call them, or the check proves nothing.
"""
import os
import re
import subprocess
import sys

# Library functions that are system calls, or make them, and have no entry of their own in the table.
OTHER_CALLS = {
    "_exit", "accept", "alarm", "creat", "execv", "execvp", "execl", "execlp", "fopen", "freopen",
    "ftw", "nftw", "getgrgid", "getgrnam", "getpwnam", "getpwuid", "gettimeofday", "mkdtemp", "mkstemp",
    "mkostemp", "pipe", "popen", "posix_spawnp", "pthread_sigmask", "remove", "scandir", "secure_getenv",
    "select", "setenv", "signal", "sleep", "system", "time", "tmpfile", "truncate", "unsetenv", "usleep",
    "utime", "utimensat", "futimens", "vfork", "wait", "waitid",
}


def table_calls(header):
    """The names of the seam table's entries: `ret (*name)(...)` inside `struct Table`."""
    with open(header, encoding="utf-8") as f:
        text = f.read()
    body = re.search(r"struct Table \{(.*?)\n\};", text, re.S)
    if not body:
        sys.exit(f"seam_check: no `struct Table` in {header}")
    names = set(re.findall(r"\(\*(\w+)\)", body.group(1)))
    # The table's `exit` is _exit(2); exit(3), which runs the program's exit handlers, is no call of it.
    names.discard("exit")
    if len(names) < 50:
        sys.exit(f"seam_check: only {len(names)} entries read from {header}")
    return names


def forbidden(header):
    calls = table_calls(header) | OTHER_CALLS
    # glibc's large-file, fortified and older names of the same calls.
    calls |= {name + "64" for name in calls}
    calls |= {f"__{name}_chk" for name in calls} | {f"__{name}_2" for name in calls}
    calls |= {"__xstat", "__lxstat", "__fxstat", "__fxstatat"}
    return calls


def imports(obj):
    done = subprocess.run(["nm", "--undefined-only", obj], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        sys.exit(f"seam_check: nm {obj} failed: {done.stderr.strip()}")
    return {line.split()[-1].split("@")[0] for line in done.stdout.splitlines() if line.strip()}


def objects_under(folder):
    found = []
    for root, _, files in os.walk(folder):
        found += [os.path.join(root, f) for f in files if f.endswith(".o")]
    return found


def main():
    if len(sys.argv) < 5:
        sys.exit("usage: seam_check.py <syscalls.h> <build folder> <seam folder> <folder>...")
    header, build, seam, folders = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    calls = forbidden(header)
    seam = os.path.normpath(os.path.join(build, seam))
    seam_objects = objects_under(seam)
    if not any(imports(obj) & calls for obj in seam_objects):
        sys.exit(f"seam_check: the check finds no system call in the objects under {seam}, which make them")
    objects = [obj for folder in folders for obj in objects_under(os.path.join(build, folder))
               if not os.path.normpath(obj).startswith(seam + os.sep)]
    if not objects:
        sys.exit(f"seam_check: no object files under {build} in {' '.join(folders)}")
    failed = False
    for obj in sorted(objects):
        for name in sorted(imports(obj) & calls):
            print(f"{os.path.relpath(obj, build)}: calls {name} itself")
            failed = True
    if failed:
        sys.exit(1)
    print(f"{len(objects)} object files in {' '.join(folders)} make their system calls through the seam")


main()
