#!/usr/bin/env python3
"""A week on a mooring, in virtual time: a deployment at a 10-minute
period, aligned to the hour, with host visits at random moments (some
during samples, a burst more often than the period, data transfers), supply
glitches during samples, power cuts as a record reaches the card, an optode
that chatters for a day, a FRAM that dies half-way and noise on the console.

Checks: every grid time sampled exactly once, every sample number once,
the data transfers together equal the data file, one error-log entry per
real event and none otherwise, the logger deployed at the end. Prints the
counts. Usage: soak.py SIM STATE"""
import os
import random
import struct
import subprocess
import sys
import time

sim, state = sys.argv[1], sys.argv[2]
board = os.path.join(state, "board")
os.makedirs(state, exist_ok=True)
rng = random.Random(16)

PERIOD = 600
START = 10 * 3600                    # the clock's 10:00:00 is virtual time 0
G0 = 600                             # 10:10:00, the first grid time
DAYS = 7
GRID = [G0 + k * PERIOD for k in range(DAYS * 144 + 1)]
CHATTER = (2 * 144, 3 * 144)         # grid indices of the optode's bad day
FRAM_DIES = 3 * 144 + 72

events = []                          # (time, steps, kind)
busy = []                            # spans no other event may touch


def free(t0, t1):
    return all(t1 <= a or t0 >= b for a, b in busy)


# A visit whose sample runs over a grid time stands for that grid time
# (proven in schedule.sh); here visits keep clear of that edge, so that
# each grid time's sample is the one stamped within seconds after it.
def clear_of_grid(t):
    return (t - G0) % PERIOD < PERIOD - 30


def add(t, steps, kind, span=(0, 30)):
    events.append((t, steps, kind))
    busy.append((t - span[0], t + span[1]))


def visit_steps(gdata):
    if not gdata:
        return ["send \\x20"]
    return ["send \\x20", "wait 0.5", "send gdata\\r", "wait 4", "send zz\\r"]


# Faults at chosen grid times, armed while the logger sleeps before them.
ks = rng.sample(range(10, len(GRID) - 10), 24)
glitches = [k for k in ks[:12]]
cuts = [k for k in ks[12:] if not CHATTER[0] <= k < CHATTER[1]]
for k in glitches:
    add(GRID[k] - 100, ["power-glitch 1200"], "glitch", (30, 130))
for k in cuts:
    add(GRID[k] - 100, ["sd-fault power-cut 1"], "cut", (30, 130))
add(GRID[FRAM_DIES] - 200, ["fault fram on"], "fram", (30, 30))
add(GRID[CHATTER[0]] - 60, ["optode chatter -1"], "chatter", (10, 10))
add(GRID[CHATTER[1]] - 60, ["optode chatter 0"], "chatter", (10, 10))

# A burst of visits every 4 minutes for two hours, a transfer at every
# third.
for i in range(30):
    t = GRID[5 * 144 + 20] + 37 + i * 240
    if free(t - 20, t + 30) and clear_of_grid(t):
        add(t, visit_steps(i % 3 == 0), "visit")

# Keys during scheduled samples.
for k in rng.sample(range(5, len(GRID) - 5), 10):
    t = GRID[k] + 1
    if free(t - 20, t + 30):
        add(t, visit_steps(False), "visit")

# Transfers every six hours, and visits and noise at random moments.
for h in range(6, DAYS * 24, 6):
    t = h * 3600 + rng.randint(60, 500)
    if free(t - 20, t + 30) and clear_of_grid(t):
        add(t, visit_steps(True), "visit")
for _ in range(40):
    t = rng.randint(G0, GRID[-1] - 60)
    if free(t - 20, t + 30) and clear_of_grid(t):
        add(t, visit_steps(False), "visit")
for _ in range(25):
    t = rng.randint(G0, GRID[-1] - 60)
    if free(t - 20, t + 30) and clear_of_grid(t):
        noise = "".join("\\x%02x" % rng.choice(list(range(0x21, 0x7f)) + list(range(0x80, 0x100)))
                        for _ in range(rng.randint(1, 8)))
        if rng.random() < 0.5:
            noise += "\\r"
        add(t, ["send " + noise], "noise")

events.sort()
lines = ["expect Enter Selection:\\x20", "send 2\\r", "timeout 60", "expect #0000000"]
now = 40.0
lines.append("wait %.3f" % (now - 34))
for t, steps, kind in events:
    lines.append("wait %.3f" % (t - now))
    now = t
    for s in steps:
        lines.append(s)
        if s.startswith("wait "):
            now += float(s[5:])
        elif s.startswith("send "):
            now += 0.001 * s.count("\\x") + 0.0001 * len(s)
