#!/usr/bin/env python3
"""The install rules and the Debian package, checked from outside.

  1. `cmake --install` into a scratch prefix: the programs, the sample maps,
     the manual pages and the units are there, and the units name the
     programs and maps of that prefix.
  2. The package (build/package/brastok_*.deb, from `make package`): its
     files, its declared dependencies; installed with dpkg into a scratch
     root, the installed server plays an installed map (-strict: without a
     warning), the installed client reads its status,
     and console commands reach it through a FIFO, as the socket unit feeds
     them; removed again, nothing of it is left.
  3. `systemd-analyze verify` on the units of both, where the tool exists.

  scripts/package_test.py [--build DIR]
"""

import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

from brastok_run import Server, verdict

PROGRAMS = ["brastok_server", "brastok_client", "brastok_replay"]
PAGES = {"brastok_server": "man6/brastok_server.6", "brastok_client": "man1/brastok_client.1",
         "brastok_replay": "man1/brastok_replay.1"}
UNITS = ["lib/systemd/system/brastok@.service", "lib/systemd/system/brastok@.socket"]
MAP = "share/brastok/maps/yard.brsk"


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, stdin=subprocess.DEVNULL, **kw)


def expected_files(build):
    """Paths under the prefix that must be installed: every program built."""
    files = [MAP, "share/doc/brastok/example.conf"] + UNITS
    for p in PROGRAMS:
        if os.path.exists(os.path.join(build, p)):
            files += ["bin/" + p, "share/man/" + PAGES[p]]
    return files


def check_tree(prefix, files, failures, what):
    for f in files:
        if not os.path.isfile(os.path.join(prefix, f)):
            failures.append("%s: %s is missing" % (what, f))


def verify_units(prefix, failures, what):
    """systemd-analyze verify on the units under PREFIX; their programs and
    manual pages are looked up there too. Any remark fails: the tool exits
    with 0 even for settings it ignores."""
    if shutil.which("systemd-analyze") is None:
        print("package-test: no systemd-analyze here, units not verified")
        return
    units = [os.path.join(prefix, u) for u in UNITS]
    env = dict(os.environ, MANPATH=os.path.join(prefix, "share/man"))
    r = run(["systemd-analyze", "verify"] + units, env=env)
    out = (r.stdout + r.stderr).strip()
    if r.returncode != 0 or out:
        failures.append("%s: systemd-analyze verify: status %d\n%s" % (what, r.returncode, out))
    else:
        print("package-test: %s: systemd-analyze verify found nothing to say" % what)


def check_install(build, scratch, failures):
    prefix = os.path.join(scratch, "prefix")
    r = run(["cmake", "--install", build, "--prefix", prefix])
    if r.returncode != 0:
        failures.append("cmake --install failed: " + r.stderr)
        return
    check_tree(prefix, expected_files(build), failures, "cmake --install")
    with open(os.path.join(prefix, UNITS[0])) as f:
        unit = f.read()
    for want in (prefix + "/bin/brastok_server ", prefix + "/share/brastok/maps "):
        if want not in unit:
            failures.append("the installed service does not name %s" % want.strip())
    verify_units(prefix, failures, "cmake --install")


def check_package(build, scratch, failures):
    debs = glob.glob(os.path.join(build, "package", "brastok_*.deb"))
    if len(debs) != 1:
        failures.append("expected one package in %s/package, found %s (run make package)" %
                        (build, debs))
        return
    deb = debs[0]
    listing = run(["dpkg-deb", "-c", deb]).stdout
    files = expected_files(build)
    for f in files:
        if " ./usr/%s\n" % f not in listing + "\n":
            failures.append("the package lacks /usr/" + f)
    depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout
    for lib in ("libc6", "libstdc++6"):
        if lib not in depends:
            failures.append("the package does not depend on %s: %r" % (lib, depends))
    print("package-test: %s, Depends: %s" % (os.path.basename(deb), depends.strip()))

    # A scratch root with an empty package database; the libraries are the
    # host's, so their dependencies are forced.
    root = os.path.join(scratch, "root")
    for d in ("info", "updates", "triggers"):
        os.makedirs(os.path.join(root, "var/lib/dpkg", d))
    open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
    dpkg = ["dpkg", "--root=" + root, "--force-depends", "--force-not-root"]
    r = run(dpkg + ["-i", deb])
    if r.returncode != 0:
        failures.append("dpkg -i failed: " + r.stdout + r.stderr)
        return
    usr = os.path.join(root, "usr")
    check_tree(usr, files, failures, "dpkg -i")

    # Its standard input is a FIFO held open for reading and writing, as the
    # socket unit holds /run/brastok/NAME.cmd: each writer's lines are console
    # commands, and a writer that closes is no end of input.
    fifo = os.path.join(scratch, "NAME.cmd")
    os.mkfifo(fifo)
    held = os.open(fifo, os.O_RDWR)
    server = Server(os.path.join(usr, "bin/brastok_server"),
                    ["-strict", "1", "-mapdir", os.path.dirname(os.path.join(usr, MAP)),
                     "-map", "yard", "-name", "pkg"], stdin=held)
    os.close(held)
    try:
        st = run([os.path.join(usr, "bin/brastok_client"), "status", "--json", server.addr],
                 timeout=20)
        for command, answer in (("say hello through the fifo", "hello through the fifo"),
                                ("status", 'map "yard" entry 1'), ("quit", None)):
            # Not blocking: with the server gone there is no reader.
            w = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
            os.write(w, (command + "\n").encode())
            os.close(w)
            if answer and not server.wait_for(lambda: any(answer in l for l in server.lines), 5):
                failures.append("no answer to %r written to the FIFO: %s" % (command,
                                                                             server.lines))
        server.proc.wait(10)
    except (OSError, subprocess.TimeoutExpired) as e:
        failures.append("console commands through the FIFO: %s" % e)
    finally:
        code = server.stop()
    if st.returncode != 0:
        failures.append("installed client: status %d: %s" % (st.returncode, st.stderr))
    else:
        info = json.loads(st.stdout)
        print("package-test: installed server answers: %s" % st.stdout.strip())
        if info.get("server") != "pkg" or info.get("map") != "yard":
            failures.append("installed server does not play the installed map: %r" % info)
    if code != 0:
        failures.append("installed server stopped with status %s" % code)

    # The package's units name /usr: verify copies that name the scratch root.
    units = os.path.join(scratch, "units")
    for u in UNITS:
        os.makedirs(os.path.dirname(os.path.join(units, u)), exist_ok=True)
        with open(os.path.join(root, "usr", u)) as f:
            text = f.read().replace(" /usr/", " %s/" % usr).replace("=/usr/", "=%s/" % usr)
        with open(os.path.join(units, u), "w") as f:
            f.write(text)
    os.symlink(os.path.join(usr, "share"), os.path.join(units, "share"))
    verify_units(units, failures, "package")

    r = run(dpkg + ["--purge", "brastok"])
    left = [os.path.join(d, f) for d, _, fs in os.walk(usr) for f in fs]
    if r.returncode != 0 or left:
        failures.append("dpkg --purge: status %d, left behind: %s %s" % (r.returncode, left,
                                                                         r.stderr))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    failures = []
    with tempfile.TemporaryDirectory(prefix="brastok-pkg-") as scratch:
        check_install(build, scratch, failures)
        check_package(build, scratch, failures)
    verdict("package-test", failures)


if __name__ == "__main__":
    main()
