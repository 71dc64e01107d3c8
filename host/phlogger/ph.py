"""pH against the external reference as the firmware computes it: its
equations, its constants, and its rounding to single precision at the same
points, so that a record's printed pHextEst comes out again from the
record's own inputs and the deployment's calibration. (The firmware's pH
tests hold this emulation to the firmware's results bit for bit.)

The record carries its inputs rounded for print (Vrse to 1 uV, the
temperature to 1 mK); the firmware used them unrounded. Near a rounding
edge of the printed pH that can flip its last digit, so reprocessing takes
the inputs, within their printed precision, for which the firmware's
equation gives the printed pH, and computes the pH at the CTD's salinity
from those same inputs."""

import math
import struct


def f(x):
    """Rounds to single precision, as the firmware's float does."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def ph_ext(e, tc, sal, k0ext):
    """calc_pHext(Eext, TC, salt) with the deployment's k0ext; every
    argument already a single-precision value."""
    t = f(tc + 273.15)
    s_t = f(t * 8.31451 / 96487.0 * 2.302585)
    eo = f(k0ext + f(tc - 25.0) * -0.0010482)
    z = f(19.924 * sal / (1000.0 - 1.005 * sal))
    so4 = f((sal / 1.80655) * 0.001457392100934813)
    mcl = f((sal * 0.028175048655967053) / 1.80655)
    lnt, sz = math.log(t), math.sqrt(z)
    x = -4276.1 / t + 141.328 - 23.093 * lnt
    x += (f(-13856.0 / t) + 324.57 - 47.986 * lnt) * sz
    x += (f(35474.0 / t) - 771.54 + 114.723 * lnt) * z
    x -= f(2698.0 / t) * (sz * sz * sz)
    x += f(1776.0 / t) * (z * z)
    x += math.log(1.0 - 0.001005 * sal)
    k = f(math.exp(x))
    dh = f(3.43e-06 * (tc * tc) + 0.00067524 * tc + 0.49172143)
    lg = f(2.0 * ((-dh) * sz / (1.0 + 1.394 * sz) + (0.08885 - 0.000111 * tc) * z))
    free = f(-(f(eo - e) - (math.log10(mcl) + lg) * s_t) / s_t)
    return f(free - math.log10(f(1.0 + f(so4 / k))))


def printed(x):
    """The record's "%8.3f"."""
    return f"{x:8.3f}".strip()


# Steps inside the printed precision of Vrse (1e-6 V) and the temperature
# (1e-3 degC), nearest first.
_STEPS = sorted(((i * 1e-7, j * 1e-4) for i in range(-5, 6) for j in range(-5, 6)),
                key=lambda d: abs(d[0]) * 1e4 + abs(d[1]))


def inputs_for(vrse, tc, ph_printed, sal, k0ext):
    """Vrse and temperature, within the precision they were printed with,
    for which the firmware's equation prints `ph_printed` at salinity `sal`;
    None when there are none."""
    want = ph_printed.strip()
    for dv, dt in _STEPS:
        e, t = f(vrse + dv), f(tc + dt)
        if printed(ph_ext(e, t, sal, k0ext)) == want:
            return e, t
    return None
