#!/usr/bin/env python3
"""Throughput of YMODEM on the console line, on 1 000 000 bytes and more:
the logger receiving from sb and sending to rb (1024-byte blocks) over the
simulator's pseudo-terminal, beside sb -> rb over two pseudo-terminals
joined by a relay that carries each direction at the same 115200 baud.
Prints each rate as a share of the line rate and of sb -> rb, by the wall
clock from the host tool's start to its end and as lrzsz itself reports it
(from its first block, so that the receiver's first request, sent once a
second, does not count); fails only when a transfer does.

Usage: bench_lrzsz.py SIM STATE_DIR"""
import collections
import hashlib
import os
import random
import re
import select
import shutil
import subprocess
import sys
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from console import Logger  # noqa: E402

BAUD = 115200
LINE_BYTES_PER_S = BAUD / 10
SIZE = 1024000  # the most the logger takes
NAME = "bench.bin"


def relay(a, b, until, limit):
    """Carries bytes between two pty masters at the line rate until the
    process `until` has ended."""
    byte_s = 10.0 / BAUD
    queues = {a: collections.deque(), b: collections.deque()}  # bytes due to this fd
    free_at = {a: 0.0, b: 0.0}
    other = {a: b, b: a}
    deadline = time.monotonic() + limit
    while until.poll() is None and time.monotonic() < deadline:
        now = time.monotonic()
        due = [q[0][0] for q in queues.values() if q]
        wait = max(0.0, min(due) - now) if due else 0.05
        r, _, _ = select.select([a, b], [], [], min(wait, 0.05))
        now = time.monotonic()
        for fd in r:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                continue
            dst = other[fd]
            for byte in chunk:
                t = max(now, free_at[dst]) + byte_s
                free_at[dst] = t
                queues[dst].append((t, byte))
        for dst, q in queues.items():
            out = bytearray()
            while q and q[0][0] <= now:
                out.append(q.popleft()[1])
            if out:
                try:
                    os.write(dst, bytes(out))
                except OSError:
                    pass


def reported_bps(log, start):
    """The last rate sb or rb reported in the log since offset start."""
    log.flush()
    with open(log.name) as f:
        f.seek(start)
        rates = re.findall(r"BPS:(\d+)", f.read())
    return int(rates[-1]) if rates else 0


def sb_to_rb(work, opts, log):
    src = os.path.join(work, "src")
    into = os.path.join(work, "rb-relay-%s" % ("k" if opts else "128"))
    shutil.rmtree(into, ignore_errors=True)
    os.makedirs(into)
    ma, sa = os.openpty()
    mb, sbf = os.openpty()
    tty.setraw(sa)
    tty.setraw(sbf)
    rb = subprocess.Popen(["rb"], cwd=into, stdin=sbf, stdout=sbf, stderr=log)
    t0 = time.monotonic()
    sb = subprocess.Popen(["sb", *opts, NAME], cwd=src, stdin=sa, stdout=sa, stderr=log)
    # rb leaves as soon as it has the closing header and its last ACK may
    # never reach sb (rb flushes the line as it goes): the transfer is
    # timed to rb's exit.
    relay(ma, mb, rb, 120)
    secs = time.monotonic() - t0
    for p in (sb, rb):
        if p.poll() is None:
            p.kill()
        p.wait()
    for fd in (ma, sa, mb, sbf):
        os.close(fd)
    ok = rb.returncode == 0 and same(os.path.join(into, NAME), os.path.join(src, NAME))
    return ok, secs


def same(p, q):
    if not os.path.exists(p):
        return False
    return hashlib.sha256(open(p, "rb").read()).digest() == \
        hashlib.sha256(open(q, "rb").read()).digest()


def main():
    sim, state = sys.argv[1], sys.argv[2]
    load_before = os.getloadavg()[0]
    shutil.rmtree(state, ignore_errors=True)
    src = os.path.join(state, "src")
    os.makedirs(src)
    path = os.path.join(src, NAME)
    with open(path, "wb") as f:
        f.write(random.Random(1).randbytes(SIZE))
    img = os.path.join(state, "sd.img")
    with open(img, "wb") as f:
        f.truncate(64 << 20)
    # As a 64 MB card comes: FAT16, 16 KB clusters.
    subprocess.run(["/usr/sbin/mkfs.fat", "-F", "16", "-s", "32", "-n", "PHLOGGER", "--invariant", img],
                   check=True, capture_output=True)
    os.environ["MTOOLS_SKIP_CHECK"] = "1"
    subprocess.run(["mcopy", "-i", img, path, "::DOWN.BIN"], check=True)
    log = open(os.path.join(state, "lrzsz.log"), "w")
    rows = []
    lg = Logger(sim, state, ["--factory"])
    try:
        lg.expect("Enter Selection: ", 30)
        lg.type("5\r")
        lg.expect("\n/> ")
        lg.type("yr\r")
        lg.expect("Ymodem rcv:\r\n")
        at = log.tell()
        rc, secs = lg.peer(["sb", "-k", NAME], src, 300, log)
        lg.expect("\n/> ", 20)
        got = subprocess.run(["mtype", "-i", img, "::" + NAME], capture_output=True).stdout
        rows.append(("sb -k -> logger", rc == 0 and got == open(path, "rb").read(), secs,
                     reported_bps(log, at)))
        into = os.path.join(state, "rb-logger")
        os.makedirs(into)
        lg.type("ys down.bin\r")
        lg.expect("...\r\n")
        time.sleep(1.3)
        at = log.tell()
        rc, secs = lg.peer(["rb"], into, 300, log)
        lg.expect("\n/> ", 20)
        rows.append(("logger -> rb", rc == 0 and same(os.path.join(into, "down.bin"), path), secs,
                     reported_bps(log, at)))
    finally:
        lg.stop()
    at = log.tell()
    ok, secs = sb_to_rb(state, ["-k"], log)
    rows.append(("sb -k -> rb (relay)", ok, secs, reported_bps(log, at)))
    log.close()

    base_secs, base_bps = rows[-1][2], rows[-1][3]
    # Host tools lose a block's head when the machine is busy (they clear
    # their input after each answer, late when descheduled): say how busy.
    print("load average before %.2f, after %.2f (1 min; this machine has %d processors)" %
          (load_before, os.getloadavg()[0], os.cpu_count()))
    print("YMODEM throughput, %d bytes at %d baud (%.0f bytes/s on the line), 1024-byte blocks" %
          (SIZE, BAUD, LINE_BYTES_PER_S))
    print("%-22s %8s %9s %8s %8s | %9s %8s %8s" % ("transfer", "seconds", "bytes/s", "of line",
                                                 "of sb>rb", "lrzsz B/s", "of line", "of sb>rb"))
    for label, ok, secs, bps in rows:
        rate = SIZE / secs
        print("%-22s %8.1f %9.0f %7.1f%% %7.1f%% | %9d %7.1f%% %7.1f%%%s" % (
            label, secs, rate, 100 * rate / LINE_BYTES_PER_S, 100 * base_secs / secs, bps,
            100 * bps / LINE_BYTES_PER_S, 100 * bps / base_bps if base_bps else 0,
            "" if ok else "  FAILED"))
    return 0 if all(row[1] for row in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
