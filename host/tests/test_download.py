"""The download client end to end against the simulator's pseudo-terminal
(real time: kept short), and its account of gaps."""

import os
import signal
import subprocess
import sys
import time

from conftest import BOARD, SIM, TOP, card_file, scenario

from phlogger import download

PHLOG = [sys.executable, os.path.join(TOP, "host", "phlog")]


class PtySim:
    """phlogger-sim --pty on a board's state."""

    def __init__(self, state):
        self.err = open(state + ".pty.err", "w+")
        self.proc = subprocess.Popen([SIM, "--state", state, "--pty"],
                                     stdin=subprocess.DEVNULL, stderr=self.err)
        self.port = None
        end = time.monotonic() + 20
        while self.port is None and time.monotonic() < end:
            time.sleep(0.05)
            self.err.seek(0)
            for line in self.err.read().splitlines():
                if "console on " in line:
                    self.port = line.split("console on ", 1)[1].strip()
        assert self.port, "no pseudo-terminal announced"

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=20)


def phlog(*args, **kw):
    return subprocess.run(PHLOG + list(args), capture_output=True, text=True, timeout=120, **kw)


def test_download_interrupted_resumes_without_gap_or_repeat(work):
    state = os.path.join(work, "pty")
    # A short period: the simulator wakes a hibernating logger for a key
    # only at its next RTC wake.
    scenario(state, ["expect Enter Selection:\\x20", "send 2\\r", "timeout 40",
                     "expect #0000000", "wait 1000"], *BOARD, "--set", "sampling_period=10")
    out = os.path.join(work, "download.txt")
    sim = PtySim(state)
    try:
        # Interrupted once bytes are coming in: the logger stops at a line end.
        p = subprocess.Popen(PHLOG + ["download", "--port", sim.port, out],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        end = time.monotonic() + 60
        while time.monotonic() < end and (not os.path.exists(out) or os.path.getsize(out) < 4000):
            time.sleep(0.05)
        p.send_signal(signal.SIGINT)
        _, err = p.communicate(timeout=60)
        assert p.returncode == 3, err
        first = os.path.getsize(out)
        with open(out, "rb") as f:
            assert f.read().endswith(b"\r\n")  # whole records only
        # Run again: the rest, and nothing twice.
        r = phlog("download", "--port", sim.port, out)
        assert r.returncode == 0, r.stdout + r.stderr
        assert "gap" not in r.stdout
        assert os.path.getsize(out) > first
        # The other commands; status falls back where there is no "ds".
        r = phlog("status", "--port", sim.port)
        assert r.returncode == 0 and "DEPLOYED" in r.stdout, r.stdout + r.stderr
        r = phlog("sample", "--port", sim.port)
        assert r.returncode == 0 and r.stdout.startswith("#"), r.stdout + r.stderr
        r = phlog("stop", "--port", sim.port)
        assert r.returncode == 0, r.stdout + r.stderr
    finally:
        sim.stop()
    # The copy is the card's data file, byte for byte, from the data
    # header on; what the card holds beyond it came after the transfer.
    card = card_file(state)
    with open(out, "rb") as f:
        copy = f.read()
    start = card.index(b" SampNum")
    assert card[start:start + len(copy)] == copy
    assert card[start + len(copy):start + len(copy) + 1] in (b"#", b"")
    assert b"\r\r" not in copy


def test_gaps_are_reported_with_their_cause(work):
    """A record missing on the card, and records lost while a transfer's
    line was down (the copy ended inside a record)."""
    state = os.path.join(work, "gaps")
    scenario(state, ["expect Enter Selection:\\x20", "send 2\\r", "timeout 40",
                     "expect #0000000", "wait 300"], *BOARD, "--set", "sampling_period=20")
    card = card_file(state)
    start = card.index(b" SampNum")
    rec = [card.index(b"#%07d" % n) for n in range(14)]
    path = os.path.join(work, "gaps.txt")
    # Record 3 never reached the card; the copy stopped inside record 8.
    with open(path, "wb") as f:
        f.write(card[start:rec[3]] + card[rec[4]:rec[8] + 40])
    last, cut = download._tail_state(path)
    assert (last, cut) == (7, True)
    # The line came back after records 8 to 10 had gone out unheard.
    with open(path, "ab") as f:
        f.write(card[rec[11] + 25:])
    report = download.verify(path, last, cut)
    assert report[0].startswith("record 8: ")  # half of it is record 11's
    assert report[1].startswith("samples 3 to 3 missing: not on the card")
    assert report[2].startswith("samples 9 to 11 missing: lost with the line")
    assert len(report) == 3


def test_a_verbose_prompt_after_the_data_is_not_data(work):
    path = os.path.join(work, "verbose.txt")
    copy = download.Copy(path)
    copy.write(b"#0000001\t 1.0\t\r\r")
    copy.write(b"\n\r\nEnter command (ts, ss, gh, gm, gdata, pumpon, pumpoff, stop): ")
    copy.close()
    with open(path, "rb") as f:
        assert f.read() == b"#0000001\t 1.0\t\r\n"
    assert copy.size == 16
