#!/usr/bin/env python3
"""The temperature and pH equations written again from their description,
with every single-precision rounding made explicit, to give the bit
patterns that ph_test.cpp expects. Single-precision + - * / are exact here:
the double result rounded to single is the correctly rounded single one.
Run it alone to regenerate the table, or with the ph_dump program to
compare the firmware's results over a grid of inputs, bit for bit."""
import importlib.util
import math
import os
import struct
import subprocess
import sys

_spec = importlib.util.spec_from_file_location(
    "phlogger_ph", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "host",
                                "phlogger", "ph.py"))
_host_ph = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_host_ph)


def f(x):
    """Rounds a double to single precision."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def unbits(h):
    return struct.unpack("<f", struct.pack("<I", int(h, 16)))[0]


C = (340.9819863, -9.10257e-05, -95.08806667, 0.965370274)
SH = (0.002108508173, 7.979204727e-05, 6.535076315e-07)
K0INT, K0EXT = f(-0.4), f(-1.3)


def durafet_temp(v, offset, selector=0):
    r = 20000.0 / (3.3 / v - 1.0)
    if selector == 0:
        l = math.log10(r)
        tc = f(C[0] + C[1] * r + C[2] * l + C[3] * (l * l * l))
    elif selector == 1:
        l = math.log(r)
        tc = f(1.0 / (SH[0] + SH[1] * l + SH[2] * (l * l * l)) - 273.15)
    else:
        tc = 0.0
    return f(offset + tc)


def slope(tc):
    t = f(tc + 273.15)
    return t, f(t * 8.31451 / 96487.0 * 2.302585)


def eo(k0, tc, d):
    return f(k0 + f(tc - 25.0) * d)


def ph_int(e, tc):
    t, s = slope(tc)
    return f(f(e - eo(K0INT, tc, -0.0011012)) / s)


def ph_ext(e, tc, sal):
    # The host tools' emulation (host/phlogger/ph.py), which reprocesses
    # records with it: held here to the firmware bit for bit.
    return _host_ph.ph_ext(e, tc, sal, K0EXT)


def check(dump):
    bad = 0
    lines = subprocess.run([dump], capture_output=True, text=True, check=True).stdout.split("\n")
    for line in filter(None, lines):
        w = line.split()
        if w[0] == "T":
            want = durafet_temp(unbits(w[2]), unbits(w[3]), int(w[1]))
        elif w[0] == "I":
            want = ph_int(unbits(w[1]), unbits(w[2]))
        else:
            want = ph_ext(unbits(w[1]), unbits(w[2]), unbits(w[3]))
        if f"{bits(want):08X}" != w[-1] and not (math.isnan(want) and math.isnan(unbits(w[-1]))):
            bad += 1
            if bad <= 10:
                print(f"{line}: expected {bits(want):08X} ({want!r}, firmware {unbits(w[-1])!r})")
    print(f"{len(lines) - 1} results compared, {bad} differ")
    return 1 if bad else 0


if __name__ == "__main__" and len(sys.argv) > 1:
    sys.exit(check(sys.argv[1]))
if __name__ == "__main__":
    for v, off, sel in ((1.2, 0.0, 0), (1.2, 0.5, 0), (0.9377, -0.21, 0), (1.2, 0.0, 1), (1.61, 0.3, 1)):
        print(f"DuraFET_temp({v}f, {off}f) selector {sel}: 0x{bits(durafet_temp(f(v), f(off), sel)):08X}")
    for e, tc in ((0.05, 20.0), (0.05, 25.0), (0.0731, 3.72), (-0.012, 31.4)):
        print(f"calc_pHint({e}f, {tc}f): 0x{bits(ph_int(f(e), f(tc))):08X}")
    for e, tc, s in ((-0.80, 20.0, 35.0), (-0.7654, 3.72, 33.3), (-0.83, 28.1, 36.9), (-0.9, 12.0, 5.0)):
        print(f"calc_pHext({e}f, {tc}f, {s}f): 0x{bits(ph_ext(f(e), f(tc), f(s))):08X}")
