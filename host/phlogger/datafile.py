"""Reads what the logger writes: the data file, a card image holding it, or
a console capture of "gdata" transfers, into one pandas table per
deployment.

The data file is a sequence of deployments, each a metadata block
("//++****" ... "//--****"), a data header line naming the columns, and one
tab-separated record per sample. Samples taken from the menus (the sample
timing of the configuration menu, the test menu's live data) are appended
to the same file without a header of their own; they are kept apart in
`test_samples`: those before the first header, and those carrying the
timing column "(N msec)".

Nothing is read silently out of line: a record cut short keeps the columns
it has whole, a record whose column count matches no header keeps only its
sample number and time, and each such record says so in its
`record_status` column and in a warning."""

import re
import warnings

import numpy as np
import pandas as pd

from . import card, columns

META_START = "//++****"
META_END = "//--****"
RECORD_START = re.compile(r"#\d{7}\t")
TIMING = re.compile(r"\(\d+ msec\)")


class PhloggerWarning(UserWarning):
    pass


class Deployments(list):
    """One DataFrame per deployment, in file order, with the samples taken
    outside any deployment in `test_samples` and every warning issued
    while reading in `warnings`."""

    def __init__(self, tables=(), test_samples=None, notes=()):
        super().__init__(tables)
        self.test_samples = test_samples if test_samples is not None else pd.DataFrame()
        self.warnings = list(notes)


def read(path, file=None):
    """Reads a data file, a card image (every data file on it, or `file`),
    or a captured console stream. Returns Deployments."""
    with open(path, "rb") as f:
        head = f.read(512)
    if not card.is_image(head):
        with open(path, "rb") as f:
            return parse(f.read(), source=str(path))
    out = Deployments()
    tests = []
    for name in [file] if file else card.data_files(path):
        part = parse(card.read_file(path, name), source=f"{path}::{name}")
        out.extend(part)
        tests.append(part.test_samples)
        out.warnings += part.warnings
    tests = [t for t in tests if len(t)]
    out.test_samples = pd.concat(tests) if tests else pd.DataFrame()
    return out


class _Block:
    """Records under one data header, on their way to a table."""

    def __init__(self, header, meta):
        self.names = [n.strip() for n in header.split("\t")]
        self.meta = meta
        self.rows = []


def _lines(data):
    """Lines without their ends; a console copy has CR CR LF, the card CR LF
    or LF. The last line is flagged when the data stops inside it."""
    text = data.decode("latin-1")
    lines = text.split("\n")
    complete = [True] * len(lines)
    if lines and lines[-1] == "":
        lines.pop()
        complete.pop()
    elif lines:
        complete[-1] = False
    return [(n + 1, l.rstrip("\r"), c) for n, (l, c) in enumerate(zip(lines, complete))]


def _split_glued(lines):
    """A record cut short and followed directly by the next record's text
    (an interrupted append, or a transfer that lost bytes) is two lines:
    the first of them is cut."""
    for n, line, complete in lines:
        starts = [m.start() for m in RECORD_START.finditer(line) if m.start() > 0]
        if not starts or not line.startswith("#"):
            yield n, line, complete
            continue
        edges = [0] + starts + [len(line)]
        for i in range(len(edges) - 1):
            last = i == len(edges) - 2
            yield n, line[edges[i]:edges[i + 1]], complete if last else False


def _is_header(line):
    if line.startswith("#") or line.startswith("//") or "\t" not in line:
        return False
    names = {n.strip() for n in line.split("\t")}
    known = set(columns.LOGGER) | set(columns.OPTODE) | set(columns.SBE37) | \
        set(columns.AAND5860) | {columns.SAMPLE, columns.TIME}
    return bool(names & known)


def _meta_line(line, meta):
    body = line[3:] if line.startswith("// ") else line[2:]
    if "\t" not in body or " -- " in body:
        return  # the console's field listing: the header says the same
    key, value = body.split("\t", 1)
    meta[key.strip().rstrip(":").strip()] = value.strip()


