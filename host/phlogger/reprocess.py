"""pH against the external reference at the CTD's salinity, record by
record, where the firmware used the configured one."""

import math

import numpy as np

from . import ph


def _at_salinity(vrse, tc, ph_printed, sal_config, sal_new, k0ext):
    """pHext at the salinities `sal_new` (one per record; NaN where the CTD
    had none) from records printed at `sal_config`. Returns the new pH and
    whether each record's printed pH was reproduced."""
    f = ph.f
    k0, sc = f(k0ext), f(sal_config)
    out = np.full(len(vrse), np.nan)
    ok = np.zeros(len(vrse), dtype=bool)
    for i, (v, t, p, s) in enumerate(zip(vrse, tc, ph_printed, sal_new)):
        if math.isnan(v) or math.isnan(t) or p is None:
            continue
        found = ph.inputs_for(f(v), f(t), p, sc, k0)
        e, tt = found if found else (f(v), f(t))
        ok[i] = found is not None
        if not math.isnan(s):
            out[i] = ph.ph_ext(e, tt, f(s), k0)
    return out, ok


def reprocess(df, salinity=None, k0ext=None):
    """Adds "pH_ext_ctd_sal" (pH at the CTD's salinity; NaN where the CTD
    gave none) and "pH_ext_reproduced" (the firmware's printed pH came out
    again at the configured salinity) to a copy of a deployment's table.
    `salinity` and `k0ext` stand in for a metadata header the data lacks."""
    cal = df.attrs.get("calibration", {})
    sal_cfg = salinity if salinity is not None else cal.get("default_salinity", np.nan)
    k0 = k0ext if k0ext is not None else cal.get("k0ext", np.nan)
    for name in ("Vrse_V", "temp_C", "pH_ext"):
        if name not in df:
            raise ValueError(f"the records have no {name} column")
    if np.isnan(sal_cfg) or np.isnan(k0):
        raise ValueError("no metadata header: give the configured salinity and k0ext")
    ctd_sal = df["ctd_sal_psu"] if "ctd_sal_psu" in df else np.full(len(df), np.nan)
    printed = [None if np.isnan(p) else ph.printed(p) for p in df["pH_ext"]]
    new, ok = _at_salinity(df["Vrse_V"].to_numpy(float), df["temp_C"].to_numpy(float), printed,
                           sal_cfg, np.asarray(ctd_sal, dtype=float), k0)
    out = df.copy()
    out["pH_ext_ctd_sal"] = new
    out["pH_ext_reproduced"] = ok
    out.attrs = dict(df.attrs)
    cols = dict(out.attrs.get("columns", {}))
    cols["pH_ext_ctd_sal"] = {
        "units": "1", "standard_name": "sea_water_ph_reported_on_total_scale",
        "long_name": "pH (total scale) against the external reference at the CTD's salinity"}
    out.attrs["columns"] = cols
    return out
