#!/usr/bin/env python3
"""YMODEM between the simulated logger and lrzsz over the simulator's
pseudo-terminal; every file must arrive byte for byte. Every size at the
block edges in batches from sb (128-byte blocks, past the block number's
wrap, and 1024-byte blocks); to rb one file and a batch of the sizes where
the logger's block lengths change; a file refused at block 0, which sb
must report and after which the logger's reason and prompt are readable
and the next command works; sb and rb stopped half-way, noticed within
seconds, leaving no file behind.

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

# The last one takes the block number past 255 in 128-byte blocks.
SIZES = [0, 1, 127, 128, 129, 895, 896, 897, 1023, 1024, 1025, 33 * 1024 + 1]
BIG = 100 * 1024 + 1  # still on the line when its peer is stopped
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


def left_behind(img, name):
    return sorted(n for n in card_names(img) if n == name.upper() or n.startswith("YMODEM"))


def shell(lg, line, limit=20):
    lg.type(line + "\r")
    return lg.expect("\n/> ", limit)


def command_works(lg, what):
    """The line is the shell's again: nothing the host tool left turns the
    next command into something else."""
    out = shell(lg, "pwd")
    if "Bad command" in out or "pwd\n/\n" not in out.replace("\r", ""):
        failures.append("%s: the next command gave %r" % (what, out))


def upload(lg, host_dir, img, sizes, opts, log):
    names = ["u%d.bin" % s for s in sizes]
    lg.type("yr\r")
    lg.expect("Ymodem rcv:\r\n")
    rc, _ = lg.peer(["sb", *opts, *names], host_dir, 120, log)
    after = lg.expect("\n/> ", 20)
    what = "sb %s %d files" % (" ".join(opts), len(names))
    if rc != 0:
        failures.append("%s: sb exit %s" % (what, rc))
    if "aborted" in after or "Opening" in after or "block" in after:
        failures.append("%s: the console said %r" % (what, after))
    for name, size in zip(names, sizes):
        check("%s -> %s" % (what, name), card_file(img, name), size)
    # Gone again, so that the next run cannot pass on what this one left.
    for name in names:
        shell(lg, "rm " + name)


def download(lg, work, sizes, log, delays):
    names = ["d%d.bin" % s for s in sizes]
    into = os.path.join(work, "rb-%d-%d" % (sizes[0], len(sizes)))
    shutil.rmtree(into, ignore_errors=True)
    os.makedirs(into)
    lg.type("ys %s\r" % " ".join(names))
    for name in names:
        lg.expect("Ymodem sending %s...\r\n" % name)
    time.sleep(1.3)  # the logger waits a second, then clears its input
    rc, _ = lg.peer(["rb"], into, 120, log)
    t = time.monotonic()
    after = lg.expect("\n/> ", 20)
    delays.append(time.monotonic() - t)
    what = "ys %d files" % len(names)
    if rc != 0:
        failures.append("%s: rb exit %s" % (what, rc))
    if "Sent: %s" % names[-1] not in after:
        failures.append("%s: the console said %r" % (what, after))
    for name, size in zip(names, sizes):
        path = os.path.join(into, name)
        got = open(path, "rb").read() if os.path.exists(path) else None
        check("%s -> %s" % (what, name), got, size)


def refused(lg, host_dir, img, log):
    """A name the card cannot hold is refused at block 0: sb reports the
    cancel having sent no data, and the logger's reason comes after it."""
    name = "toolongname.bin"
    with open(os.path.join(host_dir, name), "wb") as f:
        f.write(data(5000))
    lg.type("yr\r")
    lg.expect("Ymodem rcv:\r\n")
    log.flush()
    start = log.tell()
    rc, _ = lg.peer(["sb", "-k", name], host_dir, 60, log)
    log.flush()
    with open(log.name) as f:
        f.seek(start)
        said = f.read()
    if rc == 0 or "Cancelled" not in said or "sent:   0/" not in said:
        failures.append("refused at block 0: sb exit %s, said %r" % (rc, said))
    try:
        after = lg.expect("\n/> ", 10)
        if "f_open error: FR_INVALID_NAME\r\n\r\nYmodem aborted: File open error" not in after:
            failures.append("refused at block 0: the logger said %r" % after)
    except Timeout as e:
        failures.append("refused at block 0: " + str(e))
    command_works(lg, "refused at block 0")


