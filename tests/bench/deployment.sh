#!/usr/bin/env bash
# Prints the figures of a deployment on the simulated board: the awake time
# of one sample from its timing report, the wall time of a 30-day
# deployment at a 15-minute period, and the data transfer's throughput.
# Figures only; nothing is asserted. Usage: deployment.sh PATH/TO/phlogger-sim [DAYS]
set -euo pipefail
sim=$1
days=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
board=(--factory --clock "12/08/26 10:00:00")

# The first sample of a deployment, with the timing report.
cat > "$work/timing.scn" <<'SCN'
expect Enter Selection:\x20
send 2\r
timeout 40
expect wait TX
wait 1
SCN
"$sim" --state "$work/t" "${board[@]}" --set sampling_period=900 --set "app_cfg[0]=1" \
  --script "$work/timing.scn" --transcript "$work/timing.txt" 2>/dev/null
echo "timing report of one sample (ms since the previous mark, since the start):"
tr -d '\r' < "$work/timing.txt" | awk '/^Pump /{n++} n==1' | grep ' = ' | sed 's/^/  /'

# A 30-day deployment, a day at a time, with the wall time of each day.
{
  echo 'expect Enter Selection:\x20'
  echo 'send 2\r'
  echo 'timeout 40'
  echo 'expect Starting deployment...'
  echo 'wait 60'
} > "$work/start.scn"
"$sim" --state "$work/d" "${board[@]}" --set sampling_period=900 --set sample_aligned=1 \
  --script "$work/start.scn" 2>/dev/null
echo 'wait 86400' > "$work/day.scn"
total_start=$(date +%s.%N)
for d in $(seq "$days"); do
  s=$(date +%s.%N)
  "$sim" --state "$work/d" --script "$work/day.scn" 2>/dev/null
  e=$(date +%s.%N)
  if [ "$d" -eq 1 ] || [ "$d" -eq "$days" ] || [ $((d % 10)) -eq 0 ]; then
    bytes=$(mtype -i "$work/d/sd.img" ::noname.txt | wc -c)
    printf '  day %2d: %.1f wall s, data file %d bytes\n' "$d" "$(echo "$e - $s" | bc)" "$bytes"
  fi
done
total_end=$(date +%s.%N)
n=$(mtype -i "$work/d/sd.img" ::noname.txt | grep -c '^#')
printf '%d-day deployment at 15 min: %d records, %.1f wall s\n' "$days" "$n" "$(echo "$total_end - $total_start" | bc)"

# The transfer of the whole file (about 1 MB after 30 days): the run ends
# when the last record has gone out.
bytes=$(mtype -i "$work/d/sd.img" ::noname.txt | wc -c)
last=$(printf '#%07d' $((n - 1)))
printf 'send \\x20\nwait 0.5\nsend gdata\\r\ntimeout 3000\nexpect %s\n' "$last" > "$work/gdata.scn"
"$sim" --state "$work/d" --script "$work/gdata.scn" 2>"$work/g.err" || { cat "$work/g.err"; exit 1; }
virt=$(sed -n 's/.*(\([0-9.]*\) virtual seconds.*/\1/p' "$work/g.err")
echo "gdata of a ${bytes}-byte file: $(echo "$virt - 0.5" | bc) virtual s," \
     "$(echo "scale=0; $bytes / ($virt - 0.5)" | bc) bytes per virtual s (a 115200-baud line carries 11520)"
