#!/usr/bin/env python3
"""How much a forged connect or query makes the server send to somebody else.

A connect message needs no reply from its sender, so an attacker can put a
victim's address in it as the source. This measures, on 127.0.0.1, the bytes
the server sends to such a forged, silent address per byte the attacker sent:

  one connect   one 8-byte connect message, then silence until the server
                has been quiet toward the victim for 3 seconds
  stream        a connect from a new port of the victim's address every
                STREAM_GAP seconds for STREAM_SECONDS, then the same wait

each on a fresh server without bots and with 8 bots. The victim is a set of
sockets on 127.0.0.5 (an address of this machine, so nothing leaves it) that
never send anything but the attacker's forged connects and count all they
receive. Payload bytes are counted (IP and UDP headers left out).

Then the slotless queries, the status query and the standard query (A2S):
each request once without a valid challenge (what a forged sender gets) and
once with the challenge it was given (what only an address that receives
its answers gets), on an empty server with its defaults and on a full one
(24 slots whose names are 20 Latin-1 bytes that each take 2 bytes as UTF-8,
and a server name of 255 such bytes): the largest answers there are.

  scripts/amplification.py [--server BIN] [--before BIN] [--queries] [--json]

--before names a second server binary to measure the same way (for instance
one built from a commit before the defences). --queries measures the
queries alone (a few seconds). The connects take about a minute per server.
Every server started here is stopped before the script ends.
"""

import argparse
import json
import os
import selectors
import socket
import time

from brastok_run import SERVER_BIN, Server

VICTIM = "127.0.0.5"
CONNECT = bytes([102, 29, 4]) + b"Alex" + bytes([0])  # 8 bytes
STREAM_SECONDS = 12.0
STREAM_GAP = 0.05  # 20 connects a second
QUIET = 3.0
LIMIT = 40.0  # no scenario listens longer than this after its last connect
KINDS = {108: "map", 109: "log", 110: "state", 111: "noslot", 112: "version", 113: "full"}


def victim_socket():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((VICTIM, 0))
    s.setblocking(False)
    return s


def measure(binary, bots, connects, gap):
    """Sends CONNECTS forged connects, one every GAP seconds, each from a new
    port of the victim's address; counts what the victim receives."""
    server = Server(binary, ["-bots", str(bots)] if bots else [])
    sel = selectors.DefaultSelector()
    socks = []
    got = {"bytes": 0, "datagrams": 0}
    kinds = {}
    first_at = last_at = None
    sent = 0
    try:
        start = time.monotonic()
        next_connect = start
        last_connect = start
        while True:
            now = time.monotonic()
            if sent < connects and now >= next_connect:
                s = victim_socket()
                sel.register(s, selectors.EVENT_READ)
                socks.append(s)
                s.sendto(CONNECT, ("127.0.0.1", server.port))
                sent += 1
                last_connect = now
                next_connect += gap
            if sent >= connects:
                quiet_since = last_at if last_at is not None else last_connect
                if now - max(quiet_since, last_connect) >= QUIET or now - last_connect > LIMIT:
                    break
            timeout = max(0.0, min(0.05, next_connect - now)) if sent < connects else 0.05
            for key, _ in sel.select(timeout):
                while True:
                    try:
                        data = key.fileobj.recv(65536)
                    except BlockingIOError:
                        break
                    t = time.monotonic()
                    first_at = first_at if first_at is not None else t
                    last_at = t
                    got["bytes"] += len(data)
                    got["datagrams"] += 1
                    kind = KINDS.get(data[0], "other") if data else "empty"
                    kinds[kind] = kinds.get(kind, 0) + 1
        slots = sum(1 for line in server.lines if line == "Alex connected!")
    finally:
        for s in socks:
            sel.unregister(s)
            s.close()
        server.stop()
    sent_bytes = sent * len(CONNECT)
    return {
        "connects": sent,
        "attacker_bytes": sent_bytes,
        "victim_bytes": got["bytes"],
        "victim_datagrams": got["datagrams"],
        "by_kind": kinds,
        "slots_taken": slots,
        "seconds_of_traffic": round(last_at - first_at, 1) if first_at is not None else 0.0,
        "amplification": round(got["bytes"] / sent_bytes, 1),
    }


QUERIER = "127.0.0.7"
FULL_CONNECTOR = "127.0.0.6"
LATIN1_NAME = bytes([0xE9]) * 20  # the longest name, 40 bytes as UTF-8
A2S = b"\xff\xff\xff\xff"
REQUESTS = [
    # name, the request without a valid challenge, the request given challenge C
    ("status query", bytes([120, 0, 0, 0, 0]), lambda c: bytes([120]) + c),
    ("A2S_INFO", A2S + b"TSource Engine Query\0", lambda c: A2S + b"TSource Engine Query\0" + c),
    ("A2S_PLAYER", A2S + b"U" + A2S, lambda c: A2S + b"U" + c),
    ("A2S_RULES", A2S + b"V" + A2S, lambda c: A2S + b"V" + c),
]


