"""Talking to a deployed logger over its console, as a mooring controller
does.

A key wakes a hibernating logger; the key itself is lost, and the logger
listens only once it has started (it empties its input before each
command line). In normal output mode it prints no prompt, so the way to
know it listens is to ask: a line that is no command is answered "NAK".
While it samples it does not listen at all, and once done it goes back to
sleep; so waking is: a key, a moment, the probe line, and again until
"NAK" comes back. No bare carriage return is ever sent: during a pump run
one ends the pumping.

The logger answers "gdata" with the data file from where the previous
transfer stopped, each line feed sent as CR LF, and with nothing to mark
the end; the end is the line going quiet. A key stops a transfer at the
next line end, and the logger then keeps its place after that line."""

import sys
import time

import serial

PROBE = b"%%phlog"      # no command starts so: the answer is "NAK"
WAKE_KEY = b" "


class NoAnswer(Exception):
    pass


class NotDeployed(NoAnswer):
    pass


class Session:
    """An open console line. `quiet` is how long a silent line means that
    the logger has finished sending."""

    def __init__(self, port, baud=115200, quiet=1.0, log=None):
        self.ser = serial.Serial(port, baud, timeout=0.05)
        self.quiet = quiet
        self.log = log

    def close(self):
        self.ser.close()

    def _read(self):
        data = self.ser.read(4096)
        if data and self.log:
            self.log.write(data)
        return data

    def send(self, text):
        self.ser.write(text)
        self.ser.flush()

    def read_until(self, marker, timeout):
        """Reads until `marker` has come or `timeout` seconds have passed;
        returns (whether it came, everything read)."""
        buf = b""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            buf += self._read()
            if marker in buf:
                return True, buf
        return False, buf

    def read_quiet(self, first=3.0, sink=None):
        """Reads until the line has been silent for `quiet` seconds (or
        `first` seconds before anything came). Each piece goes to `sink`
        when given; returns everything read."""
        buf = b""
        last = time.monotonic()
        while True:
            data = self._read()
            now = time.monotonic()
            if data:
                buf += data
                last = now
                if sink:
                    sink(data)
            elif now - last > (self.quiet if buf else first):
                return buf

    def probe(self, timeout=2.0):
        """True when the logger answers the probe line with NAK."""
        self.send(PROBE + b"\r")
        came, text = self.read_until(b"NAK", timeout)
        if not came and b"Main Menu" in text:
            raise NotDeployed("the logger is not deployed: it shows its main menu")
        return came

    def wake(self, patience=180.0, say=None):
        """Wakes the logger into its command mode. Keeps trying for
        `patience` seconds: a logger that is taking a sample does not
        listen until it has finished and gone back to sleep."""
        end = time.monotonic() + patience
        tries = 0
        while time.monotonic() < end:
            self.ser.reset_input_buffer()
            self.send(WAKE_KEY)
            time.sleep(0.5)
            if self.probe():
                return tries
            tries += 1
            if say and tries % 5 == 0:
                say(f"waking the logger: no answer after {tries} tries")
        raise NoAnswer(f"the logger did not answer within {patience:.0f} s")

    def command(self, word, first=5.0):
        """Sends one command line and returns its answer without the
        echo. The end is found by probing: the logger reads the next line
        only once the command has finished (a probe it was too busy for is
        dropped, and sent again)."""
        self.ser.reset_input_buffer()
        self.send(word + b"\r")
        answer = self.read_quiet(first=first)
        for _ in range(5):
            self.send(PROBE + b"\r")
            came, tail = self.read_until(b"NAK", 2.0)
            answer += tail[:tail.find(PROBE)] if PROBE in tail else tail
            if came:
                break
        else:
            raise NoAnswer(f"no answer after {word.decode()}")
        body = strip_echo(answer, word)
        return answer if body is None else body

    def resume(self):
        """Lets the logger go back to its deployment ("go"): it takes the
        wake's sample, when deployed on a schedule, and sleeps."""
        self.send(b"go\r")


# The logger echoes a line's Enter as CR LF and then the CR it stored.
ENTER_ECHO = b"\r\n\r"


def strip_echo(answer, word):
    """The answer without the echo of the command line that asked for it;
    None while the echo has not come whole."""
    i = answer.find(word + ENTER_ECHO)
    if i < 0:
        return None
    return answer[i + len(word) + len(ENTER_ECHO):]


def console_to_file(data):
    """The console sends each line feed as CR LF: back to the file's bytes."""
    return data.replace(b"\r\n", b"\n")


def status_fields(text):
    """The "name = value" lines of a status reply as a dict."""
    out = {}
    for line in text.splitlines():
        if " = " in line:
            k, v = line.split(" = ", 1)
            out[k.strip()] = v.strip()
    return out


def progress_printer(stream=sys.stderr, every=0.5):
    state = {"t0": time.monotonic(), "shown": 0.0}

    def show(nbytes, records, total=None, done=False):
        now = time.monotonic()
        if not done and now - state["shown"] < every:
            return
        state["shown"] = now
        rate = nbytes / max(now - state["t0"], 1e-3) / 1000
        of = f" (data file {total / 1000:.1f} kB)" if total else ""
        end = "\n" if done or not stream.isatty() else ""
        stream.write(f"\rdownload: {nbytes / 1000:.1f}{of} kB, {records} records, "
                     f"{rate:.1f} kB/s{end}")
        stream.flush()
    return show
