#!/usr/bin/python3
"""vtxsetup and vtxrates as an operator runs them: what they refuse and why, what they print, and
what they leave in the store.

Usage: tools_test.py <cmake> <build dir> <source dir>
"""
import os
import sqlite3
import subprocess
import sys
import tempfile

failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")


def run(program, args, env):
    return subprocess.run([program, *args], env=env, capture_output=True, text=True, timeout=60)


def main():
    cmake, build, _source = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as root:
        product = os.path.join(root, "product")
        subprocess.run([cmake, "--install", build, "--prefix", product], check=True, stdout=subprocess.DEVNULL)
        setup, rates = os.path.join(product, "vtxsetup"), os.path.join(product, "vtxrates")
        store = os.path.join(root, "store", "registry.db")
        env = dict(os.environ, VANTREX_REGISTRY=store, VANTREX_RUNTIME_DIR=os.path.join(root, "run"),
                   VANTREX_APPDATA=root, VANTREX_SYSLOG_SOCKET=os.path.join(root, "log.sock"))
        env.pop("ASAN_OPTIONS", None)
        not_product = os.path.join(root, "empty")
        os.makedirs(not_product)

        # vtxrates on a store that does not exist: a clear failure, and nothing is made.
        r = run(rates, [], env)
        check("rates without a store", r.returncode == 1 and "no registry store" in r.stderr, repr(r))
        check("no store made", not os.path.exists(os.path.dirname(store)), os.listdir(root))

        for args, status, said in [
            (["--help"], 0, ""),
            ([], 2, "no product folder"),
            (["/?"], 2, "does not exist"),
            (["relative/folder"], 2, "absolute path"),
            ([not_product], 2, "holds no vtxserver"),
            ([product, "--source", "rates.example/page.html", "eurfeed.ini"], 2, "no scheme"),
            ([product, "--source", "gopher://rates.example/page", "eurfeed.ini"], 2, "no scheme"),
            ([product, "--source", "file:///tmp/page.html", "missing.ini"], 2, "missing.ini cannot be loaded"),
            ([product, "--source", "file:///tmp/page.html", "../eurfeed.ini"], 2, "cannot be loaded"),
            ([product, "--source", "file:///tmp/page.html"], 2, "needs an address and a filter"),
            ([product, "--schedule", "100", "10"], 2, "must be above 0 and not above"),
            ([product, "--schedule", "0", "10"], 2, "must be above 0"),
            ([product, "--schedule", "-5", "10"], 2, "two numbers"),
            ([product, "--frobnicate"], 2, "unknown argument --frobnicate"),
        ]:
            r = run(setup, args, env)
            check(f"vtxsetup {args}", r.returncode == status and said in r.stderr, repr(r))
            if status:
                check(f"vtxsetup {args}: one line first", r.stderr.startswith("vtxsetup: "), repr(r.stderr))
        check("refusals leave no store", not os.path.exists(store), "a store was made")
        r = run(setup, ["--help"], env)
        check("vtxsetup --help", r.stdout.startswith("usage: vtxsetup") and "--schedule" in r.stdout, r.stdout)

        r = run(setup, [product, "--source", "file:///tmp/page.html", "eurfeed.ini", "--schedule", "60", "60"], env)
        check("vtxsetup registers", r.returncode == 0, repr(r))
        db = sqlite3.connect(store)
        names = {row[0].decode("utf-16-le") if isinstance(row[0], bytes) else row[0]
                 for row in db.execute("SELECT name FROM vals")}
        db.close()
        for value in ("Path", "Filters", "Server", "Resources0409", "Resources0000"):
            check(f"value {value}", value in names, sorted(names))

        # A store without rates, a damaged store, and the arguments vtxrates does not take.
        r = run(rates, [], env)
        check("no rates yet", r.returncode == 0 and r.stdout.strip() == "no rates stored yet", repr(r))
        r = run(rates, ["--help"], env)
        check("vtxrates --help", r.returncode == 0 and r.stdout.startswith("usage: vtxrates"), repr(r))
        r = run(rates, ["--all"], env)
        check("vtxrates refuses arguments", r.returncode == 2 and "unknown argument --all" in r.stderr, repr(r))
        with open(store, "r+b") as f:
            f.write(b"this is not a registry store" * 8)
        r = run(rates, [], env)
        check("damaged store", r.returncode == 1 and r.stderr.startswith("vtxrates: cannot read") and not r.stdout,
              repr(r))

    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
