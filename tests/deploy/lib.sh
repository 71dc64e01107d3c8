# Shared by the deployment tests. Each test is called as TEST SIM STATE.
set -euo pipefail
SIM=$1
STATE=$2
rm -rf "$STATE"
mkdir -p "$STATE"
export MTOOLS_SKIP_CHECK=1

# A deployable board: defaults, the QA version recorded, the clock set.
BOARD=(--factory --clock "12/08/26 10:00:00")
# This firmware's version string, as the console shows it.
VERSION=$("$SIM" --version)

# The Python interpreter itself, not a version manager's shim in front of
# it: a shim costs half a second a call, and the transfer checks call it
# dozens of times.
python_itself() { python3 -c 'import sys; print(sys.executable)'; }

# run NAME [options...] < script: runs one scenario, keeps its transcript.
# The board's state is BOARD_DIR (default STATE/board).
run() {
  local name=$1
  shift
  cat > "$STATE/$name.scn"
  if ! "$SIM" --state "${BOARD_DIR:-$STATE/board}" --script "$STATE/$name.scn" \
       --transcript "$STATE/$name.txt" "$@" 2> "$STATE/$name.err"; then
    cat "$STATE/$name.err" >&2
    echo "FAILED: scenario $name" >&2
    exit 1
  fi
}

# deployed NAME [options...] < script: deploys from the main menu, waits
# for the first record, then runs the script's steps.
deployed() {
  local name=$1
  shift
  { printf '%s\n' 'expect Enter Selection:\x20' 'send 2\r' 'timeout 40' 'expect #0000000'; cat; } |
    run "$name" "$@"
}

card() { mtype -i "${BOARD_DIR:-$STATE/board}/sd.img" "::$1" | tr -d '\r'; }
records() { card "${1:-noname.txt}" | grep -c '^#' || true; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
