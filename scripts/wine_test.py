#!/usr/bin/env python3
"""The Windows server under wine, driven by the Linux client over loopback.

build-windows/brastok_server.exe runs under wine with its own wine prefix
in build-windows/wine (created on the first run, which takes about 20 s).
The Linux brastok_client asks its status, then two players connect, join
and chat for a few seconds; Ctrl-C (SIGINT, which wine hands to the
program's console handler) must then stop the server within 10 s with exit
status 0. Every wine process of the prefix is ended at the end.

  scripts/wine_test.py [--server EXE] [--client BIN]
"""

import argparse
import json
import os
import shutil
import signal
import subprocess

from brastok_run import BUILD, CLIENT_BIN, Server, verdict

WINDOWS_BUILD = BUILD + "-windows"
WINE = "/usr/lib/wine/wine64"  # Debian's wine64 does not put it on PATH
WINESERVER = "/usr/lib/wine/wineserver64"


def tool(name, fallback):
    return fallback if os.path.exists(fallback) else shutil.which(name) or name


def run(cmd, timeout):
    return subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=timeout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--server", default=os.path.join(WINDOWS_BUILD, "brastok_server.exe"))
    ap.add_argument("--client", default=CLIENT_BIN)
    a = ap.parse_args()

    # A prefix of the build's own, no wine chatter on stderr, and no offer to
    # install wine's .NET and browser replacements into a fresh prefix.
    os.environ["WINEPREFIX"] = os.path.abspath(os.path.join(WINDOWS_BUILD, "wine"))
    os.environ["WINEDEBUG"] = "-all"
    os.environ["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    wineserver = tool("wineserver", WINESERVER)

    failures = []
    server = None
    try:
        server = Server(a.server, ["-name", "Wine"], wrapper=[tool("wine64", WINE)],
                        start_timeout=120.0)
        print("wine-test: %s answers on %s" % (os.path.basename(a.server), server.addr))

        status = run([a.client, "status", "--timeout", "5", server.addr], 30)
        if status.returncode != 0 or "Wine" not in status.stdout:
            failures.append("status: exit %d, %r %r" %
                            (status.returncode, status.stdout, status.stderr))

        load = run([a.client, "load", "-n", "2", "-t", "3", "--json", "--timeout", "5",
                    server.addr], 60)
        if load.returncode != 0:
            failures.append("load: exit %d, %s %s" % (load.returncode, load.stdout, load.stderr))
        else:
            report = json.loads(load.stdout)
            print("wine-test: 2 players, %d state packets, %d/%d chat lines seen" %
                  (report["state_packets"], report["chat"]["seen"], report["chat"]["sent"]))
            if report["chat"]["seen"] == 0:
                failures.append("no chat line came back: %s" % load.stdout)
        for line in ("load1 connected!", "load1 has joined the game!",
                     "load1: load1 says hello #1"):
            if not server.wait_for(lambda: line in server.lines, 5.0):
                failures.append("no console line %r in %r" % (line, server.lines))

        # Wine turns SIGINT into the console's Ctrl-C event; the server's
        # handler ends the loop after the current cycle and main returns 0.
        code = server.stop(sig=signal.SIGINT, timeout=10.0)
        if code != 0:
            failures.append("Ctrl-C: exit status %s, stderr %r" % (code, server.errors))
    finally:
        if server is not None:
            server.stop(timeout=5.0)
        subprocess.run([wineserver, "-k"], timeout=30, check=False)
    verdict("wine-test", failures)


if __name__ == "__main__":
    main()
