#!/usr/bin/python3
"""The operator's commands against a running server, as the README has them: vtxctl's status of a
failed and of a successful update, update now, export and import of the configuration, refusals and
their exit statuses; and the services' command lines, which start nothing but a service.

Usage: operator_test.py <cmake> <build dir> <source dir>
"""
import os
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vtxtest import message, pipe_request, private_store, throwaway_account, wait_for  # noqa: E402

WM_VX_LOCKCONFIG, WM_VX_UNLOCKCONFIG, WM_VX_QUIT, WM_VX_ISUPDATING = 0x8065, 0x8066, 0x8067, 0x806D

failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")


def run(args, env, **kw):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=120, **kw)


def services(product, run_dir, env):
    """--help and unknown switches start nothing; a second messenger ends with its pipe's path."""
    for program in ("vtxservice", "vtxmessenger"):
        path = os.path.join(product, program)
        for args, status, said in [(["--help"], 0, "usage: " + program), (["-h"], 0, "usage: " + program),
                                   (["--bogus"], 2, "unknown argument: --bogus"),
                                   (["-Bogus"], 2, "unknown argument: -Bogus"),
                                   (["-RegServer", "extra"], 2, "unknown argument: -RegServer extra")]:
            r = run([path, *args], env)
            out = r.stdout if status == 0 else r.stderr
            check(f"{program} {args}", r.returncode == status and said in out, repr(r))
        check(f"{program}: nothing started", not [n for n in os.listdir(run_dir) if n.startswith("Hulvane")],
              os.listdir(run_dir))
    messenger = os.path.join(product, "vtxmessenger")
    first = subprocess.Popen([messenger], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        pipe = os.path.join(run_dir, "HulvaneVantrexMsngPipe")
        check("first messenger serves", wait_for(lambda: os.path.exists(pipe), 20), os.listdir(run_dir))
        r = run([messenger], env)
        check("second messenger", r.returncode == 1 and f"cannot serve the pipe {pipe}" in r.stderr
              and "\\\\.\\pipe" not in r.stderr, repr(r))
        check("first messenger still serves", first.poll() is None, first.poll())
        # Without systemd the verbs say how to run the programs by hand, and a removal names what
        # it could not stop. The registration makes the product's account: one of the test's own.
        with throwaway_account("op") as account:
            units = dict(env, VANTREX_UNIT_DIR=os.path.join(run_dir, "units"),
                         VANTREX_PAM_DIR=os.path.join(run_dir, "pam"), VANTREX_ACCOUNT=account)
            r = run([messenger, "-RegServerStartService"], units)
            check("start without systemd", r.returncode == 1 and "start it by hand instead" in r.stderr, repr(r))
            r = run([messenger, "-UnregServer"], units)
            check("removal without systemd",
                  r.returncode == 0 and f"still runs: end it with kill {first.pid}" in r.stderr, repr(r))
    finally:
        first.terminate()
        first.wait(20)


def main():
    cmake, build, source = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as root:
        product = os.path.join(root, "product")
        subprocess.run([cmake, "--install", build, "--prefix", product], check=True, stdout=subprocess.DEVNULL)
        env = private_store(root)
        env["VANTREX_DEFINITIONS_URL"] = "file://" + os.path.join(source, "resources", "samples", "definitions.txt")
        env.pop("ASAN_OPTIONS", None)
        ctl, setup = os.path.join(product, "vtxctl"), os.path.join(product, "vtxsetup")
        sample = "file://" + os.path.join(source, "resources", "samples", "eurofxref.html")
        missing = "file://" + os.path.join(root, "missing.html")
        pipe = os.path.join(root, "HulvaneVantrexAppPipe")

        r = run([setup, product, "--source", missing, "eurfeed.ini"], env)
        check("registered", r.returncode == 0, repr(r))
        services(product, root, env)

        r = run([ctl, "update"], env)
        check("update without a server", r.returncode == 1 and "vtxserver is not running" in r.stderr, repr(r))
        for args, said in [([], "no command"), (["frobnicate"], "unknown command"), (["export"], "one file name"),
                           (["update", "--wait", "0"], "--wait needs")]:
            r = run([ctl, *args], env)
            check(f"vtxctl {args}", r.returncode == 2 and said in r.stderr, repr(r))

        server = subprocess.Popen([os.path.join(product, "vtxserver")], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, text=True)
        try:
            check("server up", wait_for(lambda: os.path.exists(pipe) and pipe_request(pipe, message(0x806F)) == 1,
                                        30), "")
            # The source was given, so the first update starts at once; it fails.
            check("first update over", wait_for(lambda: pipe_request(pipe, message(WM_VX_ISUPDATING)) == 0, 60), "")
            r = run([ctl, "update"], env)
            check("update that fails", r.returncode == 1 and r.stdout.startswith("update failed: ")
                  and "could not be fetched" in r.stdout, repr(r))
            r = run([ctl, "status"], env)
            check("status of a failed update", r.returncode == 0 and "running, pipe " + pipe in r.stdout
                  and "rates accepted:    never" in r.stdout and ", failed" in r.stdout
                  and "could not be fetched from " + missing in r.stdout and "next update:       about" in r.stdout,
                  r.stdout + r.stderr)

            time.sleep(1.1)  # run archives are named by the second
            r = run([setup, product, "--source", sample, "eurfeed.ini"], env)
            check("a source of a running server", r.returncode == 0, repr(r))
            r = run([ctl, "update"], env)
            check("update now", (r.returncode, r.stdout.strip()), (0, "update succeeded"))
            r = run([ctl, "status"], env)
            check("status of a successful update", r.returncode == 0 and "rates accepted:    never" not in r.stdout
                  and ", succeeded" in r.stdout and "could not be fetched" not in r.stdout
                  and "1. " + sample + " (eurfeed.ini)" in r.stdout, r.stdout)

            # Backup and restore: the export, a changed configuration, and the import that undoes it.
            backup = os.path.join(root, "backup")
            r = run([ctl, "export", "backup"], env, cwd=root)
            check("export", r.returncode == 0 and backup + ".vx-cnf" in r.stdout, repr(r))
            check("export's mode", os.path.exists(backup + ".vx-cnf")
                  and stat.S_IMODE(os.stat(backup + ".vx-cnf").st_mode) == 0o600, "")
            run([setup, product, "--source", missing, "eurfeed.ini"], env)
            r = run([ctl, "import", backup + ".vx-cnf"], env)
            check("import", r.returncode == 0 and "imported" in r.stdout, repr(r))
            r = run([ctl, "status"], env)
            check("import restored the source", "1. " + sample in r.stdout and missing not in r.stdout, r.stdout)

            # Refused: a configuration session holds the lock; a file that is not there.
            check("lock", pipe_request(pipe, message(WM_VX_LOCKCONFIG)) == 0, "")
            r = run([ctl, "import", backup], env)
            check("import refused by the lock", r.returncode == 1 and "failed" in r.stderr
                  and "0x80040207" in r.stderr, repr(r))
            r = run([ctl, "update"], env)
            check("update while locked", r.returncode == 1 and "update not started" in r.stdout, repr(r))
            r = run([ctl, "status"], env)
            check("the counted request", "waiting requests:  1 update request " in r.stdout, r.stdout)
            pipe_request(pipe, message(WM_VX_UNLOCKCONFIG))
            r = run([ctl, "import", os.path.join(root, "nothing")], env)
            check("import of a missing file", r.returncode == 1 and os.path.join(root, "nothing.vx-cnf") in r.stderr,
                  repr(r))
            # The caller's rights: an account of the pipe's group that may not read the backup cannot
            # import it.
            os.chmod(root, 0o755)
            group = os.stat(pipe).st_gid
            r = run(["setpriv", "--reuid=65534", "--regid=65534", f"--groups={group}", ctl, "import", backup], env)
            check("import with the caller's rights", r.returncode == 1 and "0x80070005" in r.stderr, repr(r))

            r = run([ctl, "logs"], env)
            logs = r.stdout.strip()
            check("logs", r.returncode == 0 and logs == os.path.join(root, "Hulvane", "Vantrex", "Logs")
                  and any(os.path.exists(os.path.join(logs, d, "messages.txt")) for d in os.listdir(logs)), repr(r))
        finally:
            pipe_request(pipe, message(WM_VX_QUIT))
            try:
                server.wait(20)
            except subprocess.TimeoutExpired:
                server.kill()
                failures.append("the server did not stop")
        r = run([ctl, "status"], env)
        check("status without a server", r.returncode == 0 and "not running" in r.stdout, r.stdout)

    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
