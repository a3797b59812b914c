#!/usr/bin/python3
"""One bad dollar cell on the European Central Bank's page, through the installed eurfeed and
vtxserver on a private store: a value the rates file cannot hold fails the update with the page's
line, keeping every stored rate; a row that eurfeed cannot read costs the dollar its rate, and the
event log says so; a zero is taken and said as well.

Usage: badvalues.py <cmake> <build dir> <source dir>
"""
import os
import socket
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "..", "support"))
sys.path.insert(0, os.path.join(here, "..", "mainroad"))
from mainroad import WM_VX_UPDATENOW, Installation, ask, check, finish, page_with_dollar  # noqa: E402

E_INVALIDARG = 0x80070057


def drain(log):
    """The event-log entries that arrived so far."""
    entries = []
    log.settimeout(0.5)
    while True:
        try:
            entries.append(log.recv(65536).decode("utf-8", "replace"))
        except OSError:
            return entries


def main():
    cmake, build, source = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as root:
        inst = Installation(cmake, build, root)
        inst.env["VANTREX_DEFINITIONS_URL"] = "file://" + os.path.join(root, "no-definitions.txt")
        log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        log.bind(inst.env["VANTREX_SYSLOG_SOCKET"])
        rates_page = os.path.join(root, "eurofxref.html")
        cases = [
            # cell, what the update answers, the dollar's stored rate afterwards
            ("-1.0856", "refused", 1.1111),
            ("NaN", "refused", 1.1111),
            ("inf", "refused", 1.1111),
            ("1e300", "refused", 1.1111),
            ("0", "taken", 0.0),
            ("0.0000", "taken", 0.0),
            ("7" * 400, "taken", None),
            ("1." + "0" * 350, "taken", None),
            ("1,5", "taken", None),
        ]
        # What one entry of the event log holds: the page and its line, or the dollar that has no rate now.
        said_refused = ("error", "eurofxref.html", "line 10")
        said_lost = ("warning", "USD (US Dollar)", "no rate")
        for number, (cell, outcome, usd) in enumerate(cases):
            words = said_refused if outcome == "refused" else said_lost
            name = f"{cell[:12]}{'...' if len(cell) > 12 else ''}"
            inst.store(f"case{number}")
            page_with_dollar(source, rates_page, "1.1111")
            inst.setup("--source", "file://" + rates_page, "eurfeed.ini")
            server = inst.start()
            try:
                check(f"{name}: first update", ask(inst.pipe, WM_VX_UPDATENOW) == 0, "")
                before = inst.rates()
                check(f"{name}: first rates", before.get("USD") == 1.1111, repr(before))
                drain(log)
                page_with_dollar(source, rates_page, cell)
                reply = ask(inst.pipe, WM_VX_UPDATENOW)
                events = drain(log)
            finally:
                inst.stop(server)
            after = inst.rates()
            if outcome == "refused":
                check(f"{name}: the update fails", reply == E_INVALIDARG, hex(reply or 0))
                check(f"{name}: every rate kept", after == before, f"{after} against {before}")
            else:
                check(f"{name}: the update succeeds", reply == 0, hex(reply or 0))
                check(f"{name}: the dollar's rate", after.get("USD") == usd, repr(after.get("USD")))
                others = {k: v for k, v in after.items() if k != "USD"}
                check(f"{name}: the other rates", others == {k: v for k, v in before.items() if k != "USD"},
                      repr(others))
            said = [e for e in events if all(w in e for w in words)]
            check(f"{name}: the event log says it", said, repr(events))
    return finish()


if __name__ == "__main__":
    sys.exit(main())