end = GRID[-1] + 120
lines += ["wait %.3f" % (end - now)] + visit_steps(True) + ["wait 60"]
script = os.path.join(state, "soak.scn")
with open(script, "w") as f:
    f.write("\n".join(lines) + "\n")

if os.path.exists(board):
    subprocess.run(["rm", "-rf", board], check=True)
transcript = os.path.join(state, "soak.txt")
args = [sim, "--state", board, "--factory-defaults",
        "--set", "qa.firmware_version=v3.8.6 Ombrix revB", "--clock", "12/08/26 10:00:00",
        "--set", "sampling_period=600", "--set", "sample_aligned=1", "--set", "data_cfg[24]=1",
        "--script", script, "--transcript", transcript]
t0 = time.time()
cpu0 = os.times()
run = subprocess.run(args, stderr=subprocess.PIPE, text=True)
wall = time.time() - t0
cpu1 = os.times()
cpu = (cpu1.children_user - cpu0.children_user) + (cpu1.children_system - cpu0.children_system)
if run.returncode != 0:
    sys.stderr.write(run.stderr[-3000:])
    sys.exit("FAILED: the soak scenario did not run through")


def card(name):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    r = subprocess.run(["mtype", "-i", os.path.join(board, "sd.img"), "::" + name],
                       capture_output=True, env=env)
    return r.stdout if r.returncode == 0 else b""


failures = []
data = card("noname.txt")
records = []
for line in data.split(b"\n"):
    if line.startswith(b"#"):
        f = line.split(b"\t")
        hh, mm, ss = (int(x) for x in f[1].split()[1].split(b":"))
        day = int(f[1].split()[0].split(b"/")[1]) - 8
        records.append((int(f[0][1:]), day * 86400 + hh * 3600 + mm * 60 + ss - START))
numbers = [n for n, _ in records]
if numbers != list(range(len(numbers))):
    dup = len(numbers) - len(set(numbers))
    failures.append("sample numbers not 0..%d once each (%d repeated)" % (len(numbers) - 1, dup))
stamps = sorted(t for _, t in records)
missed = [g for g in GRID if sum(1 for t in stamps if g <= t < g + 8) != 1]
if missed:
    failures.append("%d grid times not sampled exactly once, first at +%d s" % (len(missed), missed[0]))

# Every transfer, between the echo of its command and the next line typed.
text = open(transcript, "rb").read()
moved = b""
transfers = 0
pos = 0
while True:
    i = text.find(b"gdata\r\n", pos)
    if i < 0:
        break
    j = text.find(b"zz\r\n", i)
    moved += text[i + 7:j]
    transfers += 1
    pos = j
moved = moved.replace(b"\r", b"")
flat = data.replace(b"\r", b"")
# From the first transfer on, the file is the transfers and, after the
# last, the record of that visit's own sample.
first = flat.find(moved[:200]) if moved else -1
rest = flat[first + len(moved):].split(b"\n") if first >= 0 else []
if (first < 0 or flat[first:first + len(moved)] != moved or b"#0000000\t" not in moved
        or len(rest) != 2 or not rest[0].startswith(b"#") or rest[1]):
    failures.append("the transfers together (%d bytes) differ from the data file" % len(moved))

log = card("Error.txt").decode(errors="replace").strip("\n").split("\n")
log = [e for e in log if e]
restarts = sum("Restart while deployed (power-on), deployment resumed" in e for e in log)
fram = sum("FRAM fails probe, sampling state kept in the hibernation module" in e for e in log)
expected = len(glitches) + len(cuts)
if restarts != expected or fram != 1 or len(log) != expected + 1:
    failures.append("error log: %d restarts (expected %d), %d FRAM entries, %d in all:\n  %s"
                    % (restarts, expected, fram, len(log), "\n  ".join(log)))

hib = open(os.path.join(board, "hibernate.bin"), "rb").read()
hibernating, sampling_state = struct.unpack_from("<II", hib, 52)
if not hibernating or sampling_state != 2:
    failures.append("not deployed at the end (state %d, hibernating %d)" % (sampling_state, hibernating))

visits = sum(1 for e in events if e[2] == "visit")
print("soak: %.1f days, %d grid times each sampled once, %d records numbered 0..%d"
      % ((GRID[-1] - G0) / 86400, len(GRID) - len(missed), len(records), len(records) - 1))
print("soak: %d visits (%d transfers, %d bytes equal to the file), %d noise bursts"
      % (visits, transfers, len(moved), sum(1 for e in events if e[2] == "noise")))
print("soak: %d supply glitches in samples + %d power cuts at a card write -> %d resumed, "
      "%d error-log entries" % (len(glitches), len(cuts), restarts, len(log)))
print("soak: wall %.1f s, simulator CPU %.1f s" % (wall, cpu))
if failures:
    sys.exit("FAILED: " + "\nFAILED: ".join(failures))
