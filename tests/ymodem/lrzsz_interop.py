#!/usr/bin/env python3
"""YMODEM between the simulated logger and lrzsz over the simulator's
pseudo-terminal: every size at the block edges, one file and batches of
three, both directions, sb with 128-byte and with 1024-byte blocks; every
file must arrive byte for byte. A sender stopped half-way must leave no
file behind.

Usage: lrzsz_interop.py SIM STATE_DIR"""
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from console import Logger, Timeout  # noqa: E402

SIZES = [0, 1, 127, 128, 129, 895, 896, 897, 1023, 1024, 1025, 100 * 1024 + 1]
# Batches of three over every size, the large file last; one single file.
BATCHES = [SIZES[0:3], SIZES[3:6], SIZES[6:9], SIZES[9:12]]
SINGLE = [897]
BOARD = ["--factory"]
os.environ["MTOOLS_SKIP_CHECK"] = "1"

failures = []


def data(size):
    return random.Random(size).randbytes(size)


def sha(b):
    return hashlib.sha256(b).hexdigest()


def check(what, got, size):
    if got is None:
        failures.append("%s: missing" % what)
    elif sha(got) != sha(data(size)):
        failures.append("%s: %d bytes arrived, %d sent, sha256 differs" % (what, len(got), size))


def card_file(img, name):
    out = subprocess.run(["mtype", "-i", img, "::" + name], capture_output=True)
    return out.stdout if out.returncode == 0 else None


def card_names(img):
    out = subprocess.run(["mdir", "-b", "-i", img, "::/"], capture_output=True, text=True)
    return {os.path.basename(line).upper() for line in out.stdout.split()}


def shell(lg, line, limit=20):
    lg.type(line + "\r")
    return lg.expect("\n/> ", limit)


def upload(lg, host_dir, img, sizes, opts, log):
    names = ["u%d.bin" % s for s in sizes]
    lg.type("yr\r")
    lg.expect("Ymodem rcv:\r\n")
    rc, secs = lg.peer(["sb", *opts, *names], host_dir, 120, log)
    after = lg.expect("\n/> ", 20)
    what = "sb %s %s" % (" ".join(opts), names)
    if rc != 0:
        failures.append("%s: sb exit %s" % (what, rc))
    if "aborted" in after or "Opening" in after or "block" in after:
        failures.append("%s: the console said %r" % (what, after))
    for name, size in zip(names, sizes):
        check("%s -> %s" % (what, name), card_file(img, name), size)
    # Gone again, so that the next run cannot pass on what this one left.
    for name in names:
        shell(lg, "rm " + name)
    return secs


def download(lg, work, sizes, log):
    names = ["d%d.bin" % s for s in sizes]
    into = os.path.join(work, "rb-%d" % sizes[0])
    shutil.rmtree(into, ignore_errors=True)
    os.makedirs(into)
    lg.type("ys %s\r" % " ".join(names))
    for name in names:
        lg.expect("Ymodem sending %s...\r\n" % name)
    time.sleep(1.3)  # the logger waits a second, then clears its input
    rc, secs = lg.peer(["rb"], into, 120, log)
    after = lg.expect("\n/> ", 20)
    what = "ys %s" % names
    if rc != 0:
        failures.append("%s: rb exit %s" % (what, rc))
    if "Sent: %s" % names[-1] not in after:
        failures.append("%s: the console said %r" % (what, after))
    for name, size in zip(names, sizes):
        path = os.path.join(into, name)
        got = open(path, "rb").read() if os.path.exists(path) else None
        check("%s -> %s" % (what, name), got, size)
    return secs


def stopped_sender(lg, host_dir, img, log):
    """sb ended half-way through a file: it cancels, and the logger keeps
    neither the file nor its scratch copy."""
    name = "u%d.bin" % SIZES[-1]
    lg.type("yr\r")
    lg.expect("Ymodem rcv:\r\n")
    p = subprocess.Popen(["sb", "-k", name], cwd=host_dir, stdin=lg.fd, stdout=lg.fd, stderr=log)
    time.sleep(3)
    p.send_signal(signal.SIGTERM)
    p.wait(10)
    after = lg.expect("\n/> ", 60)
    if "Ymodem aborted" not in after:
        failures.append("sb stopped half-way: the logger said %r" % after)
    left = card_names(img) & {name.upper(), "YMODEM.PRT"}
    if left:
        failures.append("sb stopped half-way: the card keeps %s" % sorted(left))


def main():
    sim, state = sys.argv[1], sys.argv[2]
    shutil.rmtree(state, ignore_errors=True)
    host_dir = os.path.join(state, "host")
    os.makedirs(host_dir)
    img = os.path.join(state, "sd.img")
    with open(img, "wb") as f:
        f.truncate(64 << 20)
    subprocess.run(["/usr/sbin/mkfs.fat", "-F", "32", "-n", "PHLOGGER", "--invariant", img],
                   check=True, capture_output=True)
    for s in SIZES:
        with open(os.path.join(host_dir, "u%d.bin" % s), "wb") as f:
            f.write(data(s))
        with open(os.path.join(host_dir, "d%d.bin" % s), "wb") as f:
            f.write(data(s))
        subprocess.run(["mcopy", "-i", img, os.path.join(host_dir, "d%d.bin" % s), "::"],
                       check=True)

    log = open(os.path.join(state, "lrzsz.log"), "w")
    lg = Logger(sim, state, BOARD)
    t0 = time.monotonic()
    try:
        lg.expect("Enter Selection: ", 30)
        lg.type("5\r")
        lg.expect("\n/> ")
        for opts in ([], ["-k"]):
            for sizes in [SINGLE] + BATCHES:
                upload(lg, host_dir, img, sizes, opts, log)
        for sizes in [SINGLE] + BATCHES:
            download(lg, state, sizes, log)
        stopped_sender(lg, host_dir, img, log)
    except Timeout as e:
        failures.append(str(e))
    finally:
        lg.stop()
        log.close()
    fsck = subprocess.run(["/usr/sbin/fsck.fat", "-n", img], capture_output=True, text=True)
    if fsck.returncode != 0:
        failures.append("fsck.fat: " + fsck.stdout[-500:])
    print("lrzsz interop: %.0f s" % (time.monotonic() - t0))
    for f in failures:
        print("FAILED:", f)
    if failures:
        print("sb/rb messages are in", os.path.join(state, "lrzsz.log"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