def parse(data, source="<data>"):
    notes = []

    def warn(text):
        notes.append(text)
        warnings.warn(f"{source}: {text}", PhloggerWarning, stacklevel=3)

    deployments = []      # [(meta, [blocks])]
    tests = []            # [(block-or-None, line, lineno, complete)]
    meta = None           # the metadata block being read
    current = None        # (meta, blocks) of the deployment being read
    block = None
    last_header = None
    odd = 0

    for n, line, complete in _split_glued(_lines(data)):
        if line.startswith(META_START):
            meta = {}
            continue
        if line.startswith(META_END):
            current = (meta or {}, [])
            deployments.append(current)
            meta, block = None, None
            continue
        if meta is not None and line.startswith("//"):
            _meta_line(line, meta)
            continue
        if _is_header(line):
            last_header = line
            if current is None:
                current = ({}, [])
                deployments.append(current)
            block = _Block(line, current[0])
            current[1].append(block)
            continue
        if not line.strip() or line.startswith("//"):
            continue
        is_record = line.startswith("#") or (block is not None and "\t" in line)
        if not is_record:
            odd += "\t" in line
            continue
        fields = line.split("\t")
        timed = any(TIMING.fullmatch(f) for f in fields)
        if block is None or timed:
            tests.append((line, n, complete))
            continue
        sample = _sample_of(fields)
        prev = block.rows[-1][0] if block.rows else None
        if prev is not None and sample is not None and prev[0] is not None and sample < prev[0]:
            # Numbering starts again: a deployment whose metadata we lack.
            warn(f"line {n}: sample numbers start again at {sample}; read as a new deployment")
            current = ({}, [])
            deployments.append(current)
            block = _Block(last_header, current[0])
            current[1].append(block)
        block.rows.append(((sample, line), n, complete))

    if odd:
        warn(f"{odd} tab-separated lines outside any header or record were skipped")

    tables = []
    for meta, blocks in deployments:
        rows = [r for b in blocks for r in b.rows]
        if not rows and not meta:
            continue
        tables.append(_table(blocks, meta, source, warn))
    test_table = _test_table(tests, deployments, warn)
    return Deployments(tables, test_table, notes)


def _sample_of(fields):
    f = fields[0]
    if f.startswith("#") and f[1:].isdigit():
        return int(f[1:])
    return None


def _cells(names, line, complete):
    """The record's values under the header's names, and its status."""
    fields = line.split("\t")
    fields = [f for f in fields if not TIMING.fullmatch(f)]
    if len(fields) == len(names) + 1 and fields[-1] == "" and names[-1] != "":
        fields.pop()  # from a firmware whose header did not end in a tab after the optode
    if len(fields) == len(names):
        return dict(zip(names, fields)), "ok"
    if not complete and len(fields) < len(names):
        # Cut: the columns before the cut stand whole, the last one is not.
        got = len(fields) - 1
        return dict(zip(names[:got], fields[:got])), f"cut after {got} of {len(names)} columns"
    keep = {}
    for i, key in ((0, columns.SAMPLE), (1, columns.TIME)):
        if i < len(fields) and i < len(names) and names[i] == key:
            keep[key] = fields[i]
    return keep, f"{len(fields)} columns where the header has {len(names)}"


def _table(blocks, meta, source, warn):
    """One deployment: each header's records typed under its own names (a
    CTD found to be of another type brings a header of its own), then
    joined; a record seen twice (a console copy and a transfer) once."""
    seen = set()
    dups = 0
    parts = []
    for b in blocks:
        layout = [name for name in b.names if name]
        records = []
        for (sample, line), n, complete in b.rows:
            if line in seen:
                dups += 1
                continue
            seen.add(line)
            cells, status = _cells(b.names, line, complete)
            if status != "ok":
                warn(f"line {n}: record {sample if sample is not None else '?'}: {status}")
            cells.pop("", None)
            cells["record_status"] = status
            records.append(cells)
        if records:
            part = pd.DataFrame.from_records(records, columns=layout + ["record_status"])
            part = part.astype(object)  # text, even where a column is all missing
            parts.append(_typed(part, layout, warn))
    if dups:
        warn(f"{dups} records appear twice (a console copy and a transfer); kept once")
    df = pd.concat(parts) if parts else pd.DataFrame()
    described = {}
    for p in parts:
        described.update(p.attrs["columns"])
    if "sample" in df and df["sample"].notna().all():
        df["sample"] = df["sample"].astype("int64")
    df.attrs.update(_attrs(meta, source, df))
    df.attrs["columns"] = described
    gaps = _gaps(df)
    df.attrs["gaps"] = gaps
    for a, b in gaps:
        warn(f"samples {a} to {b} missing" if a != b else f"sample {a} missing")
    return df


