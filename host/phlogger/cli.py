"""phlog: the logger's data and the logger itself from the command line.

    phlog export FILE --csv OUT | --netcdf OUT
    phlog plot FILE -o OUT.png
    phlog reprocess FILE [-o OUT.csv]
    phlog download --port DEV [--baud N] OUT
    phlog status|sample|stop --port DEV [--baud N]

FILE is a data file, a card image or a captured console stream."""

import argparse
import sys
import warnings

from . import datafile


def _read(path):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", datafile.PhloggerWarning)
        tables = datafile.read(path)
    for w in caught:
        print(f"warning: {w.message}", file=sys.stderr)
    if not tables:
        sys.exit(f"phlog: {path}: no deployment found")
    return tables


def cmd_export(a):
    from . import export
    tables = _read(a.file)
    if a.csv:
        export.to_csv(tables, a.csv)
    if a.netcdf:
        export.to_netcdf(tables, a.netcdf)


def cmd_plot(a):
    from . import plot
    for p in plot.plot(_read(a.file), a.output):
        print(p)


def cmd_reprocess(a):
    from .reprocess import reprocess
    out = []
    for i, df in enumerate(_read(a.file), 1):
        try:
            r = reprocess(df, a.salinity, a.k0ext)
        except ValueError as e:
            sys.exit(f"phlog: deployment {i}: {e}")
        n, ok = len(r), int(r["pH_ext_reproduced"].sum())
        sal = r.attrs["calibration"].get("default_salinity") if a.salinity is None else a.salinity
        print(f"deployment {i}: printed pHext reproduced at salinity {sal:g} "
              f"on {ok} of {n} records", file=sys.stderr)
        keep = [c for c in ("sample", "temp_C", "Vrse_V", "ctd_sal_psu", "pH_ext",
                            "pH_ext_ctd_sal", "pH_ext_reproduced") if c in r]
        r = r[keep].reset_index()
        r.insert(0, "deployment", i)
        out.append(r)
    import pandas as pd
    table = pd.concat(out, ignore_index=True)
    table.to_csv(a.output or sys.stdout, index=False, float_format="%.6g", na_rep="NaN")


def _session(a):
    from .logger import Session
    return Session(a.port, a.baud)


def cmd_download(a):
    from .download import download
    from .logger import NoAnswer, progress_printer
    try:
        nbytes, records, report, finished = download(
            a.port, a.out, a.baud, a.patience, say=lambda s: print(s, file=sys.stderr),
            show=progress_printer())
    except NoAnswer as e:
        sys.exit(f"phlog: {e}")
    print(f"{nbytes} bytes, {records} records appended to {a.out}")
    for line in report:
        print(f"gap: {line}")
    if not finished:
        print("interrupted: the logger stopped at a line end; run again to continue",
              file=sys.stderr)
        return 3
    return 1 if report else 0


def _command(a, word):
    from .logger import NoAnswer
    s = _session(a)
    try:
        s.wake(a.patience, say=lambda m: print(m, file=sys.stderr))
        return s, s.command(word)
    except NoAnswer as e:
        s.close()
        sys.exit(f"phlog: {e}")


def cmd_status(a):
    s, answer = _command(a, b"ds")
    text = answer.decode("latin-1").replace("\r", "")
    if text.strip().endswith("NAK") and "=" not in text:
        # No status command in this firmware: its state dump instead.
        text = s.command(b"dump").decode("latin-1").replace("\r", "")
        print("(this firmware has no status command; its state dump:)")
    s.resume()
    s.close()
    print(text.strip())


def cmd_sample(a):
    from .logger import NoAnswer
    s = _session(a)
    try:
        s.wake(a.patience, say=lambda m: print(m, file=sys.stderr))
        s.ser.reset_input_buffer()
        s.send(b"ts\r")
        came, got = s.read_until(b"\t\r\n", 30.0)
    except NoAnswer as e:
        sys.exit(f"phlog: {e}")
    finally:
        s.close()
    if not came:
        sys.exit("phlog: no record after ts")
    line = [l.strip("\r\n") for l in got.decode("latin-1").split("\r\n") if "\t" in l]
    print(line[-1] if line else got.decode("latin-1"))


def cmd_stop(a):
    from .logger import NoAnswer, NotDeployed
    s = _session(a)
    try:
        s.wake(a.patience, say=lambda m: print(m, file=sys.stderr))
        s.send(b"stop\r")
        if not s.read_until(b"Main Menu", 10.0)[0]:
            sys.exit("phlog: the logger did not come to its main menu after stop")
    except NotDeployed:
        pass  # stopped already
    except NoAnswer as e:
        sys.exit(f"phlog: {e}")
    finally:
        s.close()
    print("stopped: the logger is at its main menu")


def main(argv=None):
    p = argparse.ArgumentParser(prog="phlog", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="cmd", required=True)

    e = sub.add_parser("export", help="CSV or CF NetCDF")
    e.add_argument("file")
    e.add_argument("--csv")
    e.add_argument("--netcdf")
    e.set_defaults(run=cmd_export)

    q = sub.add_parser("plot", help="pH, temperature and battery, one PNG per deployment")
    q.add_argument("file")
    q.add_argument("-o", "--output", required=True)
    q.set_defaults(run=cmd_plot)

    r = sub.add_parser("reprocess", help="pHext at the CTD's salinity")
    r.add_argument("file")
    r.add_argument("-o", "--output")
    r.add_argument("--salinity", type=float, help="the configured salinity, without metadata")
    r.add_argument("--k0ext", type=float, help="k0ext, without metadata")
    r.set_defaults(run=cmd_reprocess)

    for name, run, text in (("download", cmd_download, "fetch new data from a deployed logger"),
                            ("status", cmd_status, "the logger's status (ds)"),
                            ("sample", cmd_sample, "take a sample now (ts)"),
                            ("stop", cmd_stop, "end the deployment")):
        c = sub.add_parser(name, help=text)
        c.add_argument("--port", required=True)
        c.add_argument("--baud", type=int, default=115200)
        c.add_argument("--patience", type=float, default=180.0,
                       help="seconds to keep trying to wake the logger")
        if name == "download":
            c.add_argument("out")
        c.set_defaults(run=run)

    a = p.parse_args(argv)
    if a.cmd == "export" and not (a.csv or a.netcdf):
        p.error("export needs --csv OUT or --netcdf OUT")
    return a.run(a) or 0


if __name__ == "__main__":
    sys.exit(main())
