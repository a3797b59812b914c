"""The filter programs import nothing from the libraries that only the server side needs.

Usage: imports_check.py <control program> <filter program>...
The control program links those libraries: the check must find them there, or it proves nothing.
"""
import subprocess
import sys

# Library file stems, and the symbol versions and prefixes of their functions.
FORBIDDEN_LIBRARIES = ("libpam.", "libsystemd.", "libcurl.", "libsqlite3.", "libssl.", "libcrypt.")
FORBIDDEN_VERSIONS = ("@LIBPAM", "@LIBSYSTEMD", "@CURL_", "@OPENSSL")
FORBIDDEN_PREFIXES = ("pam_", "sd_", "curl_", "sqlite3_", "SSL_")


def run(*args):
    done = subprocess.run(args, capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        sys.exit(f"imports_check: {' '.join(args)} failed: {done.stderr.strip()}")
    return done.stdout


def findings(program):
    """What `program` imports from the forbidden libraries, as readable lines."""
    needed = [line.split("[", 1)[1].rstrip("]")
              for line in run("readelf", "-d", "--wide", program).splitlines() if "(NEEDED)" in line]
    if not any(n.startswith("libc.") for n in needed):
        sys.exit(f"imports_check: no NEEDED entries read from {program}")
    symbols = [line.split()[-1] for line in run("nm", "-D", "--undefined-only", program).splitlines() if line.strip()]
    if not symbols:
        sys.exit(f"imports_check: no imported symbols read from {program}")
    found = [f"NEEDED {n}" for n in needed if n.startswith(FORBIDDEN_LIBRARIES)]
    found += [f"imports {s}" for s in symbols
              if any(v in s for v in FORBIDDEN_VERSIONS) or s.startswith(FORBIDDEN_PREFIXES)]
    return found


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: imports_check.py <control program> <filter program>...")
    control, filters = sys.argv[1], sys.argv[2:]
    if not findings(control):
        sys.exit(f"imports_check: the check finds nothing in {control}, which links those libraries")
    failed = False
    for program in filters:
        for line in findings(program):
            print(f"{program}: {line}")
            failed = True
    if failed:
        sys.exit(1)
    print(f"{len(filters)} filter programs import none of PAM, libsystemd, libcurl, OpenSSL or SQLite")


main()
