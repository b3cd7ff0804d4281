#!/usr/bin/env python3
"""The Windows server under wine, driven by the Linux client over loopback.

build-windows/brastok_server.exe runs under wine with its own wine prefix
in build-windows/wine (created on the first run, which takes about 20 s).
The Linux brastok_client asks its status, then two players connect, join
and chat for a few seconds (the chat shows in the JSON event log too);
brastok_client.exe asks the status under wine too; Ctrl-C (SIGINT, which
wine hands to the program's console handler) must then stop the server
within 10 s with exit status 0, and the match it recorded (-record) must
replay to the same console lines with brastok_replay.exe under wine and with
the Linux brastok_replay. Console commands read from a file on
standard input must run, the last one "quit" stopping the server with
status 0; a start on a taken port 65535 must fail with the bind failure line
and status 1. The server runs with "-http 0": its /healthz must answer ok,
its /status.json name it, and /events deliver the whole status as its first
event; a second server on its HTTP port must stop at start with status 1. Every wine process of the prefix is ended at the end.

  scripts/wine_test.py [--server EXE] [--client BIN] [--windows-client EXE]
                      [--replay BIN] [--windows-replay EXE]
"""

import argparse
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile

from brastok_run import BUILD, CLIENT_BIN, Server, verdict

WINDOWS_BUILD = BUILD + "-windows"
WINE = "/usr/lib/wine/wine64"  # Debian's wine64 does not put it on PATH
WINESERVER = "/usr/lib/wine/wineserver64"


def tool(name, fallback):
    return fallback if os.path.exists(fallback) else shutil.which(name) or name


def run(cmd, timeout):
    return subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=timeout)


