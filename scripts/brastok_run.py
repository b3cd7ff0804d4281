"""The built server as a child process, for the scripts that measure or
check it from outside (amplification, soak, memcheck): started on a free
port in a scratch folder, its console lines collected as they come, its
resident memory read from /proc, and always stopped in the end."""

import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, "..", "build")
SERVER_BIN = os.path.join(BUILD, "brastok_server")
CLIENT_BIN = os.path.join(BUILD, "brastok_client")
PORT_LINE = "UDP initialized! UDP port: "


class Server:
    """BINARY -port 0 ARGS, optionally run under WRAPPER (such as valgrind),
    with STDIN (a file descriptor) as its standard input. Collects stdout
    lines in self.lines and stderr in self.errors, each from a thread of its
    own so that no pipe fills."""

    def __init__(self, binary=SERVER_BIN, args=(), wrapper=(), start_timeout=10.0,
                 stdin=subprocess.DEVNULL):
        self.dir = tempfile.TemporaryDirectory(prefix="brastok-run-")
        os.mkdir(os.path.join(self.dir.name, "maps"))
        self.lines = []
        self.errors = []
        self.changed = threading.Condition()
        cmd = list(wrapper) + [os.path.abspath(binary), "-port", "0"] + list(args)
        self.proc = subprocess.Popen(cmd, cwd=self.dir.name, stdin=stdin,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     errors="replace")
        for stream, into in ((self.proc.stdout, self.lines), (self.proc.stderr, self.errors)):
            threading.Thread(target=self._read, args=(stream, into), daemon=True).start()
        if not self.wait_for(lambda: len(self.lines) > 0, start_timeout):
            self.stop()
            sys.exit("%s did not start within %.0f s: %s" % (binary, start_timeout,
                                                             "".join(self.errors)[-2000:]))
        if not self.lines[0].startswith(PORT_LINE):
            self.stop()
            sys.exit("%s did not start: %r" % (binary, self.lines[0]))
        self.port = int(self.lines[0][len(PORT_LINE):])
        self.addr = "127.0.0.1:%d" % self.port

    def _read(self, stream, into):
        for line in stream:
            with self.changed:
                into.append(line.rstrip("\n"))
                self.changed.notify_all()
        with self.changed:
            self.changed.notify_all()

    def wait_for(self, test, timeout):
        """Waits at most TIMEOUT seconds for TEST() to hold as lines come."""
        end = time.monotonic() + timeout
        with self.changed:
            while not test():
                left = end - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and not test()):
                    return test()
                self.changed.wait(min(left, 0.2))
        return True

    def rss_kib(self):
        """Resident memory in KiB, or -1 once the process is gone."""
        try:
            with open("/proc/%d/status" % self.proc.pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except OSError:
            pass
        return -1

    def stop(self, sig=signal.SIGTERM, timeout=10.0):
        """Stops the server (killing it if it does not end within TIMEOUT
        seconds) and returns its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.dir.cleanup()
        return self.proc.returncode


def verdict(name, failures):
    """Prints NAME's verdict and, on failures, each of them, and exits 1."""
    if failures:
        print("%s: FAILED" % name)
        for f in failures:
            print("  " + f)
        sys.exit(1)
    print("%s: passed" % name)
