#!/usr/bin/env python3
"""A short match of the release server under valgrind's memcheck.

The server runs under memcheck with 6 bots; brastok_client load plays 3
players on it for SECONDS (default 10), then the server is stopped with
SIGTERM. It passes when valgrind reports no error and no definitely lost
block (memcheck's exit status stays 0 then; it would be 99), the players
all connected and played (the load tool exits with 0), and the server
stopped cleanly.

  scripts/memcheck.py [--seconds N] [--server BIN] [--client BIN]

The sanitizer build cannot run under valgrind: this takes the release one.
"""

import argparse
import os
import subprocess
import tempfile

from brastok_run import CLIENT_BIN, SERVER_BIN, Server, verdict

VALGRIND_STATUS = 99


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--seconds", type=int, default=10)
    ap.add_argument("--server", default=SERVER_BIN)
    ap.add_argument("--client", default=CLIENT_BIN)
    a = ap.parse_args()

    failures = []
    with tempfile.TemporaryDirectory(prefix="brastok-memcheck-") as tmp:
        log = os.path.join(tmp, "valgrind.log")
        wrapper = ["valgrind", "--tool=memcheck", "--error-exitcode=%d" % VALGRIND_STATUS,
                   "--leak-check=full", "--show-leak-kinds=definite",
                   "--errors-for-leak-kinds=definite", "--track-origins=yes",
                   "--log-file=" + log]
        # Valgrind takes a few seconds to start the program.
        server = Server(a.server, ["-bots", "6"], wrapper=wrapper, start_timeout=60.0)
        try:
            print("memcheck: 3 players and 6 bots on %s for %d s under valgrind" %
                  (server.addr, a.seconds))
            load = subprocess.run([a.client, "load", "-n", "3", "-t", str(a.seconds), "--timeout",
                                   "10", server.addr], stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=a.seconds + 60)
            for line in load.stdout.splitlines():
                print("memcheck:   " + line)
            if load.returncode != 0:
                failures.append("the load run ended with status %d: %s" %
                                (load.returncode, load.stderr.strip()))
        finally:
            status = server.stop(timeout=60.0)
        with open(log) as f:
            report = f.read()
        summary = [l.split("== ", 1)[-1] for l in report.splitlines()
                   if "ERROR SUMMARY" in l or "definitely lost" in l or "in use at exit" in l]
        for l in summary:
            print("memcheck: " + l)
        if status == VALGRIND_STATUS:
            failures.append("valgrind found errors or leaks:\n" + report)
        elif status != 0:
            failures.append("the server ended with status %s\n%s" % (status, report[-4000:]))
        if "ERROR SUMMARY: 0 errors" not in report:
            failures.append("no clean error summary in valgrind's report")
    verdict("memcheck", failures)


if __name__ == "__main__":
    main()
