"""Reading, exporting, plotting and reprocessing what the simulated logger
wrote. Values carried from the file are compared with the file's own text;
computed ones to the digit the firmware prints."""

import math
import os
import subprocess
import sys
import warnings

import numpy as np
import pandas as pd
import pytest
from conftest import TOP, card_file, scenario

import phlogger
from phlogger import columns
from phlogger.plot import with_gaps
from phlogger.reprocess import reprocess

PHLOG = [sys.executable, os.path.join(TOP, "host", "phlog")]


def read_quietly(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return phlogger.read(path)


def file_records(data):
    """(header names, record fields) of every record in the file's text,
    split at tabs and nothing else: the reference a table is held to."""
    out, names = [], None
    for line in data.decode("latin-1").replace("\r", "").split("\n"):
        if "SampNum" in line:
            names = [n.strip() for n in line.split("\t")]
        elif line.startswith("#") and names:
            out.append((names, line.split("\t")))
    return out


def assert_row_carries(row, names, fields):
    """Every value of the record stands in the table under its own name,
    as the file printed it."""
    cols = columns.lookup(names)
    by_inst = {}
    for name, col, text in zip(names, cols, fields):
        if col.instrument:
            by_inst.setdefault(col.instrument, []).append((col, text.strip()))
    for name, col, text in zip(names, cols, fields):
        text = text.strip()
        if not name or col.instrument:
            continue
        if name == columns.SAMPLE:
            assert row["sample"] == int(text[1:])
        elif name != columns.TIME:
            assert row[col.name] == float(text) or (text == "nan" and math.isnan(row[col.name]))
    for inst, cs in by_inst.items():
        failed = any(c.text is False and not _number(t) for c, t in cs)
        if failed:
            assert row[f"{inst}_status"] == " ".join(t for _, t in cs if t)
            assert all(pd.isna(row[c.name]) for c, _ in cs)
        else:
            assert row[f"{inst}_status"] == "ok"
            for c, t in cs:
                assert row[c.name] == (t if c.text else float(t)), c.name


def _number(text):
    try:
        float(text)
        return True
    except ValueError:
        return False


def test_card_image_and_file_read_into_deployments_carrying_every_value(two_deployments):
    data = card_file(two_deployments)
    path = two_deployments + ".txt"
    with open(path, "wb") as f:
        f.write(data)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a clean file reads without a word
        tables = phlogger.read(path)
    image = phlogger.read(os.path.join(two_deployments, "sd.img"))
    assert len(tables) == len(image) == 2
    for a, b in zip(tables, image):
        pd.testing.assert_frame_equal(a, b)

    first, second = tables
    assert first.attrs["deployment_note"] == "first run"
    assert second.attrs["deployment_note"] == "second run"
    assert first.attrs["firmware"] == "v3.8.6 Ombrix revB"
    assert first.attrs["calibration"]["k0ext"] == -1.3
    assert first.attrs["sampling_period_s"] == 20
    assert isinstance(first.index, pd.DatetimeIndex)
    assert first.index[0] == pd.Timestamp("2026-12-08 10:00:07")
    assert first["sample"].dtype == np.int64
    # Typed: every numeric column a float, the instruments' columns named.
    assert all(first[c].dtype == float for c in ("pH_ext", "ctd_temp_C", "optode_O2_umol_L"))
    assert "optode_O2_umol_L" not in second and "ctd_density_kg_m3" in second
    assert "board_temp_C" in first and "board_temp_C" not in second
    # The CTD's silence is in its status column, not in its numbers.
    assert first["ctd_status"].tolist()[1].startswith("SBE37 not responding")
    assert first["ctd_status"].tolist()[0::2] == ["ok", "ok"]

    # The menu's timed sample, the file's first line, stands apart.
    assert len(tables.test_samples) == 1
    assert tables.test_samples.index[0] == pd.Timestamp("2026-12-08 10:00:00")

    # Byte for byte: each record's text under its header's names.
    rows = [r for df in tables for _, r in df.iterrows()]
    recs = [r for r in file_records(data) if "msec)" not in r[1][-2]]
    assert len(rows) == len(recs) == 6
    for row, (names, fields) in zip(rows, recs):
        assert_row_carries(row, names, fields)


def test_console_capture_reads_as_the_card(two_deployments, work):
    """A terminal's log of a wake with gdata: CR CR LF line ends, the
    command's echo, the records echoed as they were taken and again by the
    transfer. Read as the card's own copy."""
    state = os.path.join(work, "capture")
    subprocess.run(["cp", "-r", two_deployments, state], check=True)
    console = scenario(state, ["send \\x20", "wait 0.5", "send gdata\\r", "wait 12"],
                       "--ctd", "aand5860")
    path = state + ".log"
    with open(path, "wb") as f:
        f.write(scenario_log(two_deployments) + console)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        captured = phlogger.read(path)
    card = read_quietly(os.path.join(state, "sd.img"))
    # The capture holds the second deployment's records, and the sample of
    # the wake (the echo after the transfer).
    assert len(captured) == 1 and len(card[-1]) == 4
    assert any("twice" in str(w.message) for w in caught)
    pd.testing.assert_frame_equal(captured[0], card[-1])
    assert captured[0].attrs["deployment_note"] == "second run"


def scenario_log(state):
    with open(state + ".console", "rb") as f:
        return f.read()


def test_cut_and_miscounted_records_read_whole_with_a_warning(two_deployments, work):
    data = card_file(two_deployments)
    lines = data.split(b"\n")
    recs = [i for i, l in enumerate(lines) if l.startswith(b"#")]
    cut_at, short_at = recs[2], recs[4]  # deployment 1 #1, deployment 2 #0
    cut = lines[cut_at]
    # An append cut after 100 bytes, the next record written straight after it.
    lines[cut_at] = cut[:100] + lines[cut_at + 1]
    del lines[cut_at + 1]
    # A record with one field fewer; and the file ends inside a record.
    fields = lines[short_at - 1].split(b"\t")
    lines[short_at - 1] = b"\t".join(fields[:5] + fields[6:])
    # The file ends inside its last record.
    path = os.path.join(work, "damaged.txt")
    with open(path, "wb") as f:
        f.write(b"\n".join(lines[:-2]) + b"\n" + lines[-2][:150])
    with pytest.warns(phlogger.PhloggerWarning) as caught:
        tables = phlogger.read(path)
    text = " ".join(str(w.message) for w in caught)
    assert "cut after" in text and "columns where the header has" in text

    clean = read_quietly(os.path.join(two_deployments, "sd.img"))
    for got, want in zip(tables, clean):
        status = got["record_status"]
        whole = status == "ok"
        # Every whole record is exactly as in the undamaged file.
        pd.testing.assert_frame_equal(got[whole], want.loc[got.index[whole]])
        assert list(got["sample"]) == list(want["sample"])[:len(got)]
    first, second = tables
    # The cut record keeps its columns before the cut, whole.
    cut_row = first.iloc[1]
    assert cut_row["record_status"].startswith("cut after")
    assert cut_row["Vbat_main_V"] == clean[0].iloc[1]["Vbat_main_V"]
    assert math.isnan(cut_row["pH_ext"])
    # The miscounted one keeps its number and time only.
    bad = second.iloc[0]
    assert "columns where the header has" in bad["record_status"]
    assert bad["sample"] == 0 and math.isnan(bad["Vbat_main_V"])
    # The last record, cut by the end of the file.
    assert second["record_status"].iloc[-1].startswith("cut after")


def test_exports_carry_the_values_units_and_metadata(two_deployments, work):
    img = os.path.join(two_deployments, "sd.img")
    csv, nc = os.path.join(work, "out.csv"), os.path.join(work, "out.nc")
    subprocess.run(PHLOG + ["export", img, "--csv", csv], check=True)
    subprocess.run(PHLOG + ["export", img, "--netcdf", nc], check=True)
    tables = read_quietly(img)
    back = pd.read_csv(csv)
    assert len(back) == sum(len(t) for t in tables)
    first = back[back["deployment"] == 1]
    np.testing.assert_array_equal(first["pH_ext"], tables[0]["pH_ext"])
    assert first["time"].iloc[0] == "2026-12-08T10:00:07"

    import netCDF4
    with netCDF4.Dataset(nc) as ds:
        ds.set_auto_mask(False)
        g = ds.groups["deployment_1"]
        assert ds.Conventions.startswith("CF-")
        assert g.deployment_note == "first run" and g.calibration_k0ext == -1.3
        v = g.variables["pH_ext"]
        assert v.standard_name == "sea_water_ph_reported_on_total_scale"
        np.testing.assert_array_equal(v[:], tables[0]["pH_ext"])
        assert g.variables["ctd_temp_C"].units == "degree_Celsius"
        assert np.isnan(g.variables["ctd_temp_C"][1])  # the CTD's silence
        assert g.variables["ctd_status"][1].startswith("SBE37")
        t = netCDF4.num2date(g.variables["time"][0], g.variables["time"].units)
        assert str(t) == "2026-12-08 10:00:07"


def test_plot_one_figure_per_deployment_with_gaps_as_gaps(two_deployments, work):
    out = os.path.join(work, "plot.png")
    img = os.path.join(two_deployments, "sd.img")
    r = subprocess.run(PHLOG + ["plot", img, "-o", out], check=True, capture_output=True,
                       text=True)
    paths = r.stdout.split()
    assert [os.path.basename(p) for p in paths] == ["plot-1.png", "plot-2.png"]
    for p in paths:
        with open(p, "rb") as f:
            assert f.read(8) == b"\x89PNG\r\n\x1a\n"
    # A missing sample breaks the line: an empty point lies between the
    # samples either side of it.
    df = read_quietly(img)[1]
    holed = with_gaps(df.drop(df.index[1]), 20)
    assert len(holed) == len(df)
    assert holed["pH_ext"].isna().tolist() == [False, True, False]


def test_reprocess_with_ctd_salinity(salinity_pair, work):
    """Configured 30, the CTD measuring 35: recomputed per record, the
    printed pHext comes out again at 30 on every record, and at 35 matches
    what the firmware prints when configured for 35."""
    paths = []
    for name, data in zip(("sal30.txt", "sal35.txt"), salinity_pair):
        paths.append(os.path.join(work, name))
        with open(paths[-1], "wb") as f:
            f.write(data)
    at30, at35 = (read_quietly(p)[0] for p in paths)
    assert (at30["ctd_sal_psu"] == 35.0).all() and at30.attrs["calibration"]["default_salinity"] == 30
    r = reprocess(at30)
    assert r["pH_ext_reproduced"].all()
    # The inputs stand in the record only to their printed digits; at
    # another salinity that leaves the last digit open where the result
    # lies within a few 1e-5 of a rounding edge.
    diff = (r["pH_ext_ctd_sal"].round(3) - at35["pH_ext"]).abs()
    assert (diff <= 0.0011).all() and (diff < 1e-9).sum() >= len(diff) - 1
    assert ((r["pH_ext_ctd_sal"] - at30["pH_ext"]) > 0.06).all()

    out = subprocess.run(PHLOG + ["reprocess", paths[0]], check=True, capture_output=True,
                         text=True)
    n = len(at30)
    assert f"reproduced at salinity 30 on {n} of {n} records" in out.stderr
    csv = pd.read_csv(pd.io.common.StringIO(out.stdout))
    np.testing.assert_allclose(csv["pH_ext_ctd_sal"], r["pH_ext_ctd_sal"], rtol=1e-6)
