#!/usr/bin/env bash
# Prints what a year's deployment at a 10-minute period (52 560 wakes)
# costs on the simulated board: host seconds per wake on the first and the
# last day, the year's total, and the data file it leaves. Each simulated
# day is one simulator run; every wake is a process of its own, as always.
# Figures only; nothing is asserted. Build it without sanitizers
# (cmake --preset host-fast) for figures worth quoting.
# Usage: year.sh PATH/TO/phlogger-sim [DAYS]
set -euo pipefail
sim=$1
days=${2:-365}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
board=(--factory --clock "12/08/26 10:00:00"
       --set sampling_period=600 --set sample_aligned=1)
printf 'expect Enter Selection:\\x20\nsend 2\\r\ntimeout 40\nexpect Starting deployment...\nwait 60\n' \
  > "$work/start.scn"
"$sim" --state "$work/d" "${board[@]}" --script "$work/start.scn" 2>/dev/null
echo 'wait 86400' > "$work/day.scn"

TIMEFORMAT='%R %U %S'
total=0 cpu=0 wakes_total=0
for d in $(seq "$days"); do
  t=$( { time "$sim" --state "$work/d" --script "$work/day.scn" 2>"$work/day.err" >/dev/null; } 2>&1 )
  wakes=$(sed -n 's/.*virtual seconds, \([0-9]*\) wakes.*/\1/p' "$work/day.err")
  read -r real user sys <<< "$t"
  total=$(echo "$total + $real" | bc)
  cpu=$(echo "$cpu + $user + $sys" | bc)
  wakes_total=$((wakes_total + wakes))
  if [ "$d" -eq 1 ] || [ "$d" -eq "$days" ] || [ $((d % 60)) -eq 0 ]; then
    printf '  day %3d: %4d wakes, %6.2f ms host time per wake (%6.2f ms CPU)\n' "$d" "$wakes" \
      "$(echo "1000 * $real / $wakes" | bc -l)" "$(echo "1000 * ($user + $sys) / $wakes" | bc -l)"
  fi
done
bytes=$(mtype -i "$work/d/sd.img" ::noname.txt | wc -c)
records=$(mtype -i "$work/d/sd.img" ::noname.txt | grep -c '^#')
fat=$(file -b "$work/d/sd.img" | grep -o 'FAT ([0-9]* bit)' || true)
spc=$(file -b "$work/d/sd.img" | sed -n 's/.*sectors\/cluster \([0-9]*\).*/\1/p')
printf '%d days, %d wakes: %.1f s host time (%.1f s CPU)\n' "$days" "$wakes_total" "$total" "$cpu"
echo "data file: $records records, $bytes bytes, on a $fat card with $((spc / 2)) KB clusters" \
     "($(( (bytes + spc * 512 - 1) / (spc * 512) )) clusters in its chain)"