def check_http(server, second):
    """The HTTP side of a server started with "-http 0": health, status and
    the first event of the stream; and SECOND (a command line without the
    port) on the same HTTP port must fail. Returns the failures."""
    pattern = re.compile(r"HTTP initialized! http://127\.0\.0\.1:(\d+)/")
    if not server.wait_for(lambda: any(pattern.match(l) for l in server.lines), 10.0):
        return ["no HTTP initialized line in %r" % server.lines]
    port = int(next(pattern.match(l) for l in server.lines if pattern.match(l)).group(1))
    failures = []
    try:
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        c.request("GET", "/healthz")
        r = c.getresponse()
        body = r.read()
        if r.status != 200 or body != b"ok\n":
            failures.append("/healthz: %d %r" % (r.status, body))
        c.request("GET", "/status.json")
        r = c.getresponse()
        status = json.loads(r.read())
        if r.status != 200 or status.get("name") != "Wine":
            failures.append("/status.json: %d %r" % (r.status, status))
        c.close()
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        c.request("GET", "/events")
        r = c.getresponse()
        first = None
        while first is None:
            line = r.fp.readline()
            if not line:
                break
            if line.startswith(b"data: "):
                first = json.loads(line[6:])
        c.close()
        if not first or first.get("name") != "Wine" or "text" not in first.get("map", {}):
            failures.append("/events: first event %r" % first)
        else:
            print("wine-test: HTTP on port %d: /healthz ok, /status.json and the first event "
                  "name the server" % port)
    except (OSError, ValueError, http.client.HTTPException) as e:
        failures.append("HTTP: %r" % e)
    again = run(second + ["-port", "0", "-http", str(port)], 60)
    if again.returncode != 1 or ("cannot listen on %d" % port) not in again.stderr:
        failures.append("a second server on HTTP port %d: exit %d, %r" %
                        (port, again.returncode, again.stderr))
    return failures


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--server", default=os.path.join(WINDOWS_BUILD, "brastok_server.exe"))
    ap.add_argument("--client", default=CLIENT_BIN)
    ap.add_argument("--windows-client", default=os.path.join(WINDOWS_BUILD, "brastok_client.exe"))
    ap.add_argument("--replay", default=os.path.join(BUILD, "brastok_replay"))
    ap.add_argument("--windows-replay", default=os.path.join(WINDOWS_BUILD, "brastok_replay.exe"))
    a = ap.parse_args()

    # A prefix of the build's own, no wine chatter on stderr, and no offer to
    # install wine's .NET and browser replacements into a fresh prefix.
    os.environ["WINEPREFIX"] = os.path.abspath(os.path.join(WINDOWS_BUILD, "wine"))
    os.environ["WINEDEBUG"] = "-all"
    os.environ["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    wineserver = tool("wineserver", WINESERVER)

    failures = []
    server = None
    tmp = tempfile.TemporaryDirectory(prefix="brastok-wine-")
    try:
        # The JSON event log and the recording go to a folder of this test;
        # wine's drive Z: is the root of the Linux file system.
        events = os.path.join(tmp.name, "events.jsonl")
        record = os.path.join(tmp.name, "match.rec")
        server = Server(a.server, ["-name", "Wine", "-log", "Z:" + events, "-record", "Z:" + record,
                                   "-http", "0"],
                        wrapper=[tool("wine64", WINE)], start_timeout=120.0)
        print("wine-test: %s answers on %s" % (os.path.basename(a.server), server.addr))
        failures += check_http(server, [tool("wine64", WINE), a.server])

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
            spacing = report.get("state_spacing_ms", {})
            print("wine-test: 2 players, %d state packets (%s ms apart, median), "
                  "%d/%d chat lines seen" %
                  (report["state_packets"], spacing.get("median", "?"), report["chat"]["seen"],
                   report["chat"]["sent"]))
            if report["chat"]["seen"] == 0:
                failures.append("no chat line came back: %s" % load.stdout)
        for line in ("load1 connected!", "load1 has joined the game!",
                     "load1: load1 says hello #1"):
            if not server.wait_for(lambda: line in server.lines, 5.0):
                failures.append("no console line %r in %r" % (line, server.lines))

        with open(events) as f:
            records = [json.loads(line) for line in f]
        chats = [r for r in records if r.get("kind") == "chat" and r.get("name") == "load1"]
        if not chats or not chats[0]["time"].endswith("Z"):
            failures.append("no chat record of load1 in the JSON log: %r" % records[-5:])

        # The Windows client too, under wine beside the server.
        status = run([tool("wine64", WINE), a.windows_client, "status", "--timeout", "5",
                      server.addr], 60)
        if status.returncode != 0 or "Wine" not in status.stdout:
            failures.append("brastok_client.exe status: exit %d, %r %r" %
                            (status.returncode, status.stdout, status.stderr))

        # Wine turns SIGINT into the console's Ctrl-C event; the server's
        # handler ends the loop after the current cycle and main returns 0.
        code = server.stop(sig=signal.SIGINT, timeout=10.0)
        if code != 0:
            failures.append("Ctrl-C: exit status %s, stderr %r" % (code, server.errors))

        # The recording replays to the very console lines the server printed,
        # with the Windows replay tool and with the Linux one.
        print("wine-test: replaying the recording of %d console lines" % len(server.lines))
        for replay in ([tool("wine64", WINE), a.windows_replay, "Z:" + record],
                       [a.replay, record]):
            again = run(replay, 60)
            if again.returncode != 0 or again.stdout.splitlines() != server.lines:
                failures.append("%s: exit %d, %d lines of %d the same" %
                                (" ".join(replay), again.returncode,
                                 sum(x == y for x, y in zip(again.stdout.splitlines(),
                                                            server.lines)), len(server.lines)))

        # Console commands from a file on standard input, the last one quit.
        commands = os.path.join(tmp.name, "commands.txt")
        with open(commands, "w") as f:
            f.write("say read from a file\nquit\n")
        with open(commands) as f:
            quit_run = subprocess.run([tool("wine64", WINE), a.server, "-port", "0"], stdin=f,
                                      capture_output=True, text=True, timeout=60, cwd=tmp.name)
        if quit_run.returncode != 0 or "read from a file" not in quit_run.stdout.splitlines():
            failures.append("commands from a file: exit %d, %r" %
                            (quit_run.returncode, quit_run.stdout))

        # A start that finds no port: the last port is held here, so the
        # search ends at once with the bind failure line and status 1.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as held:
            held.bind(("0.0.0.0", 65535))
            failed = run([tool("wine64", WINE), a.server, "-port", "65535"], 60)
        if failed.returncode != 1 or \
                failed.stdout.splitlines()[:1] != ["UDP initialization failed! [ bind() ]"]:
            failures.append("a start on a taken port 65535: exit %d, %r" %
                            (failed.returncode, failed.stdout))
    finally:
        if server is not None:
            server.stop(timeout=5.0)
        subprocess.run([wineserver, "-k"], timeout=30, check=False)
        tmp.cleanup()
    verdict("wine-test", failures)


if __name__ == "__main__":
    main()
