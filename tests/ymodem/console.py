"""The simulated logger on a pseudo-terminal, driven from a test: start it,
type at its console, wait (bounded) for what it prints, hand the line to
sb or rb for a transfer, and stop it again."""
import os
import re
import select
import signal
import subprocess
import termios
import time
import tty


class Timeout(Exception):
    pass


class Logger:
    def __init__(self, sim, state, args=()):
        self.proc = subprocess.Popen(
            [sim, "--pty", "--state", state, *args],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, start_new_session=True)
        self.path = None
        deadline = time.monotonic() + 10
        line = b""
        while time.monotonic() < deadline:
            r, _, _ = select.select([self.proc.stderr], [], [], 0.5)
            if r:
                line += os.read(self.proc.stderr.fileno(), 4096)
                m = re.search(rb"console on (/dev/pts/\d+)", line)
                if m:
                    self.path = m.group(1).decode()
                    break
        if not self.path:
            self.stop()
            raise Timeout("the simulator named no pseudo-terminal: %r" % line)
        self.fd = os.open(self.path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.seen = b""

    def stop(self):
        if getattr(self, "fd", None) is not None:
            os.close(self.fd)
            self.fd = None
        if self.proc.poll() is None:
            # The simulator forks one process per wake: end the whole group.
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(5)

    def type(self, text):
        os.write(self.fd, text.encode())

    def expect(self, text, limit=20.0):
        """Reads until `text` has been printed; returns what came before it."""
        want = text.encode()
        deadline = time.monotonic() + limit
        while want not in self.seen:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Timeout("no %r within %.0f s; last output: %r" % (text, limit, self.seen[-300:]))
            r, _, _ = select.select([self.fd], [], [], min(left, 0.5))
            if r:
                self.seen += os.read(self.fd, 4096)
        head, _, self.seen = self.seen.partition(want)
        return head.decode(errors="replace")

    def settle(self, quiet=0.3, limit=5.0):
        """Reads until the line has been quiet for `quiet` seconds."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            r, _, _ = select.select([self.fd], [], [], quiet)
            if not r:
                break
            self.seen += os.read(self.fd, 4096)
        out, self.seen = self.seen, b""
        return out.decode(errors="replace")

    def peer(self, argv, cwd, limit, log):
        """Runs sb or rb on the console line; returns its exit code and the
        seconds it ran. While it runs this driver does not read the line."""
        termios.tcflush(self.fd, termios.TCIFLUSH)
        t0 = time.monotonic()
        p = subprocess.Popen(argv, cwd=cwd, stdin=self.fd, stdout=self.fd, stderr=log)
        try:
            rc = p.wait(limit)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            rc = "timed out"
        return rc, time.monotonic() - t0
