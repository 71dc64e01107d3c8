#!/usr/bin/env bash
# Prints what a sample costs the battery, as the simulator's energy meter
# measures it over whole sampling periods, beside the firmware's own
# estimate ("ds") and the help text's claims. Figures only; nothing is
# asserted. Usage: energy.sh PATH/TO/phlogger-sim [PERIOD]
set -euo pipefail
sim=$1
period=${2:-600}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
. "$(dirname "$0")/../support/energy_scenario.sh"

minimum=(--set "data_cfg[0]=1")
for i in 1 2 3 4 5 6 7 8 9 11 15 16 17 18 19 20 21 22 23; do minimum+=(--set "data_cfg[$i]=0"); done
instruments=(--set "data_cfg[24]=1" --set "data_cfg[25]=1")

measure() {  # BOARD VERSION CONFIG [options...]
  local board=$1 version=$2 config=$3
  shift 3
  local dir=$work/$board-$config
  energy_scenario "$period" > "$work/run.scn"
  "$sim" --board "$board" --state "$dir" --factory-defaults --set "qa.firmware_version=$version" \
    --clock "12/08/26 10:00:00" --set "sampling_period=$period" "$@" \
    --script "$work/run.scn" --transcript "$dir.txt" 2> "$dir.err" || {
    echo "  $board $config: the scenario failed" >&2
    return
  }
  tr -d '\r' < "$dir.txt" | sed -n 's/^\(sample_energy_J\|average_power_mW\) = //p' | paste -sd' ' > "$dir.ds"
  awk -v board="$board" -v config="$config" -v period="$period" -v ds="$(cat "$dir.ds")" '
    /^energy: [0-9.]+ s,/ { seconds = $2 + 0; wakes = $4 + 0; awake = $7 + 0; joules = $9 + 0 }
    /^energy: +hibernating/ { hib = $(NF - 1) + 0 }
    END {
      split(ds, d, " ")
      per = (joules - hib) / wakes
      mw = 1000 * joules / seconds
      printf "  %-7s %-12s %7.3f s %8.3f J %9.3f mW %8.1f d/Ah   (ds: %s J, %s mW)\n",
             board, config, awake / wakes, per, mw, 1000 / (mw / 12) / 24, d[1], d[2]
    }' "$dir.err"
}

echo "Energy per sample from the 12 V battery, metered over two periods of $period s"
echo "  board   config        awake/sample  J/sample  average power  12 V battery"
for b in "ombrix v3.8.6 Ombrix revB" "tavlo v3.8.5 Tavlo revC"; do
  set -- $b
  board=$1
  version="$2 $3 $4"
  measure "$board" "$version" default
  measure "$board" "$version" minimum "${minimum[@]}"
  measure "$board" "$version" instruments "${instruments[@]}"
  measure "$board" "$version" pump-10s --set pumpon_time=10
done
echo "The help text claims (awake 14.5 mA at 12 V, minimum data configuration):"
echo "  ombrix: 1.8 s awake, ~0.3 J per sample;  tavlo: 1.2 s awake, ~0.2 J per sample"
