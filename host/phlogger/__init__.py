"""phlogger: the pH logger's data in pandas, and its console from a host.

    import phlogger
    for df in phlogger.read("NONAME.TXT"):   # a data file, card image or gdata capture
        print(df.attrs["deployment_note"], df["pH_ext"].mean())
"""

from .datafile import Deployments, PhloggerWarning, parse, read

__all__ = ["read", "parse", "Deployments", "PhloggerWarning"]
