#!/usr/bin/env python3
"""The simulator's real-time console on a pseudo-terminal, driven by a
serial client as a user's terminal program would drive it: a fast sleep
does not wait in host time, and a stop signal ends the simulator, its wake
process and the pseudo-terminal, leaving a board that carries on as after a
normal end.

Usage: pty_test.py PATH/TO/phlogger-sim WORK_DIR
"""
import os
import shutil
import signal
import subprocess
import sys
import time

try:
    import serial
except ImportError:
    print("skipped: python3-serial is not installed")
    sys.exit(77)

SIM, WORK = sys.argv[1], sys.argv[2]
BOARD = ["--factory",
         "--clock", "12/08/26 10:00:00"]
failures = []
started = []  # every simulator started, ended at exit whatever happened


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


def scenario(state, lines, *args):
    """Runs steps in virtual time; returns the console transcript."""
    script = os.path.join(WORK, "step.scn")
    out = os.path.join(WORK, "step.txt")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    r = subprocess.run([SIM, "--state", state, "--script", script, "--transcript", out, *args],
                       stderr=subprocess.PIPE, text=True, timeout=300)
    if r.returncode != 0:
        raise SystemExit("scenario failed:\n" + r.stderr)
    with open(out, "rb") as f:
        return f.read().replace(b"\r", b"")


def deployed(state, period, *sets):
    """A board deployed at `period` seconds, hibernating after its first record."""
    shutil.rmtree(state, ignore_errors=True)
    extra = [a for s in sets for a in ("--set", s)]
    scenario(state, ["expect Enter Selection:\\x20", "send 2\\r", "timeout 60", "expect #0000000",
                     "wait 5"], *BOARD, "--set", "sampling_period=%d" % period, *extra)


class Pty:
    """phlogger-sim --pty with a pyserial client on its pseudo-terminal."""

    def __init__(self, state, *args):
        self.err = open(os.path.join(WORK, "sim.err"), "w+")
        self.proc = subprocess.Popen([SIM, "--state", state, "--pty", *args],
                                     stdin=subprocess.DEVNULL, stderr=self.err)
        started.append(self)
        path = None
        end = time.monotonic() + 20
        while path is None and time.monotonic() < end:
            time.sleep(0.05)
            self.err.seek(0)
            for line in self.err.read().splitlines():
                if "console on " in line:
                    path = line.split("console on ", 1)[1].strip()
        if path is None:
            raise SystemExit("no pseudo-terminal announced")
        self.port = serial.Serial(path, 115200, timeout=0.1)
        self.buf = b""
        self.t0 = time.monotonic()

    def expect(self, text, limit):
        """Host seconds from the start until `text` has come."""
        end = time.monotonic() + limit
        while time.monotonic() < end:
            self.buf += self.port.read(4096)
            i = self.buf.find(text)
            if i >= 0:
                self.buf = self.buf[i + len(text):]
                return time.monotonic() - self.t0
        raise SystemExit("no %r within %g s; last output %r" % (text, limit, self.buf[-200:]))

    def wakes(self):
        """The wake processes: the simulator's children."""
        kids = []
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except (OSError, IndexError):
                continue
            if pid.isdigit() and int(fields[1]) == self.proc.pid:
                kids.append(int(pid))
        return kids

    def line_hung_up(self, limit):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            try:
                self.port.read(4096)
            except serial.SerialException:
                return True  # no one holds the other end any more
            except OSError:
                return True
            time.sleep(0.05)
        return False


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def stop(sim, sig):
    """Signals the simulator; checks that it, its wake and the line end."""
    kids = sim.wakes()
    check(len(kids) == 1, "%s: one wake process before the signal (%s)" % (sig.name, kids))
    sim.proc.send_signal(sig)
    try:
        rc = sim.proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        sim.proc.kill()
        rc = None
    check(rc == 0, "%s: the simulator ends, with status 0 (got %s)" % (sig.name, rc))
    end = time.monotonic() + 10
    while any(alive(k) for k in kids) and time.monotonic() < end:
        time.sleep(0.05)
    check(not any(alive(k) for k in kids), "%s: the wake process ends with it" % sig.name)
    check(sim.line_hung_up(5), "%s: the pseudo-terminal is let go" % sig.name)
    sim.port.close()


