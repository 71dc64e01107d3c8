#!/usr/bin/env python3
"""Byte-for-byte checks of what the console delivered against the card.

  transfer.py grow FILE BYTES      append renumbered copies of FILE's last
                                   record until FILE holds BYTES
  transfer.py lastnum FILE         sample number of FILE's last record
  transfer.py gdata MODE FILE FROM TO TRANSCRIPT...
      every gdata in the transcripts (each ended by the marker line "zz"),
      joined, must be FILE[FROM:TO] with each line feed sent as CR LF; in
      MODE verbose each transfer must be followed by the whole prompt.
  transfer.py cat FILE TRANSCRIPT  the listing after "cat ..." must be FILE,
                                   followed by the whole shell prompt
Exit 1 with the first difference on failure.
"""
import re
import sys

PROMPT = b"\r\nEnter command (ts, ss, gh, gm, gdata, pumpon, pumpoff, stop): "
GDATA_ECHO = b"gdata\r\n\r"
MARKER_ECHO = b"zz\r\n\r"


def expand(data):
    return data.replace(b"\n", b"\r\n")


def fail(msg):
    print("FAILED: " + msg, file=sys.stderr)
    sys.exit(1)


def first_difference(got, want):
    n = min(len(got), len(want))
    i = next((k for k in range(n) if got[k] != want[k]), n)
    return "at console byte %d of %d (expected %d): got %r, expected %r" % (
        i, len(got), len(want), got[max(0, i - 20):i + 20], want[max(0, i - 20):i + 20])


def records(data):
    return [l for l in data.split(b"\n") if l.startswith(b"#")]


def grow(path, size):
    data = open(path, "rb").read()
    last = records(data)[-1]
    m = re.match(rb"#(\d{7})(.*)", last, re.S)
    n, rest = int(m.group(1)), m.group(2)
    out = bytearray(data)
    while len(out) < size:
        n += 1
        out += b"#%07d%s\n" % (n, rest)
    open(path, "wb").write(out)


def gdata(mode, path, start, end, transcripts):
    sent = bytearray()
    count = 0
    for t in transcripts:
        text = open(t, "rb").read()
        pos = 0
        while True:
            a = text.find(GDATA_ECHO, pos)
            if a < 0:
                break
            a += len(GDATA_ECHO)
            b = text.find(MARKER_ECHO, a)
            if b < 0:
                fail("%s: no marker after transfer %d" % (t, count + 1))
            seg = text[a:b]
            if mode == "verbose":
                # The prompt the host waits for comes whole, before the marker.
                if not seg.endswith(PROMPT):
                    fail("%s: transfer %d not followed by the whole prompt: ...%r"
                         % (t, count + 1, seg[-90:]))
                seg = seg[:-len(PROMPT)]
            sent += seg
            count += 1
            pos = b
    data = open(path, "rb").read()
    want = expand(data[start:end])
    if bytes(sent) != want:
        fail("%d transfers vs card bytes %d..%d: %s" % (count, start, end,
                                                        first_difference(bytes(sent), want)))
    print("ok: %d transfers, %d card bytes, %d console bytes" % (count, end - start, len(sent)))


def cat(path, transcript):
    text = open(transcript, "rb").read()
    m = re.search(rb"cat [^\r]*\r\n\r", text)
    if not m:
        fail("no cat command in " + transcript)
    want = expand(open(path, "rb").read()) + b"\r\n/> "
    got = text[m.end():m.end() + len(want)]
    if got != want:
        fail("cat: " + first_difference(got, want))
    print("ok: cat of %d bytes" % (len(want)))


def main():
    cmd = sys.argv[1]
    if cmd == "grow":
        grow(sys.argv[2], int(sys.argv[3]))
    elif cmd == "lastnum":
        print(records(open(sys.argv[2], "rb").read())[-1][:8].decode())
    elif cmd == "gdata":
        gdata(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), sys.argv[6:])
    elif cmd == "cat":
        cat(sys.argv[2], sys.argv[3])
    else:
        fail("unknown command " + cmd)


if __name__ == "__main__":
    main()
