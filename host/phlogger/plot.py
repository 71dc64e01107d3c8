"""One figure per deployment: pH against both references, temperature,
battery, over time. A missing sample is a break in the line, not a
straight line drawn across it."""

import matplotlib

matplotlib.use("Agg")
import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

PANELS = (
    ("pH", (("pH_int", "pH (internal ref.)"), ("pH_ext", "pH (external ref.)"),
            ("pH_ext_ctd_sal", "pH (ext. ref., CTD salinity)"))),
    ("Temperature (°C)", (("temp_C", "DuraFET"), ("ctd_temp_C", "CTD"),
                          ("optode_temp_C", "optode"), ("board_temp_C", "board"))),
    ("Battery (V)", (("Vbat_main_V", "main"),)),
)


def with_gaps(df, period=None):
    """The table with an empty row wherever samples are missing: where the
    time step exceeds one and a half sampling periods (the median step when
    the period is not known)."""
    if not isinstance(df.index, pd.DatetimeIndex) or len(df) < 2:
        return df
    steps = df.index.to_series().diff().dt.total_seconds()
    step = period if period and period > 0 else steps.median()
    breaks = df.index[1:][(steps.iloc[1:] > 1.5 * step).to_numpy()]
    if len(breaks) == 0:
        return df
    blank = pd.DataFrame(np.nan, index=breaks - pd.Timedelta(seconds=1e-3), columns=df.columns)
    return pd.concat([df, blank]).sort_index()


def figure(df, title):
    data = with_gaps(df.select_dtypes("number"), df.attrs.get("sampling_period_s"))
    x = data.index if isinstance(data.index, pd.DatetimeIndex) else data.get("sample", data.index)
    panels = [(label, [(c, n) for c, n in cols if c in data and data[c].notna().any()])
              for label, cols in PANELS]
    panels = [p for p in panels if p[1]]
    fig, axes = plt.subplots(max(len(panels), 1), 1, sharex=True, squeeze=False,
                             figsize=(9, 2.4 * max(len(panels), 1) + 0.8))
    for ax, (label, cols) in zip(axes[:, 0], panels):
        for c, name in cols:
            ax.plot(x, data[c], marker=".", markersize=3, linewidth=1, label=name)
        ax.set_ylabel(label)
        ax.grid(alpha=0.3)
        if len(cols) > 1:
            ax.legend(loc="best", fontsize="small")
    axes[0, 0].set_title(title)
    if isinstance(data.index, pd.DatetimeIndex):
        loc = mdates.AutoDateLocator()
        axes[-1, 0].xaxis.set_major_locator(loc)
        axes[-1, 0].xaxis.set_major_formatter(mdates.ConciseDateFormatter(loc))
    else:
        axes[-1, 0].set_xlabel("sample")
    fig.tight_layout()
    return fig


def plot(tables, out):
    """Writes one PNG per deployment: `out` itself for one, `out` with
    "-1", "-2", ... before its suffix for several. Returns the paths."""
    paths = []
    stem, dot, suffix = str(out).rpartition(".")
    if not dot:
        stem, suffix = str(out), "png"
    for i, df in enumerate(tables, 1):
        path = str(out) if len(tables) == 1 else f"{stem}-{i}.{suffix}"
        note = df.attrs.get("deployment_note", "").strip()
        start = df.attrs.get("deploy_time", "")
        title = f"Deployment {i}" + (f" from {start}" if start else "") + (f": {note}" if note else "")
        fig = figure(df, title)
        fig.savefig(path, dpi=80)
        plt.close(fig)
        paths.append(path)
    return paths
