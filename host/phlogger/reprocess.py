"""pH against the external reference at the CTD's salinity, record by
record, where the firmware used the configured one."""

import numpy as np

from . import ph


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
    new, ok = ph.reprocess(df["Vrse_V"].to_numpy(float), df["temp_C"].to_numpy(float), printed,
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
