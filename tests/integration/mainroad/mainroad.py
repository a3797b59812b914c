#!/usr/bin/python3
"""The main road with the real programs: an installed product folder, a private store, vtxserver,
rates pages served by python3's http.server, updates requested over the pipe and updates on the
server's own schedule, and the stored rates read back with vtxrates.

Usage: mainroad.py <cmake> <build dir> <source dir>
"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from vtxtest import accepts, free_port, message, pipe_request, wait_for  # noqa: E402

WM_VX_QUIT, WM_VX_UPDATENOW, WM_VX_PING = 0x8067, 0x8068, 0x806F

failures = []


def finish():
    """Reports the failures; the exit status of the test."""
    for f in failures:
        print("FAIL", f, file=sys.stderr)
    print(f"{0 if failures else 1} passed, {len(failures)} failed")
    return 1 if failures else 0


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")


def ask(pipe, msg, wparam=0, timeout=120):
    """One request over the pipe: the 32-bit reply, or None when no server answers."""
    try:
        return pipe_request(pipe, message(msg, wparam), timeout=timeout)
    except OSError:
        return None


def page_with_dollar(source, path, usd):
    """Writes to `path` the sample page of the source tree `source` with its own dollar cell."""
    with open(os.path.join(source, "resources", "samples", "eurofxref.html"), encoding="utf-8") as f:
        text = f.read()
    at = text.index('id="USD"')
    start = text.index('<span class="rate">', at) + len('<span class="rate">')
    end = text.index("<", start)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text[:start] + usd + text[end:])


def expected_rates(text):
    """The [EUR] section of a rates file as {code: rate}."""
    rates, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line
        elif section == "[EUR]" and "=" in line:
            code, value = (part.strip() for part in line.split("=", 1))
            rates[code] = float(value)
    return rates


class Installation:
    def __init__(self, cmake, build, root):
        self.root = root
        self.product = os.path.join(root, "product")
        subprocess.run([cmake, "--install", build, "--prefix", self.product], check=True, stdout=subprocess.DEVNULL)
        self.env = dict(os.environ, VANTREX_RUNTIME_DIR=os.path.join(root, "run"),
                        VANTREX_APPDATA=os.path.join(root, "appdata"),
                        VANTREX_SYSLOG_SOCKET=os.path.join(root, "run", "log.sock"))
        self.env.pop("ASAN_OPTIONS", None)
        os.makedirs(self.env["VANTREX_RUNTIME_DIR"], exist_ok=True)
        self.pipe = os.path.join(self.env["VANTREX_RUNTIME_DIR"], "HulvaneVantrexAppPipe")

    def store(self, name):
        """A fresh registry store for one scenario."""
        self.env["VANTREX_REGISTRY"] = os.path.join(self.root, name + ".db")

    def setup(self, *args):
        subprocess.run([os.path.join(self.product, "vtxsetup"), self.product, *args], env=self.env, check=True,
                       stdout=subprocess.DEVNULL)

    def rates(self):
        out = subprocess.run([os.path.join(self.product, "vtxrates")], env=self.env, check=True,
                             stdout=subprocess.PIPE, text=True).stdout
        rates = {}
        for line in out.splitlines():
            m = re.match(r"^(\w{3})\s+([0-9.]+)\s", line)
            if m:
                rates[m.group(1)] = float(m.group(2))
        return rates

    def start(self):
        server = subprocess.Popen([os.path.join(self.product, "vtxserver"), "/SERVICE"], env=self.env,
                                  stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(self.pipe) and ask(self.pipe, WM_VX_PING, timeout=5) == 1, 20):
            server.kill()
            raise RuntimeError("vtxserver did not come up")
        return server

    def stop(self, server):
        ask(self.pipe, WM_VX_QUIT)
        try:
            server.wait(timeout=30)
        except subprocess.TimeoutExpired:
            server.kill()
            failures.append("vtxserver did not stop")


def same_rates(got, want):
    return all(code in got and abs(got[code] - rate) <= 1e-6 * max(1.0, rate) for code, rate in want.items())


def main():
    cmake, build, source = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as root:
        www = os.path.join(root, "www")
        os.makedirs(www)
        with open(os.path.join(source, "resources", "samples", "eurofxref.html"), "rb") as f:
            sample = f.read()
        with open(os.path.join(www, "eurofxref.html"), "wb") as f:
            f.write(sample)
        with open(os.path.join(source, "resources", "samples", "definitions.txt"), "rb") as f:
            definitions = f.read()
        with open(os.path.join(www, "definitions.txt"), "wb") as f:
            f.write(definitions)
        fixtures = [("sovfeed", "rates.html"), ("tolfeed", "rates.html"), ("sdrfeed", "rates.tsv"),
                    ("cadfeed", "rates.html"), ("quofeed", "rates.csv"), ("usdfeed", "rates.html")]
        for program, name in fixtures:
            with open(os.path.join(source, "tests", "filters", program, "fixtures", name), "rb") as f:
                data = f.read()
            with open(os.path.join(www, program + "-" + name), "wb") as f:
                f.write(data)
        port = free_port()
        log = open(os.path.join(root, "http.log"), "w")
        http = subprocess.Popen(["/usr/bin/python3", "-m", "http.server", str(port), "--bind", "127.0.0.1"],
                                cwd=www, stdout=log, stderr=log)
        base = f"http://127.0.0.1:{port}/"
        if not wait_for(lambda: accepts(port), 10):
            http.kill()
            raise RuntimeError("http.server did not listen")
        inst = Installation(cmake, build, root)
        # The currency-definitions check after a first update reads the local page, not the maker's host.
        inst.env["VANTREX_DEFINITIONS_URL"] = base + "definitions.txt"

        def requests_for(path):
            with open(os.path.join(root, "http.log")) as f:
                return f.read().count("GET /" + path)

        try:
            # An update requested over the pipe: download, eurfeed, checks, store; its result comes back.
            inst.store("requested")
            inst.setup("--source", base + "eurofxref.html", "eurfeed.ini")
            server = inst.start()
            check("update now", ask(inst.pipe, WM_VX_UPDATENOW) == 0, "the run failed")
            inst.stop(server)
            check("definitions check", requests_for("definitions.txt") == 1,
                  f"{requests_for('definitions.txt')} requests")
            rates = inst.rates()
            check("stored rates", rates.get("USD") == 1.0856 and rates.get("JPY") == 163.42 and len(rates) == 30,
                  repr(rates))

            # A failing source: the run's failure comes back and the stored rates stay as they were.
            inst.setup("--source", base + "missing.html", "eurfeed.ini")
            server = inst.start()
            result = ask(inst.pipe, WM_VX_UPDATENOW)
            check("failed update", result is not None and result >= 0x80000000, hex(result or 0))
            inst.stop(server)
            check("rates kept", inst.rates() == rates, repr(inst.rates()))

            # Updates on the server's own schedule, without any request.
            inst.store("scheduled")
            before = requests_for("eurofxref.html")
            inst.setup("--source", base + "eurofxref.html", "eurfeed.ini", "--schedule", "1", "2")
            server = inst.start()
            ok = wait_for(lambda: requests_for("eurofxref.html") - before >= 2, 30)
            check("scheduled updates", ok, f"{requests_for('eurofxref.html') - before} downloads")
            inst.stop(server)
            check("scheduled rates", inst.rates().get("USD") == 1.0856, repr(inst.rates()))

            # Every other filter program through the server, on its fixture.
            for program, name in fixtures:
                inst.store(program)
                inst.setup("--source", base + program + "-" + name, program + ".ini")
                server = inst.start()
                result = ask(inst.pipe, WM_VX_UPDATENOW)
                inst.stop(server)
                with open(os.path.join(source, "tests", "filters", program, "fixtures",
                                       name.split(".")[0] + ".expected")) as f:
                    want = expected_rates(f.read())
                got = inst.rates()
                check(program, result == 0 and same_rates(got, want), f"result {hex(result or 0)}, {got} != {want}")
        finally:
            http.terminate()
            http.wait()
            log.close()

    return finish()


if __name__ == "__main__":
    sys.exit(main())
