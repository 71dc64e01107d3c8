"""A deployment's table as CSV or as CF-conventions NetCDF."""

import numpy as np
import pandas as pd

CF_VERSION = "CF-1.8"


def to_csv(tables, path):
    """One CSV: every deployment's rows, with a "deployment" column
    (1, 2, ...) and the time in ISO 8601."""
    frames = []
    for i, df in enumerate(tables, 1):
        d = df.reset_index()
        d.insert(0, "deployment", i)
        frames.append(d)
    out = pd.concat(frames, ignore_index=True) if frames else pd.DataFrame()
    if "time" in out:
        out["time"] = out["time"].dt.strftime("%Y-%m-%dT%H:%M:%S")
    out.to_csv(path, index=False, na_rep="NaN")


def _global_attrs(df, i, count):
    a = df.attrs
    out = {
        "Conventions": CF_VERSION,
        "featureType": "timeSeries",
        "title": "phlogger ISFET pH time series",
        "source": f"phlogger {a.get('firmware', '')}".strip(),
        "history": f"read from {a.get('source', '')}",
        "deployment": f"{i} of {count}",
        "deployment_note": a.get("deployment_note", ""),
        "deploy_time": a.get("deploy_time", ""),
        "firmware_qa": a.get("firmware_qa", ""),
    }
    for k, v in a.get("calibration", {}).items():
        out["calibration_" + k.replace(" ", "_")] = float(v)
    for k, v in a.get("serial_numbers", {}).items():
        out[f"{k}_serial_number"] = v
    for k, v in a.get("metadata", {}).items():
        key = "logger_" + "".join(c if c.isalnum() else "_" for c in k).strip("_")
        out.setdefault(key, v)
    return out


def to_netcdf(tables, path):
    """One file; a single deployment's variables at the root, several
    deployments each in a group "deployment_N"."""
    import netCDF4
    with netCDF4.Dataset(path, "w", format="NETCDF4") as nc:
        if len(tables) == 1:
            _write(nc, tables[0], 1, 1)
        else:
            nc.Conventions = CF_VERSION
            for i, df in enumerate(tables, 1):
                _write(nc.createGroup(f"deployment_{i}"), df, i, len(tables))


def _write(g, df, i, count):
    for k, v in _global_attrs(df, i, count).items():
        g.setncattr(k, v)
    n = len(df)
    g.createDimension("time", n)
    t = g.createVariable("time", "f8", ("time",))
    t.units = "seconds since 1970-01-01 00:00:00"
    t.standard_name = "time"
    t.calendar = "standard"
    t.axis = "T"
    if isinstance(df.index, pd.DatetimeIndex):
        secs = (df.index - pd.Timestamp("1970-01-01")) / pd.Timedelta(seconds=1)
        t[:] = np.asarray(secs, dtype=float)
    else:
        t[:] = np.full(n, np.nan)
    described = df.attrs.get("columns", {})
    for name in df.columns:
        col = df[name]
        if name == "sample":
            v = g.createVariable(name, "i4", ("time",), fill_value=-1)
            v[:] = col.fillna(-1).astype(int).to_numpy()
            v.long_name = "sample number"
            continue
        if col.dtype == object:
            v = g.createVariable(name, str, ("time",))
            for j, s in enumerate(col):
                v[j] = "" if s is None or (isinstance(s, float) and np.isnan(s)) else str(s)
        else:
            v = g.createVariable(name, "f8", ("time",), fill_value=np.nan)
            v[:] = col.to_numpy(dtype=float)
        d = described.get(name)
        if d:
            if d["units"]:
                v.units = d["units"]
            v.long_name = d["long_name"]
            if d["standard_name"]:
                v.standard_name = d["standard_name"]