def stopped(lg, work, host_dir, img, log, notice):
    """sb, then rb, ended half-way: the logger notices within seconds,
    keeps no part of the file, and the line is the shell's again. sb ends
    without a word (lrzsz sends no cancel as it dies), and the terminal
    program that ran it cancels, as one does when its user gives up; rb
    just goes silent."""
    name = "u%d.bin" % BIG
    lg.type("yr\r")
    lg.expect("Ymodem rcv:\r\n")
    p = subprocess.Popen(["sb", "-k", name], cwd=host_dir, stdin=lg.fd, stdout=lg.fd, stderr=log)
    time.sleep(2)
    p.send_signal(signal.SIGTERM)
    p.wait(10)
    os.write(lg.fd, b"\x18\x18")
    t = time.monotonic()
    after = lg.expect("\n/> ", 30)
    notice.append(("sb stopped, CAN CAN", time.monotonic() - t))
    if "Ymodem aborted: Cancelled by the host" not in after:
        failures.append("sb stopped half-way: the logger said %r" % after)
    if left_behind(img, name):
        failures.append("sb stopped half-way: the card keeps %s" % left_behind(img, name))
    command_works(lg, "sb stopped half-way")

    into = os.path.join(work, "rb-stopped")
    os.makedirs(into, exist_ok=True)
    lg.type("ys d%d.bin\r" % BIG)
    lg.expect("...\r\n")
    time.sleep(1.3)
    p = subprocess.Popen(["rb"], cwd=into, stdin=lg.fd, stdout=lg.fd, stderr=log)
    time.sleep(2)
    p.send_signal(signal.SIGKILL)  # rb goes silent
    p.wait(10)
    t = time.monotonic()
    after = lg.expect("\n/> ", 30)
    notice.append(("rb killed (silent)", time.monotonic() - t))
    if "Ymodem aborted: Packet timeout error" not in after:
        failures.append("rb killed half-way: the logger said %r" % after)
    if len(after) > 3 * 1029 + 200:
        failures.append("rb killed half-way: %d bytes went to the terminal" % len(after))
    command_works(lg, "rb killed half-way")


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
    for s in SIZES + [BIG]:
        with open(os.path.join(host_dir, "u%d.bin" % s), "wb") as f:
            f.write(data(s))
        with open(os.path.join(host_dir, "d%d.bin" % s), "wb") as f:
            f.write(data(s))
        subprocess.run(["mcopy", "-i", img, os.path.join(host_dir, "d%d.bin" % s), "::"],
                       check=True)

    log = open(os.path.join(state, "lrzsz.log"), "w")
    lg = Logger(sim, state, BOARD)
    t0 = time.monotonic()
    delays, notice = [], []
    try:
        lg.expect("Enter Selection: ", 30)
        lg.type("5\r")
        lg.expect("\n/> ")
        steps = [
            ("sb, 128-byte blocks", lambda: upload(lg, host_dir, img, SIZES, [], log)),
            ("sb -k", lambda: upload(lg, host_dir, img, SIZES[:-1], ["-k"], log)),
            # rb takes two seconds a file (it confirms each EOT by a second
            # of quiet, and asks for the next header a second later): the
            # sizes where the sender's block lengths change.
            ("rb, one file", lambda: download(lg, state, [128], log, delays)),
            ("rb, batch", lambda: download(lg, state, [0, 1, 129, 1024, 1025, SIZES[-1]], log,
                                           delays)),
            ("refused at block 0", lambda: refused(lg, host_dir, img, log)),
            ("peers stopped", lambda: stopped(lg, state, host_dir, img, log, notice)),
        ]
        for what, step in steps:
            t = time.monotonic()
            step()
            print("%-20s %5.1f s" % (what, time.monotonic() - t))
    except Timeout as e:
        failures.append(str(e))
    finally:
        lg.stop()
        log.close()
    fsck = subprocess.run(["/usr/sbin/fsck.fat", "-n", img], capture_output=True, text=True)
    if fsck.returncode != 0:
        failures.append("fsck.fat: " + fsck.stdout[-500:])
    print("lrzsz interop: %.0f s" % (time.monotonic() - t0))
    if delays:
        print("prompt after rb's exit: at most %.2f s" % max(delays))
    for what, secs in notice:
        print("%s: the logger's prompt %.1f s later" % (what, secs))
    for f in failures:
        print("FAILED:", f)
    if failures:
        print("sb/rb messages are in", os.path.join(state, "lrzsz.log"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
