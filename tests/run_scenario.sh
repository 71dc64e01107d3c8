#!/usr/bin/env bash
# Runs one scenario script against a fresh state directory.
# Usage: run_scenario.sh SIM SCRIPT STATE_DIR
# Lines "# args: ..." in the script add simulator options; "# setup: CMD"
# lines run CMD (with $STATE set) before the simulator starts.
set -euo pipefail
sim=$1 script=$2 state=$3
rm -rf "$state"; mkdir -p "$state"
export STATE=$state
args=()
while IFS= read -r line; do
  case "$line" in
    "# args: "*) eval "args+=(${line#\# args: })" ;;
    "# setup: "*) (cd "$state" && eval "${line#\# setup: }") ;;
  esac
done < "$script"
exec "$sim" --state "$state" --script "$script" --transcript "$state/transcript.txt" "${args[@]}"