def test_fast_sleep():
    # A 20-second period sleeps about 16 s between samples; the fast sleep
    # skips that, and the awake part of each sample still runs in real time.
    state = os.path.join(WORK, "fast")
    deployed(state, 20)
    sim = Pty(state, "--fast-sleep")
    # (The client empties the line as it opens it: what came first is gone.)
    times = [sim.expect(b"#%07d" % k, 60) for k in (3, 4, 5)]
    per_sample = (times[2] - times[0]) / 2
    print("fast sleep, 20 s period: a sample every %.2f host s" % per_sample)
    check(per_sample < 10, "a fast sleep of 16 s is skipped (%.1f s per sample)" % per_sample)
    stop(sim, signal.SIGTERM)

    # An hour's sleep is skipped as well.
    state = os.path.join(WORK, "hour")
    deployed(state, 3600)
    sim = Pty(state, "--fast-sleep")
    t2 = sim.expect(b"#0000002", 60)
    t3 = sim.expect(b"#0000003", 60)
    print("fast sleep, 1 h period: a sample every %.2f host s" % (t3 - t2))
    check(t3 - t2 < 10, "a fast sleep of an hour is skipped (%.1f s)" % (t3 - t2))
    stop(sim, signal.SIGTERM)


def test_key_wakes_at_once():
    # A key wakes a logger in the middle of an hour's sleep at once; the
    # line typed after it is a command, as on the board.
    state = os.path.join(WORK, "key")
    deployed(state, 3600, "output=2")
    sim = Pty(state)
    time.sleep(1)
    t0 = time.monotonic()
    sim.port.write(b" ")
    t1 = sim.expect(b"Enter command (ts, ss, gh, gm, gdata, pumpon, pumpoff, stop): ", 20)
    delay = t1 - (t0 - sim.t0)
    print("key to the command prompt, deployed with a 1 h period: %.3f host s" % delay)
    check(delay < 1, "a key wakes a sleeping logger at once (%.2f s)" % delay)
    sim.port.write(b"stop\r")
    sim.expect(b"Enter Selection: ", 20)
    stop(sim, signal.SIGTERM)


def test_stop_while_awake(sig):
    # In the main menu: the next start is the one after a reset.
    state = os.path.join(WORK, "awake-" + sig.name)
    shutil.rmtree(state, ignore_errors=True)
    scenario(state, ["expect Enter Selection:\\x20", "timeout 40", "expect Sleeping...*"], *BOARD)
    sim = Pty(state)
    sim.port.write(b" ")  # the key wakes it; the menu follows
    sim.expect(b"Enter Selection: ", 20)
    stop(sim, sig)
    scenario(state, ["timeout 10", "expect Main Menu", "expect Enter Selection:\\x20"])


def test_stop_while_hibernating(sig):
    # A deployed board stopped mid-sleep wakes on its schedule in the next
    # run, as if the host had only paused it: no reset, no record lost or
    # repeated, the clock where it was.
    state = os.path.join(WORK, "sleep-" + sig.name)
    deployed(state, 60)
    sim = Pty(state)
    time.sleep(0.5)
    stop(sim, sig)
    out = scenario(state, ["timeout 120", "expect #0000001", "expect #0000002", "wait 2"])
    check(b"Main Menu" not in out, "%s: the deployment carries on after the stop" % sig.name)
    check(out.count(b"#0000001") == 1, "%s: no record repeated" % sig.name)
    check(b"12/08/2026 10:0" in out, "%s: the records keep the board's clock" % sig.name)


def end_all():
    for sim in started:
        for pid in sim.wakes() + [sim.proc.pid]:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        sim.proc.wait()


def main():
    os.makedirs(WORK, exist_ok=True)
    try:
        test_key_wakes_at_once()
        test_fast_sleep()
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            test_stop_while_awake(sig)
            test_stop_while_hibernating(sig)
    finally:
        end_all()
    if failures:
        print("%d real-time checks failed" % len(failures))
        return 1
    print("all real-time checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