def _typed(df, layout, warn):
    """Clean names, numbers as floats (missing as NaN), the instruments'
    error texts in their status columns, the time as index."""
    names = [n for n in layout if n not in (columns.SAMPLE, columns.TIME)]
    cols = columns.lookup(names)
    out = pd.DataFrame(index=df.index)
    if columns.SAMPLE in df:
        s = df[columns.SAMPLE].str.lstrip("#")
        n = pd.to_numeric(s, errors="coerce")
        out["sample"] = n.astype("int64") if n.notna().all() else n.astype("Int64")
    units = {}
    instruments = {}
    for raw, col in zip(names, cols):
        if col.instrument:
            instruments.setdefault(col.instrument, []).append((raw, col))
            continue
        text = df[raw].str.strip()
        values = pd.to_numeric(text, errors="coerce")
        bad = values.isna() & text.notna() & ~text.str.lower().isin(["nan", ""])
        if bad.any():
            # Text where the logger prints a number: a record spliced from
            # two (bytes lost in a transfer), or a damaged file.
            warn(f"{int(bad.sum())} values of {raw} are not numbers: {text[bad].iloc[0]!r} ...")
            mark = bad & (df["record_status"] == "ok")
            df.loc[mark, "record_status"] = "not a number under " + raw + ": " + text[mark]
        out[col.name] = values.astype(float)
        units[col.name] = col
    for inst, cs in instruments.items():
        status = pd.Series("ok", index=df.index, dtype=object)
        numeric = [(r, c) for r, c in cs if not c.text]
        texts = {r: df[r].fillna("").str.strip() for r, _ in cs}
        values = {r: pd.to_numeric(texts[r], errors="coerce") for r, _ in numeric}
        # A reading has every number; anything else is the instrument's
        # own account of what went wrong, whole in its first column.
        whole = pd.concat([values[r].notna() for r, _ in numeric], axis=1).all(axis=1)
        said = pd.concat([texts[r] for r, _ in cs], axis=1).apply(
            lambda row: " ".join(v for v in row if v), axis=1)
        status[~whole] = said[~whole].where(said[~whole] != "", "no reply")
        # A record that is not whole says nothing about the instrument.
        status[~whole & (df["record_status"] != "ok")] = None
        for r, c in cs:
            if c.text:
                out[c.name] = texts[r].where(whole, None)
            else:
                out[c.name] = values[r].where(whole).astype(float)
            units[c.name] = c
        out[f"{inst}_status"] = status
    out["record_status"] = df["record_status"]
    if columns.TIME in df:
        t = pd.to_datetime(df[columns.TIME].str.strip(), format=columns.TIME_FORMAT, errors="coerce")
        out.index = pd.DatetimeIndex(t, name="time")
    else:
        out.index = pd.RangeIndex(len(out), name="record")
    out.attrs["columns"] = {k: {"units": c.units, "long_name": c.long_name,
                                "standard_name": c.standard_name} for k, c in units.items()}
    return out


def _num(meta, key):
    try:
        return float(meta[key])
    except (KeyError, ValueError):
        return np.nan


def _attrs(meta, source, df):
    sn = {k: meta.get(f"{k} SN", "") for k in ("Board", "ZUZE", "DuraFET", "Optode", "CTD", "Pump")}
    cal = {k: _num(meta, k) for k in ("TCOffset", "k0int", "k0ext", "k2int", "k2ext")}
    cal["default_salinity"] = _num(meta, "Def Sal (ppt)")
    cal["offset_Ik"] = _num(meta, "Offset Ik")
    for key in meta:
        if key.startswith("S-H") or key.startswith("s-h"):
            cal["thermistor " + key[4:].strip()] = _num(meta, key)
    return {
        "source": source,
        "metadata": dict(meta),
        "firmware": meta.get("Version Info", ""),
        "firmware_qa": meta.get("Firmware version", ""),
        "deployment_note": meta.get("Deploy note", ""),
        "deploy_time": meta.get("Deploy time", ""),
        "sampling_period_s": _num(meta, "Sampling period (s)"),
        "calibration": cal,
        "serial_numbers": {k.lower(): v for k, v in sn.items()},
        "data_file": meta.get("File name", ""),
    }


def _gaps(df):
    if "sample" not in df or df["sample"].isna().all():
        return []
    s = df["sample"].dropna().astype(int).to_numpy()
    return [(int(a) + 1, int(b) - 1) for a, b in zip(s[:-1], s[1:]) if b > a + 1]


def _test_table(tests, deployments, warn):
    """Samples from the menus, under the first header whose column count
    fits them (the one before them, else the one after)."""
    if not tests:
        return pd.DataFrame()
    headers = [b.names for _, blocks in deployments for b in blocks]
    frames = []
    for line, n, complete in tests:
        fields = [f for f in line.split("\t") if not TIMING.fullmatch(f)]
        names = next((h for h in headers if len(h) == len(fields)), None)
        if names is None:
            frames.append(pd.DataFrame({"raw": [line]}))
            continue
        b = _Block("\t".join(names), {})
        b.rows.append(((_sample_of(fields), line), n, complete))
        frames.append(_table([b], {}, "", lambda t: None))
    return pd.concat(frames)
