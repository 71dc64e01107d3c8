"""Data files written by the simulated logger, made once per session in
virtual time: each scenario gives the same bytes on every run.

PHLOGGER_SIM names the simulator (default: the host build of this tree),
PHLOGGER_WORK a directory for the boards' state (default: a temporary one)."""

import os
import shutil
import subprocess
import sys
import tempfile

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "host"))

SIM = os.environ.get("PHLOGGER_SIM", os.path.join(TOP, "build", "host", "phlogger-sim"))
BOARD = ["--factory-defaults", "--set", "qa.firmware_version=v3.8.6 Ombrix revB",
         "--clock", "12/08/26 10:00:00"]


@pytest.fixture(scope="session")
def work():
    path = os.environ.get("PHLOGGER_WORK") or tempfile.mkdtemp(prefix="phlog-")
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def scenario(state, steps, *args):
    """Runs the steps on the board in `state`; returns the console output."""
    script, out = state + ".scn", state + ".console"
    with open(script, "w") as f:
        f.write("\n".join(steps) + "\n")
    r = subprocess.run([SIM, "--state", state, "--script", script, "--transcript", out, *args],
                       stderr=subprocess.PIPE, text=True, timeout=300)
    assert r.returncode == 0, r.stderr
    with open(out, "rb") as f:
        return f.read()


def card_file(state, name="NONAME.TXT"):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    return subprocess.run(["mcopy", "-n", "-i", os.path.join(state, "sd.img"), f"::{name}", "-"],
                          capture_output=True, check=True, env=env).stdout


def deploy_steps(note, wait):
    return ["expect Enter Selection:\\x20", "send 2\\r", "timeout 40",
            "expect Enter Deployment Note", f"send {note}\\r", "expect #0000000", f"wait {wait}"]


@pytest.fixture(scope="session")
def two_deployments(work):
    """One data file: a timed test sample from the configuration menu
    before any header; a deployment with pHext, the optode and an SBE37
    that misses one sample; after "stop", a second deployment with other
    fields (no board temperature or humidity), no optode and an Aanderaa
    5860. Returns the board's state directory."""
    state = os.path.join(work, "two")
    scenario(state, [
        "expect Enter Selection:\\x20", "send 1\\r", "expect Enter Selection [9]:\\x20",
        "send D\\r", "expect msec)", "expect Enter Selection [9]:\\x20", "send 9\\r",
        *deploy_steps("first run", 15),
        "ctd silent 1", "expect #0000001", "ctd silent 0", "sensor Vtherm 1.2",
        "expect #0000002", "wait 5", "send \\x20", "wait 0.5", "send stop\\r",
        "expect Enter Selection:\\x20",
    ], *BOARD, "--set", "sampling_period=20", "--set", "data_cfg[10]=1", "--set", "data_cfg[13]=1",
        "--set", "data_cfg[24]=1", "--set", "data_cfg[25]=1")
    scenario(state, deploy_steps("second run", 50), "--set", "data_cfg[24]=0",
             "--set", "data_cfg[25]=2", "--set", "data_cfg[22]=0", "--set", "data_cfg[23]=0",
             "--ctd", "aand5860")
    return state


@pytest.fixture(scope="session")
def salinity_pair(work):
    """The same sea sampled twice, with the configured salinity 30 and 35,
    an SBE37 measuring 35: temperature and pH change between samples, and
    the sensor's noise puts the printed pH anywhere between its digits.
    Returns the two data files."""
    steps = deploy_steps("salinity", 1)
    for k in range(1, 12):
        steps += [f"sensor Vrse {-0.80 + 0.0041 * k:.4f}", f"sensor Vtherm {1.10 + 0.027 * k:.3f}",
                  f"expect #{k:07d}"]
    files = []
    for sal in (30, 35):
        state = os.path.join(work, f"sal{sal}")
        scenario(state, steps, *BOARD, "--set", "sampling_period=20", "--set", "data_cfg[10]=1",
                 "--set", "data_cfg[13]=1", "--set", "data_cfg[25]=1",
                 "--set", f"default_sal={sal}", "--sensor", "noise_uV=40")
        files.append(card_file(state))
    return files