def ask(sock, port, data):
    """Sends DATA to the server; the answer, or b"" when none comes within
    half a second."""
    sock.sendto(data, ("127.0.0.1", port))
    sock.settimeout(0.5)
    try:
        return sock.recv(65536)
    except socket.timeout:
        return b""


def challenge_of(answer):
    """The 4 bytes of a challenge answer (either query's), or b"" for none."""
    if len(answer) == 5 and answer[0] == 121:
        return answer[1:]
    if len(answer) == 9 and answer[:5] == A2S + b"A":
        return answer[5:]
    return b""


def measure_queries(binary, full):
    """Every request of REQUESTS, without and with a valid challenge."""
    args = []
    if full:
        # Raw bytes on the command line: each 0xE9 takes 2 bytes as UTF-8.
        args = ["-name", os.fsdecode(bytes([0xE9]) * 255)]
    server = Server(binary, args)
    socks = []
    results = []
    try:
        if full:
            for _ in range(24):
                s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                s.bind((FULL_CONNECTOR, 0))
                s.sendto(bytes([102, 29, len(LATIN1_NAME)]) + LATIN1_NAME + bytes([0]),
                         ("127.0.0.1", server.port))
                socks.append(s)
            server.wait_for(
                lambda: sum(1 for line in server.lines if line.endswith(" connected!")) >= 24, 5.0)
        q = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        q.bind((QUERIER, 0))
        socks.append(q)
        for name, first, again in REQUESTS:
            answer = ask(q, server.port, first)
            c = challenge_of(answer)
            request = again(c) if c else b""
            answered = ask(q, server.port, request) if c else b""
            results.append({
                "request": name,
                "sent": len(first),
                "no_challenge": len(answer),
                "sent_with_challenge": len(request),
                "with_challenge": len(answered),
            })
    finally:
        for s in socks:
            s.close()
        server.stop()
    return results


def measure_server(binary):
    results = []
    for bots in (0, 8):
        results.append(dict(scenario="one connect", bots=bots, **measure(binary, bots, 1, 0)))
        n = int(STREAM_SECONDS / STREAM_GAP)
        results.append(dict(scenario="stream", bots=bots, **measure(binary, bots, n, STREAM_GAP)))
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--server", default=SERVER_BIN)
    ap.add_argument("--before", help="a second server binary, measured the same way")
    ap.add_argument("--queries", action="store_true", help="the queries alone")
    ap.add_argument("--json", action="store_true", help="one JSON object instead of a table")
    a = ap.parse_args()
    runs = [("server", a.server)] + ([("before", a.before)] if a.before else [])
    out = {} if a.queries else {label: measure_server(binary) for label, binary in runs}
    queries = {label: {"empty": measure_queries(binary, False),
                       "full": measure_queries(binary, True)} for label, binary in runs}
    if a.json:
        print(json.dumps({"connects": out, "queries": queries}))
        return
    if out:
        print_connects(out)
        print()
    print("%-7s %-6s %-13s %9s %18s %8s %15s %18s %8s" %
          ("", "server", "request", "sent (B)", "no challenge (B)", "per byte",
           "with chal. (B)", "answer (B)", "per byte"))
    for label, kinds in queries.items():
        for kind, results in kinds.items():
            for r in results:
                print("%-7s %-6s %-13s %9d %18d %8.2f %15d %18d %8s" %
                      (label, kind, r["request"], r["sent"], r["no_challenge"],
                       r["no_challenge"] / r["sent"], r["sent_with_challenge"],
                       r["with_challenge"],
                       "%.1f" % (r["with_challenge"] / r["sent_with_challenge"])
                       if r["sent_with_challenge"] else "-"))


def print_connects(out):
    print("%-7s %-12s %4s %9s %10s %11s %6s %9s %14s" %
          ("", "scenario", "bots", "connects", "sent (B)", "victim (B)", "slots", "seconds",
           "bytes per byte"))
    for label, results in out.items():
        for r in results:
            print("%-7s %-12s %4d %9d %10d %11d %6d %9.1f %14.1f" %
                  (label, r["scenario"], r["bots"], r["connects"], r["attacker_bytes"],
                   r["victim_bytes"], r["slots_taken"], r["seconds_of_traffic"],
                   r["amplification"]))


if __name__ == "__main__":
    main()
