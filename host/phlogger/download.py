"""Fetching what is new from a deployed logger into a local copy of its
data file, and proving the copy whole.

The logger keeps its own place in the file: each "gdata" sends what was
appended since the bytes the previous one sent. The copy is appended to
as bytes arrive, so whatever reached this computer is kept, whatever
happens next. Interrupted here (Ctrl-C, SIGTERM), the transfer is stopped
with a key, which the logger honours at a line end, keeping its place
after it; the next download carries on there, without a gap or a repeat.
A line that fails while bytes are under way loses them: the logger has
counted them as sent. That shows as a gap in the record numbers, with its
cause; the records are still on the card."""

import os
import re
import signal

from . import datafile
from .logger import PROBE, Session, console_to_file, status_fields, strip_echo


VERBOSE_PROMPT = re.compile(rb"\nEnter command \([^)]*\): $")


class Copy:
    """The local copy: appended to, synced, and counted."""

    def __init__(self, path):
        self.path = path
        self.f = open(path, "ab")
        self.start = self.f.tell()
        self.size = 0
        self.pending_cr = b""
        self.records = 0

    def write(self, console_bytes):
        data = self.pending_cr + console_bytes
        # A CR at the end may be the first half of a CR LF still on its way.
        self.pending_cr = b"\r" if data.endswith(b"\r") else b""
        if self.pending_cr:
            data = data[:-1]
        data = console_to_file(data)
        self.f.write(data)
        self.size += len(data)
        self.f.flush()
        os.fsync(self.f.fileno())
        self.records += data.count(b"\n#")

    def finish(self):
        """End of one transfer: a verbose logger's prompt, which follows
        the data at once, is not data."""
        if self.pending_cr:
            self.f.write(self.pending_cr)
            self.size += 1
            self.pending_cr = b""
        self.f.seek(0, os.SEEK_END)
        keep = min(self.size, 120)
        with open(self.path, "rb") as r:
            r.seek(-keep, os.SEEK_END)
            tail = r.read()
        m = VERBOSE_PROMPT.search(tail)
        if m:
            cut = len(tail) - m.start()
            self.f.truncate(self.f.tell() - cut)
            self.size -= cut
        self.f.flush()
        os.fsync(self.f.fileno())

    def close(self):
        self.finish()
        self.f.close()


def _tail_state(path):
    """The last record number of the copy, and whether it ends inside a
    line (a transfer that was cut)."""
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        return None, False
    with open(path, "rb") as f:
        f.seek(max(0, os.path.getsize(path) - 4096))
        tail = f.read()
    last = None
    for line in tail.split(b"\n")[:-1]:
        if line.startswith(b"#") and line[1:8].isdigit():
            last = int(line[1:8])
    return last, not tail.endswith(b"\n")


def transfer(session, copy, show):
    """Runs "gdata" until a transfer ends on its own. Returns when the
    logger has sent everything it had."""
    stop = {"asked": False}

    def on_signal(signum, frame):
        stop["asked"] = True

    old = {s: signal.signal(s, on_signal) for s in (signal.SIGINT, signal.SIGTERM)}
    try:
        while True:
            echo = {"seen": False, "buf": b""}

            def sink(data):
                if not echo["seen"]:
                    echo["buf"] += data
                    data = strip_echo(echo["buf"], b"gdata")
                    if data is None:
                        return
                    echo["seen"] = True
                if stop["asked"] and not stop.get("sent"):
                    session.send(b" ")  # stops the transfer at the next line end
                    stop["sent"] = True
                copy.write(data)
                show(copy.size, copy.records)

            session.ser.reset_input_buffer()
            session.send(b"gdata\r")
            session.read_quiet(first=3.0, sink=sink)
            copy.finish()
            if stop["asked"]:
                return False
            # Quiet: finished, or a slow card. The probe tells: the logger
            # only answers it once the transfer is over; had it still been
            # sending, the probe's key stopped it at a line end instead.
            session.send(PROBE + b"\r")
            came, extra = session.read_until(b"NAK", 2.0)
            data = extra[:extra.find(PROBE)] if PROBE in extra else extra
            if data:
                copy.write(data)  # the rest of the line the probe stopped it at
            if came and not data:
                return True
    finally:
        for s, h in old.items():
            signal.signal(s, h)


def verify(path, start_last, start_cut):
    """Reads the whole copy back and reports every break in the record
    numbers with its cause. Returns the report's lines."""
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        tables = datafile.read(path)
    report = []
    for df in tables:
        if "sample" not in df:
            continue
        bad = df[df["record_status"] != "ok"]
        for t, row in bad.iterrows():
            report.append(f"record {row['sample']}: {row['record_status']}")
        for a, b in df.attrs["gaps"]:
            # The record the copy stopped inside is start_last + 1: a gap
            # right after it is what went out while the line was down.
            joined = start_last is not None and start_last < a <= start_last + 2
            cause = ("lost with the line during an interrupted transfer; still on the card"
                     if joined and start_cut else
                     "not on the card: the logger counted samples it could not store "
                     "(see its Error.txt)")
            report.append(f"samples {a} to {b} missing: {cause}")
    return report


def download(port, out, baud=115200, patience=180.0, say=print, show=None):
    """Wakes the logger, fetches everything new into `out`, verifies the
    copy and leaves the logger deployed. Returns (bytes, records, report,
    finished); not finished when interrupted, with everything that came
    kept and the logger's place just after it."""
    last, cut = _tail_state(out)
    show = show or (lambda *a, **k: None)
    session = Session(port, baud)
    copy = Copy(out)
    finished = False
    try:
        session.wake(patience, say=say)
        total = _file_size(session.command(b"ds"))
        finished = transfer(session, copy, lambda n, r: show(n, r, total))
        show(copy.size, copy.records, total, done=True)
    except KeyboardInterrupt:
        pass  # before the transfer: nothing fetched, nothing to stop
    finally:
        session.resume()
        copy.close()
        session.close()
    report = verify(out, last, cut)
    return copy.size, copy.records, report, finished


def _file_size(status):
    """The data file's size from a status reply, when the firmware has the
    status command and says it."""
    for k, v in status_fields(status.decode("latin-1")).items():
        if "size" in k.lower() and "file" in k.lower():
            try:
                return int(v.split()[0])
            except ValueError:
                pass
    return None
