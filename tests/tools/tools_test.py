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
        ctl, server = os.path.join(product, "vtxctl"), os.path.join(product, "vtxserver")
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
            ([product, "--frobnicate"], 2, "unknown switch --frobnicate"),
            (["--bogus"], 2, "unknown switch --bogus"),
            (["--source", "file:///tmp/page.html", "eurfeed.ini"], 2, "no product folder given before --source"),
            ([product, "stray"], 2, "unknown argument stray"),
        ]:
            r = run(setup, args, env)
            check(f"vtxsetup {args}", r.returncode == status and said in r.stderr, repr(r))
            if status:
                check(f"vtxsetup {args}: one line first", r.stderr.startswith("vtxsetup: "), repr(r.stderr))
        check("refusals leave no store", not os.path.exists(store), "a store was made")
        r = run(setup, ["--help"], env)
        check("vtxsetup --help", r.stdout.startswith("usage: vtxsetup") and "--schedule" in r.stdout, r.stdout)

        r = run(setup, [product, "--source", "file:///tmp/page.html", "eurfeed.ini", "--schedule", "60", "60"], env)
        check("vtxsetup registers", r.returncode == 0 and f"registered {product} in {store}" in r.stdout
              and "at most every 60 s, at least every 60 s" in r.stdout, repr(r))
        # Several sources keep their order; a source without a schedule switches updates on and
        # keeps the stored times.
        r = run(setup, [product, "--source", "file:///tmp/a.html", "eurfeed.ini", "--source", "http://b.example/r",
                        "eurfeed.ini"], env)
        said = ["data source 1: file:///tmp/a.html (eurfeed.ini)", "data source 2: http://b.example/r (eurfeed.ini)",
                "automatic updates: on, at most every 60 s, at least every 60 s"]
        check("vtxsetup with two sources", r.returncode == 0 and all(line in r.stdout for line in said), repr(r))
        r = run(ctl, ["status"], env)
        check("two sources stored in order", r.returncode == 0 and "1. file:///tmp/a.html (eurfeed.ini)" in r.stdout
              and "2. http://b.example/r (eurfeed.ini)" in r.stdout and "not running" in r.stdout, repr(r))
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
        # A store on a read-only file system is read as it is, and nothing is made beside it.
        before = sorted(os.listdir(os.path.dirname(store)))
        script = f"mount --bind -o ro {os.path.dirname(store)} {os.path.dirname(store)} && exec {rates}"
        r = subprocess.run(["unshare", "-m", "sh", "-c", script], env=env, capture_output=True, text=True, timeout=60)
        check("read-only mount", r.returncode == 0 and r.stdout.strip() == "no rates stored yet", repr(r))
        script = f"mount --bind -o ro {os.path.dirname(store)} {os.path.dirname(store)} && exec {setup} {product}"
        r = subprocess.run(["unshare", "-m", "sh", "-c", script], env=env, capture_output=True, text=True, timeout=60)
        check("read-only mount: vtxsetup", r.returncode == 1 and f"the registry store {store} is read-only" in r.stderr,
              repr(r))
        # An account that may not read the store is told so, not that there is none.
        os.chmod(store, 0o600)
        os.chmod(root, 0o755)
        r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", rates], capture_output=True,
                           text=True, timeout=60, env=dict(env, VANTREX_RUNTIME_DIR=os.path.join(root, "nobody")))
        check("unreadable store", r.returncode == 1 and "may not be read by this account" in r.stderr, repr(r))
        check("nothing made beside the store", sorted(os.listdir(os.path.dirname(store))) == before,
              os.listdir(os.path.dirname(store)))

        # A damaged store and another program's database are named as such by every program, and
        # the file stays as it was: no journal switch, no tables added.
        damaged = b"this is not a registry store" * 8
        foreign = os.path.join(root, "foreign.db")
        db = sqlite3.connect(foreign)
        db.execute("CREATE TABLE accounts(name TEXT)")
        db.commit()
        db.close()
        with open(foreign, "rb") as f:
            foreign_bytes = f.read()
        for name, data in [("damaged", damaged), ("foreign", foreign_bytes)]:
            for journal in (store + "-wal", store + "-shm"):
                if os.path.exists(journal):
                    os.remove(journal)
            with open(store, "wb") as f:
                f.write(data)
            for program, args in [(rates, []), (ctl, ["status"]), (setup, [product]), (server, [])]:
                r = run(program, args, env)
                who = os.path.basename(program)
                check(f"{name} store: {who}", r.returncode == 1 and not r.stdout and
                      r.stderr.startswith(f"{who}: the registry store {store} is damaged or is not a Vantrex store"),
                      repr(r))
            with open(store, "rb") as f:
                check(f"{name} store unchanged", f.read() == data, "the file was changed")
            check(f"{name} store: no journal", not os.path.exists(store + "-wal"), os.listdir(os.path.dirname(store)))

    for f in failures:
        print("FAIL", f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
